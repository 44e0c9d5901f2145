/* libvtinksdk: the signature SDK's exported C interface.
 *
 * One family of functions per pad model, named by the model prefix:
 *   VTQ210_  (device type 2)   35 functions
 *   VTQ220_  (device type 5)   35 functions
 *   VTQ230F_ (device type 7)   39 functions (adds the fingerprint functions)
 *   RUVU410_ (device type 3)   32 functions (no OpenLCD, GetHWPenID, DisplayHWVersion)
 *   ROV420_  (device type 4)   32 functions (likewise)
 * The first argument of every function except AboutBox/AboutBoxByWId is the
 * device type and must equal the family's id (else ARI_INVALID_PARAMETERS,
 * null, false or nothing). One canvas exists at a time in the whole library:
 * use one family between InitialDevice and UnInitialDevice.
 *
 * Character arrays returned by the library go back to the free function of
 * the same family (FreeInkPointTime, PacketsBase64EncodeFree, ...), before
 * UnInitialDevice. Buffers passed in stay the caller's.
 * Callbacks run on library threads (driver reader and watcher, key-action
 * thread), never on the caller's; do not call UnInitialDevice from inside a
 * callback.
 */
#ifndef VTINKSDK_H
#define VTINKSDK_H

#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
class QWidget;
extern "C" {
#else
#include <stdbool.h>
typedef struct QWidget QWidget;
#endif

#define VTSDK_API __attribute__((visibility("default")))

/* Native window id (Qt's WId). */
typedef unsigned long long VTSDK_WId;

/* Device types: VTQ210_DEVICE ... VTQ230F_DEVICE. */
#include "vtinkmodels.h"

/* Result codes. */
#define ARI_SUCCESS             0  /* the operation was done */
#define ARI_FAILED             -1  /* no canvas; driver entry point missing; index outside the ink list; window id not found */
#define ARI_INVALID_PARAMETERS -2  /* wrong device type for the family, or an argument out of range */
#define ARI_NO_DATA            -8  /* no ink points, no decoded points, or an image that was not written */

/* Image types. */
#define EBITI_BITMAP 1 /* BMP */
#define EBITI_JPG    2 /* JPEG */
#define EBITI_PNG    3 /* PNG (white made transparent unless asked otherwise) */
#define EBITI_INK    6 /* Base64 of 24-byte little-endian point records plus one zero byte */
#define EBITI_PDF    7 /* file only: one A4 page */
#define EBITI_SVG    8 /* file only: the ink redrawn as vector strokes */

/* getDeviceInfo indexes. */
#define DIID_GET_STATUS          1 /* one byte: pad connected */
#define DIID_GET_X_RANGE         2 /* two int32: 0 and the raw x span */
#define DIID_GET_Y_RANGE         3 /* two int32: 0 and the raw y span */
#define DIID_GET_PRESSURE_LEVELS 4 /* one int32 */
#define DIID_GET_VENDOR_NAME     5 /* zero-terminated text */
#define DIID_GET_MODEL_NAME      6 /* zero-terminated text */
#define DIID_GET_DRV_VER         7 /* two int32: major, minor */

/* GetDecodePacketsData data types. */
#define INKDATATYPE_X         1
#define INKDATATYPE_Y         2
#define INKDATATYPE_STROKEEND 3

/* One stored point as read by getPackets: set nIndex, get the rest. */
typedef struct _PACKETS {
    int32_t nIndex;     /* in: 0-based point index */
    int16_t nX;         /* raw x */
    int16_t nY;         /* raw y */
    int16_t nPressure;  /* raw pressure */
    uint8_t bStrokeEnd; /* 1 on the record that closes a stroke */
} _PACKETS;

/* Confirm (1) or cancel (0) key used on the pad. */
typedef void (*SignatureStatusCallback)(int nStatus);
/* One ink point stored: first = x (bits 0..15) and y (bits 16..31) normalised
 * to 0..65535; second = raw pressure (bits 0..15) and pen flag (bits 16..31:
 * 1 stroke point, 0 stroke end). */
typedef void (*RealTimeSignatureDataCallback)(unsigned long ulPosition, long lPressureAndFlag);

/* Pad events, for hosts that would rather be told than poll. */
#define PADEV_KEY_STATUS 1 /* a key was touched: GetDeviceConfirmOrCancelKeyStatus has it now, before the
                              status callback (which two-step pads run when the pen lifts); reader thread */
#define PADEV_UNPLUGGED  2 /* the open pad went away; getDeviceInfo(DIID_GET_STATUS) says 0 from now on;
                              a driver thread */
#define PADEV_PLUGGED    3 /* a pad of this model is attached again (after PADEV_UNPLUGGED): UnInitialDevice,
                              then InitialDevice opens it; the driver's watcher thread */
typedef void (*PadEventCallback)(int nEvent, void* pContext);

/* Functions of every family. Every function with nDeviceType answers
 * ARI_INVALID_PARAMETERS (int), null (text) or false (bool) for a device type
 * that is not the family's, and does nothing (void); "no canvas" is the
 * answer before InitialDevice and after UnInitialDevice. */
#define VTSDK_DECLARE_BASE(P)                                                                                  \
    /* Create the canvas (headless when pParentWidget is null) and open the pad. true: the pad answered, or a \
     * canvas exists already; false: size outside 1..8192, driver or pad missing, firmware of another model,  \
     * a parent without a widget application. */                                                             \
    VTSDK_API bool P##InitialDevice(int nDeviceType, QWidget* pParentWidget, int nX, int nY, int nWidth, int nHeight); \
    /* As InitialDevice, the parent given by window id: 0 headless; false also for an id naming no widget. */  \
    VTSDK_API bool P##InitialDeviceByWId(int nDeviceType, VTSDK_WId wid, int nX, int nY, int nWidth, int nHeight); \
    /* Shut the pad down and destroy the canvas. ARI_SUCCESS, also without a canvas. */                        \
    VTSDK_API int P##UnInitialDevice(int nDeviceType);                                                         \
    /* Clear canvas, ink and pad, clipping off. The driver's result (0, -1, -7); 0 after the cancel key (the   \
     * pad cleared itself); ARI_FAILED without a canvas. */                                                   \
    VTSDK_API int P##Clear(int nDeviceType);                                                                   \
    /* Pad id into the caller's buffer. The driver's result (0; -2 buffer null or under 32 bytes; -1, -7);     \
     * ARI_FAILED without a canvas. */                                                                        \
    VTSDK_API int P##GetHWPadID(int nDeviceType, char* pPadID, int nMaxCount);                                 \
    /* Firmware text into the caller's buffer; results as GetHWPadID. */                                      \
    VTSDK_API int P##GetHWVersionID(int nDeviceType, char* pVersion, int nMaxCount);                           \
    /* Stroke width follows pressure (true) or the pen width (false). 0 or the driver's error (tablets: 0);    \
     * ARI_FAILED without a canvas. */                                                                        \
    VTSDK_API int P##SetPenStyle(int nDeviceType, bool bPressureOn);                                           \
    /* Pen width 1..10: 0; ARI_INVALID_PARAMETERS outside; ARI_FAILED without a canvas. */                     \
    VTSDK_API int P##SetPenWidth(int nDeviceType, int nPenWidth);                                              \
    /* Key callback (null allowed), on the key-action thread: 0; ARI_FAILED without a canvas. */               \
    VTSDK_API int P##SignatureStatusCallback(int nDeviceType, SignatureStatusCallback pStatus);                \
    /* PADEV_* callback (null: none), called with pContext on driver threads; it must return quickly.         \
     * 0; ARI_FAILED without a canvas. */                                                                     \
    VTSDK_API int P##PadEventCallback(int nDeviceType, PadEventCallback pfnPadEvent, void* pContext);          \
    /* Stored points, stroke ends included; ARI_NO_DATA when none or without a canvas. */                      \
    VTSDK_API int P##GetTotalPacketsNumber(int nDeviceType);                                                   \
    /* One point by pPackets->nIndex: 0; ARI_FAILED outside the ink or without a canvas; -2 null pointer. */    \
    VTSDK_API int P##getPackets(int nDeviceType, _PACKETS* pPackets);                                          \
    /* "yyyy-mm-dd hh:mm:ss.mmm" of a point, free with FreeInkPointTime; null outside the ink or no canvas. */ \
    VTSDK_API char* P##GetInkPointTime(int nDeviceType, int nIndex);                                           \
    /* Release a GetInkPointTime text (null accepted). */                                                      \
    VTSDK_API void P##FreeInkPointTime(int nDeviceType, char* pInkPointTime);                                  \
    /* Save as EBITI_BITMAP/JPG/PNG (format from the path's suffix), PDF or SVG, DPI level 0: 150, else 300.  \
     * 0; ARI_NO_DATA nothing written (no ink, path or suffix unusable); -2 other types; ARI_FAILED no canvas. */ \
    VTSDK_API int P##SaveDrawingImage(int nDeviceType, int nImageTypeID, wchar_t* pImageFilePath, int nDPILevel); \
    /* Crop pictures to the ink plus margins (both 0: cropping off). 0; -2 negative margin; ARI_FAILED no canvas. */ \
    VTSDK_API int P##SetSaveCenterImageClip(int nDeviceType, bool bClipImage, int nClipMarginX, int nClipMarginY); \
    /* One DIID_* item into pOutput: 0; -2 index outside 1..7 or null pOutput; ARI_FAILED without a canvas. */  \
    VTSDK_API int P##getDeviceInfo(int nDeviceType, int nIndex, void* pOutput);                                \
    /* Modal About box in the widget of that window id; nothing when none is found. */                        \
    VTSDK_API void P##AboutBoxByWId(VTSDK_WId wid);                                                            \
    /* Modal About box (only in a widget application). */                                                    \
    VTSDK_API void P##AboutBox(QWidget* pParentWidget);                                                        \
    /* About text into a host buffer of 256 bytes; nothing written for a null buffer. */                       \
    VTSDK_API void P##GetAboutInfo(int nDeviceType, char* pAboutInfo);                                         \
    /* Base64 picture (1..3, PNG transparent) or ink (6), free with PacketsBase64EncodeFree; null for other    \
     * types, without a canvas, without ink (a picture: without ink and fingerprint); empty when a crop finds \
     * no ink pixel. */                                                                                       \
    VTSDK_API char* P##PacketsBase64Encode(int nDeviceType, int nImageTypeID);                                 \
    /* Release a PacketsBase64Encode text (null accepted). */                                                  \
    VTSDK_API void P##PacketsBase64EncodeFree(int nDeviceType, char* pEncodedData);                            \
    /* Image (1..3) to a file in that format, or ink (6) into the decoded points. 0; ARI_NO_DATA image not     \
     * written; -2 other types, null or empty text; ARI_FAILED without a canvas. */                           \
    VTSDK_API int P##Base64Decode(int nDeviceType, int nImageTypeID, const char* pEncodedData, wchar_t* pImageFilePath); \
    /* Decoded points; ARI_NO_DATA when none or without a canvas. */                                          \
    VTSDK_API int P##GetTotalDecodePacketsNumber(int nDeviceType);                                             \
    /* One INKDATATYPE_* value of a decoded point; ARI_NO_DATA nothing decoded; -2 index or type outside;      \
     * ARI_FAILED without a canvas. */                                                                        \
    VTSDK_API int P##GetDecodePacketsData(int nDeviceType, int nIndex, int nTypeID);                           \
    /* Colour of later strokes: 0; ARI_FAILED without a canvas. */                                            \
    VTSDK_API int P##SetPenColor(int nDeviceType, int nR, int nG, int nB);                                     \
    /* Last key touched, 1 confirm, 0 cancel, -1 none (read and clear); ARI_FAILED (-1) without a canvas. */  \
    VTSDK_API int P##GetDeviceConfirmOrCancelKeyStatus(int nDeviceType);                                       \
    /* Base64 of the ink's SVG, also left in "/tmp/ROvAdez.svg", free with FreeSVGImageBase64Data; null       \
     * without ink or canvas, or when the file could not be written. */                                       \
    VTSDK_API char* P##GetSVGImageBase64Data(int nDeviceType);                                                 \
    /* Release a GetSVGImageBase64Data text (null accepted). */                                                \
    VTSDK_API void P##FreeSVGImageBase64Data(int nDeviceType, char* pEncodedData);                             \
    /* Live point callback, on the driver's reader thread: true; false for a null callback or no canvas. */    \
    VTSDK_API bool P##RealTimeSignatureDataCallback(int nDeviceType, RealTimeSignatureDataCallback pfnRealTimeSignDataCallback); \
    /* As PacketsBase64Encode, PNG transparent only when asked and pictures only with ink; free with        \
     * PacketsBase64EncodeExFree. */                                                                          \
    VTSDK_API char* P##PacketsBase64EncodeEx(int nDeviceType, int nImageTypeID, bool bEnableTransparentBackground); \
    /* Release a PacketsBase64EncodeEx text (null accepted). */                                                \
    VTSDK_API void P##PacketsBase64EncodeExFree(int nDeviceType, char* pEncodedData);

/* Pads with a screen and pen id: Q210, Q220, Q230F. */
#define VTSDK_DECLARE_LCD(P)                                                                                   \
    /* Pad screen on/off (off clears the canvas first). The driver's result (0, -1, -7); ARI_FAILED no canvas. */ \
    VTSDK_API int P##OpenLCD(int nDeviceType, bool bOn);                                                       \
    /* Pen id into the caller's buffer; results as GetHWPadID. */                                             \
    VTSDK_API int P##GetHWPenID(int nDeviceType, char* pPenID, int nMaxCount);                                 \
    /* Version screen on/off; results as OpenLCD. */                                                          \
    VTSDK_API int P##DisplayHWVersion(int nDeviceType, bool bOn);

/* Fingerprint pad: Q230F. */
#define VTSDK_DECLARE_FP(P)                                                                                    \
    /* Place the fingerprint: the headless canvas in an off-screen canvas of nCanvasWidth x nCanvasHeight, a  \
     * widget on itself (wid names its parent) or in another window. 0; -2 rectangle outside, no parent;      \
     * ARI_FAILED no canvas, window id not found. */                                                          \
    VTSDK_API int P##SetDisplayedFPImageAtByWId(int nDeviceType, VTSDK_WId wid, int nCanvasWidth, int nCanvasHeight, \
                                                int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight);         \
    /* As SetDisplayedFPImageAtByWId with a widget pointer. */                                                \
    VTSDK_API int P##SetDisplayedFPImageAt(int nDeviceType, QWidget* pParentWidget, int nCanvasWidth, int nCanvasHeight, \
                                           int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight);              \
    /* Base64 picture (1..3) of the placed fingerprint (bFPImageOnly: its rectangle), free with              \
     * FreeFPImageBase64Data; null for other types, without canvas or placement. */                            \
    VTSDK_API char* P##GetFPImageBase64Data(int nDeviceType, int nImageTypeID, bool bFPImageOnly);             \
    /* Release a GetFPImageBase64Data text (null accepted). */                                                 \
    VTSDK_API void P##FreeFPImageBase64Data(int nDeviceType, char* pEncodedData);

VTSDK_DECLARE_BASE(VTQ210_)
VTSDK_DECLARE_LCD(VTQ210_)
VTSDK_DECLARE_BASE(VTQ220_)
VTSDK_DECLARE_LCD(VTQ220_)
VTSDK_DECLARE_BASE(VTQ230F_)
VTSDK_DECLARE_LCD(VTQ230F_)
VTSDK_DECLARE_FP(VTQ230F_)
VTSDK_DECLARE_BASE(RUVU410_)
VTSDK_DECLARE_BASE(ROV420_)

/* Log switch of the SDK, 0 at load. */
extern VTSDK_API unsigned char g_bEnableLog;

#ifdef __cplusplus
}
#endif
#endif
