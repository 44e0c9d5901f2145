#include "fpcanvas.h"
#include "sdkhelpers.h"
#include "vtinksdk.h"
#include "vtlog.h"

#include <QPainter>

namespace {

constexpr QRgb kFPRed = 0xFFFF0000u;
constexpr QRgb kFPWhite = 0xFFFFFFFFu;

} // namespace

// ---------------------------------------------------------------- rendering helpers

QImage RenderFingerprintCapture(const unsigned char* pData, int* pnThreshold)
{
    long long llSum = 0;
    for (int i = 0; i < FP_RAW_DATA_SIZE; ++i)
        llSum += pData[i];
    const int nThreshold = int(llSum / FP_RAW_DATA_SIZE);
    if (pnThreshold)
        *pnThreshold = nThreshold;
    // Written straight into the image's memory: no painter, no lock needed.
    QImage image(FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT, QImage::Format_ARGB32);
    for (int y = 0; y < FP_IMAGE_HEIGHT; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const unsigned char* row = pData + y * FP_IMAGE_WIDTH;
        for (int x = 0; x < FP_IMAGE_WIDTH; ++x)
            line[x] = row[x] < nThreshold ? kFPRed : kFPWhite;
    }
    return image;
}

void RenderFingerprintScreenImage(const unsigned char* pData, int nThreshold, unsigned char* pScreen)
{
    for (int j = 0; j < FP_SCREEN_HEIGHT; ++j) {
        for (int i = 0; i < FP_SCREEN_WIDTH; ++i) {
            const bool bDark = pData[(2 * j) * FP_IMAGE_WIDTH + 2 * i] < nThreshold;
            unsigned char* px = pScreen + j * FP_SCREEN_WIDTH * 2 + i * 2;
            px[0] = bDark ? 0xF8 : 0xFF; // RGB565, high byte first
            px[1] = bDark ? 0x00 : 0xFF;
        }
    }
}

// ---------------------------------------------------------------- CFPCanvas

CFPCanvas::CFPCanvas(int nWidth, int nHeight)
    : m_FPCanvas(WhiteImage(nWidth, nHeight)), m_FPImage(WhiteImage(FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT))
{
}

bool CFPCanvas::RectInside(const QRect& rc, int nWidth, int nHeight)
{
    const QRect area(0, 0, nWidth, nHeight);
    return rc.width() > 0 && rc.height() > 0 && area.contains(rc.topLeft()) && area.contains(rc.bottomRight());
}

int CFPCanvas::SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth,
                                     int nFPHeight)
{
    const char* label = "CQ230FFPWidget::SetDisplayedFPImageAt()";
    VT_LOG(label, "<%ld>-Enter, nCanvasWidth=%d, nCanvasHeight=%d, nFPLeft=%d, nFPTop=%d, nFPWidth=%d, nFPHeight=%d",
           nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    const QRect rc(nFPLeft, nFPTop, nFPWidth, nFPHeight);
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (!RectInside(rc, nCanvasWidth, nCanvasHeight)) {
            VT_LOG(label, "<%ld>-leave with ARI_INVALID_PARAMETERS due to invalid nFPLeft, nFPTop, nFPWidth, nFPHeight !");
            return ARI_INVALID_PARAMETERS;
        }
        m_rcFP = rc;
        m_FPCanvas = WhiteImage(nCanvasWidth, nCanvasHeight);
        m_FPImage = WhiteImage(FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
    }
    Repaint();
    VT_LOG(label, "<%ld>-leave with ARI_SUCCESS...");
    return ARI_SUCCESS;
}

int CFPCanvas::SetDisplayedFPImageIn(int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
{
    const QRect rc(nFPLeft, nFPTop, nFPWidth, nFPHeight);
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (!RectInside(rc, m_FPCanvas.width(), m_FPCanvas.height())) {
        VT_LOG("CQ230FFPWidget::SetDisplayedFPImageAt()",
               "<%ld>-leave with ARI_INVALID_PARAMETERS due to invalid nFPLeft, nFPTop, nFPWidth, nFPHeight !");
        return ARI_INVALID_PARAMETERS;
    }
    m_rcFP = rc;
    return ARI_SUCCESS;
}

void CFPCanvas::UpdateFPImage(QImage image)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_FPImage = image;
        if (m_rcFP.width() > 0 && m_rcFP.height() > 0) {
            QPainter painter(&m_FPCanvas);
            painter.setCompositionMode(QPainter::CompositionMode_Source);
            painter.drawImage(QRectF(m_rcFP), m_FPImage, QRectF(0, 0, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT));
        }
    }
    Repaint();
}

void CFPCanvas::ResetCanvas(int nWidth, int nHeight)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_FPCanvas = WhiteImage(nWidth, nHeight);
    }
    Repaint();
}

void CFPCanvas::Clear()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_FPCanvas.fill(Qt::white);
        m_FPImage.fill(Qt::white);
    }
    Repaint();
}

char* CFPCanvas::EncodeBase64SignImage(bool bClipImage, int nClipMarginX, int nClipMarginY, bool bFPImageOnly,
                                       int nImageTypeID)
{
    QImage picture;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bClipImage = bClipImage;
        m_nClipMarginX = nClipMarginX;
        m_nClipMarginY = nClipMarginY;
        m_bFPImageOnly = bFPImageOnly;
        if (bClipImage) {
            const QRect rc = InkBoundingBox(m_FPCanvas, nClipMarginX, nClipMarginY);
            if (rc.width() > 0 && rc.height() > 0)
                picture = m_FPCanvas.copy(rc);
        } else if (bFPImageOnly) {
            picture = m_FPCanvas.copy(m_rcFP);
        } else {
            picture = m_FPCanvas.copy();
        }
    }
    char* p = EncodeImageAsBase64(picture, nImageTypeID);
    VT_LOG("CQ230FFPWidget::EncodeBase64SignImage()", "<%ld>-leave with pEncodeBase64Image=%lx !", (unsigned long)p);
    return p;
}

QImage CFPCanvas::Canvas() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_FPCanvas.copy();
}

QRect CFPCanvas::Rect() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_rcFP;
}
