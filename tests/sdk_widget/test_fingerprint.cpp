// The fingerprint canvas of the Q230F sign object, end to end with the
// emulated pad and the real driver: captures and scores, the screen images
// the pad receives, the merge and its placements, the placed canvas, and the
// shutdown of the screen thread. Runs without a widget application, as the
// service does.
#include "fptestutil.h"
#include "q230g.h"
#include "vtlog.h"
#include "widgettest.h"

#include <QDir>
#include <QFile>

#include <memory>

using namespace vtw;

namespace {

constexpr int kW = 600, kH = 300;

// What the pad's screen must receive for a capture: every second pixel of
// every second row, below the mean red (F8 00), else white (FF FF).
padsim::Bytes ExpectedScreen(const padsim::Bytes& capture)
{
    long long sum = 0;
    for (uint8_t b : capture)
        sum += b;
    const int mean = int(sum / FP_RAW_DATA_SIZE);
    padsim::Bytes screen;
    for (int j = 0; j < 144; ++j)
        for (int i = 0; i < 104; ++i) {
            const bool dark = capture[2 * j * 208 + 2 * i] < mean;
            screen.push_back(dark ? 0xF8 : 0xFF);
            screen.push_back(dark ? 0x00 : 0xFF);
        }
    return screen;
}

} // namespace

class TestFingerprint : public QObject {
    Q_OBJECT
private:
    padsim::Bed* m_pBed = nullptr;
    padsim::Pad* m_pPad = nullptr;
    padsim::FingerprintPadModel* m_pModel = nullptr;

    CQ230FSignObj* Obj() { return dynamic_cast<CQ230FSignObj*>(g_pSignWidget.load()); }

    // Screen images the pad has taken completely: first headers (06 C1 02, block 0)
    // counted from what it received, the last one only once all its bytes arrived.
    int FinishedTransfers()
    {
        int n = 0;
        for (const padsim::Transfer& t : m_pPad->received())
            if (t.kind == padsim::Transfer::Out && t.device == 0 && t.data.size() >= 4 && t.data[0] == 0x06 &&
                t.data[1] == 0xC1 && t.data[2] == 0x02 && t.data[3] == 0)
                ++n;
        const auto last = m_pModel->screenTransfer();
        if (n > 0 && (int(last.image.size()) < FP_SCREEN_IMAGE_SIZE || last.blockSizes.size() < 8))
            --n;
        return n;
    }
    bool WaitTransfers(int n)
    {
        if (WaitUntil([&] { return FinishedTransfers() >= n; }))
            return true;
        const auto t = m_pModel->screenTransfer();
        qWarning("transfers: headers %d, image %d, blocks %d, fingers queued %d, packets %d, best score %d",
                 int(t.headerIndexes.size()), int(t.image.size()), int(t.blockSizes.size()), m_pModel->fingersQueued(),
                 m_pModel->packetsSent(), Obj() ? Obj()->Fingerprint()->BestScore() : -1);
        return false;
    }
    QImage FPOnly() { return Obj()->Fingerprint()->FingerprintImage(); }
    static bool AllWhite(const QImage& image)
    {
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if (!IsWhite(image.pixel(x, y)))
                    return false;
        return true;
    }
    QImage EncodedCanvas()
    {
        char* p = VTQ230F_PacketsBase64Encode(7, EBITI_BITMAP);
        const QImage image = DecodeImage(p);
        VTQ230F_PacketsBase64EncodeFree(7, p);
        return image;
    }

private Q_SLOTS:
    void initTestCase()
    {
        g_bEnableLog = qEnvironmentVariableIsSet("VT_DEBUG_LOG");
        m_pBed = new padsim::Bed();
        m_pPad = &m_pBed->plug(padsim::models::q230g());
        m_pModel = dynamic_cast<padsim::FingerprintPadModel*>(&m_pPad->model());
        QVERIFY(m_pModel);
    }
    void cleanupTestCase() { delete m_pBed; }

    void init()
    {
        m_pModel->setBlockAnswer(std::make_pair<uint8_t, uint8_t>(0xD0, 0x00));
        QVERIFY(VTQ230F_InitialDevice(7, nullptr, 0, 0, kW, kH));
        QVERIFY(Obj());
        // The thread takes its name once it first runs, which on a loaded machine may come later.
        QVERIFY(WaitUntil([] { return ThreadExists("vtsdk-fpscreen"); }));
    }
    void cleanup()
    {
        QCOMPARE(VTQ230F_UnInitialDevice(7), 0);
        QVERIFY(!ThreadExists("vtsdk-fpscreen"));
    }

    void scoresShowOnlyImprovements()
    {
        QCOMPARE(VTQ230F_Clear(7), 0);
        const int nBefore = FinishedTransfers();
        // A: dark but for the two top rows; B: dark top half; C: dark left half.
        const padsim::Bytes a = Capture([](int, int y) { return y < 2 ? 255 : 0; });
        const padsim::Bytes b = Capture([](int, int y) { return y < 144 ? 0 : 255; });
        const padsim::Bytes c = Capture([](int x, int) { return x < 104 ? 0 : 255; });

        m_pModel->placeFinger(a, 40);
        QVERIFY(WaitTransfers(nBefore + 1));
        QCOMPARE(m_pModel->screenTransfer().image, ExpectedScreen(a));
        QCOMPARE(m_pModel->screenTransfer().width, 104);
        QCOMPARE(m_pModel->screenTransfer().height, 144);
        // The merge follows the transfer: centred, half the canvas height.
        QVERIFY(WaitUntil([&] { return IsRed(EncodedCanvas().pixel(300, 150)); }));
        QImage canvas = EncodedCanvas();
        QVERIFY(IsRed(canvas.pixel(247, 150)));
        QVERIFY(IsRed(canvas.pixel(353, 150)));
        QVERIFY(IsWhite(canvas.pixel(244, 150)));
        QVERIFY(IsWhite(canvas.pixel(356, 150)));
        QVERIFY(IsWhite(canvas.pixel(300, 74)));
        QVERIFY(IsRed(canvas.pixel(300, 78)));
        QVERIFY(IsRed(canvas.pixel(300, 223)));
        QVERIFY(IsWhite(canvas.pixel(300, 226)));
        int nRed = 0;
        for (int x = 0; x < kW; ++x)
            nRed += IsRed(canvas.pixel(x, 150)) ? 1 : 0;
        QVERIFY2(nRed >= 107 && nRed <= 109, qPrintable(QString::number(nRed))); // 108.33 wide

        m_pModel->placeFinger(b, 30);
        m_pModel->placeFinger(c, 55);
        QVERIFY(WaitTransfers(nBefore + 2));
        QCOMPARE(m_pModel->screenTransfer().image, ExpectedScreen(c));
        QVERIFY(WaitUntil([&] { return IsWhite(EncodedCanvas().pixel(340, 150)); }));
        canvas = EncodedCanvas();
        QVERIFY(IsRed(canvas.pixel(260, 150)));
        QVERIFY(IsRed(canvas.pixel(260, 80)));
        QVERIFY(IsWhite(canvas.pixel(340, 200)));
        QCOMPARE(Obj()->Fingerprint()->BestScore(), 55);
        // The capture scored 30 came in between and was never sent.
        QCOMPARE(m_pModel->fingersQueued(), 0);
        QCOMPARE(FinishedTransfers(), nBefore + 2);
        const QImage fp = FPOnly();
        QVERIFY(IsRed(fp.pixel(0, 287)) && IsRed(fp.pixel(103, 0)) && IsWhite(fp.pixel(104, 0)));

        // Ink crossing the fingerprint stays black; paper under it turns red.
        const padsim::WritingArea& t = m_pModel->host.area;
        m_pPad->stroke({{uint16_t(RawX(t, kW, 150)), uint16_t(RawY(t, kH, 120)), 800},
                        {uint16_t(RawX(t, kW, 450)), uint16_t(RawY(t, kH, 120)), 800}});
        QVERIFY(WaitUntil([&] { return VTQ230F_GetTotalPacketsNumber(7) == 3; }));
        canvas = EncodedCanvas();
        QVERIFY(IsDark(canvas.pixel(200, 120)));
        QVERIFY(IsDark(canvas.pixel(270, 120)));
        QVERIFY(IsDark(canvas.pixel(330, 120)));
        QVERIFY(IsRed(canvas.pixel(270, 140)));

        // A clear drops the fingerprint; the next capture shows whatever its score.
        QCOMPARE(VTQ230F_Clear(7), 0);
        QCOMPARE(Obj()->Fingerprint()->BestScore(), 0);
        QVERIFY(AllWhite(FPOnly()));
        QVERIFY(AllWhite(CanvasOf(Obj())));
        QCOMPARE(VTQ230F_PacketsBase64Encode(7, EBITI_BITMAP), nullptr);
        m_pModel->placeFinger(a, 5);
        QVERIFY(WaitTransfers(nBefore + 3));
        // the emulator assembles the last block after the transfer counts as finished
        QVERIFY(WaitUntil([&] { return m_pModel->screenTransfer().image == ExpectedScreen(a); }));
    }

    void equalBytesPaintWhite()
    {
        const int nBefore = FinishedTransfers();
        m_pModel->placeFinger(padsim::Bytes(FP_RAW_DATA_SIZE, 0x80), 10);
        QVERIFY(WaitTransfers(nBefore + 1));
        QVERIFY(WaitUntil([&] { return m_pModel->screenTransfer().image == padsim::Bytes(FP_SCREEN_IMAGE_SIZE, 0xFF); }));
        QCOMPARE(Obj()->Fingerprint()->BestScore(), 10);
        QVERIFY(AllWhite(FPOnly()));
        // Shown, though white: the plain encoder answers without ink.
        QVERIFY(AllWhite(EncodedCanvas()));
        QCOMPARE(EncodedCanvas().size(), QSize(kW, kH));
    }

    void shortCaptureIsIgnored()
    {
        // Heap buffer of the stated length: a read past it is caught by the sanitizer build.
        std::unique_ptr<unsigned char[]> data(new unsigned char[100]());
        RxQ230FSignPadFPRawDataCallback(data.get(), 100, 99);
        RxQ230FSignPadFPRawDataCallback(nullptr, FP_RAW_DATA_SIZE, 99);
        QCOMPARE(Obj()->Fingerprint()->BestScore(), 0);
        QVERIFY(!Obj()->Fingerprint()->HasNewScreenImage());
        char* p = VTQ230F_PacketsBase64Encode(7, EBITI_PNG);
        QCOMPARE(p, nullptr); // no ink, no fingerprint: nothing to hand out
    }

    void placedCanvas()
    {
        QCOMPARE(VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, false), nullptr); // nothing placed yet
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, nullptr, 400, 300, 300, 200, 100, 100), 0);
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, nullptr, 400, 300, 300, 200, 100, 101), ARI_INVALID_PARAMETERS);
        QCOMPARE(VTQ230F_SetDisplayedFPImageAt(7, nullptr, 400, 300, -1, 0, 10, 10), ARI_INVALID_PARAMETERS);
        QCOMPARE(int(Obj()->Fingerprint()->Placement()), int(NFPPA_FP_ON_CANVAS_FROM_JS));
        QCOMPARE(VTQ230F_GetFPImageBase64Data(7, 4, false), nullptr);

        // The refused rectangle left the placement as it was.
        char* p = VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, true);
        QCOMPARE(DecodeImage(p).size(), QSize(100, 100));
        VTQ230F_FreeFPImageBase64Data(7, p);

        const int nBefore = FinishedTransfers();
        m_pModel->placeFinger(Capture([](int, int y) { return y < 2 ? 255 : 0; }), 70);
        QVERIFY(WaitTransfers(nBefore + 1));
        QVERIFY(WaitUntil([&] {
            char* q = VTQ230F_GetFPImageBase64Data(7, EBITI_BITMAP, true);
            const bool red = IsRed(DecodeImage(q).pixel(50, 50));
            VTQ230F_FreeFPImageBase64Data(7, q);
            return red;
        }));
        p = VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, false);
        const QImage whole = DecodeImage(p);
        VTQ230F_FreeFPImageBase64Data(7, p);
        QCOMPARE(whole.size(), QSize(400, 300));
        QVERIFY(IsRed(whole.pixel(350, 250)));
        QCOMPARE(qAlpha(whole.pixel(100, 100)), 0); // white made transparent
        // With clipping on, the red bounding box and its margins.
        QCOMPARE(VTQ230F_SetSaveCenterImageClip(7, true, 5, 5), 0);
        p = VTQ230F_GetFPImageBase64Data(7, EBITI_PNG, false);
        const QImage clipped = DecodeImage(p);
        VTQ230F_FreeFPImageBase64Data(7, p);
        QVERIFY(clipped.width() >= 100 && clipped.width() <= 106);
        QVERIFY(clipped.height() >= 95 && clipped.height() <= 104);

        // A device clear empties the placed canvas as well.
        QCOMPARE(VTQ230F_Clear(7), 0);
        p = VTQ230F_GetFPImageBase64Data(7, EBITI_BITMAP, true);
        QVERIFY(AllWhite(DecodeImage(p)));
        VTQ230F_FreeFPImageBase64Data(7, p);
    }

    void screenThreadSleepsWhileIdle()
    {
        // A polling thread would stay runnable and keep using CPU time.
        char state = '?';
        long ticks = 0, before = -1;
        int nSleepingReads = 0;
        QVERIFY(WaitUntil([&] {
            if (!ThreadState("vtsdk-fpscreen", state, ticks))
                return false;
            nSleepingReads = (state == 'S' && ticks == before) ? nSleepingReads + 1 : 0;
            before = ticks;
            return nSleepingReads >= 50;
        }, 20000));
    }

    void unInitialDeviceEndsATransferUnderWay()
    {
        // The pad never confirms a block: the transfer would wait on it.
        m_pModel->setBlockAnswer(std::nullopt);
        m_pModel->placeFinger(Capture([](int x, int) { return x < 104 ? 0 : 255; }), 90);
        QVERIFY(WaitUntil([&] {
            const auto t = m_pModel->screenTransfer();
            return !t.headerIndexes.empty() && !t.image.empty() && t.image.size() < size_t(FP_SCREEN_IMAGE_SIZE);
        }));
        QVERIFY(ThreadExists("vtsdk-fpscreen"));
        QCOMPARE(VTQ230F_UnInitialDevice(7), 0);
        QVERIFY(!ThreadExists("vtsdk-fpscreen"));
        QCOMPARE(m_pPad->claimedInterfaces(0), 0);
        QVERIFY(VTQ230F_InitialDevice(7, nullptr, 0, 0, kW, kH)); // for cleanup()
    }

    // Files and encodings go ahead without ink once a fingerprint is shown.
    void savesWithAFingerprintAlone()
    {
        const QString dir = QDir::temp().filePath(QStringLiteral("vtfp-%1").arg(QCoreApplication::applicationPid()));
        QVERIFY(QDir().mkpath(dir));
        const std::wstring png = QDir(dir).filePath("fp.png").toStdWString();
        const std::wstring svg = QDir(dir).filePath("fp.svg").toStdWString();
        QCOMPARE(VTQ230F_SaveDrawingImage(7, EBITI_PNG, const_cast<wchar_t*>(png.c_str()), 0), ARI_NO_DATA);

        const int nBefore = FinishedTransfers();
        m_pModel->placeFinger(Capture([](int x, int) { return x < 104 ? 0 : 255; }), 20);
        QVERIFY(WaitTransfers(nBefore + 1));
        QVERIFY(WaitUntil([&] { return IsRed(EncodedCanvas().pixel(280, 150)); }));
        QCOMPARE(VTQ230F_SaveDrawingImage(7, EBITI_PNG, const_cast<wchar_t*>(png.c_str()), 0), 0);
        const QImage saved(QString::fromStdWString(png));
        QCOMPARE(saved.size(), QSize(kW, kH));
        QVERIFY(IsRed(saved.pixel(280, 150)));
        // The SVG carries the fingerprint at its natural size, centred.
        QCOMPARE(VTQ230F_SaveDrawingImage(7, EBITI_SVG, const_cast<wchar_t*>(svg.c_str()), 0), 0);
        QFile file(QString::fromStdWString(svg));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("<image"));
        QVERIFY(text.contains("x=\"196\"") && text.contains("y=\"6\""));
        QVERIFY(text.contains("width=\"208\"") && text.contains("height=\"288\""));
        QDir(dir).removeRecursively();
    }
};

QTEST_GUILESS_MAIN(TestFingerprint)
#include "test_fingerprint.moc"
