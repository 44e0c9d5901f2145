// Q210: the smaller HID pad (device id 2). Same USB device as the Q220; only
// the identification texts tell them apart.
#include "hidpad.h"

#include "vtinkmodels.h"

namespace padsim::models {

ModelPtr q210()
{
    auto m = std::make_unique<HidPadModel>(HidPadModel::Identity{
        "q210", "Q210 Signature Pad", "Q210-000123", 0x0102,
        {/*penId*/ "PEN210-0001", /*secureId*/ "SEC210-0001", /*partsVersion*/ "VTQ210L12",
         /*padId*/ "PAD0000210"}});
    m->host = {
        .deviceId = VTQ210_DEVICE,
        .area = {.xOffset = 160, .xSpan = 2360, .yOffset = 220, .ySpan = 1430},
        // "VTQ210L1..." firmware has half the levels; a text must match all six characters of "VTQ210"
        .firmware = {{m->texts.partsVersion, 1024}, {"VTQ210A12", 2048}, {"VTQ210X12", 2048},
                     {"VTQ21", 0}, {"VTQ21X", 0}},
        .infoName = "Q210",
    };
    return m;
}

}  // namespace padsim::models
