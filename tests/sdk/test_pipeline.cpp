// Pen-event pipeline of the sign objects of all five models, driven through
// the test driver: firmware identification, strokes, keys, clear, shutdown.
#include "../common/procthreads.h"
#include "sdktest.h"

#include "fpcanvas.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstring>
#include <thread>

namespace {

constexpr int kW = 600, kH = 300;

class Pipeline : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override
    {
        drv = FakeDriver::Fresh(VersionOf(F().id));
        ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
        StatusRecorder::Get().Reset();
        ASSERT_TRUE(F().InitialDevice(F().id, nullptr, 0, 0, kW, kH));
        canvas = g_pSignWidget.load();
        ASSERT_NE(nullptr, canvas);
        ASSERT_EQ(ARI_SUCCESS, F().SignatureStatusCallback(F().id, StatusRecorder::Callback));
    }
    void TearDown() override
    {
        if (drv)
            F().UnInitialDevice(F().id);
    }
    const Family& F() const { return GetParam(); }
    const SdkModelTraits& T() const { return *TraitsForDevice(F().id); }
    bool TwoStep() const { return T().eKeyModel == KeyModel::TwoStep; }
    void Pen(double x, double y, int p, int event)
    {
        ASSERT_EQ(1, drv->inject(RawX(T(), kW, x), RawY(T(), kH, y), p, event));
    }
    // A horizontal stroke from (100, 150) to (500, 150).
    void Stroke(int p)
    {
        Pen(100, 150, p, HWET_PEN_DOWN);
        Pen(300, 150, p, HWET_PEN_MOVE);
        Pen(500, 150, p, HWET_PEN_MOVE);
        Pen(500, 150, p, HWET_PEN_UP);
    }
    // A key touch as the model's driver reports it.
    void Key(int event)
    {
        ASSERT_EQ(1, drv->inject(0, 0, 0, event));
        if (TwoStep()) {
            ASSERT_EQ(1, drv->inject(0, 0, 0, HWET_PEN_UP));
        }
    }
    // The key action waiting to be run: 1 confirm, 0 cancel, -1 none.
    int KeyFlag()
    {
        int key = -1;
        const CKeyGate::State state = canvas->KeyGate().CurrentState(&key);
        return state == CKeyGate::State::Pending || state == CKeyGate::State::Running ? key : -1;
    }
    QImage Canvas() { return canvas->Canvas().Image(); }
    FakeDriver* drv = nullptr;
    CSignCore* canvas = nullptr;
};

TEST_P(Pipeline, ConnectClearsThePadAndSwitchesItsScreenOn)
{
    const std::string expected = std::string("Initial(") + std::to_string(F().id) + ",fp=" +
                                 (F().id == VTQ230F_DEVICE ? "1" : "0") + ");GetDevicePartsVersion;ClearDeviceContent;" +
                                 (T().HasScreen() ? "OpenDeviceLCD(1);" : "");
    EXPECT_EQ(expected, drv->calls());
    unsigned char status = 0;
    EXPECT_EQ(ARI_SUCCESS, F().getDeviceInfo(F().id, DIID_GET_STATUS, &status));
    EXPECT_EQ(1, status);
    char text[32] = {};
    EXPECT_EQ(ARI_SUCCESS, F().getDeviceInfo(F().id, DIID_GET_VENDOR_NAME, text));
    EXPECT_STREQ("Vantor", text);
    EXPECT_EQ(ARI_SUCCESS, F().getDeviceInfo(F().id, DIID_GET_MODEL_NAME, text));
    EXPECT_STREQ(T().pszModelText, text);
    int levels = 0;
    EXPECT_EQ(ARI_SUCCESS, F().getDeviceInfo(F().id, DIID_GET_PRESSURE_LEVELS, &levels));
    EXPECT_EQ(T().nStartPressureLevels, levels);
    int ver[2] = {};
    EXPECT_EQ(ARI_SUCCESS, F().getDeviceInfo(F().id, DIID_GET_DRV_VER, ver));
    EXPECT_EQ(3, ver[0]);
    EXPECT_EQ(0, ver[1]);
}

TEST_P(Pipeline, StrokeBecomesInkRecordsAndALine)
{
    const int p = PressureForWidth3(T());
    Stroke(p);
    ASSERT_EQ(4, F().GetTotalPacketsNumber(F().id)) << "three points and the stroke end";
    const int xs[] = {RawX(T(), kW, 100), RawX(T(), kW, 300), RawX(T(), kW, 500), RawX(T(), kW, 500)};
    for (int i = 0; i < 4; ++i) {
        _PACKETS pk{};
        pk.nIndex = i;
        ASSERT_EQ(ARI_SUCCESS, F().getPackets(F().id, &pk));
        EXPECT_EQ(xs[i], pk.nX);
        EXPECT_EQ(RawY(T(), kH, 150), pk.nY);
        EXPECT_EQ(p, pk.nPressure);
        EXPECT_EQ(i == 3 ? 1 : 0, pk.bStrokeEnd);
    }
    _PACKETS outside{};
    outside.nIndex = 4;
    EXPECT_EQ(ARI_FAILED, F().getPackets(F().id, &outside));
    const QImage image = Canvas();
    for (int x : {150, 300, 450})
        EXPECT_GE(DarkPixelsInColumn(image, x), 2) << "line drawn through x " << x;
    EXPECT_EQ(0, DarkPixelsInColumn(image, 50));
    EXPECT_EQ(0, DarkPixelsInColumn(image, 550));
}

TEST_P(Pipeline, PenDownAndUpStoreTwoRecordsAndUpAloneNothing)
{
    ASSERT_TRUE(F().RealTimeSignatureDataCallback(F().id, LiveRecorder::Callback));
    const size_t before = LiveRecorder::Get().Values().size();
    Pen(200, 100, 100, HWET_PEN_UP);
    EXPECT_EQ(ARI_NO_DATA, F().GetTotalPacketsNumber(F().id));
    EXPECT_EQ(before, LiveRecorder::Get().Values().size());
    Pen(200, 100, 100, HWET_PEN_DOWN);
    Pen(250, 120, 50, HWET_PEN_UP);
    EXPECT_EQ(2, F().GetTotalPacketsNumber(F().id));
    _PACKETS end{};
    end.nIndex = 1;
    ASSERT_EQ(ARI_SUCCESS, F().getPackets(F().id, &end));
    EXPECT_EQ(RawX(T(), kW, 200), end.nX) << "the stroke end repeats the last stored point";
    EXPECT_EQ(100, end.nPressure);
    EXPECT_EQ(before + 2, LiveRecorder::Get().Values().size());
}

TEST_P(Pipeline, MovesWithoutPenDownDrawNothing)
{
    Pen(300, 150, 300, HWET_PEN_MOVE);
    Pen(350, 150, 300, HWET_PEN_MOVE);
    EXPECT_EQ(ARI_NO_DATA, F().GetTotalPacketsNumber(F().id));
    EXPECT_EQ(0, DarkPixelsInColumn(Canvas(), 320));
    drv->inject(0, 0, 0, 5);
    drv->inject(0, 0, 0, -1);
    EXPECT_EQ(ARI_NO_DATA, F().GetTotalPacketsNumber(F().id)) << "unknown event types are dropped";
}

TEST_P(Pipeline, ConfirmAndCancelKeysReachTheHostOncePerTouch)
{
    ASSERT_EQ(1, drv->inject(0, 0, 0, HWET_CONFIRM_KEY));
    EXPECT_EQ(1, F().GetDeviceConfirmOrCancelKeyStatus(F().id)) << "status set on the key event";
    EXPECT_EQ(-1, F().GetDeviceConfirmOrCancelKeyStatus(F().id)) << "read and clear";
    if (TwoStep()) {
        int key = -1;
        EXPECT_EQ(CKeyGate::State::Touched, canvas->KeyGate().CurrentState(&key)) << "no action before the pen lifts";
        EXPECT_EQ(1, key);
        ASSERT_EQ(1, drv->inject(0, 0, 0, HWET_PEN_UP));
    }
    ASSERT_TRUE(StatusRecorder::Get().WaitFor(1));
    if (!TwoStep()) {
        ASSERT_EQ(1, drv->inject(0, 0, 0, HWET_PEN_UP)); // changes nothing on one-step models
    }
    Key(HWET_CANCEL_KEY);
    ASSERT_TRUE(StatusRecorder::Get().WaitFor(2));
    EXPECT_EQ(0, F().GetDeviceConfirmOrCancelKeyStatus(F().id));
    EXPECT_EQ((std::vector<int>{1, 0}), StatusRecorder::Get().Values());
}

TEST_P(Pipeline, WhileAKeyActionWaitsPenAndKeysAreIgnored)
{
    // Stop the key-action thread so that the action stays waiting.
    canvas->KeyGate().Stop();
    Key(HWET_CONFIRM_KEY);
    EXPECT_EQ(1, KeyFlag());
    EXPECT_EQ(1, F().GetDeviceConfirmOrCancelKeyStatus(F().id));
    Stroke(300);
    EXPECT_EQ(ARI_NO_DATA, F().GetTotalPacketsNumber(F().id));
    EXPECT_EQ(0, DarkPixelsInColumn(Canvas(), 300));
    ASSERT_EQ(1, drv->inject(0, 0, 0, HWET_CANCEL_KEY));
    EXPECT_EQ(-1, F().GetDeviceConfirmOrCancelKeyStatus(F().id)) << "second key ignored";
    EXPECT_EQ(1, KeyFlag());
    // Running the waiting action frees the pipeline again.
    canvas->KeyGate().CheckIfWeCanDoConfirmOrCancelKeyAction();
    EXPECT_EQ(-1, KeyFlag());
    EXPECT_EQ((std::vector<int>{1}), StatusRecorder::Get().Values());
    Stroke(300);
    EXPECT_EQ(4, F().GetTotalPacketsNumber(F().id));
}

TEST_P(Pipeline, CancelThenClearSkipsThePadClearOnce)
{
    Stroke(300);
    Key(HWET_CANCEL_KEY);
    ASSERT_TRUE(StatusRecorder::Get().WaitFor(1));
    const int before = drv->count("ClearDeviceContent");
    EXPECT_EQ(ARI_SUCCESS, F().Clear(F().id));
    EXPECT_EQ(before, drv->count("ClearDeviceContent")) << "the pad cleared itself";
    EXPECT_EQ(ARI_NO_DATA, F().GetTotalPacketsNumber(F().id));
    EXPECT_EQ(0, DarkPixelsInColumn(Canvas(), 300));
    EXPECT_EQ(ARI_SUCCESS, F().Clear(F().id));
    EXPECT_EQ(before + 1, drv->count("ClearDeviceContent"));
}

TEST_P(Pipeline, ClearSwitchesClippingOff)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::wstring path = W(dir.filePath("clip.png"));
    ASSERT_EQ(ARI_SUCCESS, F().SetSaveCenterImageClip(F().id, true, 5, 5));
    Stroke(300);
    ASSERT_EQ(ARI_SUCCESS, F().SaveDrawingImage(F().id, EBITI_PNG, const_cast<wchar_t*>(path.c_str()), 0));
    EXPECT_LT(QImage(dir.filePath("clip.png")).width(), kW);
    F().Clear(F().id);
    Stroke(300);
    ASSERT_EQ(ARI_SUCCESS, F().SaveDrawingImage(F().id, EBITI_PNG, const_cast<wchar_t*>(path.c_str()), 0));
    EXPECT_EQ(QSize(kW, kH), QImage(dir.filePath("clip.png")).size());
}

TEST_P(Pipeline, ShutdownSwitchesThePadOffThenReleasesIt)
{
    Stroke(300);
    ASSERT_EQ(ARI_SUCCESS, F().UnInitialDevice(F().id));
    const std::string calls = drv->calls();
    const std::string tail = T().HasScreen() ? "OpenDeviceLCD(0);UnInitial;" : "ClearDeviceContent;UnInitial;";
    ASSERT_GE(calls.size(), tail.size());
    EXPECT_EQ(tail, calls.substr(calls.size() - tail.size()));
    EXPECT_EQ(nullptr, g_pSignWidget.load());
    EXPECT_EQ(0, drv->inject(0, 0, 0, HWET_PEN_DOWN)) << "the driver holds no callback any more";
}

TEST_P(Pipeline, PressureAboveTheLevelsIsDroppedOnlyByTheQ210Object)
{
    const int tooHigh = T().nStartPressureLevels + 1;
    Pen(100, 150, 300, HWET_PEN_DOWN);
    Pen(300, 150, tooHigh, HWET_PEN_MOVE);
    const int expected = F().id == VTQ210_DEVICE ? 1 : 2;
    EXPECT_EQ(expected, F().GetTotalPacketsNumber(F().id));
}

TEST_P(Pipeline, FixedWidthIsThreeTimesWiderOnTablets)
{
    ASSERT_EQ(ARI_SUCCESS, F().SetPenStyle(F().id, false));
    ASSERT_EQ(T().bPenStyleToDriver ? 1 : 0, drv->count("SetDevicePenStyle"));
    Stroke(1); // pressure would give a hairline
    const int thickness = DarkPixelsInColumn(Canvas(), 300);
    if (T().dblFixedWidthFactor > 1.0) {
        EXPECT_GE(thickness, 8);
        EXPECT_LE(thickness, 11);
    } else {
        EXPECT_GE(thickness, 2);
        EXPECT_LE(thickness, 5);
    }
}

TEST_P(Pipeline, PressureSetsTheWidth)
{
    ASSERT_EQ(ARI_SUCCESS, F().SetPenWidth(F().id, 10));
    const double expected = T().ePressureRule == PressureRule::PerWidth306 ? 10 / 306.0 : 10 * 3.0 / 8192;
    EXPECT_DOUBLE_EQ(expected, canvas->Canvas().PressureToWidth());
    Stroke(PressureForWidth3(T()));
    const int thickness = DarkPixelsInColumn(Canvas(), 300);
    EXPECT_GE(thickness, 8) << "pen width 10 at the pressure that gives 3 at width 3";
    EXPECT_LE(thickness, 12);
}

TEST_P(Pipeline, CoordinatesAreClampedToTheSigningArea)
{
    double x = 0, y = 0, w = 0;
    canvas->Canvas().ConvertSignRawDataToSignWndData(0, 0, 0, x, y, w);
    EXPECT_EQ(0.0, x);
    EXPECT_EQ(0.0, y);
    canvas->Canvas().ConvertSignRawDataToSignWndData(65535, 65535, 0, x, y, w);
    EXPECT_DOUBLE_EQ((T().nRawSpanX - 1) * double(kW) / T().nRawSpanX, x);
    EXPECT_DOUBLE_EQ((T().nRawSpanY - 1) * double(kH) / T().nRawSpanY, y);
}

TEST_P(Pipeline, ReaderThreadAndHostRunConcurrently)
{
    // The driver's reader thread draws and appends while the host reads,
    // encodes and exports.
    constexpr int kMoves = 200;
    std::atomic<bool> done{false};
    std::thread reader([&] {
        drv->inject(RawX(T(), kW, 50), RawY(T(), kH, 50), 300, HWET_PEN_DOWN);
        for (int i = 0; i < kMoves; ++i)
            drv->inject(RawX(T(), kW, 50 + i), RawY(T(), kH, 50 + (i % 100)), 300, HWET_PEN_MOVE);
        drv->inject(0, 0, 0, HWET_PEN_UP);
        drv->inject(0, 0, 0, HWET_CONFIRM_KEY);
        drv->inject(0, 0, 0, HWET_PEN_UP);
        done = true;
    });
    int rounds = 0;
    while (!done || rounds < 3) {
        F().GetTotalPacketsNumber(F().id);
        _PACKETS pk{};
        F().getPackets(F().id, &pk);
        char* ink = F().PacketsBase64Encode(F().id, EBITI_INK);
        delete[] ink;
        if (rounds % 8 == 0) { // an image export holds the canvas for a while
            char* png = F().PacketsBase64Encode(F().id, EBITI_PNG);
            delete[] png;
        }
        F().GetDeviceConfirmOrCancelKeyStatus(F().id);
        ++rounds;
    }
    reader.join();
    EXPECT_EQ(kMoves + 2, F().GetTotalPacketsNumber(F().id));
    EXPECT_TRUE(StatusRecorder::Get().WaitFor(1));
}

// State letter and CPU ticks of the key-action thread.
bool KeyThreadState(char& state, long& ticks)
{
    return ThreadState("vtsdk-keyaction", state, ticks);
}

TEST_P(Pipeline, KeyActionThreadSleepsUntilAKeyWaits)
{
    // A polling thread would stay runnable and keep using CPU time.
    char state = '?';
    long ticks = 0, before = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int sleepingReads = 0;
    while (sleepingReads < 50 && std::chrono::steady_clock::now() < deadline) {
        // The thread names itself once it runs.
        if (!KeyThreadState(state, ticks))
            sleepingReads = 0;
        else if (state == 'S' && ticks == before)
            ++sleepingReads;
        else
            sleepingReads = 0;
        before = ticks;
        std::this_thread::yield();
    }
    EXPECT_EQ(50, sleepingReads) << "state " << state << ", ticks " << ticks;
    // And it still wakes for a key at once.
    Key(HWET_CONFIRM_KEY);
    ASSERT_TRUE(StatusRecorder::Get().WaitFor(1));
}

INSTANTIATE_TEST_SUITE_P(Models, Pipeline, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

// Firmware texts decide whether a Q210 connects and with how many levels.
struct FirmwareCase {
    const char* version;
    bool connects;
    int levels;
};

class PipelineFirmware : public ::testing::TestWithParam<FirmwareCase> {
protected:
    void TearDown() override { VTQ210_UnInitialDevice(VTQ210_DEVICE); }
};

TEST_P(PipelineFirmware, Q210PrefixList)
{
    FakeDriver* drv = FakeDriver::Fresh(GetParam().version);
    ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
    EXPECT_EQ(GetParam().connects, VTQ210_InitialDevice(VTQ210_DEVICE, nullptr, 0, 0, 400, 200));
    if (!GetParam().connects) {
        EXPECT_EQ(nullptr, g_pSignWidget.load());
        EXPECT_EQ(1, drv->count("UnInitial"));
        return;
    }
    int levels = 0;
    ASSERT_EQ(ARI_SUCCESS, VTQ210_getDeviceInfo(VTQ210_DEVICE, DIID_GET_PRESSURE_LEVELS, &levels));
    EXPECT_EQ(GetParam().levels, levels);
}

INSTANTIATE_TEST_SUITE_P(Texts, PipelineFirmware,
                         ::testing::Values(FirmwareCase{"VTQ210L1 2.3", true, 1024}, FirmwareCase{"VTQ210 2.3", true, 2048},
                                           FirmwareCase{"VTQ210X1", true, 2048}, FirmwareCase{"VTM440", true, 1024},
                                           FirmwareCase{"VTM450L1", true, 1024}, FirmwareCase{"VTM451", true, 2048},
                                           FirmwareCase{"VTQ200a", true, 1024}, FirmwareCase{"VTR260", true, 1024},
                                           FirmwareCase{"VTQ21", false, 0}, FirmwareCase{"VTQ219 2.3", false, 0},
                                           FirmwareCase{"VTQ220 1.0", false, 0}, FirmwareCase{"", false, 0}));

TEST(PipelineLive, ReportPacksNormalisedPositionPressureAndFlag)
{
    FakeDriver* drv = FakeDriver::Fresh("VTQ210 1.0");
    ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
    ASSERT_TRUE(VTQ210_InitialDevice(VTQ210_DEVICE, nullptr, 0, 0, 600, 300));
    ASSERT_TRUE(VTQ210_RealTimeSignatureDataCallback(VTQ210_DEVICE, LiveRecorder::Callback));
    const size_t before = LiveRecorder::Get().Values().size();
    drv->inject(1340, 935, 512, HWET_PEN_DOWN);
    drv->inject(5000, 100, 700, HWET_PEN_UP);
    const auto values = LiveRecorder::Get().Values();
    VTQ210_UnInitialDevice(VTQ210_DEVICE);
    ASSERT_EQ(before + 2, values.size());
    EXPECT_EQ(32767ul | (32767ul << 16), values[before].first);
    EXPECT_EQ(512l | (1l << 16), values[before].second);
    EXPECT_EQ(values[before].first, values[before + 1].first) << "stroke end at the last stored point";
    EXPECT_EQ(512l, values[before + 1].second) << "pen flag 0 on the stroke end";
}

// Segments over a shown fingerprint are merged only where they were drawn:
// the picture must be the one a merge of the whole canvas gives.
TEST(PipelineFingerprint, StrokesOverAFingerprintMatchAWholeMerge)
{
    FakeDriver* drv = FakeDriver::Fresh("VTQ230F 1.0");
    ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
    ASSERT_TRUE(VTQ230F_InitialDevice(VTQ230F_DEVICE, nullptr, 0, 0, kW, kH));
    CSignCore* c = g_pSignWidget.load();
    std::vector<unsigned char> capture(FP_RAW_DATA_SIZE);
    for (size_t i = 0; i < capture.size(); ++i)
        capture[i] = int(i % FP_IMAGE_WIDTH) < FP_IMAGE_WIDTH / 2 ? 0 : 255; // dark left half
    ASSERT_EQ(1, drv->inject_fp(capture.data(), int(capture.size()), 50));
    // Centred, half the canvas high: red from x 246 to 300 once the screen thread merged it.
    auto red = [](QRgb px) { return qRed(px) > 200 && qGreen(px) < 60 && qBlue(px) < 60; };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!red(c->Canvas().Image().pixel(280, 150)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(red(c->Canvas().Image().pixel(280, 150)));
    // Thin and wide strokes into, across and beside the fingerprint's edges.
    const SdkModelTraits& t = g_TraitsQ230F;
    const struct {
        double x0, y0, x1, y1;
        int p;
    } strokes[] = {{200, 60, 400, 250, 300}, {270, 100, 330, 100, 3000}, {50, 280, 250, 220, 900}, {299, 70, 301, 240, 60}};
    for (const auto& st : strokes) {
        drv->inject(RawX(t, kW, st.x0), RawY(t, kH, st.y0), st.p, HWET_PEN_DOWN);
        for (int i = 1; i <= 8; ++i)
            drv->inject(RawX(t, kW, st.x0 + (st.x1 - st.x0) * i / 8), RawY(t, kH, st.y0 + (st.y1 - st.y0) * i / 8),
                        st.p, HWET_PEN_MOVE);
        drv->inject(0, 0, 0, HWET_PEN_UP);
    }
    const QImage segmentwise = c->Canvas().Image();
    EXPECT_LT(qGray(segmentwise.pixel(300, 100)), 60) << "ink crossing the fingerprint stays dark";
    c->Canvas().Recompose();
    EXPECT_TRUE(segmentwise == c->Canvas().Image());
    VTQ230F_UnInitialDevice(VTQ230F_DEVICE);
}

TEST(PipelineNotConnected, EventsBeforeConnectAreDropped)
{
    CQ220SignObj obj(400, 200);
    obj.Ink().Open();
    obj.RxSignPadRawData(500, 500, 100, HWET_PEN_DOWN);
    obj.RxSignPadRawData(0, 0, 0, HWET_CONFIRM_KEY);
    EXPECT_EQ(ARI_NO_DATA, obj.GetTotalInkPointsNumber());
    EXPECT_EQ(-1, obj.GetDeviceConfirmOrCancelKeyStatus());
    obj.Shutdown();
}

} // namespace
