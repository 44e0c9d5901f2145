// Whether the open pad is still attached. The worker whose read finds the
// device gone reports it (HWET_PAD_GONE, on that worker's thread). From then
// on, until the device session ends, the watcher thread reports the pad
// coming back (HWET_PAD_BACK) and going again. It learns of changes from
// libusb's hotplug events where the platform has them, and looks at the bus
// at most once per second besides; while the pad is attached it sleeps.
#pragma once

#include "families.h"
#include "monocond.h"

#include <libusb.h>

#include <mutex>
#include <thread>

class PadWatch {
public:
    // A session of pFamily begins (its connect succeeded; libusb is up).
    void Start(FamilyOps* pFamily);
    // The session ends; called before the family shuts libusb down.
    void Stop();
    // A worker's read found the device gone (any worker thread).
    void Gone();

    // Tests: look at the bus once per second even where hotplug events exist.
    static void UseProbeOnly(bool bProbeOnly);
    // Tests: how often the bus was looked at in this process.
    static int Probes();

private:
    void Run();
    static int LIBUSB_CALL OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* pSelf);
    bool Attached();
    // Reports a change of state through the pen callback; false when it is no change.
    bool Report(bool bAttached);

    std::mutex m_sendMutex; // one report at a time, in the order the states changed
    std::mutex m_mutex;     // the fields below
    VtMonoCond m_cond;
    FamilyOps* m_pFamily = nullptr; // null: no session
    bool m_bStop = false;
    bool m_bGone = false;           // the reader lost the pad: watch the bus
    bool m_bAttached = true;        // as last reported
    bool m_bChanged = false;        // a hotplug event came since the last look
    bool m_bHotplug = false;
    libusb_hotplug_callback_handle m_hHotplug = 0;
    std::thread m_thread;
};

extern PadWatch g_padWatch;
