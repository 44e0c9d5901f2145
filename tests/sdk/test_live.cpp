// What a host is told as it happens: the pad event callback (key touches
// before their action, the pad going and coming back) and the live point
// callback, on every model through the test driver; and the transparent
// PNG's pixels, whatever its compression.
#include "sdktest.h"

#include "sdkhelpers.h"
#include "transparentpng.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kW = 500, kH = 250;

decltype(&VTQ210_PadEventCallback) PadEventCallbackOf(int id)
{
    switch (id) {
    case VTQ210_DEVICE: return VTQ210_PadEventCallback;
    case VTQ220_DEVICE: return VTQ220_PadEventCallback;
    case VTQ230F_DEVICE: return VTQ230F_PadEventCallback;
    case RUVU410_DEVICE: return RUVU410_PadEventCallback;
    default: return ROV420_PadEventCallback;
    }
}

// Pad events with what the host saw of the key at that moment.
struct EventRecorder {
    std::mutex lock;
    std::vector<int> events;
    std::vector<int> keyStatusSeen; // GetDeviceConfirmOrCancelKeyStatus at each key event
    std::vector<size_t> statusCallbacksBefore;
    const Family* pFamily = nullptr;
    static void Callback(int nEvent, void* pContext)
    {
        auto* self = static_cast<EventRecorder*>(pContext);
        std::lock_guard<std::mutex> l(self->lock);
        self->events.push_back(nEvent);
        if (nEvent == PADEV_KEY_STATUS) {
            self->statusCallbacksBefore.push_back(StatusRecorder::Get().Values().size());
            self->keyStatusSeen.push_back(self->pFamily->GetDeviceConfirmOrCancelKeyStatus(self->pFamily->id));
        }
    }
    std::vector<int> Events()
    {
        std::lock_guard<std::mutex> l(lock);
        return events;
    }
};

class LivePadEvents : public ::testing::TestWithParam<Family> {
protected:
    void SetUp() override
    {
        drv = FakeDriver::Fresh(VersionOf(F().id));
        ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
        StatusRecorder::Get().Reset();
        recorder.pFamily = &F();
        // No canvas yet: nothing to register with.
        ASSERT_EQ(ARI_FAILED, PadEventCallbackOf(F().id)(F().id, EventRecorder::Callback, &recorder));
        ASSERT_TRUE(F().InitialDevice(F().id, nullptr, 0, 0, kW, kH));
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
    int Status()
    {
        unsigned char b = 9;
        EXPECT_EQ(ARI_SUCCESS, F().getDeviceInfo(F().id, DIID_GET_STATUS, &b));
        return b;
    }
    void Inject(int x, int y, int p, int event) { ASSERT_EQ(1, drv->inject(x, y, p, event)); }

    FakeDriver* drv = nullptr;
    EventRecorder recorder;
};

TEST_P(LivePadEvents, KeysAreToldAtTheTouchAndThePlugAsItHappens)
{
    const int other = F().id == VTQ210_DEVICE ? VTQ220_DEVICE : VTQ210_DEVICE;
    EXPECT_EQ(ARI_INVALID_PARAMETERS, PadEventCallbackOf(F().id)(other, EventRecorder::Callback, &recorder));
    // Without a pad event callback the new driver events change nothing.
    Inject(0, 0, 0, HWET_PAD_GONE);
    Inject(0, 0, 0, HWET_PAD_BACK);
    EXPECT_EQ(1, Status());
    ASSERT_EQ(ARI_SUCCESS, PadEventCallbackOf(F().id)(F().id, EventRecorder::Callback, &recorder));

    // The key is told when it is touched, with the status latched: before
    // the action, which two-step pads run only when the pen lifts.
    Inject(0, 0, 0, HWET_CONFIRM_KEY);
    EXPECT_EQ(std::vector<int>({PADEV_KEY_STATUS}), recorder.Events());
    EXPECT_EQ(std::vector<int>({1}), recorder.keyStatusSeen);
    if (TwoStep()) {
        EXPECT_EQ(std::vector<size_t>({0}), recorder.statusCallbacksBefore);
        Inject(0, 0, 0, HWET_PEN_UP);
    }
    ASSERT_TRUE(StatusRecorder::Get().WaitFor(1));
    EXPECT_EQ(std::vector<int>({1}), StatusRecorder::Get().Values());
    // Ink and lifts are no pad events.
    Inject(T().nRawOffsetX + 100, T().nRawOffsetY + 100, 300, HWET_PEN_DOWN);
    Inject(T().nRawOffsetX + 300, T().nRawOffsetY + 100, 300, HWET_PEN_MOVE);
    Inject(T().nRawOffsetX + 300, T().nRawOffsetY + 100, 300, HWET_PEN_UP);
    EXPECT_EQ(3, F().GetTotalPacketsNumber(F().id));
    EXPECT_EQ(std::vector<int>({PADEV_KEY_STATUS}), recorder.Events());

    // The pad goes: the status says so, and stays so when it is back (the
    // open session is gone; a new InitialDevice opens the pad again).
    Inject(0, 0, 0, HWET_PAD_GONE);
    EXPECT_EQ(0, Status());
    Inject(0, 0, 0, HWET_PAD_BACK);
    EXPECT_EQ(0, Status());
    EXPECT_EQ(std::vector<int>({PADEV_KEY_STATUS, PADEV_UNPLUGGED, PADEV_PLUGGED}), recorder.Events());
    EXPECT_EQ(3, F().GetTotalPacketsNumber(F().id)); // the ink stays

    // Unregistered: nothing more.
    ASSERT_EQ(ARI_SUCCESS, PadEventCallbackOf(F().id)(F().id, nullptr, nullptr));
    Inject(0, 0, 0, HWET_CANCEL_KEY);
    Inject(0, 0, 0, HWET_PAD_GONE);
    EXPECT_EQ(3u, recorder.Events().size());
    EXPECT_EQ(0, F().GetDeviceConfirmOrCancelKeyStatus(F().id));
}

// A host that polls keys (no status callback) does not have the pen or its
// next key held back while an action nobody listens to waits for the thread.
TEST_P(LivePadEvents, WithoutAStatusCallbackNoKeyActionWaits)
{
    ASSERT_EQ(ARI_SUCCESS, F().SignatureStatusCallback(F().id, nullptr));
    Inject(0, 0, 0, HWET_CONFIRM_KEY);
    if (TwoStep())
        Inject(0, 0, 0, HWET_PEN_UP);
    Inject(0, 0, 0, HWET_CANCEL_KEY); // straight after: taken, not ignored
    EXPECT_EQ(0, F().GetDeviceConfirmOrCancelKeyStatus(F().id));
    if (TwoStep())
        Inject(0, 0, 0, HWET_PEN_UP);
    Inject(T().nRawOffsetX + 10, T().nRawOffsetY + 10, 300, HWET_PEN_DOWN);
    EXPECT_EQ(1, F().GetTotalPacketsNumber(F().id));
    EXPECT_EQ(CKeyGate::State::None, g_pSignWidget.load()->KeyGate().CurrentState());
    EXPECT_TRUE(StatusRecorder::Get().Values().empty());
}

// Every stored point is reported once, stroke ends included; a pen-up with
// nothing stored reports nothing.
TEST_P(LivePadEvents, LivePointsAreTheStoredPoints)
{
    LiveRecorder& live = LiveRecorder::Get();
    const size_t nBefore = live.Values().size();
    ASSERT_TRUE(F().RealTimeSignatureDataCallback(F().id, LiveRecorder::Callback));
    Inject(T().nRawOffsetX, T().nRawOffsetY, 200, HWET_PEN_UP);
    Inject(T().nRawOffsetX + 10, T().nRawOffsetY + 20, 200, HWET_PEN_DOWN);
    Inject(T().nRawOffsetX + 30, T().nRawOffsetY + 40, 210, HWET_PEN_MOVE);
    Inject(T().nRawOffsetX + 30, T().nRawOffsetY + 40, 0, HWET_PEN_UP);
    const int n = F().GetTotalPacketsNumber(F().id);
    ASSERT_EQ(3, n);
    const std::vector<std::pair<unsigned long, long>> values = live.Values();
    ASSERT_EQ(nBefore + 3, values.size());
    for (int i = 0; i < n; ++i) {
        _PACKETS p{};
        p.nIndex = i;
        ASSERT_EQ(ARI_SUCCESS, F().getPackets(F().id, &p));
        const long lFlags = values[nBefore + size_t(i)].second;
        EXPECT_EQ(p.nPressure & 0xFFFF, lFlags & 0xFFFF);
        EXPECT_EQ(p.bStrokeEnd ? 0 : 1, (lFlags >> 16) & 0xFFFF);
    }
}

INSTANTIATE_TEST_SUITE_P(Models, LivePadEvents, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

// The transparent PNG is the canvas with white made transparent, pixel for
// pixel, however hard it is compressed.
TEST(ExportTransparentPng, DecodesToTheSamePixels)
{
    QImage canvas = WhiteImage(1000, 500);
    for (int x = 0; x < 1000; ++x) {
        const int y = 250 + int(200 * std::sin(x / 60.0));
        for (int w = -3; w <= 3; ++w)
            canvas.setPixel(x, y + w, qRgba(26, 35, 126, 255 - 30 * std::abs(w)));
    }
    canvas.setPixel(0, 0, qRgba(255, 255, 255, 254)); // white but not opaque: kept, opaque
    QImage expected = canvas;
    MakeWhiteTransparent(expected);
    EXPECT_EQ(0x00FFFFFFu, expected.pixel(1, 1));
    EXPECT_EQ(0xFFFFFFFFu, expected.pixel(0, 0));

    char* pszText = EncodeSignatureAsBase64(canvas, EBITI_PNG, true);
    ASSERT_NE(nullptr, pszText);
    QImage decoded = DecodeBase64Image(pszText).convertToFormat(QImage::Format_ARGB32);
    delete[] pszText;
    ASSERT_EQ(expected.size(), decoded.size());
    for (int y = 0; y < expected.height(); ++y)
        ASSERT_EQ(0, memcmp(expected.constScanLine(y), decoded.constScanLine(y), size_t(expected.bytesPerLine())))
            << "row " << y;
    EXPECT_EQ(canvas.dotsPerMeterX(), decoded.dotsPerMeterX());
    EXPECT_EQ(canvas.dotsPerMeterY(), decoded.dotsPerMeterY());

    // Any other format is taken as ARGB32 first; an opaque PNG stays Qt's.
    QImage rgb(3, 2, QImage::Format_RGB32);
    rgb.fill(Qt::white);
    rgb.setPixel(1, 1, qRgb(1, 2, 3));
    const QImage small = QImage::fromData(TransparentPngBytes(rgb), "PNG").convertToFormat(QImage::Format_ARGB32);
    ASSERT_EQ(QSize(3, 2), small.size());
    EXPECT_EQ(0x00FFFFFFu, small.pixel(0, 0));
    EXPECT_EQ(qRgba(1, 2, 3, 255), small.pixel(1, 1));
    EXPECT_TRUE(TransparentPngBytes(QImage()).isEmpty());
    char* pszOpaque = EncodeSignatureAsBase64(canvas, EBITI_PNG, false);
    EXPECT_EQ(canvas.convertToFormat(QImage::Format_RGB32),
              DecodeBase64Image(pszOpaque).convertToFormat(QImage::Format_RGB32));
    delete[] pszOpaque;
}

} // namespace
