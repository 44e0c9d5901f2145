// The Q230G's answers: screen-image block answers in pen-device reports,
// capture-start answers and 1024-byte image packets with their checksums.
#include "fingerprint.h"
#include "fuzz_driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const std::vector<uint8_t>& r : fuzzdrv::Reports(data, size)) {
        const int nAnswer = DecodeImageAnswer(r.data(), int(r.size()), fuzzdrv::Log());
        if (nAnswer < 0 || nAnswer > SENT_FPIMAGE_INVALID_INDEX)
            abort();
        const int nScore = DecodeStartAnswer(r.data(), int(r.size()));
        if (nScore < -1 || nScore > 255)
            abort();
    }
    // The whole input as one capture packet, and padded to a full one.
    std::vector<uint8_t> packet(data, data + size);
    CheckImagePacket(packet.data(), int(packet.size()));
    packet.resize(ENDPOINT_OUT_MAX_PACKET_SIZE_Q230G_FP);
    const bool bMatches = CheckImagePacket(packet.data(), int(packet.size()));
    const uint32_t nSum = checksum(packet.data() + 4, FP_IMAGE_PACKET_DATA_SIZE_Q230G_FP);
    const uint32_t nSent = packet[1] | (packet[2] << 8) | (uint32_t(packet[3]) << 16);
    if (bMatches != ((nSum & 0xffffff) == nSent))
        abort();
    return 0;
}
