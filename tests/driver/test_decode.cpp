// Each family's report decoding on its own: bytes in, events out through a
// sink, no device and no thread.
#include "fingerprint.h"
#include "hid.h"
#include "tablet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Event {
    int x, y, p, type;
    bool operator==(const Event& o) const { return x == o.x && y == o.y && p == o.p && type == o.type; }
};
std::ostream& operator<<(std::ostream& os, const Event& e)
{
    return os << "{" << e.x << "," << e.y << "," << e.p << ", type " << e.type << "}";
}

std::vector<Event> s_events;
void record(int x, int y, int p, int type)
{
    s_events.push_back({x, y, p, type});
}

VtLogWriter s_log("/tmp/vtinkdrv_test_decode.log");  // written only with the log switch on
const VtPenSink kSink{record, s_log};

using Bytes = std::vector<uint8_t>;

// A HID pen report of the format's size: x, y, p, state at 7 (and 8), masked.
Bytes hidReport(const HidReportFormat& f, int x, int y, int p, int state, uint8_t mask)
{
    Bytes b(f.nSize, 0);
    b[1] = x, b[2] = x >> 8, b[3] = y, b[4] = y >> 8, b[5] = p, b[6] = p >> 8, b[7] = state, b[8] = state >> 8;
    for (int i = 1; i < f.nSize; ++i)
        b[i] ^= mask;
    b[0] = 0xA5;  // not masked, not read
    return b;
}

TEST(Decode, HidReportsOfBothPenDevices)
{
    for (const HidReportFormat* f : {&g_familyQ210_220.ReportFormat(), &g_familyQ230G.ReportFormat()}) {
        SCOPED_TRACE(f->label);
        s_events.clear();
        unsigned char bPenUp = 1;
        auto feed = [&](int x, int y, int p, int state, uint8_t mask) {
            Bytes b = hidReport(*f, x, y, p, state, mask);
            DecodeHidReport(*f, b.data(), (int)b.size(), &bPenUp, kSink);
        };
        feed(1, 1, 1, 3, 0x11);           // lifted at the start: nothing
        feed(100, 200, 300, 0, 0x5A);     // down
        feed(65535, 0x1234, 1023, 0, 0);  // move
        feed(7, 8, 0, 3, 0xFF);           // up
        feed(7, 8, 0, 3, 0x33);           // already up: nothing
        feed(9, 9, 0, 1, 0x44);           // cancel, then the lift ends it
        feed(9, 9, 0, 3, 0x45);
        feed(5, 5, 5, 4, 0x66);           // unknown state: nothing
        Bytes shortReport = hidReport(*f, 6, 6, 6, 0, 0x77);
        DecodeHidReport(*f, shortReport.data(), f->nSize - 1, &bPenUp, kSink);  // dropped
        std::vector<Event> expected = {{100, 200, 300, HWET_PEN_DOWN}, {65535, 0x1234, 1023, HWET_PEN_MOVE},
                                       {7, 8, 0, HWET_PEN_UP},         {9, 9, 0, HWET_CANCEL_KEY},
                                       {9, 9, 0, HWET_PEN_UP}};
        // The HID pad's state is a word (0x0100 is no state); the Q230G's a byte.
        feed(2, 2, 2, 0x0100, 0x12);
        if (!f->bStateWord)
            expected.push_back({2, 2, 2, HWET_PEN_DOWN});
        EXPECT_EQ(s_events, expected);
    }
}

TEST(Decode, FingerprintPadAnswersAndCapturePackets)
{
    Bytes answer(16, 0);
    const std::pair<Bytes, int> answers[] = {
        {{0x00, 0xD0, 0x00}, SENT_FPIMAGE_BLOCK_SUCCEEDED},
        {{0x00, 0xE1, 0x01}, SENT_FPIMAGE_SIZE_UNMATCH},
        {{0x00, 0xE1, 0x03}, SENT_FPIMAGE_INVALID_INDEX},
        {{0x00, 0xE1, 0x02}, 0},  // a pen report
    };
    for (const auto& [head, status] : answers) {
        std::copy(head.begin(), head.end(), answer.begin());
        EXPECT_EQ(DecodeImageAnswer(answer.data(), (int)answer.size(), s_log), status);
    }
    EXPECT_EQ(DecodeImageAnswer(answer.data(), 2, s_log), 0);

    const uint8_t start[] = {1, 0, 201, 9};
    EXPECT_EQ(DecodeStartAnswer(start, sizeof start), 201);
    EXPECT_EQ(DecodeStartAnswer(start, 2), -1);
    const uint8_t refused[] = {0, 0, 201};
    EXPECT_EQ(DecodeStartAnswer(refused, sizeof refused), -1);

    Bytes packet(ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP);
    uint32_t sum = 0;
    for (int i = 4; i < (int)packet.size(); ++i)
        sum += packet[i] = (uint8_t)(i * 7);
    packet[1] = sum, packet[2] = sum >> 8, packet[3] = sum >> 16;
    EXPECT_TRUE(CheckImagePacket(packet.data(), (int)packet.size()));
    EXPECT_FALSE(CheckImagePacket(packet.data(), (int)packet.size() - 1));
    packet[1]++;
    EXPECT_FALSE(CheckImagePacket(packet.data(), (int)packet.size()));
}

TEST(Decode, TabletReports)
{
    for (const TabletFamily* t : {&g_familyQT410, &g_familyM420}) {
        SCOPED_TRACE(t->Traits().model);
        s_events.clear();
        unsigned char bPenUp = 1;
        uint32_t acks = 0;
        auto feed = [&](const Bytes& b) { acks |= DecodeTabletReport(t->Traits(), b.data(), (int)b.size(), &bPenUp, kSink); };
        feed({0x09, 0x41, 0xA0, 1, 0, 1, 0, 1, 0});        // lifted at the start: nothing
        feed({0x09, 0x41, 0xA1, 0x34, 0x12, 2, 0, 3, 0});  // down
        feed({0x09, 0x41, 0xA1, 1, 0, 2, 0, 3});           // 8 bytes: dropped
        feed({0x09, 0x42, 0x01, 0x00, 0x01});              // cancel released
        feed({0x09, 0x42, 0x01, 0x01, 0x02});              // confirm pressed: nothing yet
        feed({0x09, 0x41, 0xA1, 5, 0, 6, 0, 7, 0});        // keys leave the stroke alone: move
        feed({0x09, 0x41, 0xA0, 5, 0, 6, 0, 0, 0});        // up
        feed({0x09, 0x41, 0xA0, 5, 0, 6, 0, 0, 0});        // already up: nothing
        feed({0x08, 0x41, 0xA1, 1, 0, 1, 0, 1, 0});        // not ours
        feed({0x09, 0x81, 0x05});                          // mouse and self-defined pen acknowledged
        feed({0x09, 0x8F});                                // short: dropped
        const std::vector<Event> expected = {{0x1234, 2, 3, HWET_PEN_DOWN},
                                             {0, 0, 0, HWET_CANCEL_KEY},
                                             {5, 6, 7, HWET_PEN_MOVE},
                                             {5, 6, 0, HWET_PEN_UP}};
        EXPECT_EQ(s_events, expected);
        EXPECT_EQ(acks, (uint32_t)(TABLET_ACK_STD_MOUSE | TABLET_ACK_CUSTOM_PEN));
    }
}

}  // namespace
