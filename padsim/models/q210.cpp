// Q210: the smaller HID pad (device id 2). Same USB device as the Q220; only
// the identification texts tell them apart.
#include "hidpad.h"

namespace padsim::models {

ModelPtr q210()
{
    return std::make_unique<HidPadModel>(HidPadModel::Identity{
        "q210", "Q210 Signature Pad", "Q210-000123", 0x0102,
        {/*penId*/ "PEN210-0001", /*secureId*/ "SEC210-0001", /*partsVersion*/ "VTQ210L12",
         /*padId*/ "PAD0000210"}});
}

}  // namespace padsim::models
