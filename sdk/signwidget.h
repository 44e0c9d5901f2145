// The widget kind of the signature canvas: the same pipeline as the sign
// object, shown live inside a host window. It differs in where the canvas
// lives (the widget's size), repaints, mouse handling and the pressure drop.
#pragma once

#include "fpcanvas.h"
#include "sdkcore.h"

#include <QWidget>

#include <functional>

class CSignWidget : public QWidget, public CSignCore {
    Q_OBJECT
public:
    CSignWidget(const ModelTraits& traits, QWidget* pParentWidget, HWSignDataCallback pfnPen,
                FPDataCallback pfnFP);
    ~CSignWidget() override;

    // Sizes the canvas when the parent is not shown yet (no resize event arrives then).
    void ResizeUnderInvisibleParentWidget(int nSignCanvasWidth, int nSignCanvasHeight);

    void Dispose() override;
    QWidget* Widget() override { return this; }
    void PlaceWidget(int nX, int nY, int nWidth, int nHeight) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    void AfterSegmentDrawn() override { RequestRepaint(); }
    void AfterCanvasCleared() override { RequestRepaint(); }
    // New canvas images for a new size; bKeep keeps the strokes at the top
    // left. m_CanvasMutex held.
    virtual void ResizeCanvases(int nWidth, int nHeight, bool bKeep);
    // Posts a repaint to the GUI thread; callable from any thread.
    void RequestRepaint();

private:
    void MouseButtonEvent(QMouseEvent* event);
};

// Shows a placed fingerprint in a window: a CFPCanvas painted by a widget.
class CQ230FFPWidget : public QWidget, public CFPCanvas {
    Q_OBJECT
public:
    explicit CQ230FFPWidget(QWidget* pParent);
    ~CQ230FFPWidget() override;
    using CFPCanvas::SetDisplayedFPImageAt;
    // Rectangle inside this widget's own area; the canvas stays. 0 or -2.
    int SetDisplayedFPImageAt(QWidget* pParent, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight);

    // Told first thing when the widget goes, also when its parent takes it
    // down, so that the sign canvas stops updating it.
    std::function<void(CQ230FFPWidget*)> m_pfnDestroyed;

protected:
    void paintEvent(QPaintEvent* event) override;
    void Repaint() override;
};

// One widget class per model: the widget core with that model's traits.
#define VT_DECLARE_SIGN_WIDGET(M, BASE)                                          \
    void Rx##M##SignPadRawDataCallback(int nX, int nY, int nP, int nPenStatus);  \
    class C##M##SignWidget : public BASE {                                       \
    public:                                                                      \
        explicit C##M##SignWidget(QWidget* pParentWidget);                       \
    };                                                                           \
    using C##M##Widget_DoConfirmOrCancelKeyActionThread = CDoConfirmOrCancelKeyActionThread;

VT_DECLARE_SIGN_WIDGET(Q210, CSignWidget)
VT_DECLARE_SIGN_WIDGET(Q220, CSignWidget)
VT_DECLARE_SIGN_WIDGET(Q230F, CQ230FCanvasT<CSignWidget>)
VT_DECLARE_SIGN_WIDGET(QT410, CSignWidget)
VT_DECLARE_SIGN_WIDGET(M420, CSignWidget)

// Fingerprint captures of the Q230F widget.
void RxQ230FSignPadFPRawDataCallback(unsigned char* pData, int nDataLength, int nScore);

// The widget of a model as a child of pParentWidget (GUI thread); null when
// there is no widget application to show it in.
CSignCore* CreateSignWidget(const ModelTraits& traits, QWidget* pParentWidget);
