// The drawing surface of one canvas: the signature image, the mapping from
// raw pad coordinates to its pixels, the pen (colour, width, pressure) and
// the clipping used when the picture is handed out. Strokes are drawn on the
// driver's reader thread and read on the host's and the GUI thread, all under
// the canvas lock.
#pragma once

#include "modeltraits.h"

#include <QColor>
#include <QImage>
#include <QRect>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

class QPainter;

// Something shown over the strokes (the fingerprint). A canvas with an
// overlay keeps its strokes in an image of their own and shows them composed
// with it. Both calls come with the canvas lock held.
class ICanvasOverlay {
public:
    virtual ~ICanvasOverlay() = default;
    // Rebuilds the area of shown from strokes and the overlay.
    virtual void Compose(QImage& shown, const QImage& strokes, const QRect& area) = 0;
    // Strokes and shown image were just cleared.
    virtual void CanvasCleared() = 0;
};

class CSignCanvas {
public:
    CSignCanvas(const SdkModelTraits& traits, int nWidth, int nHeight, std::string strLabelPrefix);
    CSignCanvas(const CSignCanvas&) = delete;
    CSignCanvas& operator=(const CSignCanvas&) = delete;

    // Called once, before any stroke.
    void SetOverlay(ICanvasOverlay* pOverlay);
    // Told (outside the lock) whenever the shown image changed; any thread.
    void SetChangedHook(std::function<void()> fnChanged) { m_fnChanged = std::move(fnChanged); }

    // Geometry: scale from a canvas size, and new images of that size
    // (bKeep keeps the strokes at the top left).
    void SetGeometryMembers(int nWidth, int nHeight);
    void ResizeCanvases(int nWidth, int nHeight, bool bKeep);
    void ConvertSignRawDataToSignWndData(int nX, int nY, int nP, double& dblX, double& dblY,
                                         double& dblPressure) const;

    // Pen.
    int SetDevicePenWidth(int n); // 1..10, else ARI_INVALID_PARAMETERS
    void SetDevicePenColor(int r, int g, int b);
    void SetWithPressureValue(bool b) { m_bWithPressureValue = b; }
    void SetPressureLevels(int nLevels);
    int PressureLevels() const { return m_nMaxPressure; }
    double PressureToWidth() const { return m_dblPressureToWidth; }
    bool WithPressureValue() const { return m_bWithPressureValue; }
    int PenWidth() const { return m_nPenWidth; }
    QColor PenColor() const;

    // Strokes (driver reader thread).
    void StartStroke(double dblX, double dblY); // the pen touched down here
    void StartSignOnCanvas(double dblX, double dblY, double dblPressure);
    void ClearSignCanvas();
    // The overlay changed: the shown image is composed anew.
    void Recompose();

    // Clipping of the pictures handed out.
    int SetSaveClipImageMargin(bool bClipImage, int nClipMarginX, int nClipMarginY);
    void ClipOff() { m_bClipImage = false; }
    bool ClipImage() const { return m_bClipImage; }
    int ClipMarginX() const { return m_nClipMarginX; }
    int ClipMarginY() const { return m_nClipMarginY; }
    void CheckSignImageBoundingBox(QRect& rcBoundBox);
    // The picture as handed out: all of it, or when clipping the bounding
    // box (null image when there is no ink), whose rectangle goes to rcBoundBox.
    QImage TakeSnapshot(QRect& rcBoundBox);

    // The shown image.
    QImage Image() const;
    QImage ImageRect(const QRect& rc) const;
    void PaintOn(QPainter& painter) const;
    // Runs f on the shown image under the lock (tests paint ink directly).
    void EditImage(const std::function<void(QImage&)>& f);

    int Width() const { return m_nCanvasWidth; }
    int Height() const { return m_nCanvasHeight; }
    double ScaleX() const { return m_dblScaleX; }
    double ScaleY() const { return m_dblScaleY; }

private:
    double PressureToWidth(int nPenWidth) const;
    void CheckSignImageBoundingBoxLocked(QRect& rcBoundBox);
    QImage& Strokes() { return m_pOverlay ? m_SignOnlyCanvas : m_SignCanvas; }
    void Changed() const;
    std::string Label(const char* pszOp) const { return m_strLabel + pszOp + "()"; }

    const SdkModelTraits& m_Traits;
    const std::string m_strLabel;
    mutable std::mutex m_CanvasMutex;
    QImage m_SignCanvas;     // what is shown and handed out; under m_CanvasMutex
    QImage m_SignOnlyCanvas; // the strokes alone, with an overlay; under m_CanvasMutex
    ICanvasOverlay* m_pOverlay = nullptr;
    std::function<void()> m_fnChanged;
    QColor m_PenColor{Qt::black};          // under m_CanvasMutex
    double m_dblLastX = 0, m_dblLastY = 0; // under m_CanvasMutex
    // Widgets rescale while the reader thread maps points.
    std::atomic<int> m_nCanvasWidth{0}, m_nCanvasHeight{0};
    std::atomic<double> m_dblScaleX{0}, m_dblScaleY{0};
    std::atomic<double> m_dblPressureToWidth{0};
    std::atomic<int> m_nPenWidth{3};
    std::atomic<int> m_nMaxPressure{0};
    std::atomic<bool> m_bWithPressureValue{true};
    // Host thread only.
    bool m_bClipImage = false;
    int m_nClipMarginX = 0, m_nClipMarginY = 0;
};
