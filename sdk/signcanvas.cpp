#include "signcanvas.h"
#include "sdkhelpers.h"
#include "vtinksdk.h"
#include "vtlog.h"

#include <QPainter>

#include <cmath>

namespace {

int Clamp(int n, int nSpan)
{
    return n < 0 ? 0 : (n >= nSpan ? nSpan - 1 : n);
}

} // namespace

CSignCanvas::CSignCanvas(const SdkModelTraits& traits, int nWidth, int nHeight, std::string strLabelPrefix)
    : m_Traits(traits), m_strLabel(std::move(strLabelPrefix)), m_nMaxPressure(traits.nStartPressureLevels)
{
    SetGeometryMembers(nWidth, nHeight);
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    m_SignCanvas = WhiteImage(nWidth, nHeight);
}

void CSignCanvas::SetOverlay(ICanvasOverlay* pOverlay)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    m_pOverlay = pOverlay;
    m_SignOnlyCanvas = WhiteImage(m_SignCanvas.width(), m_SignCanvas.height());
}

void CSignCanvas::Changed() const
{
    if (m_fnChanged)
        m_fnChanged();
}

void CSignCanvas::SetGeometryMembers(int nWidth, int nHeight)
{
    m_nCanvasWidth = nWidth;
    m_nCanvasHeight = nHeight;
    m_dblScaleX = double(nWidth) / m_Traits.nRawSpanX;
    m_dblScaleY = double(nHeight) / m_Traits.nRawSpanY;
    m_dblPressureToWidth = PressureToWidth(m_nPenWidth);
}

void CSignCanvas::ResizeCanvases(int nWidth, int nHeight, bool bKeep)
{
    SetGeometryMembers(nWidth, nHeight);
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        QImage strokes = WhiteImage(nWidth, nHeight);
        if (bKeep) {
            QPainter painter(&strokes);
            painter.drawImage(QPoint(0, 0), Strokes());
        }
        Strokes() = strokes;
        if (m_pOverlay) {
            m_SignCanvas = WhiteImage(nWidth, nHeight);
            m_pOverlay->Compose(m_SignCanvas, m_SignOnlyCanvas, m_SignCanvas.rect());
        }
    }
    Changed();
}

void CSignCanvas::ConvertSignRawDataToSignWndData(int nX, int nY, int nP, double& dblX, double& dblY,
                                                  double& dblPressure) const
{
    dblX = Clamp(nX - m_Traits.nRawOffsetX, m_Traits.nRawSpanX) * m_dblScaleX;
    dblY = Clamp(nY - m_Traits.nRawOffsetY, m_Traits.nRawSpanY) * m_dblScaleY;
    dblPressure = nP * m_dblPressureToWidth.load(std::memory_order_relaxed);
}

double CSignCanvas::PressureToWidth(int nPenWidth) const
{
    if (m_Traits.ePressureRule == PressureRule::ThreeTimesLevels)
        return nPenWidth * 3.0 / m_nMaxPressure.load();
    return nPenWidth / 306.0;
}

int CSignCanvas::SetDevicePenWidth(int n)
{
    if (n < 1 || n > 10) {
        VT_LOG(Label("SetDevicePenWidth").c_str(),
               "<%ld>-leave with ARI_INVALID_PARAMETERS since nPenWidth is out of range !");
        return ARI_INVALID_PARAMETERS;
    }
    m_nPenWidth = n;
    m_dblPressureToWidth = PressureToWidth(n);
    return ARI_SUCCESS;
}

void CSignCanvas::SetDevicePenColor(int r, int g, int b)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    m_PenColor = QColor(r, g, b);
}

QColor CSignCanvas::PenColor() const
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    return m_PenColor;
}

void CSignCanvas::SetPressureLevels(int nLevels)
{
    m_nMaxPressure = nLevels;
    m_dblPressureToWidth = PressureToWidth(m_nPenWidth);
}

void CSignCanvas::StartStroke(double dblX, double dblY)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    m_dblLastX = dblX;
    m_dblLastY = dblY;
}

void CSignCanvas::StartSignOnCanvas(double dblX, double dblY, double dblPressure)
{
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        const double dblWidth = m_bWithPressureValue ? dblPressure : m_nPenWidth * m_Traits.dblFixedWidthFactor;
        const QPointF from(m_dblLastX, m_dblLastY), to(dblX, dblY);
        QPainter painter(&Strokes());
        painter.setRenderHint(QPainter::Antialiasing, true);
        painter.setPen(QPen(m_PenColor, dblWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawLine(from, to);
        painter.end();
        if (m_pOverlay) {
            // Only the pixels the segment may have touched: its round caps and
            // the antialiased rim around them.
            const double dblReach = std::ceil(std::fabs(dblWidth) / 2) + 2;
            const QRect area = QRectF(from, to).normalized().adjusted(-dblReach, -dblReach, dblReach, dblReach)
                                   .toAlignedRect() & m_SignCanvas.rect();
            m_pOverlay->Compose(m_SignCanvas, m_SignOnlyCanvas, area);
        }
        m_dblLastX = dblX;
        m_dblLastY = dblY;
    }
    Changed();
}

void CSignCanvas::ClearSignCanvas()
{
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        m_SignCanvas.fill(Qt::white);
        if (m_pOverlay) {
            m_SignOnlyCanvas.fill(Qt::white);
            m_pOverlay->CanvasCleared();
        }
    }
    Changed();
}

void CSignCanvas::Recompose()
{
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        if (m_pOverlay)
            m_pOverlay->Compose(m_SignCanvas, m_SignOnlyCanvas, m_SignCanvas.rect());
    }
    Changed();
}

int CSignCanvas::SetSaveClipImageMargin(bool bClipImage, int nClipMarginX, int nClipMarginY)
{
    VT_LOG(Label("SetSaveClipImageMargin").c_str(), "<%ld>-Enter, bClipImage=%d, nClipMarginX=%d, nClipMarginY=%d",
           int(bClipImage), nClipMarginX, nClipMarginY);
    m_bClipImage = bClipImage;
    m_nClipMarginX = nClipMarginX;
    m_nClipMarginY = nClipMarginY;
    if (nClipMarginX == 0 && nClipMarginY == 0)
        m_bClipImage = false;
    VT_LOG(Label("SetSaveClipImageMargin").c_str(), "<%ld>-leave with m_bClipImage=%d", int(m_bClipImage));
    return ARI_SUCCESS;
}

void CSignCanvas::CheckSignImageBoundingBox(QRect& rcBoundBox)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    CheckSignImageBoundingBoxLocked(rcBoundBox);
}

void CSignCanvas::CheckSignImageBoundingBoxLocked(QRect& rcBoundBox)
{
    VT_LOG(Label("CheckSignImageBoundingBox").c_str(), "<%ld>-Enter, nWidth=%d, nHeight=%d", m_SignCanvas.width(),
           m_SignCanvas.height());
    QRect raw;
    rcBoundBox = InkBoundingBox(m_SignCanvas, m_nClipMarginX, m_nClipMarginY, &raw);
    VT_LOG(Label("CheckSignImageBoundingBox").c_str(), "<%ld>-nLeft=%d, nRight=%d, nTop=%d, nBottom=%d", raw.left(),
           raw.right(), raw.top(), raw.bottom());
    VT_LOG(Label("CheckSignImageBoundingBox").c_str(),
           "<%ld>-leave with rcBoundBox.Left=%d, Right=%d, Top=%d, Bottom=%d", rcBoundBox.left(), rcBoundBox.right(),
           rcBoundBox.top(), rcBoundBox.bottom());
}

QImage CSignCanvas::TakeSnapshot(QRect& rcBoundBox)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    rcBoundBox = QRect();
    // The whole picture is shared, not copied: a stroke drawn later copies
    // it for itself (the image detaches), and this one stays as it is now.
    if (!m_bClipImage)
        return m_SignCanvas;
    CheckSignImageBoundingBoxLocked(rcBoundBox);
    // No ink pixel: left ends beyond right and the crop is empty.
    if (rcBoundBox.width() <= 0 || rcBoundBox.height() <= 0)
        return QImage();
    return m_SignCanvas.copy(rcBoundBox);
}

QImage CSignCanvas::Image() const
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    return m_SignCanvas.copy();
}

QImage CSignCanvas::ImageRect(const QRect& rc) const
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    return m_SignCanvas.copy(rc);
}

void CSignCanvas::PaintOn(QPainter& painter) const
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    painter.drawImage(QPoint(0, 0), m_SignCanvas);
}

void CSignCanvas::EditImage(const std::function<void(QImage&)>& f)
{
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    f(m_SignCanvas);
}
