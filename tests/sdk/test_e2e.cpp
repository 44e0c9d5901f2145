// The SDK as the service uses it ("./libvtinksdk.so" loaded by name), with the
// real driver beside it and every pad model emulated under umockdev. The
// models come from padsim's descriptions; cases that need a feature run on
// the models that have it.
#include "../common/skipexit.h"
#include "../common/timescale.h"
#include "padsim.h"
#include "q230g.h"
#include "signer.h"
#include "vtinksdk.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <dlfcn.h>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The entry points of one model's family the tests use, resolved by name.
struct Sdk {
    void* lib = nullptr;
    std::string missing;
    bool (*InitialDevice)(int, QWidget*, int, int, int, int) = nullptr;
    int (*UnInitialDevice)(int) = nullptr;
    int (*Clear)(int) = nullptr;
    int (*GetTotalPacketsNumber)(int) = nullptr;
    int (*getPackets)(int, _PACKETS*) = nullptr;
    int (*getDeviceInfo)(int, int, void*) = nullptr;
    int (*SignatureStatusCallback)(int, ::SignatureStatusCallback) = nullptr;
    int (*GetDeviceConfirmOrCancelKeyStatus)(int) = nullptr;
    char* (*PacketsBase64EncodeEx)(int, int, bool) = nullptr;
    void (*PacketsBase64EncodeExFree)(int, char*) = nullptr;
    int (*SetSaveCenterImageClip)(int, bool, int, int) = nullptr;
    char* (*PacketsBase64Encode)(int, int) = nullptr;
    void (*PacketsBase64EncodeFree)(int, char*) = nullptr;
    char* (*GetInkPointTime)(int, int) = nullptr;
    void (*FreeInkPointTime)(int, char*) = nullptr;

    template <class T> void Resolve(T& fn, const std::string& prefix, const char* name)
    {
        fn = reinterpret_cast<T>(dlsym(lib, (prefix + name).c_str()));
        if (!fn)
            missing += " " + prefix + name;
    }
    explicit Sdk(const std::string& prefix)
    {
        lib = dlopen("./libvtinksdk.so", RTLD_NOW | RTLD_LOCAL);
        if (!lib) {
            missing = dlerror();
            return;
        }
        Resolve(InitialDevice, prefix, "InitialDevice");
        Resolve(UnInitialDevice, prefix, "UnInitialDevice");
        Resolve(Clear, prefix, "Clear");
        Resolve(GetTotalPacketsNumber, prefix, "GetTotalPacketsNumber");
        Resolve(getPackets, prefix, "getPackets");
        Resolve(getDeviceInfo, prefix, "getDeviceInfo");
        Resolve(SignatureStatusCallback, prefix, "SignatureStatusCallback");
        Resolve(GetDeviceConfirmOrCancelKeyStatus, prefix, "GetDeviceConfirmOrCancelKeyStatus");
        Resolve(PacketsBase64EncodeEx, prefix, "PacketsBase64EncodeEx");
        Resolve(PacketsBase64EncodeExFree, prefix, "PacketsBase64EncodeExFree");
        Resolve(SetSaveCenterImageClip, prefix, "SetSaveCenterImageClip");
        Resolve(PacketsBase64Encode, prefix, "PacketsBase64Encode");
        Resolve(PacketsBase64EncodeFree, prefix, "PacketsBase64EncodeFree");
        Resolve(GetInkPointTime, prefix, "GetInkPointTime");
        Resolve(FreeInkPointTime, prefix, "FreeInkPointTime");
    }
};

// Status callbacks from the SDK's key-action thread.
std::mutex s_lock;
std::condition_variable s_cond;
std::vector<int> s_status;

void OnStatus(int n)
{
    std::lock_guard<std::mutex> lock(s_lock);
    s_status.push_back(n);
    s_cond.notify_all();
}

bool WaitStatus(size_t n, std::chrono::milliseconds deadline = 10s)
{
    std::unique_lock<std::mutex> lock(s_lock);
    return s_cond.wait_for(lock, vttest::Scaled(deadline), [&] { return s_status.size() >= n; });
}

size_t StatusCount()
{
    std::lock_guard<std::mutex> lock(s_lock);
    return s_status.size();
}

// Polls a condition until it holds or the deadline passes.
template <class F> bool Eventually(F f, std::chrono::milliseconds deadline = 10s)
{
    const auto end = std::chrono::steady_clock::now() + vttest::Scaled(deadline);
    while (!f()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

padsim::Bed* s_bed = nullptr;

int Count(const padsim::Pad& pad, const padsim::TransferMatch& match, uint64_t since)
{
    int n = 0;
    for (const padsim::Transfer& t : pad.received())
        if (t.seq >= since && match(t))
            ++n;
    return n;
}

// Models the SDK knows that have every feature bit of `with` and none of `without`.
std::vector<std::string> Models(unsigned with = 0, unsigned without = 0)
{
    std::vector<std::string> v;
    for (const std::string& name : padsim::models::withFeatures(with, without))
        if (padsim::models::byName(name)->host.deviceId)
            v.push_back(name);
    return v;
}

// Only the pad under test is plugged: the Q210 and Q220 share their USB ids,
// and a plugged fingerprint pad keeps the HID pads from connecting.
padsim::Pad& PlugAlone(const std::string& model)
{
    for (padsim::Pad* p : s_bed->pads())
        if (p->isPlugged())
            p->unplug();
    return s_bed->plug(padsim::models::byName(model));
}

// No interface of the pad's devices stays claimed. A claim the driver ends by
// closing the device ends when the emulator sees the descriptor hang up, a
// moment after the close.
bool ReleasesEverything(const padsim::Pad& pad)
{
    return Eventually([&] {
        for (size_t d = 0; d < pad.model().usb.size(); ++d)
            if (pad.claimedInterfaces(int(d)) != 0)
                return false;
        return true;
    });
}

std::string ModelName(const ::testing::TestParamInfo<std::string>& info)
{
    return info.param;
}

// The suites cover every model only if padsim emulates each one, once.
TEST(E2eModels, EveryModelIsEmulatedOnce)
{
    std::vector<std::string> seen;
#define VT_CHECK_MODEL(ID, NAME, PREFIX, SCREEN, FP)                               \
    {                                                                              \
        const padsim::ModelPtr m = padsim::models::byDeviceId(ID);                 \
        ASSERT_NE(nullptr, m) << NAME;                                             \
        EXPECT_EQ(NAME, m->host.modelName());                                      \
        EXPECT_EQ(#PREFIX, m->host.sdkPrefix());                                   \
        EXPECT_GT(m->host.pressureLevels(m->host.firmware.at(0).text), 0);         \
        EXPECT_EQ(bool(SCREEN), (m->features & padsim::HAS_LCD) != 0) << NAME;     \
        EXPECT_EQ(bool(FP), (m->features & padsim::HAS_FINGERPRINT) != 0) << NAME; \
        seen.push_back(m->name);                                                   \
    }
    VTINK_FOR_EACH_MODEL(VT_CHECK_MODEL)
#undef VT_CHECK_MODEL
    EXPECT_EQ(seen, Models());
}

class E2e : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        pad = &PlugAlone(GetParam());
        sdk.reset(new Sdk(Host().sdkPrefix()));
        ASSERT_EQ("", sdk->missing);
        std::lock_guard<std::mutex> lock(s_lock);
        s_status.clear();
    }
    void TearDown() override
    {
        if (sdk && sdk->UnInitialDevice)
            sdk->UnInitialDevice(Id());
    }
    const padsim::HostFacts& Host() const { return pad->model().host; }
    bool Has(unsigned feature) const { return (pad->model().features & feature) != 0; }
    int Id() const { return Host().deviceId; }
    bool Open()
    {
        if (!sdk->InitialDevice(Id(), nullptr, 0, 0, kW, kH))
            return false;
        return sdk->SignatureStatusCallback(Id(), OnStatus) == ARI_SUCCESS;
    }
    int Points() { return sdk->GetTotalPacketsNumber(Id()); }
    // Raw pressure at a fraction of the levels the pad's firmware gives.
    uint16_t Pressure(double fraction) const
    {
        return uint16_t(Host().pressureLevels(pad->firmware()) * fraction);
    }
    // A raw point at fractions of the writing area.
    padsim::Pad::Point At(double x, double y, double pressure = 0.4) const
    {
        return {Host().area.rawX(x), Host().area.rawY(y), Pressure(pressure)};
    }
    // What a clear of the pad looks like on the wire.
    padsim::TransferMatch ClearCommand() const
    {
        return Has(padsim::TABLET) ? padsim::isTabletCommand(0x0F) : padsim::isSetReport(0x80);
    }
    QImage Image()
    {
        char* text = sdk->PacketsBase64EncodeEx(Id(), EBITI_BITMAP, false);
        const QImage image = QImage::fromData(QByteArray::fromBase64(QByteArray(text ? text : "")));
        sdk->PacketsBase64EncodeExFree(Id(), text);
        return image;
    }
    static constexpr int kW = 600, kH = 300;
    std::unique_ptr<Sdk> sdk;
    padsim::Pad* pad = nullptr;
};

// Cases for the models with a screen, with two-step or one-step keys, with a fingerprint reader.
class E2eScreen : public E2e {
};
class E2eTwoStepKeys : public E2e {
};
class E2eOneStepKeys : public E2e {
};
class E2eFingerprint : public E2e {
};

TEST_P(E2e, ConnectClearsThePad)
{
    const uint64_t since = pad->nextSeq();
    ASSERT_TRUE(Open());
    EXPECT_EQ(1, Count(*pad, ClearCommand(), since));
    unsigned char status = 0;
    ASSERT_EQ(ARI_SUCCESS, sdk->getDeviceInfo(Id(), DIID_GET_STATUS, &status));
    EXPECT_EQ(1, status);
}

TEST_P(E2eScreen, ConnectSwitchesTheScreenOn)
{
    const uint64_t since = pad->nextSeq();
    ASSERT_TRUE(Open());
    EXPECT_EQ(1, Count(*pad, padsim::isSetReport(0x00), since));
}

TEST_P(E2e, StrokeOnThePadBecomesInkAndALine)
{
    ASSERT_TRUE(Open());
    // Raw points across the middle of the signing area.
    const padsim::Pad::Point points[] = {At(0.25, 0.5), At(0.5, 0.5, 0.41), At(0.75, 0.5, 0.42)};
    pad->stroke({points[0], points[1], points[2]});
    ASSERT_TRUE(Eventually([&] { return Points() == 4; })) << Points();
    for (int i = 0; i < 4; ++i) {
        _PACKETS pk{};
        pk.nIndex = i;
        ASSERT_EQ(ARI_SUCCESS, sdk->getPackets(Id(), &pk));
        EXPECT_EQ(points[std::min(i, 2)].x, pk.nX);
        EXPECT_EQ(points[0].y, pk.nY);
        EXPECT_EQ(i == 3 ? 1 : 0, pk.bStrokeEnd);
    }
    const QImage image = Image();
    ASSERT_EQ(QSize(kW, kH), image.size());
    // Somewhere in the column between the first two points the line is dark.
    const padsim::WritingArea& area = Host().area;
    const int col = (area.rawX(0.375) - area.xOffset) * kW / area.xSpan;
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        dark += qGray(image.pixel(col, y)) < 128;
    EXPECT_GE(dark, 1);
}

TEST_P(E2eTwoStepKeys, ConfirmKeyCountsWhenThePenLifts)
{
    ASSERT_TRUE(Open());
    pad->input({padsim::PenInput::Confirm, 0, 0, 0});
    ASSERT_TRUE(Eventually([&] { return sdk->GetDeviceConfirmOrCancelKeyStatus(Id()) == 1; }))
        << "status set on the key event";
    EXPECT_EQ(-1, sdk->GetDeviceConfirmOrCancelKeyStatus(Id()));
    EXPECT_EQ(0u, StatusCount()) << "no callback before the lift";
    pad->input({padsim::PenInput::Lift, 0, 0, 0});
    ASSERT_TRUE(WaitStatus(1));
    EXPECT_EQ(1, s_status[0]);
}

TEST_P(E2eOneStepKeys, ConfirmKeyCountsAtOnce)
{
    ASSERT_TRUE(Open());
    pad->touchConfirm();
    ASSERT_TRUE(WaitStatus(1));
    EXPECT_EQ(1, s_status[0]);
    EXPECT_EQ(1, sdk->GetDeviceConfirmOrCancelKeyStatus(Id()));
    EXPECT_EQ(-1, sdk->GetDeviceConfirmOrCancelKeyStatus(Id()));
    // A lift after the key changes nothing: once a later stroke is stored,
    // the lift has been handled.
    pad->input({padsim::PenInput::Lift, 0, 0, 0});
    pad->stroke({At(0.25, 0.5), At(0.5, 0.5)});
    ASSERT_TRUE(Eventually([&] { return Points() == 3; })) << Points();
    EXPECT_EQ(1u, StatusCount());
}

TEST_P(E2e, CancelThenClearSkipsThePadClearOnce)
{
    ASSERT_TRUE(Open());
    pad->stroke({At(0.25, 0.5), At(0.5, 0.5)});
    pad->touchCancel();
    ASSERT_TRUE(WaitStatus(1));
    EXPECT_EQ(0, s_status[0]);
    ASSERT_TRUE(Eventually([&] { return Points() == 3; }));
    uint64_t since = pad->nextSeq();
    EXPECT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
    EXPECT_EQ(ARI_NO_DATA, Points());
    EXPECT_EQ(0, Count(*pad, ClearCommand(), since)) << "the pad cleared itself";
    since = pad->nextSeq();
    EXPECT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
    EXPECT_TRUE(pad->waitForControl(ClearCommand(), 5000ms, since).has_value());
}

TEST_P(E2e, ClearSwitchesClippingOff)
{
    ASSERT_TRUE(Open());
    ASSERT_EQ(ARI_SUCCESS, sdk->SetSaveCenterImageClip(Id(), true, 5, 5));
    pad->stroke({At(0.25, 0.5), At(0.5, 0.5)});
    ASSERT_TRUE(Eventually([&] { return Points() == 3; }));
    EXPECT_LT(Image().width(), kW) << "clipped to the stroke";
    ASSERT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
    pad->stroke({At(0.25, 0.5), At(0.5, 0.5)});
    ASSERT_TRUE(Eventually([&] { return Points() == 3; }));
    EXPECT_EQ(QSize(kW, kH), Image().size());
}

// The pad is left dark (a tablet, having no screen, cleared) and free.
TEST_P(E2e, ShutdownLeavesThePadDarkAndReleased)
{
    ASSERT_TRUE(Open());
    const uint64_t since = pad->nextSeq();
    ASSERT_EQ(ARI_SUCCESS, sdk->UnInitialDevice(Id()));
    EXPECT_EQ(1, Count(*pad, Has(padsim::HAS_LCD) ? padsim::isSetReport(0x40) : ClearCommand(), since));
    EXPECT_TRUE(ReleasesEverything(*pad)) << "interfaces released";
}

// A finger on the reader shows on the pad's screen and, centred, in the canvas.
TEST_P(E2eFingerprint, FingerReachesTheScreenAndTheCanvas)
{
    auto* model = dynamic_cast<padsim::FingerprintPadModel*>(&pad->model());
    ASSERT_NE(nullptr, model);
    ASSERT_TRUE(Open());
    model->placeFinger(padsim::FingerprintPadModel::patternImage(3), 60);
    EXPECT_TRUE(Eventually([&] { return !model->screenTransfer().blockSizes.empty(); })) << "shown on the pad";
    // Centred at half the canvas height, in the reader's proportions; the rest stays white.
    const int h = kH / 2, w = h * 208 / 288;
    const QRect centre((kW - w) / 2, (kH - h) / 2, w, h);
    auto marked = [&] {
        char* text = sdk->PacketsBase64Encode(Id(), EBITI_BITMAP);
        const QImage image = QImage::fromData(QByteArray::fromBase64(QByteArray(text ? text : "")));
        sdk->PacketsBase64EncodeFree(Id(), text);
        int inside = 0, outside = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                if ((image.pixel(x, y) & 0xFFFFFF) != 0xFFFFFF)
                    ++(centre.adjusted(-1, -1, 1, 1).contains(x, y) ? inside : outside);
        return inside > 0 && outside == 0;
    };
    EXPECT_TRUE(Eventually(marked)) << "merged into the canvas";
}

INSTANTIATE_TEST_SUITE_P(Pads, E2e, ::testing::ValuesIn(Models()), ModelName);
INSTANTIATE_TEST_SUITE_P(Pads, E2eScreen, ::testing::ValuesIn(Models(padsim::HAS_LCD)), ModelName);
INSTANTIATE_TEST_SUITE_P(Pads, E2eTwoStepKeys, ::testing::ValuesIn(Models(0, padsim::ONE_STEP_KEYS)), ModelName);
INSTANTIATE_TEST_SUITE_P(Pads, E2eOneStepKeys, ::testing::ValuesIn(Models(padsim::ONE_STEP_KEYS)), ModelName);
INSTANTIATE_TEST_SUITE_P(Pads, E2eFingerprint, ::testing::ValuesIn(Models(padsim::HAS_FINGERPRINT)), ModelName);

// A sample signature replayed as fast as the pad goes and as it was written:
// the time text of the points never runs backwards.
class E2eTimes : public E2e {
};

TEST_P(E2eTimes, PointTimesNeverRunBackwards)
{
    QFile file(QString(VT_SIGNATURES_DIR) + "/ken-ito.json");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    vtinkpad::Signature sig;
    std::string error;
    ASSERT_TRUE(vtinkpad::parseSignature(QJsonDocument::fromJson(file.readAll()).object(), sig, error)) << error;
    const vtinkpad::PadTraits* traits = vtinkpad::padTraits(GetParam());
    ASSERT_NE(nullptr, traits);
    ASSERT_TRUE(Open());
    for (double speed : {0.0, 1.0}) {
        ASSERT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
        const std::atomic<bool> abort{false};
        const vtinkpad::DrawResult r = vtinkpad::draw(*pad, *traits, sig, 5, speed, abort);
        ASSERT_TRUE(r.delivered) << speed;
        const int n = int(r.points + r.strokes);
        ASSERT_TRUE(Eventually([&] { return Points() == n; })) << speed << ": " << Points() << " of " << n;
        std::string previous;
        int backwards = 0;
        for (int i = 0; i < n; ++i) {
            char* text = sdk->GetInkPointTime(Id(), i);
            ASSERT_NE(nullptr, text) << i;
            const std::string t(text);
            sdk->FreeInkPointTime(Id(), text);
            ASSERT_EQ(23u, t.size()) << t;
            if (t < previous) {
                ++backwards;
                ADD_FAILURE() << "speed " << speed << ", point " << i << ": " << previous << " then " << t;
            }
            previous = t;
        }
        EXPECT_EQ(0, backwards) << "speed " << speed;
    }
}

INSTANTIATE_TEST_SUITE_P(Pads, E2eTimes, ::testing::Values(Models().front()), ModelName);

// Firmware texts decide the connection and the pressure levels.
struct FirmwareCase {
    std::string model;
    padsim::Firmware firmware;
};

std::vector<FirmwareCase> FirmwareCases()
{
    std::vector<FirmwareCase> v;
    for (const std::string& name : Models()) {
        const padsim::ModelPtr model = padsim::models::byName(name);
        for (const padsim::Firmware& f : model->host.firmware)
            v.push_back({name, f});
    }
    return v;
}

class E2eFirmware : public ::testing::TestWithParam<FirmwareCase> {
};

TEST_P(E2eFirmware, DecidesTheConnectionAndTheLevels)
{
    padsim::Pad& pad = PlugAlone(GetParam().model);
    const padsim::Firmware& fw = GetParam().firmware;
    pad.setFirmware(fw.text);
    const int id = pad.model().host.deviceId;
    Sdk sdk(pad.model().host.sdkPrefix());
    ASSERT_EQ("", sdk.missing);
    const bool connects = fw.pressureLevels > 0;
    EXPECT_EQ(connects, sdk.InitialDevice(id, nullptr, 0, 0, 400, 200)) << fw.text;
    int levels = 0;
    EXPECT_EQ(connects ? ARI_SUCCESS : ARI_FAILED, sdk.getDeviceInfo(id, DIID_GET_PRESSURE_LEVELS, &levels));
    if (connects) {
        EXPECT_EQ(fw.pressureLevels, levels);
    }
    EXPECT_EQ(ARI_SUCCESS, sdk.UnInitialDevice(id));
    EXPECT_TRUE(ReleasesEverything(pad));
}

INSTANTIATE_TEST_SUITE_P(Texts, E2eFirmware, ::testing::ValuesIn(FirmwareCases()),
                         [](const ::testing::TestParamInfo<FirmwareCase>& info) {
                             std::string name = info.param.model + "_" + info.param.firmware.text;
                             for (char& c : name)
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             return name;
                         });

} // namespace

int main(int argc, char** argv)
{
    vttest::RequireUmockdevPreload();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    padsim::Bed bed; // before the driver's first libusb_init
    s_bed = &bed;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
