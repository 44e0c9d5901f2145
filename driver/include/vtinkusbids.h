/* USB identities of the pads. The one place these numbers live: the driver,
 * the pad emulator and the generated udev rule all read this header. */
#ifndef VTINKUSBIDS_H
#define VTINKUSBIDS_H

/* Q210/Q220 pen pad, and both USB devices of the Q230G fingerprint pad. */
#define PAD_USB_VENDOR_ID     0x3a5d
/* Q210/Q220 pen device; the Q230G's pen device carries the same id. */
#define SIGN_PAD_PRODUCT_ID   0x0210
/* The Q230G's fingerprint reader. */
#define FP_READER_PRODUCT_ID  0x0231
/* QT410 and M420 tablets (any product id). */
#define TABLET_USB_VENDOR_ID  0x3a5e

#endif
