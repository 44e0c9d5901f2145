/* libvtinkdrv: the pad driver's exported C interface.
 *
 * One pad at a time. VTSPDAPI_Initial selects the protocol family by device
 * id, opens the device and starts its worker threads; every later call is
 * routed to that family; VTSPDAPI_UnInitial closes it again (also after a
 * failed VTSPDAPI_Initial). Callbacks run on the driver's worker threads;
 * buffers passed to them stay the driver's and are valid only during the call.
 * Booleans are passed as integers of which only the low byte counts.
 */
#ifndef VTINKDRV_H
#define VTINKDRV_H

#ifdef __cplusplus
extern "C" {
#else
#include <stdbool.h>
#endif

#define VTINKDRV_API __attribute__((visibility("default")))

/* Device ids: VTQ210_DEVICE ... VTQ230F_DEVICE. */
#include "vtinkmodels.h"

/* Pen event types of HWSignDataCallback. */
#define HWET_PEN_DOWN     0 /* first point of a stroke */
#define HWET_PEN_MOVE     1 /* further point of a stroke */
#define HWET_PEN_UP       2 /* end of the stroke, position of the report that ended it */
#define HWET_CANCEL_KEY   3 /* the pad's cancel key */
#define HWET_CONFIRM_KEY  4 /* the pad's confirm key */
/* Whether the open pad is attached (x, y, pressure 0). A host that knows only
 * the types above ignores these. */
#define HWET_PAD_GONE     5 /* the open pad went away: on the reader thread that lost it, later
                               (after a HWET_PAD_BACK) on the watcher thread */
#define HWET_PAD_BACK     6 /* a pad of the active family is attached again, on the watcher thread;
                               VTSPDAPI_UnInitial and VTSPDAPI_Initial open it */

/* Result codes. */
#define VTSPDART_SUCCESS                  0   /* done */
#define VTSPDART_NOT_AVAILABLE           -1   /* no such operation for the active family, no active device, or device not open */
#define VTSPDART_INVALID_PARAMETERS      -2   /* argument check failed */
#define VTSPDART_USB_INIT_FAILED         -3   /* libusb_init failed */
#define VTSPDART_DEVICE_NOT_FOUND        -4   /* the pad is not attached */
#define VTSPDART_CLAIM_INTERFACE_FAILED  -5   /* claiming a USB interface failed */
#define VTSPDART_THREAD_CREATE_FAILED    -6   /* starting a worker thread failed */
#define VTSPDART_CONTROL_TRANSFER_FAILED -7   /* a control transfer to the pad failed */
#define VTSPDART_FP_OPEN_FAILED          -8   /* the fingerprint reader refused the open command */
#define VTSPDART_FP_CLOSE_FAILED         -9   /* the fingerprint reader refused the close command */
#define VTSPDART_FP_SET_SCORE_FAILED     -10  /* sending the score command failed */
#define VTSPDART_IMAGE_HEADER_FAILED     -11  /* sending an image header packet failed */
#define VTSPDART_IMAGE_DATA_FAILED       -12  /* sending an image data packet failed */
#define VTSPDART_IMAGE_SEND_ABORTED      -16  /* the caller's abort flag stopped an image transfer */
#define VTSPDART_TABLET_NOT_FOUND        -19  /* no tablet with the expected interface layout */
#define VTSPDART_TABLET_OPEN_FAILED      -20  /* tablet found, but opening or reading its description failed */

/* Pen and key events: raw x, y, pressure (0..65535) and a HWET_* type.
 * Tablets pass 0, 0, 0 with key events. While a device is open the driver
 * also watches it: libusb's hotplug events where the platform has them, else
 * a look at the bus once per second, only after the pad went away. */
typedef void (*HWSignDataCallback)(int x, int y, int pressure, int eventType);
/* A finished fingerprint capture: 59904 bytes (208 x 288), size, score 0..255.
 * The buffer is overwritten by the next capture: copy what you keep. */
typedef void (*FPDataCallback)(unsigned char* pucImage, int nSize, int nScore);

/* Log switch of the driver, 0 at load. */
extern VTINKDRV_API unsigned char g_bEnableLog;

/* True for 2, 3, 4, 5 and 7. */
VTINKDRV_API bool IsTheDeviceIDSupported(int nDeviceID);
/* Select the family and open the device. -2 for an unsupported id, a null pen
 * callback, or id 7 without a fingerprint callback; else the family's connect
 * result (0, -3, -4, -5, -6, -8, -10, -19, -20). Callbacks are stored on 0 only. */
VTINKDRV_API int VTSPDAPI_Initial(int nDeviceID, HWSignDataCallback pfnHWSignDataCallback,
                                  FPDataCallback pfnFPDataCallback);
/* Stop the workers, close the device, release libusb. A worker that has not
 * stopped within 1000 ms keeps the device and libusb open (closing them
 * under it would free what it reads with). 0, or -1 when no device id is active. */
VTINKDRV_API int VTSPDAPI_UnInitial(void);
/* Screen on/off (HID and fingerprint pads). 0, -1, -7. */
VTINKDRV_API int VTSPDAPI_OpenDeviceLCD(bool bOn);
/* Clear the ink shown on the device. 0, -1, -7 (tablets: always 0). */
VTINKDRV_API int VTSPDAPI_ClearDeviceContent(void);
/* Identification texts, zero-terminated, at most nMaxCount bytes in all.
 * -2 for a null buffer or nMaxCount below 32; else 0, -1, -7. */
VTINKDRV_API int VTSPDAPI_GetDevicePenID(char* pPenID, int nMaxCount);
VTINKDRV_API int VTSPDAPI_GetDevicePadID(char* pPadID, int nMaxCount);
VTINKDRV_API int VTSPDAPI_GetDeviceSecureID(char* pSecureID, int nMaxCount);
VTINKDRV_API int VTSPDAPI_GetDevicePartsVersion(char* pVersion, int nMaxCount);
/* Version screen on/off (HID and fingerprint pads). 0, -1, -7. */
VTINKDRV_API int VTSPDAPI_ShowVersionInfoOnDevice(bool bOn);
/* Pen reports with or without pressure (HID and fingerprint pads). 0, -1, -7. */
VTINKDRV_API int VTSPDAPI_SetDevicePenStyle(bool bWithPressureValue);
/* Send an RGB565 big-endian image to the fingerprint pad's screen. *pbAbort
 * may be set from another thread to stop it. -2 for null pointers; -1 on other
 * pads; else 0, -1 (no answer), -11, -12, -16. */
VTINKDRV_API int VTSPDAPI_ShowFPImageOnDevice(unsigned char* pucFPImageRawData, int nFPImageRawDataSize,
                                              int nFPImageWidth, int nFPImageHeight, bool* pbAbort);

#ifdef __cplusplus
}
#endif
#endif
