// The widget kind of the signature canvas on emulated pads: placement and
// scale, resizes, mouse input, repaints, disposal, window ids, and the
// fingerprint placed on the sign widget itself.
#include "q230g.h"
#include "signwidget.h"
#include "widgettest.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

using namespace vtw;

namespace {

struct Family {
    int id;
    decltype(&VTQ210_InitialDevice) InitialDevice;
    decltype(&VTQ210_InitialDeviceByWId) InitialDeviceByWId;
    decltype(&VTQ210_UnInitialDevice) UnInitialDevice;
    decltype(&VTQ210_GetTotalPacketsNumber) GetTotalPacketsNumber;
    decltype(&VTQ210_SetPenStyle) SetPenStyle;
};

#define VT_FAMILY(ID, NAME, P, SCREEN, FP) \
    Family{ID, P##InitialDevice, P##InitialDeviceByWId, P##UnInitialDevice, P##GetTotalPacketsNumber, P##SetPenStyle},

// Every model, in the order of vtinkmodels.h.
const Family kFamilies[] = {VTINK_FOR_EACH_MODEL(VT_FAMILY)};

// The emulated pad of a model and its raw writing area, from padsim's description.
std::string PadName(const Family& f)
{
    return padsim::models::byDeviceId(f.id)->name;
}
padsim::WritingArea AreaOf(const Family& f)
{
    return padsim::models::byDeviceId(f.id)->host.area;
}
const Family& kQ210 = kFamilies[0];
const Family& kQ230F = kFamilies[2];

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int nPaints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            ++nPaints;
        return false;
    }
};

} // namespace

class TestSignWidget : public QObject {
    Q_OBJECT
private:
    padsim::Bed* m_pBed = nullptr;
    QWidget* m_pParent = nullptr;
    const Family* m_pOpen = nullptr;

    padsim::Pad& PadOf(const Family& f) { return *m_pBed->find(PadName(f)); }
    CSignWidget* Widget() { return dynamic_cast<CSignWidget*>(g_pSignWidget.load()); }

    // Pads of one family share their USB ids: only the model under test stays plugged.
    padsim::Pad& Use(const Family& f)
    {
        padsim::Pad* pWanted = m_pBed->find(PadName(f));
        for (padsim::Pad* p : m_pBed->pads())
            if (p != pWanted && p->isPlugged())
                p->unplug();
        if (!pWanted)
            return m_pBed->plug(padsim::models::byDeviceId(f.id));
        if (!pWanted->isPlugged())
            pWanted->replug();
        return *pWanted;
    }

    bool Open(const Family& f, int w, int h, int x = 0, int y = 0)
    {
        Use(f);
        if (!f.InitialDevice(f.id, m_pParent, x, y, w, h))
            return false;
        m_pOpen = &f;
        return f.SetPenStyle(f.id, false) == 0; // fixed-width strokes
    }

    // Draws a straight stroke between two canvas points and waits until its
    // three records (down, move, stroke end) are stored.
    bool Stroke(const Family& f, int w, int h, QPointF a, QPointF b)
    {
        const int nBefore = std::max(0, f.GetTotalPacketsNumber(f.id));
        const uint16_t p = 500;
        PadOf(f).stroke({{uint16_t(RawX(AreaOf(f), w, a.x())), uint16_t(RawY(AreaOf(f), h, a.y())), p},
                         {uint16_t(RawX(AreaOf(f), w, b.x())), uint16_t(RawY(AreaOf(f), h, b.y())), p}});
        return WaitUntil([&] { return f.GetTotalPacketsNumber(f.id) >= nBefore + 3; });
    }

private Q_SLOTS:
    void initTestCase() { m_pBed = new padsim::Bed(); }
    void cleanupTestCase() { delete m_pBed; }

    void init()
    {
        m_pParent = new QWidget();
        m_pParent->resize(640, 480);
        m_pParent->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_pParent));
    }
    void cleanup()
    {
        if (m_pOpen)
            QCOMPARE(m_pOpen->UnInitialDevice(m_pOpen->id), 0);
        m_pOpen = nullptr;
        QTest::qWait(0);
        QCOMPARE(g_pSignWidget.load(), nullptr);
        delete m_pParent;
        m_pParent = nullptr;
    }

    // Every model: a child of the host's window at the requested place, with
    // pen strokes drawn into it and shown on screen by the GUI thread.
    void everyModelDrawsIntoItsWidget_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < 5; ++i)
            QTest::newRow(PadName(kFamilies[i]).c_str()) << i;
    }
    void everyModelDrawsIntoItsWidget()
    {
        QFETCH(int, index);
        const Family& f = kFamilies[index];
        QVERIFY(Open(f, 400, 200, 20, 30));
        CSignWidget* w = Widget();
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), m_pParent);
        QCOMPARE(w->geometry(), QRect(20, 30, 400, 200));
        QVERIFY(w->isVisible());
        QCOMPARE(CanvasOf(w).size(), QSize(400, 200));

        QVERIFY(Stroke(f, 400, 200, QPointF(40, 60), QPointF(360, 60)));
        QVERIFY(IsDark(CanvasOf(w).pixel(200, 60)));
        QVERIFY(IsWhite(CanvasOf(w).pixel(200, 120)));
        // The repaint was posted to the GUI thread and shows the stroke.
        QVERIFY(WaitUntil([&] { return IsDark(w->grab().toImage().pixel(200, 60)); }));
    }

    void rawPointMapsToWidgetScale()
    {
        QVERIFY(Open(kQ210, 400, 200));
        CSignWidget* w = Widget();
        double x = 0, y = 0, p = 0;
        w->Canvas().ConvertSignRawDataToSignWndData(1340, 935, 0, x, y, p);
        QCOMPARE(x, 200.0);
        QCOMPARE(y, 100.0);

        PadOf(kQ210).stroke({{1340, 935, 500}, {1930, 935, 500}}); // canvas (200, 100) to (300, 100)
        QVERIFY(WaitUntil([&] { return kQ210.GetTotalPacketsNumber(kQ210.id) == 3; }));
        const QImage canvas = CanvasOf(w);
        QVERIFY(IsDark(canvas.pixel(200, 100)));
        QVERIFY(IsDark(canvas.pixel(299, 100)));
        QVERIFY(IsWhite(canvas.pixel(196, 100)));
        QVERIFY(IsWhite(canvas.pixel(304, 100)));
        QVERIFY(IsWhite(canvas.pixel(250, 96)));
        QVERIFY(IsWhite(canvas.pixel(250, 104)));
    }

    void resizeKeepsStrokesAndRescales()
    {
        QVERIFY(Open(kQ210, 400, 200));
        CSignWidget* w = Widget();
        QVERIFY(Stroke(kQ210, 400, 200, QPointF(40, 40), QPointF(360, 40)));
        QVERIFY(Stroke(kQ210, 400, 200, QPointF(40, 150), QPointF(360, 150)));

        w->resize(200, 100);
        QImage canvas = CanvasOf(w);
        QCOMPARE(canvas.size(), QSize(200, 100));
        QVERIFY(IsDark(canvas.pixel(100, 40))); // the top-left quarter stays
        QVERIFY(IsDark(canvas.pixel(199, 40)));
        QCOMPARE(w->Canvas().ScaleX(), 200.0 / 2360);
        QCOMPARE(w->Canvas().ScaleY(), 100.0 / 1430);

        // The same raw point lands at half the coordinates now.
        PadOf(kQ210).stroke({{1340, 935, 500}, {1930, 935, 500}});
        QVERIFY(WaitUntil([&] { return kQ210.GetTotalPacketsNumber(kQ210.id) == 9; }));
        canvas = CanvasOf(w);
        QVERIFY(IsDark(canvas.pixel(100, 50)));
        QVERIFY(IsDark(canvas.pixel(140, 50)));
        QVERIFY(IsWhite(canvas.pixel(100, 70)));

        // Growing again adds white; the old strokes stay where they were.
        w->resize(400, 200);
        canvas = CanvasOf(w);
        QCOMPARE(canvas.size(), QSize(400, 200));
        QVERIFY(IsDark(canvas.pixel(100, 40)));
        QVERIFY(IsWhite(canvas.pixel(300, 40)));
        QVERIFY(IsWhite(canvas.pixel(100, 150)));
    }

    void resizeUnderVisibleParentChangesNothing()
    {
        QVERIFY(Open(kQ210, 400, 200));
        CSignWidget* w = Widget();
        QVERIFY(Stroke(kQ210, 400, 200, QPointF(40, 40), QPointF(360, 40)));
        const QImage before = CanvasOf(w);
        w->ResizeUnderInvisibleParentWidget(100, 50);
        QCOMPARE(w->size(), QSize(400, 200));
        QCOMPARE(CanvasOf(w), before);
        QCOMPARE(w->Canvas().Width(), 400);
        QCOMPARE(w->Canvas().ScaleX(), 400.0 / 2360);
    }

    void resizeUnderHiddenParentStartsWhite()
    {
        m_pParent->hide();
        QVERIFY(Open(kQ210, 400, 200));
        CSignWidget* w = Widget();
        QCOMPARE(CanvasOf(w).size(), QSize(400, 200));
        QVERIFY(Stroke(kQ210, 400, 200, QPointF(40, 40), QPointF(360, 40)));
        w->ResizeUnderInvisibleParentWidget(300, 150);
        QCOMPARE(w->size(), QSize(300, 150));
        const QImage canvas = CanvasOf(w);
        QCOMPARE(canvas.size(), QSize(300, 150));
        QVERIFY(IsWhite(canvas.pixel(100, 40)));
        QCOMPARE(w->Canvas().Width(), 300);
        QCOMPARE(w->Canvas().ScaleY(), 150.0 / 1430);
    }

    void mouseRepaintsButNeverDraws()
    {
        QVERIFY(Open(kQ210, 400, 200));
        CSignWidget* w = Widget();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        PaintCounter counter;
        w->installEventFilter(&counter);
        const QImage before = CanvasOf(w);
        const int nInk = kQ210.GetTotalPacketsNumber(kQ210.id);

        QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(50, 50));
        QCOMPARE(counter.nPaints, 1); // painted at once, not later
        QMouseEvent drag(QEvent::MouseMove, QPointF(80, 60), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &drag);
        QCOMPARE(counter.nPaints, 2);
        QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(80, 60));
        QMouseEvent hover(QEvent::MouseMove, QPointF(90, 60), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(w, &hover);
        QCOMPARE(counter.nPaints, 2); // no button: nothing

        QCOMPARE(kQ210.GetTotalPacketsNumber(kQ210.id), nInk);
        QCOMPARE(CanvasOf(w), before);
        w->removeEventFilter(&counter);
    }

    void unInitialDeviceHidesThenDeletes()
    {
        QVERIFY(Open(kQ210, 400, 200));
        QPointer<QWidget> w = Widget();
        QVERIFY(w->isVisible());
        QCOMPARE(kQ210.UnInitialDevice(kQ210.id), 0);
        m_pOpen = nullptr;
        QVERIFY(!w.isNull()); // still there until the event loop runs
        QVERIFY(!w->isVisible());
        QCOMPARE(g_pSignWidget.load(), nullptr);
        QVERIFY(WaitUntil([&] { return w.isNull(); }));
        QCOMPARE(PadOf(kQ210).claimedInterfaces(), 0);
    }

    void byWindowId()
    {
        // No widget has this id: nothing is created and the pad stays closed.
        Use(kQ210);
        const VTSDK_WId unknown = VTSDK_WId(0x7ffffff0);
        QVERIFY(!QWidget::find(WId(unknown)));
        QVERIFY(!kQ210.InitialDeviceByWId(kQ210.id, unknown, 0, 0, 400, 200));
        QCOMPARE(g_pSignWidget.load(), nullptr);
        QCOMPARE(PadOf(kQ210).claimedInterfaces(), 0);
        VTQ210_AboutBoxByWId(unknown); // shows nothing, returns at once
        QVERIFY(QApplication::activeModalWidget() == nullptr);

        // The host window's own id gives a widget in it.
        QVERIFY(kQ210.InitialDeviceByWId(kQ210.id, VTSDK_WId(m_pParent->winId()), 5, 6, 300, 120));
        m_pOpen = &kQ210;
        QVERIFY(Widget());
        QCOMPARE(Widget()->parentWidget(), m_pParent);
        QCOMPARE(Widget()->geometry(), QRect(5, 6, 300, 120));
    }

    // The fingerprint placed on the sign widget's own canvas.
    void fingerprintOnTheSignWidget()
    {
        QVERIFY(Open(kQ230F, 400, 300));
        auto* w = dynamic_cast<CQ230FSignWidget*>(g_pSignWidget.load());
        QVERIFY(w);
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, nullptr, 0, 0, 10, 10, 50, 50), ARI_INVALID_PARAMETERS);
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, m_pParent, 0, 0, 300, 200, 101, 100), ARI_INVALID_PARAMETERS);
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, m_pParent, 0, 0, 300, 200, 100, 100), ARI_SUCCESS);
        QCOMPARE(int(w->Fingerprint()->Placement()), int(NFPPA_SIGN_FP_SAME_WIDGET));

        // All dark but the first two rows: red from canvas row 202 on.
        padsim::Bytes image(FP_RAW_DATA_SIZE, 0);
        std::fill(image.begin(), image.begin() + 2 * FP_IMAGE_WIDTH, 255);
        auto* model = dynamic_cast<padsim::FingerprintPadModel*>(&PadOf(kQ230F).model());
        QVERIFY(model);
        model->placeFinger(image, 60);
        QVERIFY(WaitUntil([&] { return IsRed(CanvasOf(w).pixel(350, 250)); }));
        const QImage canvas = CanvasOf(w);
        QVERIFY(IsRed(canvas.pixel(302, 210)));
        QVERIFY(IsWhite(canvas.pixel(296, 250)));
        QVERIFY(IsWhite(canvas.pixel(350, 196)));
        QVERIFY(IsWhite(canvas.pixel(200, 150)));

        char* p = VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, true);
        const QImage placed = DecodeImage(p);
        VTQ230F_FreeFPImageBase64Data(7, p);
        QCOMPARE(placed.size(), QSize(100, 100));
        QVERIFY(IsRed(placed.pixel(50, 50)));
        p = VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, false);
        QCOMPARE(DecodeImage(p).size(), QSize(400, 300));
        VTQ230F_FreeFPImageBase64Data(7, p);
    }

    // The fingerprint in a widget of its own inside another host window.
    void fingerprintInAnotherWindow()
    {
        QVERIFY(Open(kQ230F, 400, 300));
        auto* w = dynamic_cast<CQ230FSignWidget*>(g_pSignWidget.load());
        QVERIFY(w);
        auto* other = new QWidget();
        other->resize(300, 200);
        other->show();
        QVERIFY(QTest::qWaitForWindowExposed(other));
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, other, 0, 0, 250, 10, 60, 60), ARI_INVALID_PARAMETERS);
        QVERIFY(!other->findChild<CQ230FFPWidget*>());
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, other, 0, 0, 20, 10, 104, 144), ARI_SUCCESS);
        auto* fpw = other->findChild<CQ230FFPWidget*>();
        QVERIFY(fpw);
        QCOMPARE(fpw->geometry(), QRect(0, 0, 300, 200));
        QVERIFY(fpw->isVisible());

        auto* model = dynamic_cast<padsim::FingerprintPadModel*>(&PadOf(kQ230F).model());
        padsim::Bytes image(FP_RAW_DATA_SIZE, 255);
        for (int y = 0; y < FP_IMAGE_HEIGHT; ++y)
            std::fill_n(image.begin() + y * FP_IMAGE_WIDTH, FP_IMAGE_WIDTH / 2, 0); // dark left half
        model->placeFinger(image, 60);
        QVERIFY(WaitUntil([&] { return IsRed(fpw->Canvas().pixel(30, 80)); }));
        QVERIFY(IsWhite(fpw->Canvas().pixel(110, 80)));
        QVERIFY(IsWhite(fpw->Canvas().pixel(10, 80)));
        QVERIFY(WaitUntil([&] { return IsRed(fpw->grab().toImage().pixel(30, 80)); })); // repainted on screen
        const QImage sign = CanvasOf(w);
        for (int x = 0; x < 400; x += 7)
            QVERIFY(!IsRed(sign.pixel(x, 150))); // the signature keeps no fingerprint

        char* p = VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, true);
        QCOMPARE(DecodeImage(p).size(), QSize(104, 144));
        VTQ230F_FreeFPImageBase64Data(7, p);

        // The host closes that window: the sign widget lets go of the placed one.
        delete other;
        QCOMPARE(VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, true), nullptr);
        model->placeFinger(image, 70);
        QVERIFY(WaitUntil([&] { return w->Fingerprint()->BestScore() == 70; }));
        QCOMPARE(VTQ230F_Clear(7), 0);
    }
};

QTEST_MAIN(TestSignWidget)
#include "test_widget.moc"
