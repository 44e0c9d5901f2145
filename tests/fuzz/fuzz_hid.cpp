// HID pen reports of both pen devices (the Q210/Q220 pad and the Q230G's
// pen device), any length, in any order.
#include "fuzz_driver.h"
#include "hid.h"
#include "fingerprint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const VtPenSink sink{fuzzdrv::CheckEvent, fuzzdrv::Log()};
    for (const HidReportFormat* f : {&g_familyQ210_220.ReportFormat(), &g_familyQ230G.ReportFormat()}) {
        unsigned char bPenUp = 1;
        fuzzdrv::Pen() = fuzzdrv::PenState{true, false};
        for (const std::vector<uint8_t>& r : fuzzdrv::Reports(data, size)) {
            DecodeHidReport(*f, r.data(), int(r.size()), &bPenUp, sink);
            if (bPenUp != 0 && bPenUp != 1)
                abort();
        }
    }
    return 0;
}
