// Widget kind of the signature canvas and the fingerprint display widget.
#include "signwidget.h"
#include "fplayer.h"
#include "sdkhelpers.h"
#include "vtlog.h"

#include <QMouseEvent>
#include <QPainter>

// Widgets drop pressure spikes on every model.
CSignWidget::CSignWidget(const SdkModelTraits& traits, QWidget* pParentWidget)
    : QWidget(pParentWidget), CSignCore(traits, QWidget::width(), QWidget::height(), true)
{
    Canvas().SetChangedHook([this] { RequestRepaint(); });
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

void CSignWidget::resizeEvent(QResizeEvent*)
{
    Canvas().ResizeCanvases(width(), height(), true);
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
    Canvas().ResizeCanvases(width(), height(), false);
    VT_LOG(label, "<%ld>width=%d, height=%d", width(), height());
    VT_LOG(label, "<%ld>-leave !");
}

void CSignWidget::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    QPainter painter(this);
    Canvas().PaintOn(painter);
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

// ---------------------------------------------------------------- fingerprint placement

int CSignWidget::SetDisplayedFPImageAt(QWidget* pParentWidget, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
{
    CFingerprintLayer* pLayer = Fingerprint();
    if (!pLayer)
        return ARI_FAILED;
    const char* label = "CQ230FSignWidget::SetDisplayedFPImageAt()";
    if (!pParentWidget) {
        VT_LOG(label, "<%ld>-leave with ARI_INVALID_PARAMETERS due to pParentWidget == nullptr !");
        return ARI_INVALID_PARAMETERS;
    }
    if (pParentWidget == parentWidget()) {
        const QRect rc(nFPLeft, nFPTop, nFPWidth, nFPHeight);
        if (nFPWidth <= 0 || nFPHeight <= 0 || !rect().contains(rc.topLeft()) || !rect().contains(rc.bottomRight())) {
            VT_LOG(label, "<%ld>-leave with ARI_INVALID_PARAMETERS due to invalid nFPLeft, nFPTop, nFPWidth, nFPHeight !");
            return ARI_INVALID_PARAMETERS;
        }
        pLayer->PlaceOnCanvas(rc);
        return ARI_SUCCESS;
    }
    // The placed widget covers its parent, so its canvas and the rectangle
    // test follow the parent's size rather than a fresh child's default.
    auto* pNew = new CQ230FFPWidget(pParentWidget);
    pNew->resize(pParentWidget->size());
    pNew->ResetCanvas(pNew->width(), pNew->height());
    const int nResult = pNew->SetDisplayedFPImageAt(pParentWidget, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    if (nResult != ARI_SUCCESS) {
        delete pNew;
        return nResult;
    }
    pNew->setGeometry(0, 0, pParentWidget->width(), pParentWidget->height());
    pNew->show();
    pNew->m_pfnDestroyed = [pLayer](CQ230FFPWidget* pGone) { pLayer->Forget(pGone); };
    pLayer->PlaceIn(pNew);
    return ARI_SUCCESS;
}

char* CSignWidget::GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly)
{
    CFingerprintLayer* pLayer = Fingerprint();
    if (!pLayer)
        return nullptr;
    const CSignCanvas& canvas = Canvas();
    switch (pLayer->Placement()) {
    case NFPPA_SIGN_FP_DIFFERENT_WIDGET:
        return pLayer->EncodePlaced(canvas.ClipImage(), canvas.ClipMarginX(), canvas.ClipMarginY(), bFPImageOnly,
                                    nImageTypeID);
    case NFPPA_SIGN_FP_SAME_WIDGET:
        // Fingerprint only, unclipped: its rectangle of the merged signature.
        if (bFPImageOnly && !canvas.ClipImage())
            return EncodeImageAsBase64(canvas.ImageRect(pLayer->DisplayedRect()), nImageTypeID);
        return Export().EncodeBase64SignImage(nImageTypeID);
    case NFPPA_NONE:
        return Export().EncodeBase64SignImage(nImageTypeID);
    default:
        return nullptr;
    }
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
