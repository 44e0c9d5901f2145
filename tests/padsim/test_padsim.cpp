// The emulator itself, seen through plain libusb in this process and through
// the driver in child processes.
#include "drvtest.h"

#include "vtinkmodels.h"

#include <libusb.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <cstring>
#include <thread>

namespace {

class Usb : public ::testing::Test {
protected:
    void SetUp() override
    {
        unplugAll();
        ASSERT_EQ(libusb_init(&ctx), 0);
    }
    void TearDown() override
    {
        if (h)
            libusb_close(h);
        libusb_exit(ctx);
        unplugAll();
    }
    libusb_device_handle* open()
    {
        return libusb_open_device_with_vid_pid(ctx, PAD_USB_VENDOR_ID, SIGN_PAD_PRODUCT_ID);
    }
    libusb_context* ctx = nullptr;
    libusb_device_handle* h = nullptr;
};

TEST_F(Usb, DescriptorsAndStringsAreTheModels)
{
    bed().plug(padsim::models::q210());
    h = open();
    ASSERT_TRUE(h);
    libusb_device_descriptor dd{};
    ASSERT_EQ(libusb_get_device_descriptor(libusb_get_device(h), &dd), 0);
    EXPECT_EQ(dd.idVendor, PAD_USB_VENDOR_ID);
    EXPECT_EQ(dd.idProduct, SIGN_PAD_PRODUCT_ID);
    libusb_config_descriptor* cfg = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(libusb_get_device(h), &cfg), 0);
    ASSERT_EQ(cfg->bNumInterfaces, 1);
    const libusb_interface_descriptor& itf = cfg->interface[0].altsetting[0];
    EXPECT_EQ(itf.bInterfaceClass, LIBUSB_CLASS_HID);
    ASSERT_EQ(itf.bNumEndpoints, 2);
    EXPECT_EQ(itf.endpoint[0].bEndpointAddress, 0x81);
    EXPECT_EQ(itf.endpoint[1].bEndpointAddress, 0x01);
    libusb_free_config_descriptor(cfg);
    unsigned char s[64];
    ASSERT_GT(libusb_get_string_descriptor_ascii(h, dd.iProduct, s, sizeof s), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(s), "Q210 Signature Pad");
    ASSERT_GT(libusb_get_string_descriptor_ascii(h, dd.iManufacturer, s, sizeof s), 0);
    EXPECT_STREQ(reinterpret_cast<char*>(s), "DIVuziDad");
}

TEST_F(Usb, KernelDriverMustBeDetachedAndComesBackOnRelease)
{
    bed().plug(padsim::models::q220());
    h = open();
    ASSERT_TRUE(h);
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 1);
    EXPECT_EQ(libusb_claim_interface(h, 0), LIBUSB_ERROR_BUSY);
    libusb_set_auto_detach_kernel_driver(h, 1);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 0);
    EXPECT_EQ(libusb_release_interface(h, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(h, 0), 1);
}

TEST_F(Usb, StandardRequestsAreHarmless)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    h = open();
    ASSERT_TRUE(h);
    libusb_set_auto_detach_kernel_driver(h, 1);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    EXPECT_EQ(libusb_set_interface_alt_setting(h, 0, 0), 0);
    EXPECT_EQ(libusb_clear_halt(h, 0x81), 0);
    unsigned char status[2] = {0xff, 0xff};
    EXPECT_EQ(libusb_control_transfer(h, 0x80, 0x00, 0, 0, status, 2, 5000), 2);  // GET_STATUS
    EXPECT_TRUE(pad.received().empty()) << "standard requests are not the pad's commands";
    // the pad still reads afterwards
    pad.penDown(1, 2, 3);
    unsigned char buf[11];
    int n = 0;
    EXPECT_EQ(libusb_interrupt_transfer(h, 0x81, buf, sizeof buf, &n, 5000), 0);
}

TEST_F(Usb, ClaimOfAClosedClientIsForgotten)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    libusb_device_handle* first = open();
    ASSERT_TRUE(first);
    libusb_set_auto_detach_kernel_driver(first, 1);
    ASSERT_EQ(libusb_claim_interface(first, 0), 0);
    libusb_close(first);  // no release
    h = open();
    ASSERT_TRUE(h);
    libusb_set_auto_detach_kernel_driver(h, 1);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    EXPECT_EQ(pad.claimedInterfaces(), 1);
    // and its reports reach the new client
    pad.penDown(1, 2, 3);
    unsigned char buf[11];
    int n = 0;
    ASSERT_EQ(libusb_interrupt_transfer(h, 0x81, buf, sizeof buf, &n, 5000), 0);
    EXPECT_EQ(n, 11);
}

TEST_F(Usb, ReportsAndControlRequests)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    h = open();
    ASSERT_TRUE(h);
    libusb_set_auto_detach_kernel_driver(h, 1);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);

    // a report longer than the read buffer is an overflow, not cut short
    pad.penDown(1, 2, 3);
    unsigned char small[8];
    int n = 0;
    EXPECT_EQ(libusb_interrupt_transfer(h, 0x81, small, sizeof small, &n, 5000), LIBUSB_ERROR_OVERFLOW);
    // raw bytes come as they are
    pad.sendRaw(0x81, {1, 2, 3});
    unsigned char buf[16];
    ASSERT_EQ(libusb_interrupt_transfer(h, 0x81, buf, sizeof buf, &n, 5000), 0);
    EXPECT_EQ(padsim::Bytes(buf, buf + n), (padsim::Bytes{1, 2, 3}));

    // OUT transfers and SET_REPORT are logged with their bytes
    unsigned char cmd[9] = {2, 0x80};
    uint64_t since = pad.nextSeq();
    EXPECT_EQ(libusb_control_transfer(h, 0x21, 0x09, 0x0302, 0, cmd, 9, 5000), 9);
    auto t = pad.waitForControl(padsim::isSetReport(0x80), 2s, since);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->data, padsim::Bytes(cmd, cmd + 9));
    unsigned char out[4] = {9, 8, 7, 6};
    ASSERT_EQ(libusb_interrupt_transfer(h, 0x01, out, sizeof out, &n, 5000), 0);
    t = pad.waitForControl(padsim::isOut(0x01), 2s, since);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->data, padsim::Bytes(out, out + 4));

    // GET_REPORT: length byte + text for the pen id, cut to the length asked
    pad.setPenId("PEN-123456");
    unsigned char reply[33];
    EXPECT_EQ(libusb_control_transfer(h, 0xA1, 0x01, 0x0303, 0, reply, 33, 5000), 11);
    EXPECT_EQ(reply[0], 10);
    EXPECT_EQ(libusb_control_transfer(h, 0xA1, 0x01, 0x0303, 0, reply, 4, 5000), 4);
    // an unknown report and a stalled request fail
    EXPECT_EQ(libusb_control_transfer(h, 0xA1, 0x01, 0x0309, 0, reply, 8, 5000), LIBUSB_ERROR_PIPE);
    pad.setStall([](const padsim::ControlRequest& s) { return s.bRequest == 0x09; });
    EXPECT_EQ(libusb_control_transfer(h, 0x21, 0x09, 0x0302, 0, cmd, 9, 5000), LIBUSB_ERROR_PIPE);
}

TEST_F(Usb, UnplugFailsThePendingReadAndReplugIsAnnounced)
{
    // Linux builds of libusb always have it: without, the setup is broken
    ASSERT_TRUE(libusb_has_capability(LIBUSB_CAP_HAS_HOTPLUG)) << "libusb without hotplug";
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    std::mutex m;
    std::condition_variable cv;
    std::vector<int> seen;
    libusb_hotplug_callback_handle cb;
    auto onHotplug = [](libusb_context*, libusb_device*, libusb_hotplug_event e, void* user) -> int {
        auto* s = static_cast<std::pair<std::mutex*, std::pair<std::condition_variable*, std::vector<int>*>>*>(user);
        std::lock_guard<std::mutex> g(*s->first);
        s->second.second->push_back((int)e);
        s->second.first->notify_all();
        return 0;
    };
    std::pair<std::mutex*, std::pair<std::condition_variable*, std::vector<int>*>> state{&m, {&cv, &seen}};
    ASSERT_EQ(libusb_hotplug_register_callback(
                  ctx, (libusb_hotplug_event)(LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT),
                  LIBUSB_HOTPLUG_NO_FLAGS, PAD_USB_VENDOR_ID, LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY,
                  onHotplug, &state, &cb),
              0);
    std::atomic<bool> stop{false};
    std::thread events([&] {
        while (!stop) {
            timeval tv{0, 50000};
            libusb_handle_events_timeout_completed(ctx, &tv, nullptr);
        }
    });

    h = open();
    ASSERT_TRUE(h);
    libusb_set_auto_detach_kernel_driver(h, 1);
    ASSERT_EQ(libusb_claim_interface(h, 0), 0);
    std::atomic<int> readResult{1};
    std::thread reader([&] {
        unsigned char buf[11];
        int n = 0;
        readResult = libusb_interrupt_transfer(h, 0x81, buf, sizeof buf, &n, 0);
    });
    ASSERT_TRUE(pad.waitForPendingRead(5s));
    {
        // libusb was up before the plug: its arrival comes first
        std::unique_lock<std::mutex> lk(m);
        EXPECT_TRUE(cv.wait_for(lk, 5s, [&] { return !seen.empty(); }));
        EXPECT_EQ(seen, std::vector<int>{LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
        seen.clear();
    }
    pad.unplug();
    reader.join();  // the unplug must end the read
    EXPECT_EQ(readResult, LIBUSB_ERROR_NO_DEVICE);
    {
        std::unique_lock<std::mutex> lk(m);
        EXPECT_TRUE(cv.wait_for(lk, 5s, [&] { return !seen.empty(); }));
        EXPECT_EQ(seen, std::vector<int>{LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT});
        seen.clear();
    }
    EXPECT_FALSE(open());
    pad.replug();
    {
        std::unique_lock<std::mutex> lk(m);
        EXPECT_TRUE(cv.wait_for(lk, 5s, [&] { return !seen.empty(); }));
        EXPECT_EQ(seen, std::vector<int>{LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED});
    }
    libusb_device_handle* again = open();
    EXPECT_TRUE(again);
    if (again)
        libusb_close(again);
    stop = true;
    libusb_hotplug_deregister_callback(ctx, cb);
    events.join();
}

// ---- reports as the pads build them ----------------------------------------------

padsim::Bytes unmask(const padsim::Bytes& r)
{
    padsim::Bytes p = r;
    for (size_t i = 1; i <= 10; ++i)
        p[i] = r[i] ^ r[9];
    return p;
}

TEST(HidReports, MaskedLayoutForcedAndSeededMasks)
{
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    pad.unplug();
    padsim::PenInput in{padsim::PenInput::Confirm, 0x1234, 0xfedc, 0x0321};
    pad.forceMask(0xa7);
    padsim::Bytes r = pad.model().penReport(pad, in);
    ASSERT_EQ(r.size(), 11u);
    EXPECT_EQ(r[9], 0xa7);
    padsim::Bytes plain = unmask(r);
    EXPECT_EQ(padsim::Bytes(plain.begin() + 1, plain.begin() + 10),
              (padsim::Bytes{0x34, 0x12, 0xdc, 0xfe, 0x21, 0x03, 2, 0, 0}));

    pad.forceMask(std::nullopt);
    auto series = [&] {
        pad.seed(42);
        std::vector<padsim::Bytes> v;
        for (int i = 0; i < 20; ++i)
            v.push_back(pad.model().penReport(pad, {padsim::PenInput::Contact, 1, 2, 3}));
        return v;
    };
    auto a = series(), b = series();
    EXPECT_EQ(a, b) << "same seed, same reports";
    std::set<uint8_t> masks;
    for (auto& r2 : a) {
        masks.insert(r2[9]);
        padsim::Bytes p = unmask(r2);
        EXPECT_EQ(padsim::Bytes(p.begin() + 1, p.begin() + 10),
                  (padsim::Bytes{1, 0, 2, 0, 3, 0, 0, 0, 0}));
    }
    EXPECT_GT(masks.size(), 10u) << "masks do not vary";
}

TEST(Models, RegistryKnowsTheHidPads)
{
    auto names = padsim::models::names();
    EXPECT_NE(std::find(names.begin(), names.end(), "q210"), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), "q220"), names.end());
    EXPECT_EQ(padsim::models::byName("nope"), nullptr);
    for (const std::string& n : padsim::models::withFeatures(padsim::HAS_LCD | padsim::HID_REQUESTS))
        EXPECT_TRUE(padsim::models::byName(n)->features & padsim::HID_REQUESTS) << n;
}

TEST(Environment, ChildGetsTheBedAndThePreloadAfterASanitizerRuntime)
{
    const char* old = getenv("LD_PRELOAD");
    std::string saved = old ? old : "";
    setenv("LD_PRELOAD", "/usr/lib/libfoo.so:/usr/lib/gcc/libasan.so.8", 1);
    auto env = bed().childEnvironment();
    setenv("LD_PRELOAD", saved.c_str(), 1);
    ASSERT_EQ(env.size(), 2u);
    EXPECT_EQ(env[0], "UMOCKDEV_DIR=" + bed().rootDir());
    EXPECT_EQ(env[1], "LD_PRELOAD=/usr/lib/gcc/libasan.so.8:libumockdev-preload.so.0:/usr/lib/libfoo.so");
}

// ---- another process -----------------------------------------------------------------

// Strokes once the child's reader waits for input.
void strokeWhenRead(padsim::Pad& pad, std::vector<padsim::Pad::Point> pts)
{
    if (pad.waitForPendingRead(20s, pad.model().penDevice, pad.model().penEndpoint))
        pad.stroke(pts);
}

TEST(CrossProcess, ChildDrivesThePadThroughTheDriver)
{
    unplugAll();
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    std::thread feeder(strokeWhenRead, std::ref(pad), std::vector<padsim::Pad::Point>{{11, 22, 33}, {44, 55, 66}});
    int rc = bed().run({"./drv_child", "2", "VTQ210L12", "11,22,33", "44,55,66"}, 60s);
    feeder.join();
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(pad.waitForControl(padsim::isGetReport(5), 0ms)) << "the child's request did not reach this pad";
    EXPECT_EQ(pad.claimedInterfaces(), 0) << "the child's claim outlived it";

    // the child does check: a wrong firmware text fails it
    pad.setPartsVersion("VTQ999");
    EXPECT_EQ(bed().run({"./drv_child", "2", "VTQ210L12", "1,2,3"}, 60s), 11);
    unplugAll();
}

TEST(CrossProcess, AKilledClientLeavesNoClaimOrReadBehind)
{
    unplugAll();
    padsim::Pad& pad = bed().plug(padsim::models::q210());
    padsim::Child child = bed().start({"./drv_child", "2", "VTQ210L12", "1,1,1"});
    ASSERT_TRUE(pad.waitForPendingRead(20s));
    EXPECT_EQ(pad.claimedInterfaces(), 1);
    child.kill(SIGKILL);
    EXPECT_EQ(child.wait(20s), 128 + SIGKILL);

    // this process now gets the interface and every report
    Driver& drv = Driver::get();
    Events::clear();
    ASSERT_EQ(drv.Initial(VTQ210_DEVICE, Events::callback, nullptr), VTSPDART_SUCCESS);
    pad.penDown(5, 6, 7);
    auto ev = Events::waitFor(1);
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0], (PenEvent{5, 6, 7, HWET_PEN_DOWN}));
    EXPECT_EQ(drv.UnInitial(), VTSPDART_SUCCESS);
    unplugAll();
}

TEST(CrossProcess, HostProgramPlugsRunsAndForwardsCommands)
{
    padsim::Child host = bed().start({"./padsim-host", "--model", "q220", "--", "./drv_child", "5", "VTQ220L15",
                                      "100,200,300", "101,201,301"},
                                     true);
    ASSERT_GT(host.pid(), 0);
    const char* cmds = "waitread 20000\nstroke 100,200,300 101,201,301\n";
    ASSERT_EQ(write(host.stdinFd(), cmds, strlen(cmds)), (ssize_t)strlen(cmds));
    EXPECT_EQ(host.wait(60s), 0);

    // commands over a loopback connection; the port comes on its stdout
    padsim::Child listening = bed().start({"./padsim-host", "--model", "q210", "--listen", "0", "--", "./drv_child",
                                           "2", "VTQ210L12", "7,8,9"},
                                          false, true);
    FILE* out = fdopen(dup(listening.stdoutFd()), "r");
    ASSERT_TRUE(out);
    int port = 0;
    char line[256];
    while (!port && fgets(line, sizeof line, out))  // ends at the latest when the host does
        sscanf(line, "padsim-host: listening %d", &port);
    fclose(out);
    ASSERT_GT(port, 0);
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons((uint16_t)port);
    ASSERT_EQ(connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const char* cmds2 = "waitread 20000\nstroke 7,8,9\n";
    ASSERT_EQ(write(s, cmds2, strlen(cmds2)), (ssize_t)strlen(cmds2));
    EXPECT_EQ(listening.wait(60s), 0);
    close(s);

    // its exit code is the program's
    padsim::Child failing = bed().start({"./padsim-host", "--model", "q210", "--", "./drv_child", "2", "WRONG", "1,1,1"});
    EXPECT_EQ(failing.wait(60s), 11);
}

}  // namespace
