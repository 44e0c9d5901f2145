#include "usbworker.h"

#include "padwatch.h"
#include "vtinkdrv.h"

#include <pthread.h>
#include <unistd.h>

static std::atomic<int> s_nUsbInits{0};

bool VtUsbDeviceListed(libusb_device* const* ppDevices, long n, uint16_t vendorId, uint16_t productId)
{
    for (long i = 0; i < n; ++i) {
        libusb_device_descriptor desc;
        if (libusb_get_device_descriptor(ppDevices[i], &desc) == 0 && desc.idVendor == vendorId &&
            desc.idProduct == productId)
            return true;
    }
    return false;
}

int VtUsbInit(const char* label)
{
    int nResult = libusb_init(nullptr);
    if (nResult != LIBUSB_SUCCESS) {
        VT_LOG(label, "<%ld>-libusb_init() failed, nResult=%d, err=%s", nResult, libusb_error_name(nResult));
        return VTSPDART_USB_INIT_FAILED;
    }
    s_nUsbInits++;
    return VTSPDART_SUCCESS;
}

void VtUsbExit()
{
    int n = s_nUsbInits.load();
    while (n > 0) {
        if (s_nUsbInits.compare_exchange_weak(n, n - 1)) {
            libusb_exit(nullptr);
            return;
        }
    }
}

int WorkerRun::Read(uint8_t endpoint, uint8_t* pBuffer, int nLength, unsigned nTimeoutMs, int* pnRead)
{
    *pnRead = 0;
    int nResult = libusb_interrupt_transfer(m_h, endpoint, pBuffer, nLength, pnRead, nTimeoutMs);
    // The shutdown's release ends a pending read with the same error: only
    // a worker that was not asked to stop has lost its pad.
    if (nResult == LIBUSB_ERROR_NO_DEVICE && !m_bAbort && !m_bPadGone.exchange(true))
        g_padWatch.Gone();
    return nResult;
}

bool UsbWorker::Running() const
{
    return m_run && m_run->m_bInside;
}

bool UsbWorker::Open(uint16_t vendorId, uint16_t productId)
{
    Adopt(libusb_open_device_with_vid_pid(nullptr, vendorId, productId));
    return m_h != nullptr;
}

void UsbWorker::Adopt(libusb_device_handle* h)
{
    // A new device session: a worker left behind by the last one keeps its
    // run to itself and no longer counts as ours.
    m_run.reset();
    m_h = h;
}

int UsbWorker::Claim(const char* label, int nInterface, const char* failText)
{
    libusb_set_auto_detach_kernel_driver(m_h, 1);
    int nResult = libusb_claim_interface(m_h, nInterface);
    if (nResult != LIBUSB_SUCCESS) {
        VT_LOG(label, failText, nResult, libusb_error_name(nResult));
        return VTSPDART_CLAIM_INTERFACE_FAILED;
    }
    return VTSPDART_SUCCESS;
}

namespace {

struct Launch {
    std::function<void(WorkerRun&)> body;
    std::shared_ptr<WorkerRun> run;
};

}  // namespace

void* UsbWorker::Entry(void* arg)
{
    std::unique_ptr<Launch> launch(static_cast<Launch*>(arg));
    launch->body(*launch->run);
    launch->run->m_bInside = 0;
    return nullptr;
}

int UsbWorker::Start(const char* label, std::function<void(WorkerRun&)> body, const char* failText)
{
    // Workers are stopped through their abort flag and never joined.
    auto run = std::make_shared<WorkerRun>(m_h);
    auto* launch = new Launch{std::move(body), run};
    pthread_t thread;
    int nResult = pthread_create(&thread, nullptr, Entry, launch);
    if (nResult != 0) {
        delete launch;
        VT_LOG(label, failText, nResult);
        return VTSPDART_THREAD_CREATE_FAILED;
    }
    pthread_setname_np(thread, "vtdrv-worker");  // as tools show it; else it has its creator's name
    pthread_detach(thread);
    m_run = std::move(run);
    return VTSPDART_SUCCESS;
}

void UsbWorker::RequestStop()
{
    if (m_run)
        m_run->m_bAbort = 1;
}

bool UsbWorker::Stop(const char* label, const char* goneText, int nReleaseInterface,
                     const std::function<void()>& afterRelease)
{
    RequestStop();
    if (!m_h)
        return !Running();
    if (nReleaseInterface >= 0)
        libusb_release_interface(m_h, nReleaseInterface);
    if (afterRelease)
        afterRelease();
    for (int i = 0; i < 1000 && Running(); ++i) {
        if (nReleaseInterface >= 0 && i % 50 == 49 &&
            libusb_claim_interface(m_h, nReleaseInterface) == LIBUSB_SUCCESS)
            libusb_release_interface(m_h, nReleaseInterface);
        usleep(1000);
    }
    if (Running())
        return false;
    if (goneText)
        VT_LOG(label, goneText);
    return true;
}

bool UsbWorker::Close(const char* label)
{
    const bool bLeft = !Running();
    if (m_h) {
        if (bLeft)
            libusb_close(m_h);
        else
            VT_LOG(label, "<%ld>-reader still inside after 1000 ms, handle left open !");
    }
    m_h = nullptr;
    return bLeft;
}
