// Shared by the driver harnesses: the input cut into reports (each led by
// its length byte), and a pen sink that checks every event it gets.
#pragma once

#include "families.h"
#include "vtlog.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

namespace fuzzdrv {

inline VtLogWriter& Log()
{
    static VtLogWriter log("/tmp/vtinkdrv_fuzz.log"); // written only with the log switch on
    return log;
}

// Only the five event types; a move or a lift only while in contact. On
// the HID pads a key counts as contact (the lift after it ends it); on the
// tablets keys leave the stroke alone.
struct PenState {
    bool bKeysAreContact = true;
    bool bContact = false;
};
inline PenState& Pen()
{
    static PenState s;
    return s;
}
inline void CheckEvent(int, int, int, int nEventType)
{
    PenState& s = Pen();
    switch (nEventType) {
    case HWET_PEN_DOWN: s.bContact = true; break;
    case HWET_PEN_MOVE: if (!s.bContact) abort(); break;
    case HWET_PEN_UP: if (!s.bContact) abort(); s.bContact = false; break;
    case HWET_CANCEL_KEY:
    case HWET_CONFIRM_KEY: s.bContact = s.bContact || s.bKeysAreContact; break;
    default: abort();
    }
}

// Reports: a length byte, then that many bytes (fewer at the end).
inline std::vector<std::vector<uint8_t>> Reports(const uint8_t* data, size_t size)
{
    std::vector<std::vector<uint8_t>> reports;
    size_t i = 0;
    while (i < size) {
        const size_t n = data[i++];
        const size_t k = n < size - i ? n : size - i;
        reports.emplace_back(data + i, data + i + k);
        i += k;
    }
    return reports;
}

} // namespace fuzzdrv
