/* The five pad models: device ids, USB identities and names. The one place
 * these facts live: the driver, the SDK, the service, the pad emulator and
 * the generated udev rule all read this header. What each layer does
 * differently per model is kept in that layer's own model table. */
#ifndef VTINKMODELS_H
#define VTINKMODELS_H

/* Device ids: the same numbers in the WebSocket "id", the service, every SDK
 * call and the driver. Every other value is unsupported. */
#define VTQ210_DEVICE   2 /* Q210 HID pad */
#define RUVU410_DEVICE  3 /* QT410 tablet */
#define ROV420_DEVICE   4 /* M420 tablet */
#define VTQ220_DEVICE   5 /* Q220 HID pad */
#define VTQ230F_DEVICE  7 /* Q230F fingerprint pad (Q230G on USB) */

/* USB ids. */
/* Q210/Q220 pen pad, and both USB devices of the Q230G fingerprint pad. */
#define PAD_USB_VENDOR_ID     0x3a5d
/* Q210/Q220 pen device; the Q230G's pen device carries the same id. */
#define SIGN_PAD_PRODUCT_ID   0x0210
/* The Q230G's fingerprint reader. */
#define FP_READER_PRODUCT_ID  0x0231
/* QT410 and M420 tablets (any product id). */
#define TABLET_USB_VENDOR_ID  0x3a5e

/* What a model has beyond the pen and its keys: the one place these facts
 * are stated. Every layer derives its own lists from them: the driver's
 * fingerprint callback, the SDK's exports and driver entry points, the
 * service's entry points. */
#define VTINK_CAP_SCREEN      0x1u /* LCD, pen id, secure id, version screen */
#define VTINK_CAP_FINGERPRINT 0x2u /* fingerprint reader and its screen images */

/* Every model once: X(device id, model name, SDK export prefix, screen,
 * fingerprint). The model name is what pages and logs call the pad; the
 * prefix starts the names of its SDK functions (VTQ210_InitialDevice, ...).
 * screen and fingerprint are the literals 1 or 0 (VTINK_IF picks code by
 * them). */
#define VTINK_FOR_EACH_MODEL(X)                \
    X(VTQ210_DEVICE, "Q210", VTQ210_, 1, 0)    \
    X(VTQ220_DEVICE, "Q220", VTQ220_, 1, 0)    \
    X(VTQ230F_DEVICE, "Q230F", VTQ230F_, 1, 1) \
    X(RUVU410_DEVICE, "QT410", RUVU410_, 0, 0) \
    X(ROV420_DEVICE, "M420", ROV420_, 0, 0)

/* VTINK_IF(flag, code...): the code where a model's flag is 1. */
#define VTINK_IF(flag, ...) VTINK_IF_##flag(__VA_ARGS__)
#define VTINK_IF_1(...) __VA_ARGS__
#define VTINK_IF_0(...)

#ifdef __cplusplus
/* A model's VTINK_CAP_ bits by device id; 0 for an unknown id. */
#define VTINK_CAPS_OF(ID, NAME, PREFIX, SCREEN, FP) \
    nDeviceId == (ID) ? ((SCREEN) ? VTINK_CAP_SCREEN : 0u) | ((FP) ? VTINK_CAP_FINGERPRINT : 0u):
constexpr unsigned VtinkModelCaps(int nDeviceId)
{
    return VTINK_FOR_EACH_MODEL(VTINK_CAPS_OF) 0u;
}
#undef VTINK_CAPS_OF
/* Whether a model has every capability in caps (0: any model). */
constexpr bool VtinkModelHas(int nDeviceId, unsigned caps)
{
    return (VtinkModelCaps(nDeviceId) & caps) == caps;
}
#endif

#endif
