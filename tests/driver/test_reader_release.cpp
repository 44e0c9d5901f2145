// The worker stop every family uses. It releases the worker's interface to
// end a pending read. A reader caught between its abort check and its next
// read submits that read after the release; the submission claims the
// interface again and the read would wait forever: the stop must end that
// read too. And a worker that does not leave in time keeps its handle.
#include "../common/timescale.h"
#include "padsim.h"
#include "usbworker.h"
#include "vtinkdrv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

const char* kLog = "/tmp/vtinkdrv_test_worker.log";  // written only with the log switch on
const char* kStartFailed = "<%ld>-pthread_create() failed, nResult=%d\n";

// Opens the emulated Q210 with libusb, interface 0 detached by hand (no
// auto-detach): a release then leaves the interface free instead of giving
// it back to the kernel's driver, which holds open the window between a
// release and the re-attach.
libusb_device_handle* openPad()
{
    libusb_device_handle* h = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    if (h && libusb_kernel_driver_active(h, 0) == 1) {
        EXPECT_EQ(libusb_detach_kernel_driver(h, 0), LIBUSB_SUCCESS);
    }
    return h;
}

// A gate a worker waits at, with a deadline, ignoring its abort flag.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false, passed = false;
    bool wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lk(lock);
        return changed.wait_for(lk, vttest::Scaled(timeout), [&] { return open; });
    }
    void set(bool& flag)
    {
        std::lock_guard<std::mutex> g(lock);
        flag = true;
        changed.notify_all();
    }
    bool waitPassed(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lk(lock);
        return changed.wait_for(lk, vttest::Scaled(timeout), [&] { return passed; });
    }
};

}  // namespace

TEST(ReaderRelease, AReadSubmittedAfterTheReleaseIsEndedToo)
{
    padsim::Bed bed;  // before libusb_init
    padsim::Pad& pad = bed.plug(padsim::models::q210());
    ASSERT_EQ(libusb_init(nullptr), LIBUSB_SUCCESS);
    libusb_device_handle* h = openPad();
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    ASSERT_EQ(libusb_release_interface(h, 0), LIBUSB_SUCCESS);  // the shutdown's first release

    UsbWorker worker(kLog);
    worker.Adopt(h);
    std::atomic<int> result{1};
    ASSERT_EQ(worker.Start("test", [&](WorkerRun& run) {
        uint8_t report[11];
        int n = 0;
        result = run.Read(0x81, report, sizeof report, 0, &n);
    }, kStartFailed), VTSPDART_SUCCESS);
    ASSERT_TRUE(pad.waitForPendingRead(5s));
    EXPECT_EQ(pad.claimedInterfaces(), 1) << "the late read claimed the interface again";

    const bool left = worker.Stop("test", nullptr, 0);
    EXPECT_TRUE(left);
    if (!left) {
        pad.unplug();  // ends the read, so that the test can finish
        for (int i = 0; i < 5000 && worker.Running(); ++i)
            std::this_thread::sleep_for(1ms);  // poll interval
    }
    EXPECT_EQ(result.load(), LIBUSB_ERROR_NO_DEVICE);
    if (left) {
        EXPECT_EQ(pad.claimedInterfaces(), 0);
    }
    EXPECT_TRUE(worker.Close("test"));
    EXPECT_EQ(worker.Handle(), nullptr);
    libusb_exit(nullptr);
}

TEST(ReaderRelease, AWorkerThatStaysInsideKeepsItsHandleAndItsAbortFlag)
{
    padsim::Bed bed;
    padsim::Pad& pad = bed.plug(padsim::models::q210());
    pad.setPadId("PAD0000001");
    ASSERT_EQ(libusb_init(nullptr), LIBUSB_SUCCESS);
    libusb_device_handle* h = openPad();
    ASSERT_NE(h, nullptr);

    // A worker held up past the stop's wait (as by a pen callback that
    // blocks), which then goes on with its handle.
    UsbWorker worker(kLog);
    worker.Adopt(h);
    ASSERT_EQ(worker.Claim("test", 0, "<%ld>-claim failed, nResult=%d, err=%s"), VTSPDART_SUCCESS);
    Gate gate;
    std::atomic<int> lateRequest{1};
    std::atomic<bool> sawAbort{false};
    ASSERT_EQ(worker.Start("test", [&](WorkerRun& run) {
        gate.wait(20s);
        uint8_t reply[11] = {};
        lateRequest = libusb_control_transfer(run.Handle(), 0xA1, 0x01, 0x0307, 0, reply, sizeof reply, 1000);
        sawAbort = run.Aborted();
        gate.set(gate.passed);
    }, kStartFailed), VTSPDART_SUCCESS);

    EXPECT_FALSE(worker.Stop("test", nullptr, 0)) << "the worker left";
    EXPECT_FALSE(worker.Close("test")) << "closed under a running worker: the family would also exit libusb";
    EXPECT_EQ(worker.Handle(), nullptr);
    EXPECT_TRUE(worker.Running());

    // The next connect starts a new run on the same worker, which must not
    // clear the late worker's abort flag.
    libusb_device_handle* h2 = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    ASSERT_NE(h2, nullptr);
    worker.Adopt(h2);
    ASSERT_EQ(worker.Start("test", [](WorkerRun& run) {
        while (!run.Aborted())
            std::this_thread::sleep_for(1ms);  // poll interval
    }, kStartFailed), VTSPDART_SUCCESS);

    gate.set(gate.open);
    ASSERT_TRUE(gate.waitPassed(20s));
    EXPECT_GE(lateRequest.load(), 0) << "the left handle no longer works";
    EXPECT_TRUE(sawAbort.load());

    EXPECT_TRUE(worker.Stop("test", nullptr));
    EXPECT_TRUE(worker.Close("test"));
    libusb_release_interface(h, 0);
    libusb_close(h);  // what the late worker was left
    libusb_exit(nullptr);
}
