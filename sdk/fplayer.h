// The fingerprint layer of a Q230F canvas (either kind): the best capture so
// far, shown over the strokes of the signature canvas, sent to the pad's
// screen (fpscreen.h), and placed where the host asked for it.
#pragma once

#include "fpcanvas.h"
#include "fpscreen.h"
#include "signcanvas.h"

#include <QImage>
#include <QRect>

#include <atomic>
#include <mutex>

class CSignPadDriver;
class QPainter;

// Where the fingerprint goes, one explicit choice. The object kind uses
// NFPPA_NONE and NFPPA_FP_ON_CANVAS_FROM_JS, the widget kind the first three.
enum FPPlacement {
    NFPPA_NONE = 0,                     // centred in the signature canvas, half its height
    NFPPA_SIGN_FP_SAME_WIDGET = 1,      // at a rectangle of the sign widget itself
    NFPPA_SIGN_FP_DIFFERENT_WIDGET = 2, // in a CQ230FFPWidget of another host window
    NFPPA_FP_ON_CANVAS_FROM_JS = 3      // in an off-screen canvas of a size a page asked for
};

class CFingerprintLayer : public ICanvasOverlay {
public:
    CFingerprintLayer(CSignCanvas& canvas, const CSignPadDriver& driver);
    ~CFingerprintLayer() override;
    CFingerprintLayer(const CFingerprintLayer&) = delete;
    CFingerprintLayer& operator=(const CFingerprintLayer&) = delete;

    // The screen thread: started with the canvas, stopped before the driver
    // goes (the stop also aborts a transfer under way).
    void StartScreenThread() { m_Screen.StartScreenThread(); }
    void StopScreenThread() { m_Screen.StopScreenThread(); }

    // One capture from the driver's capture thread: shown when its score
    // beats the best so far.
    void RxQ230FSignPadFPRawData(unsigned char* pData, int nDataLength, int nScore, bool bDeviceConnected);

    // Placements (host thread).
    // Off-screen canvas of nCanvasWidth x nCanvasHeight with the fingerprint at the rectangle: 0 or -2.
    int PlaceOffScreen(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight);
    // At a rectangle of the signature canvas itself.
    void PlaceOnCanvas(const QRect& rc);
    // In a fingerprint canvas shown elsewhere; the layer owns it from now on.
    void PlaceIn(CFPCanvas* pPlaced);
    // The placed canvas went away on its own (its window was closed).
    void Forget(CFPCanvas* pPlaced);
    FPPlacement Placement() const;
    QRect DisplayedRect() const;
    // Base64 of the placed canvas; null when there is none.
    char* EncodePlaced(bool bClipImage, int nClipMarginX, int nClipMarginY, bool bFPImageOnly, int nImageTypeID);
    // A device clear empties the placed canvas as well.
    void ClearPlaced();
    // At shutdown: the placed canvas is shut down and deleted.
    void DropPlaced();

    bool HasImage() const { return m_nBestFPScore.load() > 0; }
    int BestScore() const { return m_nBestFPScore.load(); }
    QImage FingerprintImage() const;
    bool HasNewScreenImage() { return m_Screen.HasNewScreenImage(); }
    // The fingerprint at its natural size, centred, under the strokes of an SVG.
    void PaintSvgUnderlay(QPainter& painter, int nWidth, int nHeight, int nDPI);

    // ICanvasOverlay: the merge of strokes and fingerprint.
    void Compose(QImage& shown, const QImage& strokes, const QRect& area) override;
    void CanvasCleared() override;

private:
    // The screen image went to the pad: the merge follows.
    void ScreenImageSent();
    // Makes pNew the placed canvas; the one before is deleted.
    void ReplacePlaced(CFPCanvas* pNew, FPPlacement ePlacement);
    // m_Mutex held: where the fingerprint lands in a canvas of this size (empty: nowhere).
    QRectF TargetIn(const QSize& canvas) const;

    CSignCanvas& m_Canvas;

    mutable std::mutex m_Mutex;
    QImage m_FPOnlyCanvas;                   // the best capture; under m_Mutex
    std::atomic<int> m_nBestFPScore{0};      // written under m_Mutex
    FPPlacement m_nNewFPProcessActionID = NFPPA_NONE; // under m_Mutex
    QRect m_rcDisplayedFP;                   // NFPPA_SIGN_FP_SAME_WIDGET; under m_Mutex
    CFPCanvas* m_pNewFPWidget = nullptr;     // placed canvas, owned; under m_Mutex
    // The shown image no longer matches fingerprint or placement: the next
    // composition redoes all of it, not only the area of a stroke.
    bool m_bComposeAll = true;               // under m_Mutex

    // Last, so that its thread stops before the rest goes.
    CFPScreen m_Screen;
};
