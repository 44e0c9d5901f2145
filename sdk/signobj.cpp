#include "signobj.h"
#include "signwidget.h"

std::atomic<CSignCore*> g_pSignWidget{nullptr};
std::atomic<bool> g_bUseSignObj{false};

#define VT_DEFINE_SIGN_OBJ(M, BASE, TRAITS, FPCALLBACK)                              \
    void Rx##M##SignObjRawDataCallback(int nX, int nY, int nP, int nPenStatus)   \
    {                                                                             \
        if (CSignCore* pCanvas = g_pSignWidget.load())                            \
            pCanvas->RxSignPadRawData(nX, nY, nP, nPenStatus);                    \
    }                                                                             \
    C##M##SignObj::C##M##SignObj(int nWidth, int nHeight)                         \
        : BASE(TRAITS, nWidth, nHeight, Rx##M##SignObjRawDataCallback, FPCALLBACK)      \
    {                                                                             \
    }

VT_DEFINE_SIGN_OBJ(Q210, CSignCore, g_TraitsQ210, nullptr)
VT_DEFINE_SIGN_OBJ(Q220, CSignCore, g_TraitsQ220, nullptr)
// The driver refuses the fingerprint pad without a fingerprint callback.
VT_DEFINE_SIGN_OBJ(Q230F, CQ230FCanvasT<CSignCore>, g_TraitsQ230F, RxQ230FSignObjFPRawDataCallback)
VT_DEFINE_SIGN_OBJ(QT410, CSignCore, g_TraitsQT410, nullptr)
VT_DEFINE_SIGN_OBJ(M420, CSignCore, g_TraitsM420, nullptr)

void RxQ230FSignObjFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore)
{
    if (CSignCore* pCanvas = g_pSignWidget.load())
        pCanvas->RxQ230FSignPadFPRawData(pData, nDataLength, nScore);
}

CSignCore* CreateSignCanvas(const ModelTraits& traits, QWidget* pParentWidget, int nWidth, int nHeight)
{
    if (pParentWidget)
        return CreateSignWidget(traits, pParentWidget);
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
