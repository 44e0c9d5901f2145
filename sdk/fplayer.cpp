#include "fplayer.h"
#include "sdkhelpers.h"
#include "vtinksdk.h"
#include "vtlog.h"

#include <QPainter>

#include <cstring>

namespace {

// Halving that rounds toward minus infinity, also for negative sizes.
int FloorHalf(int n)
{
    return n >= 0 ? n / 2 : -((-n + 1) / 2);
}

// Copies one area between two images of the same size and format.
void CopyArea(const QImage& from, QImage& to, const QRect& area)
{
    const size_t nBytes = size_t(area.width()) * sizeof(QRgb);
    for (int y = area.top(); y <= area.bottom(); ++y)
        memcpy(reinterpret_cast<QRgb*>(to.scanLine(y)) + area.left(),
               reinterpret_cast<const QRgb*>(from.constScanLine(y)) + area.left(), nBytes);
}

// Canvas sizes come from web pages.
constexpr int kMaxOffScreenSide = 8192;

} // namespace

CFingerprintLayer::CFingerprintLayer(CSignCanvas& canvas, const CSignPadDriver& driver)
    : m_Canvas(canvas), m_FPOnlyCanvas(WhiteImage(FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT)),
      m_Screen(driver, [this] { ScreenImageSent(); })
{
}

CFingerprintLayer::~CFingerprintLayer()
{
    StopScreenThread();
    DropPlaced();
}

void CFingerprintLayer::ScreenImageSent()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bComposeAll = true;
    }
    m_Canvas.Recompose();
}

// ---------------------------------------------------------------- captures

void CFingerprintLayer::RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore,
                                                bool bDeviceConnected)
{
    const char* label = "CQ230FSignObj::RxQ230FSignPadFPRawData()";
    VT_LOG_THREAD(label, "<%ld>-Enter, pucRawData=%lx, nDataLength=%d, nScore=%d", (unsigned long)pData, nDataLength,
                  nScore);
    if (!bDeviceConnected || !pData)
        return;
    if (nDataLength < FP_RAW_DATA_SIZE) {
        VT_LOG_THREAD(label, "<%ld>-leave due to nDataLength=%d < %d !", nDataLength, FP_RAW_DATA_SIZE);
        return;
    }
    if (nScore <= m_nBestFPScore.load())
        return;
    int nThreshold = 0;
    const QImage fp = RenderFingerprintCapture(pData, &nThreshold);
    VT_LOG_THREAD(label, "<%ld>nThresholdValue = %d", nThreshold);
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        if (nScore <= m_nBestFPScore.load()) // a clear may not lower it, but a rival may have raised it
            return;
        m_nBestFPScore = nScore;
        m_FPOnlyCanvas = fp;
        m_bComposeAll = true;
    }
    m_Screen.Post(pData, nThreshold);
    VT_LOG_THREAD(label, "<%ld>-leave !");
}

QImage CFingerprintLayer::FingerprintImage() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_FPOnlyCanvas.copy();
}

// ---------------------------------------------------------------- merge

QRectF CFingerprintLayer::TargetIn(const QSize& canvas) const
{
    const char* label = "CQ230FSignObj::MergeSignCanvasAndFPCanvas()";
    switch (m_nNewFPProcessActionID) {
    case NFPPA_NONE: {
        VT_LOG_THREAD(label, "<%ld>-m_nNewFPProcessActionID == NFPPA_NONE");
        const double dblTargetFPHeight = canvas.height() * 0.5;
        const double dblTargetFPWidth = dblTargetFPHeight * FP_IMAGE_WIDTH / FP_IMAGE_HEIGHT;
        const double dblTargetFPX = (canvas.width() - dblTargetFPWidth) * 0.5;
        const double dblTargetFPY = (canvas.height() - dblTargetFPHeight) * 0.5;
        VT_LOG_THREAD(label, "<%ld>-dblTargetFPHeight=%f, dblTargetFPWidth=%f", dblTargetFPHeight, dblTargetFPWidth);
        VT_LOG_THREAD(label, "<%ld>-dblTargetFPX=%f, dblTargetFPY=%f", dblTargetFPX, dblTargetFPY);
        return QRectF(dblTargetFPX, dblTargetFPY, dblTargetFPWidth, dblTargetFPHeight);
    }
    case NFPPA_SIGN_FP_SAME_WIDGET:
        VT_LOG_THREAD(label, "<%ld>-m_nNewFPProcessActionID == NFPPA_SIGN_FP_SAME_WIDGET");
        return QRectF(m_rcDisplayedFP);
    case NFPPA_SIGN_FP_DIFFERENT_WIDGET:
    case NFPPA_FP_ON_CANVAS_FROM_JS:
        // The placed canvas shows it; the signature keeps none.
        return QRectF(0, 0, 0, 0);
    }
    return QRectF(0, 0, 0, 0);
}

void CFingerprintLayer::Compose(QImage& shown, const QImage& strokes, const QRect& area)
{
    const char* label = "CQ230FSignObj::MergeSignCanvasAndFPCanvas()";
    std::lock_guard<std::mutex> lock(m_Mutex);
    const bool bAll = m_bComposeAll || area == shown.rect();
    m_bComposeAll = false;
    const QRectF rcSourceFP(0, 0, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
    const QRectF rcTargetFP = TargetIn(strokes.size());
    if (bAll && m_pNewFPWidget &&
        (m_nNewFPProcessActionID == NFPPA_SIGN_FP_DIFFERENT_WIDGET || m_nNewFPProcessActionID == NFPPA_FP_ON_CANVAS_FROM_JS)) {
        VT_LOG_THREAD(label, "<%ld>-b4 call m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas)...");
        m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas.copy());
    }
    VT_LOG_THREAD(label, "<%ld>-rcTargetFP.left=%f, top=%f, width=%f, height=%f", rcTargetFP.left(), rcTargetFP.top(),
                  rcTargetFP.width(), rcTargetFP.height());
    VT_LOG_THREAD(label, "<%ld>-rcSourceFP.left=%f, top=%f, width=%f, height=%f", rcSourceFP.left(), rcSourceFP.top(),
                  rcSourceFP.width(), rcSourceFP.height());
    // The strokes, then the fingerprint ANDed over them: white leaves the
    // strokes, red keeps only the red of what lies below. A blank (all white)
    // fingerprint changes nothing.
    QRect rcAnd = rcTargetFP.toAlignedRect();
    if (bAll) {
        // Into the image already there: a fresh one of this size costs its page faults on every merge.
        if (shown.size() == strokes.size() && shown.format() == strokes.format())
            CopyArea(strokes, shown, shown.rect());
        else
            shown = strokes.copy();
    } else {
        CopyArea(strokes, shown, area);
        rcAnd &= area;
    }
    if (rcTargetFP.isEmpty() || rcAnd.isEmpty() || m_nBestFPScore.load() == 0)
        return;
    QPainter painter(&shown);
    if (!bAll)
        painter.setClipRect(rcAnd);
    painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
    painter.drawImage(rcTargetFP, m_FPOnlyCanvas, rcSourceFP);
}

void CFingerprintLayer::CanvasCleared()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_nBestFPScore = 0;
    m_FPOnlyCanvas.fill(Qt::white);
    m_bComposeAll = true; // a placed canvas gets the white fingerprint with the next merge
}

void CFingerprintLayer::PaintSvgUnderlay(QPainter& painter, int nWidth, int nHeight, int nDPI)
{
    if (!HasImage())
        return;
    QImage fp = FingerprintImage();
    fp.setDotsPerMeterX(DotsPerMetre(nDPI));
    fp.setDotsPerMeterY(DotsPerMetre(nDPI));
    painter.drawImage(QPoint(FloorHalf(nWidth - FP_IMAGE_WIDTH), FloorHalf(nHeight - FP_IMAGE_HEIGHT)), fp);
}

// ---------------------------------------------------------------- placements

int CFingerprintLayer::PlaceOffScreen(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth,
                                      int nFPHeight)
{
    const char* label = "CQ230FSignObj::SetDisplayedFPImageAt()";
    VT_LOG(label, "<%ld>-Enter, nCanvasWidth=%d, nCanvasHeight=%d, nFPLeft=%d, nFPTop=%d, nFPWidth=%d, nFPHeight=%d",
           nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    if (nCanvasWidth > kMaxOffScreenSide || nCanvasHeight > kMaxOffScreenSide)
        return ARI_INVALID_PARAMETERS;
    auto* pNew = new CFPCanvas(0, 0);
    const int nResult = pNew->SetDisplayedFPImageAt(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    if (nResult != ARI_SUCCESS) {
        // A refused rectangle leaves the earlier placement in place.
        delete pNew;
        VT_LOG(label, "<%ld>-leave due to m_pNewFPWidget->SetDisplayedFPImageAt() failed, nResult=%d", nResult);
        return nResult;
    }
    ReplacePlaced(pNew, NFPPA_FP_ON_CANVAS_FROM_JS);
    VT_LOG(label, "<%ld>-leave with ARI_SUCCESS...");
    return ARI_SUCCESS;
}

void CFingerprintLayer::PlaceOnCanvas(const QRect& rc)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_rcDisplayedFP = rc;
        m_nNewFPProcessActionID = NFPPA_SIGN_FP_SAME_WIDGET;
        m_bComposeAll = true;
    }
    m_Canvas.Recompose();
}

void CFingerprintLayer::PlaceIn(CFPCanvas* pPlaced)
{
    ReplacePlaced(pPlaced, NFPPA_SIGN_FP_DIFFERENT_WIDGET);
    m_Canvas.Recompose();
}

void CFingerprintLayer::ReplacePlaced(CFPCanvas* pNew, FPPlacement ePlacement)
{
    CFPCanvas* pOld = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        pOld = m_pNewFPWidget;
        m_pNewFPWidget = pNew;
        m_nNewFPProcessActionID = ePlacement;
        m_bComposeAll = true;
        // A fingerprint already shown appears on the new canvas at once.
        if (m_nBestFPScore.load() > 0)
            m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas.copy());
    }
    delete pOld; // outside the lock: a placed widget tells Forget as it goes
}

void CFingerprintLayer::Forget(CFPCanvas* pPlaced)
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_pNewFPWidget == pPlaced)
        m_pNewFPWidget = nullptr;
}

FPPlacement CFingerprintLayer::Placement() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_nNewFPProcessActionID;
}

QRect CFingerprintLayer::DisplayedRect() const
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    return m_rcDisplayedFP;
}

char* CFingerprintLayer::EncodePlaced(bool bClipImage, int nClipMarginX, int nClipMarginY, bool bFPImageOnly,
                                      int nImageTypeID)
{
    CFPCanvas* p = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        p = m_pNewFPWidget;
    }
    // The placed canvas is replaced only on this (the host's) thread.
    return p ? p->EncodeBase64SignImage(bClipImage, nClipMarginX, nClipMarginY, bFPImageOnly, nImageTypeID) : nullptr;
}

void CFingerprintLayer::ClearPlaced()
{
    std::lock_guard<std::mutex> lock(m_Mutex);
    if (m_pNewFPWidget)
        m_pNewFPWidget->Clear();
}

void CFingerprintLayer::DropPlaced()
{
    CFPCanvas* p = nullptr;
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        p = m_pNewFPWidget;
        m_pNewFPWidget = nullptr;
    }
    if (p) {
        p->Shutdown();
        delete p;
    }
}
