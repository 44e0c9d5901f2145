// Fingerprint canvas of the Q230F, for both canvas kinds.
#include "fpcanvas.h"
#include "signwidget.h"
#include "vtlog.h"

#include <QBuffer>
#include <QPainter>
#include <QWidget>

#include <cstring>
#include <type_traits>

namespace {

constexpr QRgb kFPRed = 0xFFFF0000u;
constexpr QRgb kFPWhite = 0xFFFFFFFFu;

// Halving that rounds toward minus infinity, also for negative sizes.
int FloorHalf(int n)
{
    return n >= 0 ? n / 2 : -((-n + 1) / 2);
}

int DotsPerMetre(int nDPI)
{
    return int(nDPI / 0.0254);
}

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

char* EncodeImageAsBase64(const QImage& image, int nImageTypeID)
{
    const char* format = nImageTypeID == EBITI_BITMAP ? "BMP"
                         : nImageTypeID == EBITI_JPG  ? "JPG"
                         : nImageTypeID == EBITI_PNG  ? "PNG"
                                                      : nullptr;
    QByteArray bytes;
    if (format && !image.isNull()) {
        QImage picture = image.convertToFormat(QImage::Format_ARGB32);
        if (nImageTypeID == EBITI_PNG) {
            for (int y = 0; y < picture.height(); ++y) {
                auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
                for (int x = 0; x < picture.width(); ++x)
                    line[x] = line[x] == 0xFFFFFFFFu ? 0x00FFFFFFu : (line[x] | 0xFF000000u);
            }
        }
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!picture.save(&buffer, format))
            bytes.clear();
    }
    return NewBase64Text(bytes);
}

// ---------------------------------------------------------------- CFPCanvas

CFPCanvas::CFPCanvas(int nWidth, int nHeight)
{
    clearCanvas(m_FPCanvas, nWidth, nHeight);
    clearCanvas(m_FPImage, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
}

void CFPCanvas::clearCanvas(QImage& image, int nWidth, int nHeight)
{
    CSignCore::clearCanvas(image, std::max(0, nWidth), std::max(0, nHeight));
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
        clearCanvas(m_FPCanvas, nCanvasWidth, nCanvasHeight);
        clearCanvas(m_FPImage, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
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
        clearCanvas(m_FPCanvas, nWidth, nHeight);
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

QRect CFPCanvas::CheckSignImageBoundingBox(int nClipMarginX, int nClipMarginY)
{
    // Caller holds m_Mutex.
    const int w = m_FPCanvas.width(), h = m_FPCanvas.height();
    int left = 99999, top = 99999, right = -1, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(m_FPCanvas.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((line[x] & 0x00FFFFFFu) == 0x00FFFFFFu)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    left = std::max(0, left - nClipMarginX);
    top = std::max(0, top - nClipMarginY);
    right = std::min(w - 1, right + nClipMarginX);
    bottom = std::min(h - 1, bottom + nClipMarginY);
    return QRect(QPoint(left, top), QPoint(right, bottom));
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
            const QRect rc = CheckSignImageBoundingBox(nClipMarginX, nClipMarginY);
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

// ---------------------------------------------------------------- Q230F canvas

template <class Base> constexpr bool IsWidgetKind()
{
    return std::is_base_of<QWidget, Base>::value;
}

template <class Base> void CQ230FCanvasT<Base>::InitFingerprint()
{
    {
        std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
        CSignCore::clearCanvas(m_SignOnlyCanvas, this->m_SignCanvas.width(), this->m_SignCanvas.height());
        CSignCore::clearCanvas(m_FPOnlyCanvas, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
    }
    m_pShowFPImageOnDeviceThread = new CShowFPImageOnDeviceThread(this, &CQ230FCanvasT::ScreenThreadMain);
    m_pShowFPImageOnDeviceThread->setObjectName(QStringLiteral("vtsdk-fpscreen"));
    m_pShowFPImageOnDeviceThread->start(QThread::InheritPriority);
}

template <class Base> CQ230FCanvasT<Base>::~CQ230FCanvasT()
{
    // The frame calls Shutdown first; this covers a canvas dropped without it.
    StopScreenThread();
    Base::Shutdown();
    DropNewFPWidget();
}

template <class Base> void CQ230FCanvasT<Base>::StopScreenThread()
{
    if (!m_pShowFPImageOnDeviceThread)
        return;
    const char* label = "CQ230FSignObj::Shutdown()";
    {
        // The flag also aborts a screen transfer under way.
        std::lock_guard<std::mutex> lock(m_FPImageMutex);
        this->m_bShutDown = true;
    }
    m_FPImageCond.notify_all();
    VT_LOG(label, "<%ld>-b4 call m_pShowFPImageOnDeviceThread->quit()...");
    m_pShowFPImageOnDeviceThread->quit();
    VT_LOG(label, "<%ld>-b4 call m_pShowFPImageOnDeviceThread->wait()...");
    m_pShowFPImageOnDeviceThread->wait();
    delete m_pShowFPImageOnDeviceThread;
    m_pShowFPImageOnDeviceThread = nullptr;
    VT_LOG(label, "<%ld>-after call m_pShowFPImageOnDeviceThread = nullptr...");
}

template <class Base> void CQ230FCanvasT<Base>::DropNewFPWidget()
{
    CFPCanvas* p = nullptr;
    {
        std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
        p = m_pNewFPWidget;
        m_pNewFPWidget = nullptr;
    }
    if (p) {
        p->Shutdown();
        delete p;
    }
}

template <class Base> void CQ230FCanvasT<Base>::Shutdown()
{
    StopScreenThread(); // before the driver goes: the thread calls into it
    Base::Shutdown();
    DropNewFPWidget();
}

template <class Base> int CQ230FCanvasT<Base>::ClearDeviceContent()
{
    const int nResult = Base::ClearDeviceContent();
    std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
    if (m_pNewFPWidget)
        m_pNewFPWidget->Clear();
    return nResult;
}

template <class Base> void CQ230FCanvasT<Base>::AfterCanvasCleared()
{
    m_nBestFPScore = 0;
    m_FPOnlyCanvas.fill(Qt::white);
    m_SignOnlyCanvas.fill(Qt::white);
    this->m_SignCanvas.fill(Qt::white);
    Base::AfterCanvasCleared();
}

template <class Base> void CQ230FCanvasT<Base>::AfterSegmentDrawn()
{
    MergeSignCanvasAndFPCanvas();
    Base::AfterSegmentDrawn();
}

template <class Base> void CQ230FCanvasT<Base>::ResizeCanvases(int nWidth, int nHeight, bool bKeep)
{
    if constexpr (IsWidgetKind<Base>()) {
        // The strokes are kept in the stroke image; the merged one is rebuilt from it.
        std::swap(this->m_SignCanvas, m_SignOnlyCanvas);
        Base::ResizeCanvases(nWidth, nHeight, bKeep);
        std::swap(this->m_SignCanvas, m_SignOnlyCanvas);
        MergeSignCanvasAndFPCanvas();
    }
}

template <class Base>
void CQ230FCanvasT<Base>::RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore)
{
    const char* label = "CQ230FSignObj::RxQ230FSignPadFPRawData()";
    VT_LOG_THREAD(label, "<%ld>-Enter, pucRawData=%lx, nDataLength=%d, nScore=%d", (unsigned long)pData, nDataLength,
                  nScore);
    if (!this->m_bDeviceConnected || !pData)
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
        std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
        if (nScore <= m_nBestFPScore.load()) // a clear may not lower it, but a rival may have raised it
            return;
        m_nBestFPScore = nScore;
        m_FPOnlyCanvas = fp;
    }
    {
        std::lock_guard<std::mutex> lock(m_FPImageMutex);
        RenderFingerprintScreenImage(pData, nThreshold, m_ucFPScreenImage);
        m_bNewFPScreenImage = true;
    }
    m_FPImageCond.notify_all();
    VT_LOG_THREAD(label, "<%ld>-leave !");
}

template <class Base> void CQ230FCanvasT<Base>::CheckIfAnyNewFPImageRawDataOnDeviceAvailable()
{
    std::lock_guard<std::mutex> lock(m_FPImageMutex);
    if (m_bNewFPScreenImage) {
        memcpy(m_ucFPScreenImageToSend, m_ucFPScreenImage, FP_SCREEN_IMAGE_SIZE);
        m_bNewFPScreenImage = false;
        m_bSendFPScreenImage = true;
    } else {
        m_bSendFPScreenImage = false;
    }
}

template <class Base> void CQ230FCanvasT<Base>::ProcessShowFPImgaeRawDataOnDevice()
{
    static_assert(sizeof(std::atomic<bool>) == sizeof(bool) && std::atomic<bool>::is_always_lock_free,
                  "the driver polls the shutdown flag as a plain bool");
    if (m_bSendFPScreenImage && this->m_pfn_VTSPDAPI_ShowFPImageOnDevice) {
        // A failed transfer is not reported; the merge follows all the same.
        this->m_pfn_VTSPDAPI_ShowFPImageOnDevice(m_ucFPScreenImageToSend, FP_SCREEN_IMAGE_SIZE, FP_SCREEN_WIDTH,
                                                 FP_SCREEN_HEIGHT, reinterpret_cast<bool*>(&this->m_bShutDown));
        m_bFPScreenImageSent = true;
    } else if (m_bFPScreenImageSent) {
        m_bFPScreenImageSent = false;
        VT_LOG_THREAD("CQ230FSignObj::ProcessShowFPImgaeRawDataOnDevice()", "<%ld>-b4 call MergeSignCanvasAndFPCanvas()...");
        {
            std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
            MergeSignCanvasAndFPCanvas();
        }
        if constexpr (IsWidgetKind<Base>())
            this->RequestRepaint();
    }
}

template <class Base> void CQ230FCanvasT<Base>::RunScreenLoop()
{
    const char* label = "CQ230FSignObj_ShowFPImageOnDeviceThread::run()";
    VT_LOG_THREAD(label, "<%ld>-enter");
    // Sleeps until a capture brings a new screen image (or a sent one still
    // waits for its merge), instead of spinning.
    std::unique_lock<std::mutex> lock(m_FPImageMutex);
    while (!this->AreWeGoingToShutDown()) {
        m_FPImageCond.wait(lock, [this] {
            return this->AreWeGoingToShutDown() || m_bNewFPScreenImage || m_bFPScreenImageSent;
        });
        if (this->AreWeGoingToShutDown())
            break;
        lock.unlock();
        CheckIfAnyNewFPImageRawDataOnDeviceAvailable();
        ProcessShowFPImgaeRawDataOnDevice();
        lock.lock();
    }
    VT_LOG_THREAD(label, "<%ld>-Leave !");
}

template <class Base> void CQ230FCanvasT<Base>::MergeSignCanvasAndFPCanvas()
{
    const char* label = "CQ230FSignObj::MergeSignCanvasAndFPCanvas()";
    QImage source;
    CSignCore::clearCanvas(source, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
    const QRectF rcSourceFP(0, 0, FP_IMAGE_WIDTH, FP_IMAGE_HEIGHT);
    QRectF rcTargetFP(0, 0, 0, 0);
    const int nCanvasWidth = m_SignOnlyCanvas.width(), nCanvasHeight = m_SignOnlyCanvas.height();
    switch (m_nNewFPProcessActionID) {
    case NFPPA_NONE: {
        VT_LOG_THREAD(label, "<%ld>-m_nNewFPProcessActionID == NFPPA_NONE");
        source = m_FPOnlyCanvas;
        const double dblTargetFPHeight = nCanvasHeight * 0.5;
        const double dblTargetFPWidth = dblTargetFPHeight * FP_IMAGE_WIDTH / FP_IMAGE_HEIGHT;
        const double dblTargetFPX = (nCanvasWidth - dblTargetFPWidth) * 0.5;
        const double dblTargetFPY = (nCanvasHeight - dblTargetFPHeight) * 0.5;
        VT_LOG_THREAD(label, "<%ld>-dblTargetFPHeight=%f, dblTargetFPWidth=%f", dblTargetFPHeight, dblTargetFPWidth);
        VT_LOG_THREAD(label, "<%ld>-dblTargetFPX=%f, dblTargetFPY=%f", dblTargetFPX, dblTargetFPY);
        rcTargetFP = QRectF(dblTargetFPX, dblTargetFPY, dblTargetFPWidth, dblTargetFPHeight);
        break;
    }
    case NFPPA_SIGN_FP_SAME_WIDGET:
        if (IsWidgetKind<Base>()) {
            VT_LOG_THREAD(label, "<%ld>-m_nNewFPProcessActionID == NFPPA_SIGN_FP_SAME_WIDGET");
            source = m_FPOnlyCanvas;
            rcTargetFP = QRectF(m_rcDisplayedFP.left(), m_rcDisplayedFP.top(), m_rcDisplayedFP.width(),
                                m_rcDisplayedFP.height());
        }
        break;
    case NFPPA_SIGN_FP_DIFFERENT_WIDGET:
    case NFPPA_FP_ON_CANVAS_FROM_JS:
        // Each kind has its own placed canvas: the widget in another window, the object off-screen.
        if (m_pNewFPWidget &&
            m_nNewFPProcessActionID == (IsWidgetKind<Base>() ? NFPPA_SIGN_FP_DIFFERENT_WIDGET : NFPPA_FP_ON_CANVAS_FROM_JS)) {
            VT_LOG_THREAD(label, "<%ld>-b4 call m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas)...");
            m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas.copy());
        }
        break;
    default:
        break;
    }
    VT_LOG_THREAD(label, "<%ld>-rcTargetFP.left=%f, top=%f, width=%f, height=%f", rcTargetFP.left(), rcTargetFP.top(),
                  rcTargetFP.width(), rcTargetFP.height());
    VT_LOG_THREAD(label, "<%ld>-rcSourceFP.left=%f, top=%f, width=%f, height=%f", rcSourceFP.left(), rcSourceFP.top(),
                  rcSourceFP.width(), rcSourceFP.height());
    this->m_SignCanvas = m_SignOnlyCanvas.copy();
    if (!rcTargetFP.isEmpty()) {
        // AND: white leaves the strokes, red keeps only the red of what lies below.
        QPainter painter(&this->m_SignCanvas);
        painter.setCompositionMode(QPainter::RasterOp_SourceAndDestination);
        painter.drawImage(rcTargetFP, source, rcSourceFP);
    }
}

template <class Base>
int CQ230FCanvasT<Base>::SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop,
                                               int nFPWidth, int nFPHeight)
{
    if constexpr (IsWidgetKind<Base>()) {
        return Base::SetDisplayedFPImageAt(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    } else {
        const char* label = "CQ230FSignObj::SetDisplayedFPImageAt()";
        VT_LOG(label, "<%ld>-Enter, nCanvasWidth=%d, nCanvasHeight=%d, nFPLeft=%d, nFPTop=%d, nFPWidth=%d, nFPHeight=%d",
               nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
        // Canvas sizes come from web pages.
        constexpr int kMaxSide = 8192;
        if (nCanvasWidth > kMaxSide || nCanvasHeight > kMaxSide)
            return ARI_INVALID_PARAMETERS;
        auto* pNew = new CFPCanvas(0, 0);
        const int nResult = pNew->SetDisplayedFPImageAt(nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
        if (nResult != ARI_SUCCESS) {
            // A refused rectangle leaves the earlier placement in place.
            delete pNew;
            VT_LOG(label, "<%ld>-leave due to m_pNewFPWidget->SetDisplayedFPImageAt() failed, nResult=%d", nResult);
            return nResult;
        }
        CFPCanvas* pOld = nullptr;
        {
            std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
            pOld = m_pNewFPWidget;
            m_pNewFPWidget = pNew;
            m_nNewFPProcessActionID = NFPPA_FP_ON_CANVAS_FROM_JS;
            // A fingerprint already shown appears on the new canvas at once.
            if (m_nBestFPScore.load() > 0)
                m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas.copy());
        }
        delete pOld;
        VT_LOG(label, "<%ld>-leave with ARI_SUCCESS...");
        return ARI_SUCCESS;
    }
}

template <class Base>
int CQ230FCanvasT<Base>::SetDisplayedFPImageAt(QWidget* pParentWidget, int nFPLeft, int nFPTop, int nFPWidth,
                                               int nFPHeight)
{
    if constexpr (!IsWidgetKind<Base>()) {
        return Base::SetDisplayedFPImageAt(pParentWidget, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    } else {
        const char* label = "CQ230FSignWidget::SetDisplayedFPImageAt()";
        if (!pParentWidget) {
            VT_LOG(label, "<%ld>-leave with ARI_INVALID_PARAMETERS due to pParentWidget == nullptr !");
            return ARI_INVALID_PARAMETERS;
        }
        if (pParentWidget == this->parentWidget()) {
            const QRect rc(nFPLeft, nFPTop, nFPWidth, nFPHeight);
            if (nFPWidth <= 0 || nFPHeight <= 0 || !this->rect().contains(rc.topLeft()) ||
                !this->rect().contains(rc.bottomRight())) {
                VT_LOG(label, "<%ld>-leave with ARI_INVALID_PARAMETERS due to invalid nFPLeft, nFPTop, nFPWidth, nFPHeight !");
                return ARI_INVALID_PARAMETERS;
            }
            {
                std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
                m_rcDisplayedFP = rc;
                m_nNewFPProcessActionID = NFPPA_SIGN_FP_SAME_WIDGET;
                MergeSignCanvasAndFPCanvas();
            }
            this->RequestRepaint();
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
        pNew->m_pfnDestroyed = [this](CQ230FFPWidget* pGone) {
            std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
            if (m_pNewFPWidget == pGone)
                m_pNewFPWidget = nullptr;
        };
        CFPCanvas* pOld = nullptr;
        {
            std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
            pOld = m_pNewFPWidget;
            m_pNewFPWidget = pNew;
            m_nNewFPProcessActionID = NFPPA_SIGN_FP_DIFFERENT_WIDGET;
            if (m_nBestFPScore.load() > 0)
                m_pNewFPWidget->UpdateFPImage(m_FPOnlyCanvas.copy());
            MergeSignCanvasAndFPCanvas();
        }
        delete pOld;
        this->RequestRepaint();
        return ARI_SUCCESS;
    }
}

template <class Base> char* CQ230FCanvasT<Base>::GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly)
{
    const int nPlacedKind = IsWidgetKind<Base>() ? NFPPA_SIGN_FP_DIFFERENT_WIDGET : NFPPA_FP_ON_CANVAS_FROM_JS;
    int nAction = NFPPA_NONE;
    QRect rcDisplayed;
    {
        std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
        nAction = m_nNewFPProcessActionID;
        rcDisplayed = m_rcDisplayedFP;
    }
    // The placed canvas is replaced only on this (the host's) thread.
    if (nAction == nPlacedKind)
        return m_pNewFPWidget ? m_pNewFPWidget->EncodeBase64SignImage(this->m_bClipImage, this->m_nClipMarginX,
                                                                      this->m_nClipMarginY, bFPImageOnly, nImageTypeID)
                              : nullptr;
    if (!IsWidgetKind<Base>())
        return nullptr;
    if (nAction == NFPPA_SIGN_FP_SAME_WIDGET && bFPImageOnly && !this->m_bClipImage) {
        m_bFPImageOnly = true;
        QImage picture;
        {
            std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
            picture = this->m_SignCanvas.copy(rcDisplayed);
        }
        char* p = EncodeImageAsBase64(picture, nImageTypeID);
        m_bFPImageOnly = false;
        return p;
    }
    if (nAction == NFPPA_NONE || nAction == NFPPA_SIGN_FP_SAME_WIDGET)
        return this->EncodeBase64SignImage(nImageTypeID);
    return nullptr;
}

template <class Base> void CQ230FCanvasT<Base>::PaintSvgUnderlay(QPainter& painter, int nWidth, int nHeight, int nDPI)
{
    if (m_nBestFPScore.load() <= 0)
        return;
    QImage fp;
    {
        std::lock_guard<std::mutex> lock(this->m_CanvasMutex);
        fp = m_FPOnlyCanvas.copy();
    }
    fp.setDotsPerMeterX(DotsPerMetre(nDPI));
    fp.setDotsPerMeterY(DotsPerMetre(nDPI));
    painter.drawImage(QPoint(FloorHalf(nWidth - FP_IMAGE_WIDTH), FloorHalf(nHeight - FP_IMAGE_HEIGHT)), fp);
}

template class CQ230FCanvasT<CSignCore>;
template class CQ230FCanvasT<CSignWidget>;
