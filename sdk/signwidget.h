// The widget kind of the signature canvas: the same pipeline as the sign
// object, shown live inside a host window. It differs in where the canvas
// lives (the widget's size), repaints, mouse handling, the pressure drop and
// where a fingerprint can be placed.
#pragma once

#include "fpcanvas.h"
#include "sdkcore.h"

#include <QWidget>

#include <functional>

class CSignWidget : public QWidget, public CSignCore {
    Q_OBJECT
public:
    CSignWidget(const SdkModelTraits& traits, QWidget* pParentWidget);
    ~CSignWidget() override;

    // Sizes the canvas when the parent is not shown yet (no resize event arrives then).
    void ResizeUnderInvisibleParentWidget(int nSignCanvasWidth, int nSignCanvasHeight);

    // The fingerprint on this widget (pParentWidget is its own parent) or in
    // a widget of its own in another window.
    int SetDisplayedFPImageAt(QWidget* pParentWidget, int nFPLeft, int nFPTop, int nFPWidth,
                              int nFPHeight) override;
    using CSignCore::SetDisplayedFPImageAt;
    char* GetFPImageBase64Data(int nImageTypeID, bool bFPImageOnly) override;

    void Dispose() override;
    void PlaceWidget(int nX, int nY, int nWidth, int nHeight) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // Posts a repaint to the GUI thread; callable from any thread.
    void RequestRepaint();
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

// One widget class per model: the widget kind with that model's traits.
#define VT_DECLARE_SIGN_WIDGET(M)                                                                       \
    class C##M##SignWidget : public CSignWidget {                                                      \
    public:                                                                                            \
        explicit C##M##SignWidget(QWidget* pParentWidget) : CSignWidget(g_Traits##M, pParentWidget) {} \
    };                                                                                                 \
    using C##M##Widget_DoConfirmOrCancelKeyActionThread = CDoConfirmOrCancelKeyActionThread;

VT_SDK_FOR_EACH_MODEL(VT_DECLARE_SIGN_WIDGET)
