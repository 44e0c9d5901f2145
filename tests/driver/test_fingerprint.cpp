// The Q230F fingerprint pad (Q230G on USB) through the exported driver
// interface, against a pad emulated at the USB level: both devices, the pen
// reader, the capture cycle and the screen-image transfer.
#include "events.h"
#include "families.h"
#include "fingerprint.h"
#include "padsim.h"
#include "q230g.h"

#include <cstring>

using namespace std::chrono_literals;
using padsim::Bytes;
using padsim::FingerprintPadModel;
using padsim::Transfer;

namespace {

const Bytes kOpen = {0x02, 0x04, 0x30, 0x31, 0x32, 0x33};
const Bytes kClose = {0x02, 0x04, 0x33, 0x32, 0x31, 0x30};
const Bytes kStart = {0x02, 0x04, 0x31, 0x32, 0x33, 0x34};
const Bytes kContinue = {0x02, 0x04, 0x34, 0x33, 0x32, 0x31};

bool startsWith(const Bytes& d, const Bytes& head)
{
    return d.size() >= head.size() && std::equal(head.begin(), head.end(), d.begin());
}

class Fingerprint : public PadTest<::testing::Test> {
protected:
    FingerprintPadModel& plug(std::unique_ptr<FingerprintPadModel> m = std::make_unique<FingerprintPadModel>())
    {
        plugModel(std::move(m));
        return model();
    }
    FingerprintPadModel& model() { return static_cast<FingerprintPadModel&>(pad().model()); }
    int open() { return VTSPDAPI_Initial(VTQ230F_DEVICE, Events::onPen, Events::onFinger); }

    // Commands the fingerprint reader received, 1024 bytes each.
    std::vector<Bytes> readerCommands()
    {
        std::vector<Bytes> v;
        for (const Transfer& t : pad().received())
            if (t.kind == Transfer::Out && t.device == FingerprintPadModel::READER) {
                EXPECT_EQ(t.data.size(), 1024u);
                v.push_back(Bytes(t.data.begin(), t.data.begin() + std::min<size_t>(6, t.data.size())));
            }
        return v;
    }
    std::vector<Transfer> penOuts()
    {
        std::vector<Transfer> v;
        for (const Transfer& t : pad().received())
            if (t.kind == Transfer::Out && t.device == FingerprintPadModel::PEN)
                v.push_back(t);
        return v;
    }
    // Connected, with the capture thread waiting for a finger.
    void openAndWaitForStart()
    {
        ASSERT_EQ(open(), VTSPDART_SUCCESS);
        ASSERT_TRUE(pad().waitForControl(
            [](const Transfer& t) { return t.kind == Transfer::Out && startsWith(t.data, kStart); }, 10s));
    }
};

// ---- connect --------------------------------------------------------------------------

TEST_F(Fingerprint, BothDevicesAreNeeded)
{
    for (int keep : {FingerprintPadModel::PEN, FingerprintPadModel::READER}) {
        SCOPED_TRACE(keep == FingerprintPadModel::PEN ? "pen device only" : "reader only");
        auto m = std::make_unique<FingerprintPadModel>();
        m->usb = {m->usb[keep]};
        m->penDevice = 0;
        plug(std::move(m));
        EXPECT_EQ(open(), VTSPDART_DEVICE_NOT_FOUND);
        char text[32];
        EXPECT_EQ(VTSPDAPI_GetDevicePadID(text, sizeof text), VTSPDART_NOT_AVAILABLE);  // nothing kept open
        EXPECT_EQ(pad().claimedInterfaces(), 0);
        EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
        pad().unplug();
    }
}

TEST_F(Fingerprint, ConnectOpensTheReaderAndSetsTheScore)
{
    plug();
    openAndWaitForStart();
    const std::vector<Bytes> cmds = readerCommands();
    ASSERT_GE(cmds.size(), 3u);
    EXPECT_EQ(cmds[0], kOpen);
    EXPECT_EQ(cmds[1], (Bytes{0x02, 0x04, 0xCC, 0xCC, 0xCC, 128}));
    EXPECT_EQ(cmds[2], kStart);
    EXPECT_EQ(pad().claimedInterfaces(FingerprintPadModel::PEN), 1);
    EXPECT_EQ(pad().claimedInterfaces(FingerprintPadModel::READER), 1);

    char text[64];
    ASSERT_EQ(VTSPDAPI_GetDevicePartsVersion(text, 32), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "VTQ230FL1");  // report 5 is 9 bytes long
    ASSERT_EQ(VTSPDAPI_GetDevicePadID(text, 32), VTSPDART_SUCCESS);
    EXPECT_STREQ(text, "PAD0000230");
    EXPECT_EQ(VTSPDAPI_OpenDeviceLCD(false), VTSPDART_SUCCESS);
    EXPECT_TRUE(pad().waitForControl(padsim::isSetReport(0x40), 1s));
}

TEST_F(Fingerprint, RefusedOrUnansweredOpenFails)
{
    for (std::optional<uint8_t> answer : {std::optional<uint8_t>(0), std::optional<uint8_t>()}) {
        SCOPED_TRACE(answer ? "refused" : "unanswered");
        FingerprintPadModel& m = plug();
        m.setOpenAnswer(answer);
        EXPECT_EQ(open(), VTSPDART_FP_OPEN_FAILED);
        EXPECT_FALSE(g_familyQ230G.CaptureRunning());
        EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
        EXPECT_EQ(pad().claimedInterfaces(FingerprintPadModel::PEN), 0);
        // Nothing stayed open: the pad opens once it answers.
        m.setOpenAnswer(1);
        EXPECT_EQ(open(), VTSPDART_SUCCESS);
        EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
        pad().unplug();
    }
}

// ---- capture --------------------------------------------------------------------------

TEST_F(Fingerprint, CaptureDeliversTheWholeImageAndTheScore)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    const Bytes first = FingerprintPadModel::patternImage(1);
    const Bytes second = FingerprintPadModel::patternImage(2);
    m.placeFinger(first, 77);
    m.placeFinger(second, 201);
    std::vector<Capture> caps = Events::instance().waitCaptures(2);
    ASSERT_EQ(caps.size(), 2u);
    EXPECT_EQ(caps[0].size, 59904);
    EXPECT_EQ(caps[0].score, 77);
    EXPECT_TRUE(caps[0].image == first) << "first image differs";
    EXPECT_EQ(caps[1].score, 201);
    EXPECT_TRUE(caps[1].image == second) << "second image differs";
    // 59 packets a finger, nothing fetched twice.
    int continues = 0;
    for (const Bytes& c : readerCommands())
        continues += c == kContinue;
    EXPECT_EQ(continues, 2 * 59);
}

TEST_F(Fingerprint, ChecksumErrorFetchesThePacketAgainFromTheSameOffset)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    m.corruptPacket(3);   // offset 3060
    m.corruptPacket(13);  // offset 13260: the rewind looks like "set score"
    const Bytes image = FingerprintPadModel::patternImage(9);
    m.placeFinger(image, 50);
    std::vector<Capture> caps = Events::instance().waitCaptures(1);
    ASSERT_EQ(caps.size(), 1u);
    EXPECT_TRUE(caps[0].image == image) << "image differs";

    std::vector<Bytes> cmds = readerCommands();
    auto at = std::find(cmds.begin(), cmds.end(), kStart);
    ASSERT_NE(at, cmds.end());
    std::vector<Bytes> capture(at + 1, cmds.end());
    std::vector<Bytes> expected(4, kContinue);
    expected.push_back({0x02, 0x04, 0xCC, 0xCC, 0xF4, 0x0B});
    expected.push_back(kContinue);
    ASSERT_GE(capture.size(), expected.size());
    EXPECT_EQ(std::vector<Bytes>(capture.begin(), capture.begin() + expected.size()), expected);
    EXPECT_NE(std::find(capture.begin(), capture.end(), Bytes{0x02, 0x04, 0xCC, 0xCC, 0xCC, 0x33}), capture.end());
    int continues = 0;
    for (const Bytes& c : capture)
        continues += c == kContinue;
    EXPECT_EQ(continues, 59 + 2);
}

TEST_F(Fingerprint, ThreeFailedRewindsEndTheCapture)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    m.corruptPacket(2);  // offset 2040
    pad().setOutStall([](const Transfer& t) {
        return t.device == FingerprintPadModel::READER && startsWith(t.data, {0x02, 0x04, 0xCC, 0xCC});
    });
    m.placeFinger(FingerprintPadModel::patternImage(3), 10);
    EXPECT_TRUE(eventually([] { return !g_familyQ230G.CaptureRunning(); }));
    int rewinds = 0;
    for (const Transfer& t : pad().received())
        rewinds += t.kind == Transfer::Out && t.stalled && startsWith(t.data, {0x02, 0x04, 0xCC, 0xCC, 0xF8, 0x07});
    EXPECT_EQ(rewinds, 3);
    EXPECT_TRUE(Events::instance().waitCaptures(1, 0ms).empty());
    pad().setOutStall(nullptr);
}

TEST_F(Fingerprint, BadStartAnswerEndsTheCapture)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    m.setStartAnswer(0);
    m.placeFinger(FingerprintPadModel::patternImage(4), 10);
    EXPECT_TRUE(eventually([] { return !g_familyQ230G.CaptureRunning(); }));
    EXPECT_TRUE(g_familyQ230G.PenReaderRunning());  // pen input goes on
}

TEST_F(Fingerprint, WaitingForAFingerEndsOnAbort)
{
    plug();
    openAndWaitForStart();
    // Several 200 ms waits without a finger: still waiting.
    ASSERT_TRUE(pad().waitForPendingRead(5s, FingerprintPadModel::READER));
    EXPECT_TRUE(g_familyQ230G.CaptureRunning());
    g_familyQ230G.StopCapture();
    EXPECT_TRUE(eventually([] { return !g_familyQ230G.CaptureRunning(); }, 5s));
}

TEST_F(Fingerprint, ShutdownEndsBothThreadsAndClosesTheReader)
{
    plug();
    openAndWaitForStart();
    EXPECT_TRUE(g_familyQ230G.PenReaderRunning());
    EXPECT_TRUE(g_familyQ230G.CaptureRunning());
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
    EXPECT_FALSE(g_familyQ230G.PenReaderRunning());
    EXPECT_FALSE(g_familyQ230G.CaptureRunning());
    EXPECT_EQ(pad().claimedInterfaces(FingerprintPadModel::PEN), 0);
    // The close command went out after the reader's interface was released.
    const std::vector<Bytes> cmds = readerCommands();
    ASSERT_FALSE(cmds.empty());
    EXPECT_EQ(cmds.back(), kClose);
    ASSERT_EQ(open(), VTSPDART_SUCCESS);
}

TEST_F(Fingerprint, UnplugStopsThePenReader)
{
    plug();
    openAndWaitForStart();
    pad().unplug();
    EXPECT_TRUE(eventually([] { return !g_familyQ230G.PenReaderRunning() && !g_familyQ230G.CaptureRunning(); }));
    EXPECT_EQ(VTSPDAPI_UnInitial(), VTSPDART_SUCCESS);
}

// ---- pen reader ------------------------------------------------------------------------

TEST_F(Fingerprint, StrokesAndKeys)
{
    plug();
    openAndWaitForStart();
    pad().penUp(1, 1);  // lifted at the start: nothing
    pad().stroke({{100, 200, 300}, {110, 210, 310}});
    pad().touchConfirm(5, 6);
    pad().touchCancel(7, 8);
    const std::vector<PenEvent> expected = {
        {100, 200, 300, HWET_PEN_DOWN}, {110, 210, 310, HWET_PEN_MOVE}, {110, 210, 0, HWET_PEN_UP},
        {5, 6, 0, HWET_CONFIRM_KEY},    {5, 6, 0, HWET_PEN_UP},          {7, 8, 0, HWET_CANCEL_KEY},
        {7, 8, 0, HWET_PEN_UP},
    };
    EXPECT_EQ(Events::instance().waitPen(expected.size()), expected);
}

TEST_F(Fingerprint, ImageAnswersAreNotPenReports)
{
    plug();
    openAndWaitForStart();
    const uint8_t mask = 0x5A;
    Bytes answer(16, 0);
    answer[1] = 0xE1;
    answer[2] = 0x01;
    pad().sendRaw(0x81, answer);
    EXPECT_TRUE(eventually([] { return g_familyQ230G.SentFPImageStatus() == SENT_FPIMAGE_SIZE_UNMATCH; }));
    answer[1] = 0xD0;
    answer[2] = 0x00;
    pad().sendRaw(0x81, answer);
    EXPECT_TRUE(eventually([] { return g_familyQ230G.SentFPImageStatus() == SENT_FPIMAGE_BLOCK_SUCCEEDED; }));
    // E1 02 is no answer: a pen report masked with byte 12, contact.
    Bytes pen(16, 0);
    pen[1] = 0xE1;
    pen[2] = 0x02;
    pen[12] = mask;
    pen[7] = mask;  // event type 0
    for (int i : {3, 4, 5, 6, 8, 9, 10, 11, 13, 14, 15})
        pen[i] = mask;  // zero after unmasking
    pad().sendRaw(0x81, pen);
    pad().sendRaw(0x81, Bytes(15, 0));  // short: dropped
    pad().touchCancel(3, 4);
    const std::vector<PenEvent> expected = {
        {(0xE1 ^ mask) | (0x02 ^ mask) << 8, 0, 0, HWET_PEN_DOWN},
        {3, 4, 0, HWET_CANCEL_KEY},
    };
    EXPECT_EQ(Events::instance().waitPen(expected.size()), expected);
    EXPECT_EQ(g_familyQ230G.SentFPImageStatus(), SENT_FPIMAGE_BLOCK_SUCCEEDED);
}

// ---- screen image ----------------------------------------------------------------------

Bytes screenImage(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = (uint8_t)(i * 31 + (i >> 9));
    return b;
}

TEST_F(Fingerprint, ScreenImageGoesOutInBlocks)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    Bytes image = screenImage(29952);
    bool abort = false;
    pad().clearReceived();
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), (int)image.size(), 104, 144, &abort), VTSPDART_SUCCESS);
    const FingerprintPadModel::ScreenTransfer st = m.screenTransfer();
    EXPECT_EQ(st.headerIndexes, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));
    EXPECT_EQ(st.blockSizes, (std::vector<int>{4096, 4096, 4096, 4096, 4096, 4096, 4096, 1280}));
    EXPECT_EQ(st.packetsPerBlock, (std::vector<int>{66, 66, 66, 66, 66, 66, 66, 21}));
    EXPECT_EQ(st.width, 104);
    EXPECT_EQ(st.height, 144);
    EXPECT_TRUE(st.image == image) << "image differs";

    const std::vector<Transfer> outs = penOuts();
    ASSERT_EQ(outs.size(), 8u + 7 * 66 + 21);
    for (const Transfer& t : outs)
        ASSERT_EQ(t.data.size(), 65u);
    EXPECT_EQ(Bytes(outs[0].data.begin(), outs[0].data.begin() + 6), (Bytes{0x06, 0xC1, 0x02, 0, 104, 144}));
    // Block 0's last packet: one data byte, zero padded.
    const Transfer& last0 = outs[66];
    EXPECT_EQ(last0.data[0], 0x06);
    EXPECT_EQ(last0.data[1], image[4095]);
    EXPECT_TRUE(std::all_of(last0.data.begin() + 2, last0.data.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(Fingerprint, ScreenImageAnswers)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    Bytes image = screenImage(2 * 10 * 10);
    bool abort = false;
    m.setBlockAnswer(std::make_pair<uint8_t, uint8_t>(0xE1, 0x01));
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), (int)image.size(), 10, 10, &abort), VTSPDART_NOT_AVAILABLE);
    m.setBlockAnswer(std::make_pair<uint8_t, uint8_t>(0xD0, 0x00));
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), (int)image.size(), 10, 10, &abort), VTSPDART_SUCCESS);
    m.setBlockAnswer(std::nullopt);  // no answer: gives up after its wait
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), (int)image.size(), 10, 10, &abort), VTSPDART_NOT_AVAILABLE);
}

TEST_F(Fingerprint, AbortStopsBlocksLongerThanOnePacket)
{
    FingerprintPadModel& m = plug();
    openAndWaitForStart();
    bool abort = true;
    Bytes image = screenImage(29952);
    pad().clearReceived();
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), (int)image.size(), 104, 144, &abort),
              VTSPDART_IMAGE_SEND_ABORTED);
    EXPECT_EQ(penOuts().size(), 1u);  // the header only
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), 64, 4, 8, &abort), VTSPDART_IMAGE_SEND_ABORTED);

    Bytes small = screenImage(2 * 4 * 7);  // 56 bytes: one packet, sent anyway
    pad().clearReceived();
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(small.data(), (int)small.size(), 4, 7, &abort), VTSPDART_SUCCESS);
    EXPECT_EQ(penOuts().size(), 2u);
    EXPECT_EQ(m.screenTransfer().blockSizes.back(), 56);
}

TEST_F(Fingerprint, ScreenImageArguments)
{
    plug();
    openAndWaitForStart();
    bool abort = false;
    Bytes image = screenImage(100);
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(nullptr, 100, 10, 5, &abort), VTSPDART_INVALID_PARAMETERS);
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), 100, 10, 5, nullptr), VTSPDART_INVALID_PARAMETERS);
    EXPECT_EQ(VTSPDAPI_ShowFPImageOnDevice(image.data(), -1, 10, 5, &abort), VTSPDART_INVALID_PARAMETERS);
}

TEST(FingerprintRecords, Checksum)
{
    Bytes d(1020, 0xFF);
    EXPECT_EQ(checksum(d.data(), (int)d.size()), 1020u * 255u);
    EXPECT_EQ(checksum(d.data(), 0), 0u);
}

}  // namespace
