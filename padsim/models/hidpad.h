// The HID pad family's behaviour, shared by the Q210 and Q220 descriptions.
#pragma once

#include "padsim.h"

namespace padsim {

// One USB device: HID interface 0 with interrupt IN 0x81 (11-byte reports)
// and OUT 0x01; SET_REPORT commands and GET_REPORT 3, 4, 5, 7.
class HidPadModel : public Model {
public:
    struct Identity {
        const char* name;
        const char* product;   // string descriptor 2
        const char* serial;    // string descriptor 3
        uint16_t bcdDevice;
        Texts texts;
    };
    explicit HidPadModel(const Identity& id);

    bool control(Pad& pad, int device, const ControlRequest& setup, Bytes& data) override;
    Bytes penReport(Pad& pad, const PenInput& input) override;
};

}  // namespace padsim
