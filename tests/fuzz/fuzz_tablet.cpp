// Tablet input reports of both tablets, and the capacity, serial-number and
// release-date records read at connect.
#include "fuzz_driver.h"
#include "tablet.h"

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const VtPenSink sink{fuzzdrv::CheckEvent, fuzzdrv::Log()};
    const std::vector<std::vector<uint8_t>> reports = fuzzdrv::Reports(data, size);
    for (const TabletFamily* t : {&g_familyQT410, &g_familyM420}) {
        unsigned char bPenUp = 1;
        fuzzdrv::Pen() = fuzzdrv::PenState{false, false};
        for (const std::vector<uint8_t>& r : reports) {
            const uint32_t acks = DecodeTabletReport(t->Traits(), r.data(), int(r.size()), &bPenUp, sink);
            if (acks & ~uint32_t(0x3f))
                abort();
        }
    }
    for (const std::vector<uint8_t>& r : reports) {
        TabletCapacity capacity;
        ParseTabletCapacity(r.data(), int(r.size()), 2, &capacity);
        ParseTabletCapacity(r.data(), int(r.size()), 3, &capacity);
        const uint32_t nYear = ParseTabletReleaseYear(r.data(), int(r.size()));
        for (uint32_t year : {nYear, 2023u, 2024u}) {
            char serial[12];
            memset(serial, 'z', sizeof serial);
            FormatTabletSerialNumber(r.data(), int(r.size()), year, serial);
            if (strnlen(serial, sizeof serial) > 10)
                abort();
        }
    }
    return 0;
}
