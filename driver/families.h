// Internal interface between the exported frame (vtinkdrv.cpp) and the USB
// protocol families: hid.cpp (Q210/Q220), fingerprint.cpp (Q230G),
// tablet.cpp (QT410/M420).
#pragma once

#include "vtinkdrv.h"
#include "vtinkmodels.h"

#include <libusb.h>
#include <pthread.h>

#include <atomic>

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

// libusb's default context is process-global: every family connect goes
// through these so that libusb_exit never runs more often than libusb_init
// succeeded (a failed connect is followed by a shutdown that releases it).
int VtUsbInit();   // libusb_init(NULL) result; counts only successes
void VtUsbExit();  // libusb_exit(NULL) only when an init is outstanding

// Q210/Q220 HID pad.
int IsUSBDeviceConnected_Q210_220();
int ShutdownUSBDevice_Q210_220();
int OpenDeviceLCD_Q210_220(bool bOn);
int ClearDeviceContent_Q210_220();
int ShowVersionInfoOnDevice_Q210_220(bool bShow);
int SetDevicePenStyle_Q210_220(bool bWithPressureValue);
int GetDevicePenID_Q210_220(char* pPenID, int nMaxCount);
int GetDeviceSecureID_Q210_220(char* pSecureID, int nMaxCount);
int GetDevicePartsVersion_Q210_220(char* pVersion, int nMaxCount);
int GetDevicePadID_Q210_220(char* pPadID, int nMaxCount);

// The HID pad's control and identification requests on any handle: the
// Q230G's pen device answers the same ones. label names the caller in the log.
int HidPadSendCommand(libusb_device_handle* h, unsigned char ucCommand, const char* label);
int HidPadReadText(libusb_device_handle* h, int nReportID, char* pText, int nMaxCount, const char* label);
// The HID pad's pen state table (0 contact, 1 cancel, 2 confirm, 3 lifted):
// updates the reader's pen-up flag, logs into the reader's log and calls the
// pen callback.
struct VtLogWriter;
void HidPadApplyState(int nState, int x, int y, int p, unsigned char* pbPenUp, VtLogWriter& log, const char* label);

// Q230G fingerprint pad (device id VTQ230F_DEVICE).
int IsUSBDeviceConnected_Q230G();
int ShutdownUSBDevice_Q230G();
int OpenDeviceLCD_Q230G(bool bOn);
int ClearDeviceContent_Q230G();
int ShowVersionInfoOnDevice_Q230G(bool bShow);
int SetDevicePenStyle_Q230G(bool bWithPressureValue);
int GetDevicePenID_Q230G(char* pPenID, int nMaxCount);
int GetDeviceSecureID_Q230G(char* pSecureID, int nMaxCount);
int GetDevicePartsVersion_Q230G(char* pVersion, int nMaxCount);
int GetDevicePadID_Q230G(char* pPadID, int nMaxCount);
int DisplayImageOnDevice_Q230G_FP(unsigned char* pucImage, int nSize, int nWidth, int nHeight, bool* pbAbort);

// QT410 and M420 tablets.
int IsUSBDeviceConnected_QT410();
int ShutdownUSBDevice_QT410();
int ClearDeviceContent_QT410();
int GetDevicePadID_QT410(char* pPadID, int nMaxCount);
int GetDevicePartsVersion_QT410(char* pVersion, int nMaxCount);
int IsUSBDeviceConnected_M420();
int ShutdownUSBDevice_M420();
int ClearDeviceContent_M420();
int GetDevicePadID_M420(char* pPadID, int nMaxCount);
int GetDevicePartsVersion_M420(char* pVersion, int nMaxCount);

// Ends a reader's pending read by releasing its interface and waits up to
// 1000 ms (1 ms polls) for the reader to leave. A reader caught between its
// abort check and its next read submits that read after the release, and the
// submission claims the interface again; so while it stays inside, the
// interface is claimed and released again every 50 ms, which ends that read
// too. True when the reader left.
bool VtReleaseAndWaitReader(libusb_device_handle* h, int nInterface, const std::atomic<unsigned char>& bInside);

// Starts a family's worker thread, detached: workers are stopped through
// their abort flag and never joined. The inside flag is raised before the
// thread exists, so that a shutdown right after the connect waits for it.
// Returns pthread_create's result.
inline int VtStartWorker(pthread_t* pThreadID, void* (*body)(void*), void* arg, std::atomic<unsigned char>& bInside)
{
    bInside = 1;
    int nResult = pthread_create(pThreadID, nullptr, body, arg);
    if (nResult != 0) {
        bInside = 0;
        return nResult;
    }
    pthread_detach(*pThreadID);
    return 0;
}
