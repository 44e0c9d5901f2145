// Widget kind of the signature canvas and the fingerprint display widget.
#include "signwidget.h"
#include "signobj.h"
#include "vtlog.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

CSignWidget::CSignWidget(const ModelTraits& traits, QWidget* pParentWidget, HWSignDataCallback pfnPen,
                         FPDataCallback pfnFP)
    : QWidget(pParentWidget), CSignCore(traits, QWidget::width(), QWidget::height(), pfnPen, pfnFP)
{
    // Widgets drop pressure spikes on every model.
    m_bDropHighPressure = true;
}

CSignWidget::~CSignWidget()
{
    // The frame shut the canvas down before handing it to the event loop.
    CSignCore::Shutdown();
}

void CSignWidget::Dispose()
{
    hide();
    deleteLater();
}

void CSignWidget::PlaceWidget(int nX, int nY, int nWidth, int nHeight)
{
    setGeometry(nX, nY, nWidth, nHeight);
    show();
    ResizeUnderInvisibleParentWidget(nWidth, nHeight);
}

void CSignWidget::RequestRepaint()
{
    // The reader thread may not touch the widget: the GUI thread repaints.
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}

void CSignWidget::ResizeCanvases(int nWidth, int nHeight, bool bKeep)
{
    QImage canvas;
    clearCanvas(canvas, nWidth, nHeight);
    if (bKeep) {
        QPainter painter(&canvas);
        painter.drawImage(QPoint(0, 0), m_SignCanvas);
    }
    m_SignCanvas = canvas;
}

void CSignWidget::resizeEvent(QResizeEvent*)
{
    SetGeometryMembers(width(), height());
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        ResizeCanvases(width(), height(), true);
    }
    update();
}

void CSignWidget::ResizeUnderInvisibleParentWidget(int nSignCanvasWidth, int nSignCanvasHeight)
{
    const char* label = "CSignWidget::ResizeUnderInvisibleParentWidget()";
    const bool bParentVisible = parentWidget() && parentWidget()->isVisible();
    VT_LOG(label, "<%ld>Enter, width=%d, height=%d, parentWidget()->isVisible()=%d", width(), height(),
           int(bParentVisible));
    if (bParentVisible)
        return; // the resize event of the shown widget has set everything
    VT_LOG(label, "<%ld>nSignCanvasWidth=%d, nSignCanvasHeight=%d", nSignCanvasWidth, nSignCanvasHeight);
    VT_LOG(label, "<%ld>resize(nSignCanvasWidth, nSignCanvasHeight)...");
    resize(nSignCanvasWidth, nSignCanvasHeight);
    SetGeometryMembers(width(), height());
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        ResizeCanvases(width(), height(), false);
    }
    VT_LOG(label, "<%ld>width=%d, height=%d", width(), height());
    VT_LOG(label, "<%ld>-leave !");
}

void CSignWidget::paintEvent(QPaintEvent* event)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    QWidget::paintEvent(event);
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_SignCanvas);
}

void CSignWidget::MouseButtonEvent(QMouseEvent* event)
{
    // The mouse never draws; a press only refreshes the picture.
    if (event->buttons() & Qt::LeftButton)
        repaint();
}

void CSignWidget::mousePressEvent(QMouseEvent* event)
{
    MouseButtonEvent(event);
}

void CSignWidget::mouseMoveEvent(QMouseEvent* event)
{
    MouseButtonEvent(event);
}

// ---------------------------------------------------------------- fingerprint widget

CQ230FFPWidget::CQ230FFPWidget(QWidget* pParent) : QWidget(pParent), CFPCanvas(QWidget::width(), QWidget::height())
{
}

CQ230FFPWidget::~CQ230FFPWidget()
{
    if (m_pfnDestroyed)
        m_pfnDestroyed(this);
}

int CQ230FFPWidget::SetDisplayedFPImageAt(QWidget*, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
{
    return SetDisplayedFPImageIn(nFPLeft, nFPTop, nFPWidth, nFPHeight);
}

void CQ230FFPWidget::paintEvent(QPaintEvent*)
{
    const QImage canvas = Canvas();
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), canvas);
}

void CQ230FFPWidget::Repaint()
{
    VT_LOG("CQ230FFPWidget::UpdateFPImage()", "<%ld>-b4 call update()...");
    QMetaObject::invokeMethod(this, "update", Qt::QueuedConnection);
}

// ---------------------------------------------------------------- per-model classes

#define VT_DEFINE_SIGN_WIDGET(M, BASE, TRAITS, FPCALLBACK)                                 \
    void Rx##M##SignPadRawDataCallback(int nX, int nY, int nP, int nPenStatus)            \
    {                                                                                      \
        if (CSignCore* pCanvas = g_pSignWidget.load())                                     \
            pCanvas->RxSignPadRawData(nX, nY, nP, nPenStatus);                             \
    }                                                                                      \
    C##M##SignWidget::C##M##SignWidget(QWidget* pParentWidget)                             \
        : BASE(TRAITS, pParentWidget, Rx##M##SignPadRawDataCallback, FPCALLBACK)           \
    {                                                                                      \
    }

VT_DEFINE_SIGN_WIDGET(Q210, CSignWidget, g_TraitsQ210, nullptr)
VT_DEFINE_SIGN_WIDGET(Q220, CSignWidget, g_TraitsQ220, nullptr)
VT_DEFINE_SIGN_WIDGET(Q230F, CQ230FCanvasT<CSignWidget>, g_TraitsQ230F, RxQ230FSignPadFPRawDataCallback)
VT_DEFINE_SIGN_WIDGET(QT410, CSignWidget, g_TraitsQT410, nullptr)
VT_DEFINE_SIGN_WIDGET(M420, CSignWidget, g_TraitsM420, nullptr)

void RxQ230FSignPadFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore)
{
    if (CSignCore* pCanvas = g_pSignWidget.load())
        pCanvas->RxQ230FSignPadFPRawData(pData, nDataLength, nScore);
}

CSignCore* CreateSignWidget(const ModelTraits& traits, QWidget* pParentWidget)
{
    // Widgets exist only in a widget application, on its GUI thread.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()) ||
        QThread::currentThread() != QCoreApplication::instance()->thread())
        return nullptr;
    switch (traits.nDeviceId) {
    case VTQ210_DEVICE:
        return new CQ210SignWidget(pParentWidget);
    case VTQ220_DEVICE:
        return new CQ220SignWidget(pParentWidget);
    case VTQ230F_DEVICE:
        return new CQ230FSignWidget(pParentWidget);
    case RUVU410_DEVICE:
        return new CQT410SignWidget(pParentWidget);
    case ROV420_DEVICE:
        return new CM420SignWidget(pParentWidget);
    default:
        return nullptr;
    }
}
