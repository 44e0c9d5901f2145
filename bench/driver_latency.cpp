// Pen report latency: from the emulated pad queueing a report to the driver's
// pen callback, through real libusb and the reader thread; and the CPU the
// whole process uses while the reader waits with nothing to read, with the
// emulator's REAP throttle at 1000 us and off.
//
//   cd build/bin && ../../tests/umockdev-run.sh ./bench_driver_latency [reports]   (default 500)
#include "padsim.h"
#include "vtinkdrv.h"

#include <dlfcn.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

std::mutex g_lock;
std::condition_variable g_cv;
long g_nEvents = 0;
Clock::time_point g_last;

void OnPen(int, int, int, int)
{
    std::lock_guard<std::mutex> g(g_lock);
    g_nEvents++;
    g_last = Clock::now();
    g_cv.notify_all();
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    const int nReports = argc > 1 ? atoi(argv[1]) : 500;
    padsim::Bed bed;
    padsim::Pad& pad = bed.plug(padsim::models::q210());
    void* lib = dlopen("./libvtinkdrv.so", RTLD_NOW);
    auto initial = lib ? reinterpret_cast<int (*)(int, HWSignDataCallback, FPDataCallback)>(dlsym(lib, "VTSPDAPI_Initial")) : nullptr;
    auto uninitial = lib ? reinterpret_cast<int (*)()>(dlsym(lib, "VTSPDAPI_UnInitial")) : nullptr;
    if (!initial || !uninitial || initial(VTQ210_DEVICE, OnPen, nullptr) != 0) {
        fprintf(stderr, "cannot open the emulated pad through ./libvtinkdrv.so (run under tests/umockdev-run.sh)\n");
        return 1;
    }
    pad.waitForPendingRead(std::chrono::seconds(5));

    std::vector<double> lat;
    for (int i = 0; i < nReports; ++i) {
        std::unique_lock<std::mutex> lk(g_lock);
        long before = g_nEvents;
        lk.unlock();
        pad.waitForPendingRead(std::chrono::seconds(5));  // the reader is idle again
        auto t0 = Clock::now();
        pad.penMove((uint16_t)i, (uint16_t)(2 * i), 100);
        lk.lock();
        if (!g_cv.wait_for(lk, std::chrono::seconds(5), [&] { return g_nEvents > before; })) {
            fprintf(stderr, "report %d never arrived\n", i);
            return 1;
        }
        lat.push_back(std::chrono::duration<double, std::milli>(g_last - t0).count());
    }
    std::sort(lat.begin(), lat.end());
    printf("report -> callback over %d reports: median %.3f ms, p99 %.3f ms, max %.3f ms\n", nReports,
           lat[lat.size() / 2], lat[lat.size() * 99 / 100], lat.back());

    for (int throttle : {1000, 0}) {
        bed.setThrottleUs(throttle);
        double c0 = cpuSeconds();
        auto t0 = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(2));  // measuring window, not a wait for an event
        double wall = std::chrono::duration<double>(Clock::now() - t0).count();
        printf("idle reader, throttle %4d us: process CPU %.0f%% of a core\n", throttle,
               100 * (cpuSeconds() - c0) / wall);
    }
    bed.setThrottleUs(1000);
    uninitial();
    return 0;
}
