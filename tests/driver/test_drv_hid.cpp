// The HID pad family through the real reader thread, libusb and the emulator.
#include "drvtest.h"

#include <unistd.h>

#include "vtinkmodels.h"

#include <cstring>
#include <fstream>
#include <thread>
#include <sstream>

namespace {

int deviceIdOf(const std::string& model)
{
    return padsim::models::byName(model)->host.deviceId;
}

// Every HID pad model (not the fingerprint pad, whose pen device shares only the requests).
std::vector<std::string> hidPads()
{
    return padsim::models::withFeatures(padsim::HID_REQUESTS, padsim::HAS_FINGERPRINT);
}

class HidPad : public ::testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        ASSERT_EQ(drv.missing, "");
        unplugAll();
        Events::clear();
        pad = &bed().plug(padsim::models::byName(GetParam()));
        ASSERT_EQ(drv.Initial(deviceIdOf(GetParam()), Events::callback, nullptr), VTSPDART_SUCCESS);
    }
    void TearDown() override
    {
        EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
        unplugAll();
    }
    // One report with an explicit mask and state word.
    padsim::Bytes report(uint16_t x, uint16_t y, uint16_t p, uint16_t state, uint8_t mask)
    {
        padsim::Bytes plain = {0x5a, (uint8_t)x, (uint8_t)(x >> 8), (uint8_t)y, (uint8_t)(y >> 8),
                               (uint8_t)p, (uint8_t)(p >> 8), (uint8_t)state, (uint8_t)(state >> 8), 0, 0xa5};
        for (size_t i = 1; i < plain.size(); ++i)
            plain[i] ^= mask;
        return plain;
    }
    // Sends a pen-down that proves the reader went past everything before it.
    void expectOnlySentinelAfter(const std::vector<PenEvent>& before)
    {
        pad->forceMask(0x3c);
        pad->penDown(4321, 1234, 99);
        auto ev = Events::waitFor(before.size() + 1);
        std::vector<PenEvent> expected = before;
        expected.push_back({4321, 1234, 99, HWET_PEN_DOWN});
        EXPECT_EQ(ev, expected);
    }
    Driver& drv = Driver::get();
    padsim::Pad* pad = nullptr;
};

TEST_P(HidPad, ContactThenContactIsDownThenMove)
{
    pad->forceMask(0x00);
    pad->penDown(100, 200, 300);
    pad->forceMask(0xff);
    pad->penMove(65535, 0x1234, 1023);
    auto ev = Events::waitFor(2);
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0], (PenEvent{100, 200, 300, HWET_PEN_DOWN}));
    EXPECT_EQ(ev[1], (PenEvent{65535, 0x1234, 1023, HWET_PEN_MOVE}));
}

TEST_P(HidPad, StrokeWithRandomMasksArrivesIntact)
{
    std::vector<padsim::Pad::Point> pts;
    for (uint16_t i = 0; i < 50; ++i)
        pts.push_back({(uint16_t)(1000 + i * 37), (uint16_t)(2000 + i * 11), (uint16_t)(i * 20)});
    pad->stroke(pts);
    auto ev = Events::waitFor(pts.size() + 1);
    ASSERT_EQ(ev.size(), pts.size() + 1);
    for (size_t i = 0; i < pts.size(); ++i)
        EXPECT_EQ(ev[i], (PenEvent{pts[i].x, pts[i].y, pts[i].pressure, i ? HWET_PEN_MOVE : HWET_PEN_DOWN}));
    EXPECT_EQ(ev.back(), (PenEvent{pts.back().x, pts.back().y, 0, HWET_PEN_UP}));
}

TEST_P(HidPad, TwoLiftsGiveOneUp)
{
    pad->forceMask(0x11);
    pad->penDown(1, 2, 3);
    pad->forceMask(0x22);
    pad->penUp(4, 5);
    pad->forceMask(0x33);
    pad->penUp(6, 7);
    expectOnlySentinelAfter({{1, 2, 3, HWET_PEN_DOWN}, {4, 5, 0, HWET_PEN_UP}});
}

TEST_P(HidPad, LiftRightAfterStartGivesNothing)
{
    pad->forceMask(0x44);
    pad->penUp(9, 9);
    expectOnlySentinelAfter({});
}

TEST_P(HidPad, KeysCarryTheirCoordinatesAndEndWithAnUp)
{
    pad->forceMask(0x55);
    pad->touchCancel(700, 800);
    pad->forceMask(0x66);
    pad->touchConfirm(900, 1000);
    auto ev = Events::waitFor(4);
    std::vector<PenEvent> expected = {{700, 800, 0, HWET_CANCEL_KEY},
                                      {700, 800, 0, HWET_PEN_UP},
                                      {900, 1000, 0, HWET_CONFIRM_KEY},
                                      {900, 1000, 0, HWET_PEN_UP}};
    EXPECT_EQ(ev, expected);
}

TEST_P(HidPad, ContactAfterKeyIsAMove)
{
    pad->sendRaw(0x81, report(10, 20, 0, 2, 0x77));
    pad->sendRaw(0x81, report(11, 21, 5, 0, 0x78));
    auto ev = Events::waitFor(2);
    std::vector<PenEvent> expected = {{10, 20, 0, HWET_CONFIRM_KEY}, {11, 21, 5, HWET_PEN_MOVE}};
    EXPECT_EQ(ev, expected);
}

TEST_P(HidPad, UnknownStateWordsGiveNothing)
{
    pad->sendRaw(0x81, report(1, 1, 1, 4, 0x88));
    pad->sendRaw(0x81, report(2, 2, 2, 0x0100, 0x99));
    pad->sendRaw(0x81, report(3, 3, 3, 0x0103, 0xaa));  // high byte counts too
    expectOnlySentinelAfter({});
}

TEST_P(HidPad, ShortAndOversizedReportsAreDropped)
{
    padsim::Bytes good = report(1, 2, 3, 0, 0xbb);
    pad->sendRaw(0x81, padsim::Bytes(good.begin(), good.begin() + 10));
    pad->sendRaw(0x81, padsim::Bytes{});
    padsim::Bytes longer = good;
    longer.push_back(0);
    pad->sendRaw(0x81, longer);  // does not fit the reader's buffer
    expectOnlySentinelAfter({});
}

TEST_P(HidPad, CommandsReachThePadAsSetReport)
{
    struct Case {
        const char* what;
        std::function<int()> call;
        uint8_t command;
    };
    const std::vector<Case> cases = {
        {"screen on", [&] { return drv.OpenDeviceLCD(true); }, 0x00},
        {"screen off", [&] { return drv.OpenDeviceLCD(false); }, 0x40},
        {"clear", [&] { return drv.ClearDeviceContent(); }, 0x80},
        {"version on", [&] { return drv.ShowVersionInfoOnDevice(true); }, 0x20},
        {"version off", [&] { return drv.ShowVersionInfoOnDevice(false); }, 0x00},
        {"pen with pressure", [&] { return drv.SetDevicePenStyle(true); }, 0x00},
        {"pen without pressure", [&] { return drv.SetDevicePenStyle(false); }, 0x04},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint64_t since = pad->nextSeq();
        ASSERT_EQ(c.call(), VTSPDART_SUCCESS);
        auto t = pad->waitForControl([](const padsim::Transfer& t) { return t.kind == padsim::Transfer::Control; },
                                     2s, since);
        ASSERT_TRUE(t);
        EXPECT_EQ(t->setup.bmRequestType, 0x21);
        EXPECT_EQ(t->setup.bRequest, 0x09);
        EXPECT_EQ(t->setup.wValue, 0x0302);
        EXPECT_EQ(t->setup.wIndex, 0);
        EXPECT_EQ(t->data, (padsim::Bytes{0x02, c.command, 0, 0, 0, 0, 0, 0, 0}));
        EXPECT_EQ(pad->received().size(), since + 1) << "one request per call";
    }
}

TEST_P(HidPad, IdentificationTexts)
{
    pad->setPenId("PEN-42");
    pad->setSecureId("SECURE-0123456789");
    const std::string firmware = padsim::models::byName(GetParam())->host.firmware.front().text;
    pad->setPartsVersion(firmware);
    pad->setPadId("PAD1234567");
    char text[64];
    ASSERT_EQ(drv.GetDevicePenID(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "PEN-42");
    ASSERT_EQ(drv.GetDeviceSecureID(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "SECURE-0123456789");
    ASSERT_EQ(drv.GetDevicePartsVersion(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, firmware.c_str());
    ASSERT_EQ(drv.GetDevicePadID(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "PAD1234567");
    auto asked = [&](uint8_t id) {
        auto t = pad->waitForControl(padsim::isGetReport(id), 2s);
        return t ? (int)t->setup.wLength : -1;
    };
    EXPECT_EQ(asked(3), 33);
    EXPECT_EQ(asked(4), 33);
    EXPECT_EQ(asked(5), 9);
    EXPECT_EQ(asked(7), 11);
}

TEST_P(HidPad, TextsAreCutAtTheBytesReceivedAZeroOrTheBuffer)
{
    char text[64];
    // length byte 40, but only 33 bytes asked: 32 text bytes at most
    padsim::Bytes reply = {40};
    for (int i = 0; i < 40; ++i)
        reply.push_back((uint8_t)('A' + i % 26));
    pad->setFeatureReport(3, reply);
    ASSERT_EQ(drv.GetDevicePenID(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_EQ(std::string(text), std::string(reply.begin() + 1, reply.begin() + 33));
    memset(text, 'x', sizeof text);
    ASSERT_EQ(drv.GetDevicePenID(text, 32), VTSPDART_SUCCESS);
    EXPECT_EQ(std::string(text), std::string(reply.begin() + 1, reply.begin() + 32));
    EXPECT_EQ(text[32], 'x') << "wrote past nMaxCount";

    // length byte smaller than what came, and a zero inside the text
    pad->setFeatureReport(4, padsim::Bytes{3, 'a', 'b', 'c', 'd', 'e'});
    ASSERT_EQ(drv.GetDeviceSecureID(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "abc");
    pad->setFeatureReport(7, padsim::Bytes{'P', 'A', 0, 'D', 'X'});
    ASSERT_EQ(drv.GetDevicePadID(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "PA");
    // empty reply
    pad->setFeatureReport(5, padsim::Bytes{});
    ASSERT_EQ(drv.GetDevicePartsVersion(text, sizeof text), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "");
}

TEST_P(HidPad, RefusedRequestsAreControlTransferFailures)
{
    pad->setStall([](const padsim::ControlRequest& s) { return s.bRequest == 0x01 || s.bRequest == 0x09; });
    char text[64];
    EXPECT_EQ(drv.ClearDeviceContent(), VTSPDART_CONTROL_TRANSFER_FAILED);
    EXPECT_EQ(drv.GetDevicePenID(text, sizeof text), VTSPDART_CONTROL_TRANSFER_FAILED);
    pad->setStall(nullptr);
    // the connection is unchanged
    EXPECT_EQ(drv.ClearDeviceContent(), VTSPDART_SUCCESS);
    pad->stroke({{1, 1, 1}});
    EXPECT_EQ(Events::waitFor(2).size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Models, HidPad, ::testing::ValuesIn(hidPads()),
                         [](const auto& info) { return info.param; });

// ---- connect and unplug --------------------------------------------------------

class HidConnect : public DriverTest {};

// A pad with the fingerprint reader's product id: two USB devices as the
// Q230G has, or only its reader.
class TwoDevicePad : public padsim::Model {
public:
    explicit TwoDevicePad(bool withPen)
    {
        name = "two-device";
        features = padsim::HAS_FINGERPRINT;
        padsim::UsbDescription pen, reader;
        pen.vendorId = reader.vendorId = PAD_USB_VENDOR_ID;
        pen.productId = SIGN_PAD_PRODUCT_ID;
        reader.productId = FP_READER_PRODUCT_ID;
        padsim::Interface itf;
        itf.endpoints = {{0x81, 3, 16, 1}, {0x01, 3, 64, 1}};
        pen.interfaces = {itf};
        itf.kernelDriver = "";
        reader.interfaces = {itf};
        usb = withPen ? std::vector<padsim::UsbDescription>{pen, reader} : std::vector<padsim::UsbDescription>{reader};
    }
    padsim::Bytes penReport(padsim::Pad&, const padsim::PenInput&) override { return {}; }
};

TEST_F(HidConnect, AFingerprintPadBlocksTheConnectAndNothingStaysOpen)
{
    for (bool withPen : {true, false}) {
        SCOPED_TRACE(withPen ? "pen and reader" : "reader only");
        padsim::Pad& fp = bed().plug(std::make_unique<TwoDevicePad>(withPen));
        padsim::Pad& q210 = bed().plug(padsim::models::q210());
        EXPECT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_DEVICE_NOT_FOUND);
        EXPECT_EQ(drv.OpenDeviceLCD(true), VTSPDART_NOT_AVAILABLE) << "a handle stayed open";
        for (int dev = 0; dev < (withPen ? 2 : 1); ++dev)
            EXPECT_EQ(fp.claimedInterfaces(dev), 0);
        EXPECT_EQ(q210.claimedInterfaces(), 0);
        EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
        fp.unplug();
        // the Q210 alone connects
        ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
        EXPECT_EQ(q210.claimedInterfaces(), 1);
        EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
        q210.unplug();
    }
}

TEST_F(HidConnect, EveryFingerprintModelBlocksTheConnect)
{
    for (const std::string& name : padsim::models::withFeatures(padsim::HAS_FINGERPRINT)) {
        SCOPED_TRACE(name);
        padsim::Pad& fp = bed().plug(padsim::models::byName(name));
        EXPECT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_DEVICE_NOT_FOUND);
        for (int dev = 0; dev < (int)fp.model().usb.size(); ++dev)
            EXPECT_EQ(fp.claimedInterfaces(dev), 0);
        EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
        fp.unplug();
    }
}

TEST_F(HidConnect, InterfaceHeldElsewhereIsAClaimFailure)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    // a second connect in the same process opens a second handle: busy
    EXPECT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_CLAIM_INTERFACE_FAILED);
    EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    (void)pad;
}

TEST_F(HidConnect, ReleaseEndsTheReaderAndTheInterfaceIsFreeAgain)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
        ASSERT_TRUE(pad.waitForPendingRead(5s));
        EXPECT_EQ(pad.claimedInterfaces(), 1);
        ASSERT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
        EXPECT_EQ(pad.claimedInterfaces(), 0);
    }
    // a report queued while nobody reads goes to the next connect's reader
    Events::clear();
    pad.penDown(1, 2, 3);
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    auto ev = Events::waitFor(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0], (PenEvent{1, 2, 3, HWET_PEN_DOWN}));
}

// utime + stime of one thread in clock ticks; -1 once the thread is gone.
long threadCpuTicks(long tid)
{
    std::ifstream f("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string s;
    if (!std::getline(f, s))
        return -1;
    std::istringstream in(s.substr(s.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && in >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) stime = std::stol(field);
    }
    return utime + stime;
}

TEST_F(HidConnect, UnplugWhileReadingNeitherCrashesNorSpins)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    pad.stroke({{10, 10, 10}});
    ASSERT_EQ(Events::waitFor(2).size(), 2u);
    const long tid = Events::readerTid();
    ASSERT_TRUE(pad.waitForPendingRead(5s));

    const long before = threadCpuTicks(tid);
    ASSERT_GE(before, 0);
    pad.unplug();
    const uint64_t requestsBefore = pad.ioctlCount();
    // watch the reader for a second (or until it has ended)
    auto end = std::chrono::steady_clock::now() + 1s;
    long after = before;
    while (std::chrono::steady_clock::now() < end) {
        long t = threadCpuTicks(tid);
        if (t < 0)
            break;
        after = t;
        std::this_thread::sleep_for(20ms);
    }
    const long hz = sysconf(_SC_CLK_TCK);
    EXPECT_LT(after - before, hz / 20) << "reader used " << (after - before) << " ticks in a second after unplug";
    // a reader retrying at once would send thousands of requests to the gone pad
    EXPECT_LT(pad.ioctlCount() - requestsBefore, 200u);

    EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    EXPECT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_DEVICE_NOT_FOUND);
    EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);

    pad.replug();
    Events::clear();
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    pad.stroke({{20, 30, 40}, {21, 31, 41}});
    auto ev = Events::waitFor(3);
    std::vector<PenEvent> expected = {{20, 30, 40, HWET_PEN_DOWN}, {21, 31, 41, HWET_PEN_MOVE},
                                      {21, 31, 0, HWET_PEN_UP}};
    EXPECT_EQ(ev, expected);
}

TEST_F(HidConnect, ShutdownRightAfterConnect)
{
    bed().plug(padsim::models::q220());
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(drv.Initial(VTQ220_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
        ASSERT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    }
}

}  // namespace
