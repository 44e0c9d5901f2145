#include "signobj.h"

#include <QApplication>
#include <QThread>

std::atomic<CSignCore*> g_pSignWidget{nullptr};
std::atomic<bool> g_bUseSignObj{false};

void RxSignPadRawDataCallback(int nX, int nY, int nP, int nPenStatus)
{
    if (CSignCore* pCanvas = g_pSignWidget.load())
        pCanvas->RxSignPadRawData(nX, nY, nP, nPenStatus);
}

void RxQ230FSignPadFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore)
{
    if (CSignCore* pCanvas = g_pSignWidget.load())
        pCanvas->RxQ230FSignPadFPRawData(pData, nDataLength, nScore);
}

CSignCore* CreateSignCanvas(const SdkModelTraits& traits, QWidget* pParentWidget, int nWidth, int nHeight)
{
    if (!pParentWidget)
        return traits.pfnNewSignObj(nWidth, nHeight);
    // Widgets exist only in a widget application, on its GUI thread.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return nullptr;
    return traits.pfnNewSignWidget(pParentWidget);
}
