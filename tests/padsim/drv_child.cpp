// A program run under the pad emulator from another process: opens the pad
// through the driver, checks its firmware text and waits for one stroke.
//
//   drv_child DEVICE_ID FIRMWARE X,Y,P [X,Y,P ...]
//
// Exit codes: 0 the stroke arrived as given; 2 usage; 3 driver not loadable;
// 10 connect failed; 11 wrong firmware text; 12 no stroke within 20 s;
// 13 wrong events; 14 shutdown failed.
#include "vtinkdrv.h"

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

struct Event {
    int x, y, p, type;
};
std::mutex s_lock;
std::condition_variable s_cv;
std::vector<Event> s_events;

void onPen(int x, int y, int p, int type)
{
    std::lock_guard<std::mutex> g(s_lock);
    s_events.push_back({x, y, p, type});
    s_cv.notify_all();
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return 2;
    std::vector<Event> expected;
    for (int i = 3; i < argc; ++i) {
        Event e{};
        if (sscanf(argv[i], "%d,%d,%d", &e.x, &e.y, &e.p) != 3)
            return 2;
        e.type = expected.empty() ? HWET_PEN_DOWN : HWET_PEN_MOVE;
        expected.push_back(e);
    }
    expected.push_back({expected.back().x, expected.back().y, 0, HWET_PEN_UP});

    void* lib = dlopen("./libvtinkdrv.so", RTLD_NOW);
    if (!lib)
        return 3;
    auto initial = reinterpret_cast<int (*)(int, HWSignDataCallback, FPDataCallback)>(dlsym(lib, "VTSPDAPI_Initial"));
    auto uninitial = reinterpret_cast<int (*)()>(dlsym(lib, "VTSPDAPI_UnInitial"));
    auto version = reinterpret_cast<int (*)(char*, int)>(dlsym(lib, "VTSPDAPI_GetDevicePartsVersion"));
    if (!initial || !uninitial || !version)
        return 3;

    int rc = initial(atoi(argv[1]), onPen, nullptr);
    if (rc != 0) {
        fprintf(stderr, "drv_child: VTSPDAPI_Initial = %d\n", rc);
        return 10;
    }
    char text[64] = {};
    if (version(text, sizeof text) != 0 || strcmp(text, argv[2]) != 0) {
        fprintf(stderr, "drv_child: firmware text '%s'\n", text);
        uninitial();
        return 11;
    }
    int result = 0;
    {
        std::unique_lock<std::mutex> lk(s_lock);
        if (!s_cv.wait_for(lk, std::chrono::seconds(20), [&] { return s_events.size() >= expected.size(); }))
            result = 12;
        else
            for (size_t i = 0; i < expected.size(); ++i) {
                const Event &a = s_events[i], &b = expected[i];
                if (a.x != b.x || a.y != b.y || a.p != b.p || a.type != b.type)
                    result = 13;
            }
    }
    if (uninitial() != 0 && result == 0)
        result = 14;
    return result;
}
