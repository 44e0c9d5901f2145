// Fingerprint images of the Q230F: the capture as a two-colour picture, its
// screen image for the pad, and a placed fingerprint canvas of its own size.
#pragma once

#include <QImage>
#include <QRect>

#include <mutex>

constexpr int FP_IMAGE_WIDTH = 208;
constexpr int FP_IMAGE_HEIGHT = 288;
constexpr int FP_RAW_DATA_SIZE = FP_IMAGE_WIDTH * FP_IMAGE_HEIGHT; // 59904, one byte a pixel
constexpr int FP_SCREEN_WIDTH = FP_IMAGE_WIDTH / 2;
constexpr int FP_SCREEN_HEIGHT = FP_IMAGE_HEIGHT / 2;
constexpr int FP_SCREEN_IMAGE_SIZE = FP_SCREEN_WIDTH * FP_SCREEN_HEIGHT * 2; // 29952, RGB565 big-endian

// Renders one capture: pixels below the mean of all bytes red, the rest white.
QImage RenderFingerprintCapture(const unsigned char* pData, int* pnThreshold = nullptr);
// The screen image of a capture (every second column and row), same threshold.
void RenderFingerprintScreenImage(const unsigned char* pData, int nThreshold, unsigned char* pScreen);

// A placed fingerprint: a white canvas of a chosen size with the fingerprint
// scaled into one rectangle of it. A plain class, so that the object kind can
// use it off-screen on any thread; CQ230FFPWidget shows one in a window.
// Every operation takes the canvas's own lock, as updates come from the pen
// and screen threads.
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
    // Base64 of the canvas (clip: the bounding box of its non-white pixels
    // widened by the margins; else fingerprint-only: the rectangle; else all
    // of it). Array new, zero-terminated.
    char* EncodeBase64SignImage(bool bClipImage, int nClipMarginX, int nClipMarginY, bool bFPImageOnly,
                                int nImageTypeID);
    QImage Canvas() const;
    QRect Rect() const;

protected:
    virtual void Repaint() {}

private:
    static bool RectInside(const QRect& rc, int nWidth, int nHeight);

    mutable std::mutex m_Mutex;
    QImage m_FPCanvas;
    QImage m_FPImage;
    QRect m_rcFP{QPoint(0, 0), QPoint(-1, -1)};
    // Settings of the last encoding.
    bool m_bClipImage = false;
    int m_nClipMarginX = 0, m_nClipMarginY = 0;
    bool m_bFPImageOnly = false;
};
