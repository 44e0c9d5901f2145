// The Q230G fingerprint pad: two USB devices plugged together.
//  device 0, pen: the HID pad's requests, 16-byte masked pen reports on 0x81,
//            screen-image packets on OUT 0x01 answered on 0x81;
//  device 1, fingerprint reader: 1024-byte commands on OUT 0x01 answered
//            with 1024-byte packets on IN 0x81.
#pragma once

#include "padsim.h"

#include <deque>
#include <mutex>

namespace padsim {

class FingerprintPadModel : public Model {
public:
    static constexpr int kImageSize = 59904;  // 208 x 288
    static constexpr int kPacketData = 1020;
    enum Device { PEN = 0, READER = 1 };

    FingerprintPadModel();

    // A finger laid on the reader: answers the pending (or next) start command.
    void placeFinger(const Bytes& image, uint8_t score);
    static Bytes patternImage(uint8_t seed);  // a recognisable 59904-byte image

    // Answer to the open command: byte 0 of the answer (1 = accepted); nullopt = no answer.
    void setOpenAnswer(std::optional<uint8_t> byte0);
    // Byte 0 of the next start answers (1 = good).
    void setStartAnswer(uint8_t byte0);
    // The image packet with this number (0-based) goes out with its checksum
    // one off, the next `times` times it is sent.
    void corruptPacket(int packet, int times = 1);
    // Packets sent so far in this capture (resends included).
    int packetsSent() const;
    int fingersQueued() const;

    // Screen image: answer to each finished block (status report bytes 1, 2);
    // nullopt = no answer. Default D0 00 (block received).
    void setBlockAnswer(std::optional<std::pair<uint8_t, uint8_t>> answer);
    // The image under way (or the last one), reset by each header with index 0.
    struct ScreenTransfer {
        std::vector<int> headerIndexes;
        std::vector<int> blockSizes;       // data bytes per finished block
        std::vector<int> packetsPerBlock;  // data packets per finished block
        int width = 0, height = 0;
        Bytes image;                       // every data byte received
    };
    ScreenTransfer screenTransfer() const;

    bool control(Pad& pad, int device, const ControlRequest& setup, Bytes& data) override;
    void out(Pad& pad, int device, uint8_t endpoint, const Bytes& data) override;
    Bytes penReport(Pad& pad, const PenInput& input) override;
    void plugged(Pad& pad) override;

private:
    struct Finger {
        Bytes image;
        uint8_t score;
    };
    void readerCommand(Pad& pad, const Bytes& d);
    void screenPacket(Pad& pad, const Bytes& d);
    void answerStartLocked(Pad& pad);
    void sendPacketLocked(Pad& pad);
    Bytes answer1024(uint8_t byte0, uint8_t byte2 = 0);

    mutable std::mutex m_lock;
    Pad* m_pad = nullptr;  // set at plug; placeFinger answers through it
    std::optional<uint8_t> m_openAnswer = 1;
    uint8_t m_startAnswer = 1;
    std::deque<Finger> m_fingers;
    bool m_startPending = false;
    bool m_capturing = false;
    Bytes m_image;
    int m_offset = 0;
    int m_packetsSent = 0;
    std::map<int, int> m_corrupt;  // packet number -> times left
    std::optional<std::pair<uint8_t, uint8_t>> m_blockAnswer = std::make_pair<uint8_t, uint8_t>(0xD0, 0x00);
    ScreenTransfer m_screen;
    int m_blockExpected = 0;  // data bytes of the block under way
    int m_blockReceived = 0;
    int m_blockPackets = 0;
    int m_blockIndex = -1;
    bool m_blockIndexBad = false;
};

}  // namespace padsim
