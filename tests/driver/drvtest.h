// Shared pieces of the driver tests: the driver loaded as the SDK loads it,
// a recorder for pen events, and the one testbed of the process.
#pragma once

#include "padsim.h"
#include "vtinkdrv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

using namespace std::chrono_literals;

// "./libvtinkdrv.so" opened with dlopen, every export resolved by name.
struct Driver {
    void* lib = nullptr;
    unsigned char* enableLog = nullptr;
    bool (*IsTheDeviceIDSupported)(int) = nullptr;
    int (*Initial)(int, HWSignDataCallback, FPDataCallback) = nullptr;
    int (*UnInitial)() = nullptr;
    int (*OpenDeviceLCD)(bool) = nullptr;
    int (*ClearDeviceContent)() = nullptr;
    int (*ShowVersionInfoOnDevice)(bool) = nullptr;
    int (*SetDevicePenStyle)(bool) = nullptr;
    int (*GetDevicePenID)(char*, int) = nullptr;
    int (*GetDevicePadID)(char*, int) = nullptr;
    int (*GetDeviceSecureID)(char*, int) = nullptr;
    int (*GetDevicePartsVersion)(char*, int) = nullptr;
    int (*ShowFPImageOnDevice)(unsigned char*, int, int, int, bool*) = nullptr;
    std::string missing;  // names that did not resolve

    static Driver& get();  // loaded once per process
};

struct PenEvent {
    int x, y, p, type;
    bool operator==(const PenEvent& o) const { return x == o.x && y == o.y && p == o.p && type == o.type; }
};
std::ostream& operator<<(std::ostream& os, const PenEvent& e);

// Collects what the driver's pen callback delivers.
class Events {
public:
    static void callback(int x, int y, int p, int type);  // the HWSignDataCallback
    static void callback2(int x, int y, int p, int type); // a second one, recorded as type + 100
    static void clear();
    static std::vector<PenEvent> all();
    // Wait until at least n events arrived; returns them (fewer on timeout).
    static std::vector<PenEvent> waitFor(size_t n, std::chrono::milliseconds timeout = 5s);
    static long readerTid();  // thread that called the callback last
};

// The process's testbed, created before anything calls libusb_init.
padsim::Bed& bed();

// Unplugs every pad of the bed (tests start from an empty bus).
void unplugAll();

// Starts from an empty bus and no active device, and leaves it so.
class DriverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(drv.missing, "") << "unresolved driver exports";
        unplugAll();
        Events::clear();
    }
    void TearDown() override
    {
        while (drv.UnInitial() == 0) {
        }
        unplugAll();
    }
    Driver& drv = Driver::get();
};
