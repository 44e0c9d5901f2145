#include "signobj.h"

std::atomic<CSignCore*> g_pSignWidget{nullptr};
std::atomic<bool> g_bUseSignObj{false};

#define VT_DEFINE_SIGN_OBJ(M, TRAITS, FPCALLBACK)                                 \
    void Rx##M##SignObjRawDataCallback(int nX, int nY, int nP, int nPenStatus)   \
    {                                                                             \
        if (CSignCore* pCanvas = g_pSignWidget.load())                            \
            pCanvas->RxSignPadRawData(nX, nY, nP, nPenStatus);                    \
    }                                                                             \
    C##M##SignObj::C##M##SignObj(int nWidth, int nHeight)                         \
        : CSignCore(TRAITS, nWidth, nHeight, Rx##M##SignObjRawDataCallback, FPCALLBACK) \
    {                                                                             \
    }

VT_DEFINE_SIGN_OBJ(Q210, g_TraitsQ210, nullptr)
VT_DEFINE_SIGN_OBJ(Q220, g_TraitsQ220, nullptr)
// The driver refuses the fingerprint pad without a fingerprint callback.
VT_DEFINE_SIGN_OBJ(Q230F, g_TraitsQ230F, RxQ230FSignObjFPRawDataCallback)
VT_DEFINE_SIGN_OBJ(QT410, g_TraitsQT410, nullptr)
VT_DEFINE_SIGN_OBJ(M420, g_TraitsM420, nullptr)

void RxQ230FSignObjFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore)
{
    if (CSignCore* pCanvas = g_pSignWidget.load())
        pCanvas->RxQ230FSignPadFPRawData(pData, nDataLength, nScore);
}

CSignCore* CreateSignCanvas(const ModelTraits& traits, QWidget* pParentWidget, int nWidth, int nHeight)
{
    // The widget kind plugs in here; until it exists a parent gives no canvas.
    if (pParentWidget)
        return nullptr;
    switch (traits.nDeviceId) {
    case VTQ210_DEVICE:
        return new CQ210SignObj(nWidth, nHeight);
    case VTQ220_DEVICE:
        return new CQ220SignObj(nWidth, nHeight);
    case VTQ230F_DEVICE:
        return new CQ230FSignObj(nWidth, nHeight);
    case RUVU410_DEVICE:
        return new CQT410SignObj(nWidth, nHeight);
    case ROV420_DEVICE:
        return new CM420SignObj(nWidth, nHeight);
    default:
        return nullptr;
    }
}
