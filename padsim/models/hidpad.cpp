#include "hidpad.h"

#include "vtinkmodels.h"

namespace padsim {

HidPadModel::HidPadModel(const Identity& id)
{
    name = id.name;
    features = HAS_LCD | HID_REQUESTS;
    texts = id.texts;
    UsbDescription dev;
    dev.vendorId = PAD_USB_VENDOR_ID;
    dev.productId = SIGN_PAD_PRODUCT_ID;
    dev.bcdDevice = id.bcdDevice;
    dev.manufacturer = "DIVuziDad";
    dev.product = id.product;
    dev.serial = id.serial;
    Interface hid;
    hid.number = 0;
    hid.cls = 3;
    // HID 1.11, one report descriptor of 0x30 bytes (never asked for by the driver)
    hid.classDescriptor = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x30, 0};
    hid.endpoints = {{0x81, 3, 16, 1}, {0x01, 3, 16, 1}};
    dev.interfaces = {hid};
    usb = {dev};
    penDevice = 0;
    penEndpoint = 0x81;
}

bool HidPadModel::control(Pad& pad, int, const ControlRequest& setup, Bytes& data)
{
    return answerHidRequest(pad, setup, data);
}

// 11 bytes: bytes 1..10 are XORed with the mask that byte 9 carries in clear
// (its plain value is 0). Bytes 0 and 10 mean nothing: random, so that a
// host reading them by mistake sees noise.
Bytes HidPadModel::penReport(Pad& pad, const PenInput& in)
{
    uint16_t state = in.action == PenInput::Contact ? 0 : in.action == PenInput::Cancel ? 1
                     : in.action == PenInput::Confirm ? 2 : 3;
    uint8_t mask = pad.nextMask();
    Bytes plain = {pad.randomByte(),
                   (uint8_t)in.x, (uint8_t)(in.x >> 8),
                   (uint8_t)in.y, (uint8_t)(in.y >> 8),
                   (uint8_t)in.pressure, (uint8_t)(in.pressure >> 8),
                   (uint8_t)state, (uint8_t)(state >> 8),
                   0, pad.randomByte()};
    Bytes r = plain;
    for (size_t i = 1; i <= 10; ++i)
        r[i] = plain[i] ^ mask;
    return r;
}

}  // namespace padsim
