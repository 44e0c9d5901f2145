// Fingerprint canvas of the Q230F: captures rendered as a two-colour image,
// merged into the signature, sent to the pad's screen and placed on canvases
// of their own. The logic is written once as a mixin over either canvas kind
// (CSignCore for the object, CSignWidget for the widget).
#pragma once

#include "sdkcore.h"

#include <QImage>
#include <QRect>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QWidget;

// Where a fingerprint goes (m_nNewFPProcessActionID).
enum {
    NFPPA_NONE = 0,                     // centred in the signature canvas
    NFPPA_SIGN_FP_SAME_WIDGET = 1,      // widget kind: at m_rcDisplayedFP of the signature
    NFPPA_SIGN_FP_DIFFERENT_WIDGET = 2, // widget kind: in a CQ230FFPWidget of another parent
    NFPPA_FP_ON_CANVAS_FROM_JS = 3      // object kind: in an off-screen canvas of a requested size
};

constexpr int FP_IMAGE_WIDTH = 208;
constexpr int FP_IMAGE_HEIGHT = 288;
constexpr int FP_RAW_DATA_SIZE = FP_IMAGE_WIDTH * FP_IMAGE_HEIGHT; // 59904, one byte a pixel
constexpr int FP_SCREEN_WIDTH = FP_IMAGE_WIDTH / 2;
constexpr int FP_SCREEN_HEIGHT = FP_IMAGE_HEIGHT / 2;
constexpr int FP_SCREEN_IMAGE_SIZE = FP_SCREEN_WIDTH * FP_SCREEN_HEIGHT * 2; // 29952, RGB565 big-endian

// A placed fingerprint: a white canvas of a chosen size with the fingerprint
// scaled into one rectangle of it. A plain class, so that the object kind can
// use it on any thread; CQ230FFPWidget shows one in a window. Every operation
// takes the canvas's own lock, as updates come from the pen and screen threads.
class CFPCanvas {
public:
    CFPCanvas(int nWidth, int nHeight);
    virtual ~CFPCanvas() = default;
    CFPCanvas(const CFPCanvas&) = delete;
    CFPCanvas& operator=(const CFPCanvas&) = delete;

    // Rectangle inside a canvas of that size: the canvas is recreated white. 0 or -2.
    int SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth,
                              int nFPHeight);
    // Rectangle inside the current canvas, which stays as it is. 0 or -2.
    int SetDisplayedFPImageIn(int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight);
    void UpdateFPImage(QImage image);
    void Clear();
    void Shutdown() { Clear(); }
    // A white canvas of a new size (the rectangle stays).
    void ResetCanvas(int nWidth, int nHeight);
    static void clearCanvas(QImage& image, int nWidth, int nHeight);
    // Bounding box of the non-white pixels of the canvas, widened by the margins.
    QRect CheckSignImageBoundingBox(int nClipMarginX, int nClipMarginY);
    // Base64 of the canvas (clip: the bounding box; else fingerprint-only: the
    // rectangle; else all of it). Array new, zero-terminated.
    char* EncodeBase64SignImage(bool bClipImage, int nClipMarginX, int nClipMarginY, bool bFPImageOnly,
                                int nImageTypeID);
    QImage Canvas() const;
    QRect Rect() const;

protected:
    virtual void Repaint() {}
    mutable std::mutex m_Mutex;
    QImage m_FPCanvas;
    QImage m_FPImage;
    QRect m_rcFP{QPoint(0, 0), QPoint(-1, -1)};
    // Settings of the last encoding.
    bool m_bClipImage = false;
    int m_nClipMarginX = 0, m_nClipMarginY = 0;
    bool m_bFPImageOnly = false;

private:
    static bool RectInside(const QRect& rc, int nWidth, int nHeight);
};

// Sends fingerprint images to the pad's screen; the names per kind are aliases.
class CShowFPImageOnDeviceThread : public QThread {
public:
    CShowFPImageOnDeviceThread(void* pSignObj, void (*pfnRun)(void*)) : m_pSignObj(pSignObj), m_pfnRun(pfnRun) {}

protected:
    void run() override { m_pfnRun(m_pSignObj); }

private:
    void* m_pSignObj;
    void (*m_pfnRun)(void*);
};
using CQ230FObj_ShowFPImageOnDeviceThread = CShowFPImageOnDeviceThread;
using CQ230FWidget_ShowFPImageOnDeviceThread = CShowFPImageOnDeviceThread;

// The Q230F canvas of either kind: Base is CSignCore or CSignWidget.
template <class Base> class CQ230FCanvasT : public Base {
public:
    template <class... Args> explicit CQ230FCanvasT(Args&&... args) : Base(std::forward<Args>(args)...)
    {
        InitFingerprint();
    }
    ~CQ230FCanvasT() override;

    void Shutdown() override;
    int ClearDeviceContent() override;
    void RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore) override;
    int SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth,
                              int nFPHeight) override;
    int SetDisplayedFPImageAt(QWidget* pParentWidget, int nFPLeft, int nFPTop, int nFPWidth,
                              int nFPHeight) override;
    char* GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly) override;

    // Screen thread.
    void CheckIfAnyNewFPImageRawDataOnDeviceAvailable();
    void ProcessShowFPImgaeRawDataOnDevice();
    void RunScreenLoop();
    // Rebuilds m_SignCanvas from the strokes and the fingerprint; m_CanvasMutex held.
    void MergeSignCanvasAndFPCanvas();

    QImage m_SignOnlyCanvas;
    QImage m_FPOnlyCanvas;
    std::atomic<int> m_nBestFPScore{0};
    int m_nNewFPProcessActionID = NFPPA_NONE; // under m_CanvasMutex
    CFPCanvas* m_pNewFPWidget = nullptr;      // under m_CanvasMutex, owned
    QRect m_rcDisplayedFP;                    // widget kind, under m_CanvasMutex
    bool m_bFPImageOnly = false;
    unsigned char m_ucFPScreenImage[FP_SCREEN_IMAGE_SIZE] = {};
    unsigned char m_ucFPScreenImageToSend[FP_SCREEN_IMAGE_SIZE] = {};
    bool m_bNewFPScreenImage = false;  // under m_FPImageMutex
    bool m_bSendFPScreenImage = false; // screen thread only
    bool m_bFPScreenImageSent = false; // screen thread only
    std::mutex m_FPImageMutex;
    std::condition_variable m_FPImageCond; // a new screen image, or shutdown
    CShowFPImageOnDeviceThread* m_pShowFPImageOnDeviceThread = nullptr;

protected:
    QImage& StrokeCanvas() override { return m_SignOnlyCanvas; }
    void AfterSegmentDrawn() override;
    void AfterCanvasCleared() override;
    bool HasFingerprintImage() const override { return m_nBestFPScore.load() > 0; }
    void PaintSvgUnderlay(QPainter& painter, int nWidth, int nHeight, int nDPI) override;
    // Widget kind: the canvases follow the widget's size (m_CanvasMutex held).
    void ResizeCanvases(int nWidth, int nHeight, bool bKeep);

private:
    void InitFingerprint();
    void StopScreenThread();
    void DropNewFPWidget();
    static void ScreenThreadMain(void* p) { static_cast<CQ230FCanvasT*>(p)->RunScreenLoop(); }
};

// Renders one capture: pixels below the mean of all bytes red, the rest white.
QImage RenderFingerprintCapture(const unsigned char* pData, int* pnThreshold = nullptr);
// The screen image of a capture (every second column and row), same threshold.
void RenderFingerprintScreenImage(const unsigned char* pData, int nThreshold, unsigned char* pScreen);
// Writes an image as BMP (1), JPEG (2) or PNG (3, white made transparent) in
// Base64, into a new zero-terminated array; an empty text when nothing was written.
char* EncodeImageAsBase64(const QImage& image, int nImageTypeID);
