#include "padwatch.h"

#include "vtinkdrv.h"
#include "vtlog.h"

#include <atomic>
#include <chrono>
#include <pthread.h>

PadWatch g_padWatch;

namespace {

std::atomic<bool> s_bProbeOnly{false};
std::atomic<int> s_nProbes{0};
const char* const kLabel = "PadWatch()";

}  // namespace

void PadWatch::UseProbeOnly(bool bProbeOnly)
{
    s_bProbeOnly = bProbeOnly;
}

int PadWatch::Probes()
{
    return s_nProbes.load();
}

void PadWatch::Start(FamilyOps* pFamily)
{
    Stop();  // a session that was never ended
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pFamily = pFamily;
    m_bStop = false;
    m_bGone = false;
    m_bAttached = true;
    m_bChanged = false;
    m_bHotplug = false;
    if (!s_bProbeOnly && libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) {
        // No enumeration: the pads attached now are not news.
        const int nResult = libusb_hotplug_register_callback(
            nullptr, (libusb_hotplug_event)(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
            LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
            OnHotplug, this, &m_hHotplug);
        m_bHotplug = nResult == LIBUSB_SUCCESS;
        if (!m_bHotplug)
            VT_LOG(kLabel, "<%ld>-libusb_hotplug_register_callback() failed, nResult=%d: probing once per second",
                   nResult);
    }
    m_thread = std::thread([this] { Run(); });
    pthread_setname_np(m_thread.native_handle(), "vtdrv-padwatch");
}

void PadWatch::Stop()
{
    bool bHotplug;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_thread.joinable())
            return;
        m_bStop = true;
        bHotplug = m_bHotplug;
    }
    m_cond.notify_all();
    if (bHotplug) {
        libusb_hotplug_deregister_callback(nullptr, m_hHotplug);
        libusb_interrupt_event_handler(nullptr);  // ends the thread's wait for events
    }
    m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pFamily = nullptr;
    m_bHotplug = false;
}

void PadWatch::Gone()
{
    std::lock_guard<std::mutex> send(m_sendMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_pFamily || m_bStop || m_bGone)
            return;  // no session, or a second worker of the same pad
        m_bGone = true;
        m_bAttached = false;
    }
    m_cond.notify_all();
    VT_LOG(kLabel, "<%ld>-the pad is gone");
    if (HWSignDataCallback cb = VtPenCallback())
        cb(0, 0, 0, HWET_PAD_GONE);
}

int LIBUSB_CALL PadWatch::OnHotplug(libusb_context*, libusb_device*, libusb_hotplug_event, void* pSelf)
{
    auto* self = static_cast<PadWatch*>(pSelf);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_bChanged = true;
    return 0;  // stay registered
}

bool PadWatch::Attached()
{
    s_nProbes++;
    libusb_device** devs = nullptr;
    const ssize_t n = libusb_get_device_list(nullptr, &devs);
    const bool bAttached = n > 0 && m_pFamily->PadAttached(devs, n);
    if (devs)
        libusb_free_device_list(devs, 1);
    return bAttached;
}

bool PadWatch::Report(bool bAttached)
{
    std::lock_guard<std::mutex> send(m_sendMutex);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_bStop || bAttached == m_bAttached)
            return false;
        m_bAttached = bAttached;
    }
    VT_LOG(kLabel, bAttached ? "<%ld>-the pad is back" : "<%ld>-the pad is gone again");
    if (HWSignDataCallback cb = VtPenCallback())
        cb(0, 0, 0, bAttached ? HWET_PAD_BACK : HWET_PAD_GONE);
    return true;
}

void PadWatch::Run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    // Nothing to do while the pad is there: the reader sees it go.
    m_cond.wait(lock, [this] { return m_bStop || m_bGone; });
    auto lastLook = std::chrono::steady_clock::now();
    while (!m_bStop) {
        if (m_bHotplug) {
            lock.unlock();
            timeval tv{1, 0};
            libusb_handle_events_timeout_completed(nullptr, &tv, nullptr);
            lock.lock();
        } else {
            m_cond.wait_until(lock, lastLook + std::chrono::seconds(1), [this] { return m_bStop; });
        }
        if (m_bStop)
            break;
        // A hotplug event is looked into at once; without one the bus is
        // looked at once per second (an event may have come before the reader
        // noticed the loss).
        const auto now = std::chrono::steady_clock::now();
        if (!m_bChanged && now - lastLook < std::chrono::seconds(1))
            continue;
        m_bChanged = false;
        lastLook = now;
        lock.unlock();
        Report(Attached());
        lock.lock();
    }
}
