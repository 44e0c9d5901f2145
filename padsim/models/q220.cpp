// Q220: the larger HID pad (device id 5); its firmware text starts "VTQ220".
#include "hidpad.h"

namespace padsim::models {

ModelPtr q220()
{
    return std::make_unique<HidPadModel>(HidPadModel::Identity{
        "q220", "Q220 Signature Pad", "Q220-000456", 0x0105,
        {/*penId*/ "PEN220-0001", /*secureId*/ "SEC220-0001", /*partsVersion*/ "VTQ220L15",
         /*padId*/ "PAD0000220"}});
}

}  // namespace padsim::models
