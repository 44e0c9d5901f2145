// One USB device served by a worker thread, as every family uses it: the
// steps of a connect (libusb init, open, claim, start the worker) with their
// result codes, and the stop (abort, release, bounded wait) with one policy
// for a worker that does not leave in time.
#pragma once

#include "vtlog.h"

#include <libusb.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// libusb's default context is process-global: every family connect goes
// through these so that libusb_exit never runs more often than libusb_init
// succeeded (a failed connect is followed by a shutdown that releases it).
// VtUsbInit returns 0, or logs the failure under label and returns
// VTSPDART_USB_INIT_FAILED.
int VtUsbInit(const char* label);
void VtUsbExit();  // libusb_exit(NULL) only when an init is outstanding
// Whether a device with these ids is among the n devices of a device list.
bool VtUsbDeviceListed(libusb_device* const* ppDevices, long n, uint16_t vendorId, uint16_t productId);

// What one started worker thread reads with and is stopped by. A worker
// that outlives its stop keeps its run (and the handle in it) to itself: the
// next connect starts a new run, so the late worker never sees a cleared
// abort flag or a newer handle.
class WorkerRun {
public:
    explicit WorkerRun(libusb_device_handle* h) : m_h(h) {}
    libusb_device_handle* Handle() const { return m_h; }
    bool Aborted() const { return m_bAbort != 0; }
    // True once a read found the pad gone.
    bool PadGone() const { return m_bPadGone; }

    // Every read of a worker: one interrupt transfer from endpoint, libusb's
    // result. The one place where a worker learns that its pad was unplugged,
    // which it tells the pad watcher.
    int Read(uint8_t endpoint, uint8_t* pBuffer, int nLength, unsigned nTimeoutMs, int* pnRead);

private:
    friend class UsbWorker;
    libusb_device_handle* const m_h;
    std::atomic<unsigned char> m_bAbort{0};
    std::atomic<unsigned char> m_bInside{1};  // raised before the thread exists
    std::atomic<bool> m_bPadGone{false};
};

class UsbWorker {
public:
    explicit UsbWorker(const char* threadLogFile) : m_log(threadLogFile) {}
    UsbWorker(const UsbWorker&) = delete;
    UsbWorker& operator=(const UsbWorker&) = delete;

    libusb_device_handle* Handle() const { return m_h; }
    VtLogWriter& Log() { return m_log; }  // the worker's thread log
    bool Running() const;                 // the worker of this device session is inside

    // ---- connect steps
    // libusb_open_device_with_vid_pid; false when no such device is attached.
    bool Open(uint16_t vendorId, uint16_t productId);
    // A handle the family opened itself (the tablets' search).
    void Adopt(libusb_device_handle* h);
    // Automatic kernel-driver detach, then claim nInterface. 0, or logs
    // failText (nResult, err) under label and returns VTSPDART_CLAIM_INTERFACE_FAILED.
    int Claim(const char* label, int nInterface, const char* failText);
    // Starts body on a detached thread with a new run. 0, or logs failText
    // (nResult) under label and returns VTSPDART_THREAD_CREATE_FAILED.
    int Start(const char* label, std::function<void(WorkerRun&)> body, const char* failText);

    // ---- stop
    // Raises the current worker's abort flag.
    void RequestStop();
    // Raises the abort flag and waits up to 1000 ms (1 ms polls) for the
    // worker to leave; logs goneText under label when it has. With
    // nReleaseInterface >= 0 that interface is released first, which ends a
    // read without timeout, and afterRelease runs next. A read submitted after
    // the release claims the interface again, so while the worker stays inside
    // the interface is claimed and released again every 50 ms, which ends that
    // read too. True when the worker left (or none ran); with no handle it
    // only raises the flag.
    bool Stop(const char* label, const char* goneText, int nReleaseInterface = -1,
              const std::function<void()>& afterRelease = nullptr);
    // Closes the handle, unless the worker is still inside: closing would
    // free what its read works with, so it keeps the handle and libusb (logged
    // under label). Returns false then, and the family must not exit libusb.
    bool Close(const char* label);

private:
    static void* Entry(void* launch);
    libusb_device_handle* m_h = nullptr;
    std::shared_ptr<WorkerRun> m_run;
    VtLogWriter m_log;
};
