// Q220: the larger HID pad (device id 5); its firmware text starts "VTQ220".
#include "hidpad.h"

#include "vtinkmodels.h"

namespace padsim::models {

ModelPtr q220()
{
    auto m = std::make_unique<HidPadModel>(HidPadModel::Identity{
        "q220", "Q220 Signature Pad", "Q220-000456", 0x0105,
        {/*penId*/ "PEN220-0001", /*secureId*/ "SEC220-0001", /*partsVersion*/ "VTQ220L15",
         /*padId*/ "PAD0000220"}});
    m->host = {
        .deviceId = VTQ220_DEVICE,
        .area = {.xOffset = 200, .xSpan = 2300, .yOffset = 200, .ySpan = 1300},
        .firmware = {{m->texts.partsVersion, 2048}, {"VTQ220A1", 2048}, {"VTQ22", 0}, {"VTQ210L12", 0}},
        .infoName = "Q220",
    };
    return m;
}

}  // namespace padsim::models
