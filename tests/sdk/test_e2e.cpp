// The SDK as the service uses it ("./libvtinksdk.so" loaded by name), with the
// real driver beside it and emulated Q210/Q220 pads under umockdev.
#include "padsim.h"
#include "vtinksdk.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QGuiApplication>
#include <QImage>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

// The Q210 and Q220 entry points the tests use, resolved by name.
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
    return s_cond.wait_for(lock, deadline, [&] { return s_status.size() >= n; });
}

size_t StatusCount()
{
    std::lock_guard<std::mutex> lock(s_lock);
    return s_status.size();
}

// Polls a condition until it holds or the deadline passes.
template <class F> bool Eventually(F f, std::chrono::milliseconds deadline = 10s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!f()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

padsim::Bed* s_bed = nullptr;

int SetReports(const padsim::Pad& pad, uint8_t command, uint64_t since)
{
    int n = 0;
    for (const padsim::Transfer& t : pad.received())
        if (t.seq >= since && padsim::isSetReport(command)(t))
            ++n;
    return n;
}

struct E2eCase {
    const char* model;
    const char* prefix;
    int id;
    const char* version;
};

class E2e : public ::testing::TestWithParam<E2eCase> {
protected:
    void SetUp() override
    {
        sdk.reset(new Sdk(GetParam().prefix));
        ASSERT_EQ("", sdk->missing);
        for (padsim::Pad* p : s_bed->pads())
            if (p->isPlugged())
                p->unplug();
        pad = &s_bed->plug(padsim::models::byName(GetParam().model));
        pad->setPartsVersion(GetParam().version);
        std::lock_guard<std::mutex> lock(s_lock);
        s_status.clear();
    }
    void TearDown() override
    {
        if (sdk && sdk->UnInitialDevice)
            sdk->UnInitialDevice(Id());
    }
    int Id() const { return GetParam().id; }
    bool Open()
    {
        if (!sdk->InitialDevice(Id(), nullptr, 0, 0, 600, 300))
            return false;
        return sdk->SignatureStatusCallback(Id(), OnStatus) == ARI_SUCCESS;
    }
    int Points() { return sdk->GetTotalPacketsNumber(Id()); }
    std::unique_ptr<Sdk> sdk;
    padsim::Pad* pad = nullptr;
};

TEST_P(E2e, ConnectClearsThePadAndSwitchesTheScreenOn)
{
    const uint64_t since = pad->nextSeq();
    ASSERT_TRUE(Open());
    EXPECT_EQ(1, SetReports(*pad, 0x80, since));
    EXPECT_EQ(1, SetReports(*pad, 0x00, since));
    unsigned char status = 0;
    ASSERT_EQ(ARI_SUCCESS, sdk->getDeviceInfo(Id(), DIID_GET_STATUS, &status));
    EXPECT_EQ(1, status);
}

TEST_P(E2e, StrokeOnThePadBecomesInkAndALine)
{
    ASSERT_TRUE(Open());
    // Raw points across the middle of the signing area.
    pad->stroke({{700, 900, 400}, {1300, 900, 420}, {1900, 900, 440}});
    ASSERT_TRUE(Eventually([&] { return Points() == 4; })) << Points();
    const int xs[] = {700, 1300, 1900, 1900};
    for (int i = 0; i < 4; ++i) {
        _PACKETS pk{};
        pk.nIndex = i;
        ASSERT_EQ(ARI_SUCCESS, sdk->getPackets(Id(), &pk));
        EXPECT_EQ(xs[i], pk.nX);
        EXPECT_EQ(900, pk.nY);
        EXPECT_EQ(i == 3 ? 1 : 0, pk.bStrokeEnd);
    }
    char* text = sdk->PacketsBase64EncodeEx(Id(), EBITI_BITMAP, false);
    ASSERT_NE(nullptr, text);
    const QImage image = QImage::fromData(QByteArray::fromBase64(QByteArray(text)));
    sdk->PacketsBase64EncodeExFree(Id(), text);
    ASSERT_EQ(QSize(600, 300), image.size());
    // Somewhere in the column between the first two points the line is dark.
    const int col = (1000 - (Id() == VTQ210_DEVICE ? 160 : 200)) * 600 / (Id() == VTQ210_DEVICE ? 2360 : 2300);
    int dark = 0;
    for (int y = 0; y < image.height(); ++y)
        dark += qGray(image.pixel(col, y)) < 128;
    EXPECT_GE(dark, 1);
}

TEST_P(E2e, ConfirmKeyCountsWhenThePenLifts)
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

TEST_P(E2e, CancelThenClearSkipsThePadClearOnce)
{
    ASSERT_TRUE(Open());
    pad->stroke({{700, 900, 400}, {1300, 900, 420}});
    pad->touchCancel();
    ASSERT_TRUE(WaitStatus(1));
    EXPECT_EQ(0, s_status[0]);
    ASSERT_TRUE(Eventually([&] { return Points() == 3; }));
    uint64_t since = pad->nextSeq();
    EXPECT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
    EXPECT_EQ(ARI_NO_DATA, Points());
    EXPECT_EQ(0, SetReports(*pad, 0x80, since)) << "the pad cleared itself";
    since = pad->nextSeq();
    EXPECT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
    EXPECT_TRUE(pad->waitForControl(padsim::isSetReport(0x80), 5000ms, since).has_value());
}

TEST_P(E2e, ClearSwitchesClippingOff)
{
    ASSERT_TRUE(Open());
    ASSERT_EQ(ARI_SUCCESS, sdk->SetSaveCenterImageClip(Id(), true, 5, 5));
    auto imageSize = [&] {
        char* text = sdk->PacketsBase64EncodeEx(Id(), EBITI_BITMAP, false);
        const QImage image = QImage::fromData(QByteArray::fromBase64(QByteArray(text ? text : "")));
        sdk->PacketsBase64EncodeExFree(Id(), text);
        return image.size();
    };
    pad->stroke({{700, 900, 400}, {1300, 900, 420}});
    ASSERT_TRUE(Eventually([&] { return Points() == 3; }));
    EXPECT_LT(imageSize().width(), 600) << "clipped to the stroke";
    ASSERT_EQ(ARI_SUCCESS, sdk->Clear(Id()));
    pad->stroke({{700, 900, 400}, {1300, 900, 420}});
    ASSERT_TRUE(Eventually([&] { return Points() == 3; }));
    EXPECT_EQ(QSize(600, 300), imageSize());
}

TEST_P(E2e, ShutdownSwitchesTheScreenOff)
{
    ASSERT_TRUE(Open());
    const uint64_t since = pad->nextSeq();
    ASSERT_EQ(ARI_SUCCESS, sdk->UnInitialDevice(Id()));
    EXPECT_EQ(1, SetReports(*pad, 0x40, since));
    EXPECT_EQ(0, pad->claimedInterfaces()) << "interface released";
}

INSTANTIATE_TEST_SUITE_P(Pads, E2e,
                         ::testing::Values(E2eCase{"q210", "VTQ210_", VTQ210_DEVICE, "VTQ210L12"},
                                           E2eCase{"q220", "VTQ220_", VTQ220_DEVICE, "VTQ220A1"}),
                         [](const ::testing::TestParamInfo<E2eCase>& info) { return std::string(info.param.model); });

// Firmware texts decide the connection and the pressure levels.
struct FirmwareCase {
    const char* version;
    bool connects;
    int levels;
};

class E2eFirmware : public ::testing::TestWithParam<FirmwareCase> {
};

TEST_P(E2eFirmware, Q210)
{
    Sdk sdk("VTQ210_");
    ASSERT_EQ("", sdk.missing);
    for (padsim::Pad* p : s_bed->pads())
        if (p->isPlugged())
            p->unplug();
    padsim::Pad& pad = s_bed->plug(padsim::models::byName("q210"));
    pad.setPartsVersion(GetParam().version);
    EXPECT_EQ(GetParam().connects, sdk.InitialDevice(VTQ210_DEVICE, nullptr, 0, 0, 400, 200));
    int levels = 0;
    EXPECT_EQ(GetParam().connects ? ARI_SUCCESS : ARI_FAILED,
              sdk.getDeviceInfo(VTQ210_DEVICE, DIID_GET_PRESSURE_LEVELS, &levels));
    if (GetParam().connects) {
        EXPECT_EQ(GetParam().levels, levels);
    }
    EXPECT_EQ(ARI_SUCCESS, sdk.UnInitialDevice(VTQ210_DEVICE));
    EXPECT_EQ(0, pad.claimedInterfaces());
}

INSTANTIATE_TEST_SUITE_P(Texts, E2eFirmware,
                         ::testing::Values(FirmwareCase{"VTQ210L12", true, 1024}, FirmwareCase{"VTQ210A12", true, 2048},
                                           FirmwareCase{"VTQ21", false, 0}, FirmwareCase{"VTQ21X", false, 0}));

} // namespace

int main(int argc, char** argv)
{
    const char* pre = getenv("LD_PRELOAD");
    if (!pre || !strstr(pre, "libumockdev-preload")) {
        fprintf(stderr, "not under the umockdev preload (run through tests/umockdev-run.sh)\n");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    padsim::Bed bed; // before the driver's first libusb_init
    s_bed = &bed;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
