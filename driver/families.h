// Internal interface between the exported frame (vtinkdrv.cpp) and the USB
// protocol families: hid.cpp (Q210/Q220), fingerprint.cpp (Q230G),
// tablet.cpp (QT410/M420). Each family is one class that overrides what it
// offers; the frame routes every call through the driver model table.
#pragma once

#include "vtinkdrv.h"
#include "vtinkmodels.h"

struct VtLogWriter;
struct libusb_device;

// Process-wide state of the frame; the families' worker threads call these.
extern HWSignDataCallback g_pfnHWSignDataCallback;
extern FPDataCallback g_pfnFPDataCallback;
extern int g_nCurrentActiveDeviceID;

// The callbacks are stored by the interface thread while a worker may
// already run: workers read them through these.
inline HWSignDataCallback VtPenCallback()
{
    return __atomic_load_n(&g_pfnHWSignDataCallback, __ATOMIC_ACQUIRE);
}
inline FPDataCallback VtFPCallback()
{
    return __atomic_load_n(&g_pfnFPDataCallback, __ATOMIC_ACQUIRE);
}

// Where a report decoder's events and log lines go: a reader passes the
// registered pen callback and its thread log; tests pass their own.
struct VtPenSink {
    HWSignDataCallback pfnPen;  // null: decoded and dropped
    VtLogWriter& log;
    void Send(int x, int y, int p, int nEventType) const
    {
        if (pfnPen)
            pfnPen(x, y, p, nEventType);
    }
};

// The pad's screen commands (VTSPDAPI_OpenDeviceLCD ... SetDevicePenStyle).
enum VtPadCommand {
    VT_CMD_SCREEN,          // on / off
    VT_CMD_CLEAR,           // bOn is not used
    VT_CMD_VERSION_SCREEN,  // show / hide
    VT_CMD_PEN_STYLE,       // with / without pressure
    VT_CMD_COUNT
};

// The identification texts (VTSPDAPI_GetDevicePenID ... GetDevicePartsVersion).
enum VtPadText {
    VT_TEXT_PEN_ID,
    VT_TEXT_PAD_ID,
    VT_TEXT_SECURE_ID,
    VT_TEXT_PARTS_VERSION,
    VT_TEXT_COUNT
};

// What one family offers. An operation it does not override answers
// VTSPDART_NOT_AVAILABLE without touching a device.
class FamilyOps {
public:
    // Initialise libusb, open and claim the device, start the worker(s).
    virtual int Connect() = 0;
    // Stop the workers, close the device, release libusb; returns 0.
    virtual int Shutdown() = 0;
    virtual int Command(VtPadCommand, bool /*bOn*/) { return VTSPDART_NOT_AVAILABLE; }
    // pText is not null and nMaxCount at least 32 (checked by the frame).
    virtual int GetText(VtPadText, char* /*pText*/, int /*nMaxCount*/) { return VTSPDART_NOT_AVAILABLE; }
    virtual int ShowFPImage(unsigned char* /*pucImage*/, int /*nSize*/, int /*nWidth*/, int /*nHeight*/,
                            bool* /*pbAbort*/)
    {
        return VTSPDART_NOT_AVAILABLE;
    }
    // Whether a pad this family could connect to is among the n devices of
    // a libusb device list (the pad watcher's look at the bus).
    virtual bool PadAttached(libusb_device* const* /*ppDevices*/, long /*n*/) const { return false; }

protected:
    ~FamilyOps() = default;
};

// The family serving a device id (the driver model table); null when unsupported.
FamilyOps* VtFamilyOf(int nDeviceID);
