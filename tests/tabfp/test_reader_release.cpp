// The shutdown of the pen readers releases their interface to end a pending
// read. A reader caught between its abort check and its next read submits
// that read after the release; the submission claims the interface again and
// the read would wait forever. The shutdown must end that read too.
#include "families.h"
#include "padsim.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace std::chrono_literals;

TEST(ReaderRelease, AReadSubmittedAfterTheReleaseIsEndedToo)
{
    padsim::Bed bed; // before libusb_init
    padsim::Pad& pad = bed.plug(padsim::models::q210());
    ASSERT_EQ(libusb_init(nullptr), LIBUSB_SUCCESS);
    libusb_device_handle* h = libusb_open_device_with_vid_pid(nullptr, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    ASSERT_NE(h, nullptr);
    // Detached by hand (no auto-detach), the release leaves the interface
    // free instead of giving it back to the kernel's driver: this holds open
    // the window between a release and the re-attach.
    if (libusb_kernel_driver_active(h, 0) == 1) {
        ASSERT_EQ(libusb_detach_kernel_driver(h, 0), LIBUSB_SUCCESS);
    }
    ASSERT_EQ(libusb_claim_interface(h, 0), LIBUSB_SUCCESS);
    ASSERT_EQ(libusb_release_interface(h, 0), LIBUSB_SUCCESS); // the shutdown's first release

    std::atomic<unsigned char> inside{1};
    std::atomic<int> result{1};
    std::thread reader([&] {
        unsigned char report[11];
        int n = 0;
        result = libusb_interrupt_transfer(h, 0x81, report, sizeof report, &n, 0);
        inside = 0;
    });
    ASSERT_TRUE(pad.waitForPendingRead(5s));
    EXPECT_EQ(pad.claimedInterfaces(), 1) << "the late read claimed the interface again";

    const bool left = VtReleaseAndWaitReader(h, 0, inside);
    EXPECT_TRUE(left);
    if (!left)
        pad.unplug(); // ends the read, so that the test can finish
    reader.join();
    EXPECT_EQ(result.load(), LIBUSB_ERROR_NO_DEVICE);
    if (left) {
        EXPECT_EQ(pad.claimedInterfaces(), 0);
    }
    libusb_close(h);
    libusb_exit(nullptr);
}
