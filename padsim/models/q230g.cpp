// Q230G fingerprint pad (the Q230F to the SDK).
//
// Reader protocol, as the pad plays it: open 02 04 30 31 32 33 and close
// 02 04 33 32 31 30 are answered with 1024 bytes, byte 0 = 1. Start
// 02 04 31 32 33 34 is answered only once a finger lies on the reader
// (byte 0 = 1, byte 2 = score); each continue 02 04 34 33 32 31 then brings
// one image packet (bytes 1-3 the 24-bit sum of its 1020 data bytes), and
// 02 04 CC CC lo hi rewinds to a byte offset. 02 04 CC CC CC s sets the score
// and is byte for byte a rewind to an offset whose low byte is 0xCC: the pad
// takes it for a rewind only while a capture is under way.
//
// Screen images arrive on the pen device in blocks of up to 4096 bytes, each
// announced by a header 06 C1 02 index width height; the image has 2 bytes a
// pixel, so the pad knows the size of the last block. Each finished block is
// answered on the pen endpoint with 00 D0 00 (or E1 01 / E1 03).
#include "q230g.h"

#include "vtinkmodels.h"

namespace padsim {

namespace {
const uint8_t kIn = 0x81;
const uint8_t kOut = 0x01;
const int kReaderPacket = 1024;
const int kScreenBlock = 4096;

bool startsWith(const Bytes& d, std::initializer_list<uint8_t> head)
{
    if (d.size() < head.size())
        return false;
    size_t i = 0;
    for (uint8_t b : head)
        if (d[i++] != b)
            return false;
    return true;
}

// One of the pad's two USB devices.
UsbDescription device(uint16_t productId, const char* product, const Interface& itf)
{
    UsbDescription d;
    d.vendorId = PAD_USB_VENDOR_ID;
    d.productId = productId;
    d.bcdDevice = 0x0103;
    d.manufacturer = "DIVuziDad";
    d.product = product;
    d.interfaces = {itf};
    return d;
}
}  // namespace

FingerprintPadModel::FingerprintPadModel()
{
    name = "q230g";
    features = HAS_LCD | HAS_FINGERPRINT | HID_REQUESTS;
    texts = {"PEN230-0001", "SEC230-0001", "VTQ230FL1", "PAD0000230"};

    Interface hid;
    hid.cls = 3;
    hid.classDescriptor = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x30, 0};
    hid.endpoints = {{kIn, 3, 16, 1}, {kOut, 3, 64, 1}};
    Interface vendor;  // the reader: no kernel driver claims it
    vendor.cls = 0xff;
    vendor.kernelDriver = "";
    vendor.endpoints = {{kIn, 2, 512, 0}, {kOut, 2, 512, 0}};
    usb = {device(SIGN_PAD_PRODUCT_ID, "Q230 Signature Pad", hid),
           device(FP_READER_PRODUCT_ID, "Q230 Fingerprint Reader", vendor)};
    penDevice = PEN;
    penEndpoint = kIn;
    host = {
        .deviceId = VTQ230F_DEVICE,
        .area = {.xOffset = 2050, .xSpan = 21170, .yOffset = 1750, .ySpan = 11490},
        // all seven characters of "VTQ230F" count
        .firmware = {{texts.partsVersion, 2048}, {"VTQ230", 0}},
        .infoName = "Q230G",  // the SDK names the pad by its USB side
    };
}

Bytes FingerprintPadModel::patternImage(uint8_t seed)
{
    Bytes b(kImageSize);
    for (int i = 0; i < kImageSize; ++i)
        b[i] = (uint8_t)(i * 7 + (i >> 8) * 13 + seed);
    return b;
}

void FingerprintPadModel::plugged(Pad& pad)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_pad = &pad;
    m_startPending = false;
    m_capturing = false;
    m_blockIndex = -1;
}

void FingerprintPadModel::placeFinger(const Bytes& image, uint8_t score)
{
    std::lock_guard<std::mutex> g(m_lock);
    Bytes img = image;
    img.resize(kImageSize);
    m_fingers.push_back({img, score});
    if (m_pad && m_startPending)
        answerStartLocked(*m_pad);
}

void FingerprintPadModel::setOpenAnswer(std::optional<uint8_t> byte0)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_openAnswer = byte0;
}

void FingerprintPadModel::setStartAnswer(uint8_t byte0)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_startAnswer = byte0;
}

void FingerprintPadModel::corruptPacket(int packet, int times)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_corrupt[packet] = times;
}

int FingerprintPadModel::packetsSent() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_packetsSent;
}

int FingerprintPadModel::fingersQueued() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return (int)m_fingers.size();
}

void FingerprintPadModel::setBlockAnswer(std::optional<std::pair<uint8_t, uint8_t>> answer)
{
    std::lock_guard<std::mutex> g(m_lock);
    m_blockAnswer = answer;
}

FingerprintPadModel::ScreenTransfer FingerprintPadModel::screenTransfer() const
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_screen;
}

bool FingerprintPadModel::control(Pad& pad, int device, const ControlRequest& setup, Bytes& data)
{
    return device == PEN && answerHidRequest(pad, setup, data);
}

void FingerprintPadModel::out(Pad& pad, int device, uint8_t endpoint, const Bytes& data)
{
    if (endpoint != kOut)
        return;
    std::lock_guard<std::mutex> g(m_lock);
    m_pad = &pad;
    if (device == READER)
        readerCommand(pad, data);
    else
        screenPacket(pad, data);
}

Bytes FingerprintPadModel::answer1024(uint8_t byte0, uint8_t byte2)
{
    Bytes a(kReaderPacket, 0);
    a[0] = byte0;
    a[2] = byte2;
    return a;
}

void FingerprintPadModel::answerStartLocked(Pad& pad)
{
    if (m_fingers.empty())
        return;
    Finger f = std::move(m_fingers.front());
    m_fingers.pop_front();
    m_startPending = false;
    m_image = std::move(f.image);
    m_offset = 0;
    m_packetsSent = 0;
    m_capturing = m_startAnswer == 1;
    pad.sendRaw(kIn, answer1024(m_startAnswer, f.score), READER);
}

void FingerprintPadModel::sendPacketLocked(Pad& pad)
{
    Bytes p(kReaderPacket, 0);
    p[0] = pad.randomByte();  // means nothing
    uint32_t sum = 0;
    for (int i = 0; i < kPacketData; ++i) {
        int at = m_offset + i;
        // past the image's end the packet carries filler that still counts in the sum
        uint8_t v = at < (int)m_image.size() ? m_image[at] : (uint8_t)(0xA5 ^ i);
        p[4 + i] = v;
        sum += v;
    }
    const int packet = m_offset / kPacketData;
    auto it = m_corrupt.find(packet);
    if (it != m_corrupt.end() && it->second > 0) {
        sum += 1;
        it->second--;
    }
    p[1] = (uint8_t)sum;
    p[2] = (uint8_t)(sum >> 8);
    p[3] = (uint8_t)(sum >> 16);
    m_offset += kPacketData;
    m_packetsSent++;
    pad.sendRaw(kIn, std::move(p), READER);
}

void FingerprintPadModel::readerCommand(Pad& pad, const Bytes& d)
{
    if (startsWith(d, {0x02, 0x04, 0x30, 0x31, 0x32, 0x33})) {  // open
        m_capturing = false;
        if (m_openAnswer)
            pad.sendRaw(kIn, answer1024(*m_openAnswer), READER);
    } else if (startsWith(d, {0x02, 0x04, 0x33, 0x32, 0x31, 0x30})) {  // close
        m_capturing = false;
        m_startPending = false;
        pad.sendRaw(kIn, answer1024(1), READER);
    } else if (startsWith(d, {0x02, 0x04, 0x31, 0x32, 0x33, 0x34})) {  // start
        m_capturing = false;
        m_startPending = true;
        answerStartLocked(pad);
    } else if (startsWith(d, {0x02, 0x04, 0x34, 0x33, 0x32, 0x31})) {  // continue
        if (m_capturing)
            sendPacketLocked(pad);
    } else if (startsWith(d, {0x02, 0x04, 0xCC, 0xCC})) {  // rewind, or set score outside a capture
        if (m_capturing && d.size() >= 6)
            m_offset = d[4] | d[5] << 8;
    }
}

void FingerprintPadModel::screenPacket(Pad& pad, const Bytes& d)
{
    if (startsWith(d, {0x06, 0xC1, 0x02}) && d.size() >= 6) {
        const int index = d[3];
        if (index == 0)
            m_screen = ScreenTransfer{};  // a new image
        m_screen.headerIndexes.push_back(index);
        m_screen.width = d[4];
        m_screen.height = d[5];
        const int total = 2 * d[4] * d[5];
        m_blockIndexBad = index != (int)m_screen.blockSizes.size() % 256 || index * kScreenBlock >= total;
        m_blockIndex = index;
        m_blockExpected = std::min(kScreenBlock, total - index * kScreenBlock);
        m_blockReceived = 0;
        m_blockPackets = 0;
        return;
    }
    if (d.empty() || d[0] != 0x06 || m_blockIndex < 0)
        return;
    const int take = std::min<int>(63, std::max(0, m_blockExpected - m_blockReceived));
    for (int i = 0; i < take && 1 + i < (int)d.size(); ++i)
        m_screen.image.push_back(d[1 + i]);
    m_blockReceived += take;
    m_blockPackets++;
    if (m_blockReceived < m_blockExpected && !m_blockIndexBad)
        return;
    m_screen.blockSizes.push_back(m_blockReceived);
    m_screen.packetsPerBlock.push_back(m_blockPackets);
    m_blockIndex = -1;
    std::optional<std::pair<uint8_t, uint8_t>> a = m_blockAnswer;
    if (m_blockIndexBad)
        a = std::make_pair<uint8_t, uint8_t>(0xE1, 0x03);
    if (!a)
        return;
    Bytes r(16, 0);
    for (size_t i = 3; i < r.size(); ++i)
        r[i] = pad.randomByte();
    r[1] = a->first;
    r[2] = a->second;
    pad.sendRaw(kIn, std::move(r), PEN);
}

// 16 bytes; bytes 1-15 XORed with the mask that byte 12 carries in clear.
// Bytes 0, 8-11 and 13-15 mean nothing and are random.
Bytes FingerprintPadModel::penReport(Pad& pad, const PenInput& in)
{
    const uint8_t type = in.action == PenInput::Contact ? 0 : in.action == PenInput::Cancel ? 1
                         : in.action == PenInput::Confirm ? 2 : 3;
    Bytes plain(16);
    for (auto& b : plain)
        b = pad.randomByte();
    plain[1] = (uint8_t)in.x;
    plain[2] = (uint8_t)(in.x >> 8);
    plain[3] = (uint8_t)in.y;
    plain[4] = (uint8_t)(in.y >> 8);
    plain[5] = (uint8_t)in.pressure;
    plain[6] = (uint8_t)(in.pressure >> 8);
    plain[7] = type;
    plain[12] = 0;
    Bytes r;
    // The reader takes D0 00, E1 01 and E1 03 in bytes 1-2 for a screen-image
    // answer: the pad never masks a report into one of those (unless a test
    // forces such a mask).
    for (int attempt = 0; attempt < 16; ++attempt) {
        const uint8_t mask = pad.nextMask();
        r = plain;
        for (int i = 1; i < 16; ++i)
            r[i] = plain[i] ^ mask;
        const bool looksLikeAnswer = (r[1] == 0xD0 && r[2] == 0x00) || (r[1] == 0xE1 && (r[2] == 0x01 || r[2] == 0x03));
        if (!looksLikeAnswer)
            break;
    }
    return r;
}

namespace models {

ModelPtr q230g()
{
    return std::make_unique<FingerprintPadModel>();
}

}  // namespace models
}  // namespace padsim
