#include "drvtest.h"
#include "../common/timescale.h"

#include <dlfcn.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

std::mutex s_lock;
std::condition_variable s_cv;
std::vector<PenEvent> s_events;
long s_tid = 0;

template <typename T>
void resolve(Driver& d, T& fn, const char* name)
{
    fn = reinterpret_cast<T>(dlsym(d.lib, name));
    if (!fn)
        d.missing += std::string(" ") + name;
}

// Tests need the umockdev preload; without it they cannot run at all.
struct PreloadCheck {
    PreloadCheck()
    {
        const char* pre = getenv("LD_PRELOAD");
        if (!pre || !strstr(pre, "libumockdev-preload")) {
            fprintf(stderr, "not under the umockdev preload (run through tests/umockdev-run.sh)\n");
            exit(77);
        }
    }
} s_preloadCheck;

}  // namespace

Driver& Driver::get()
{
    static Driver d = [] {
        Driver d;
        d.lib = dlopen("./libvtinkdrv.so", RTLD_NOW | RTLD_LOCAL);
        if (!d.lib) {
            d.missing = dlerror();
            return d;
        }
        d.enableLog = static_cast<unsigned char*>(dlsym(d.lib, "g_bEnableLog"));
        if (!d.enableLog)
            d.missing += " g_bEnableLog";
        resolve(d, d.IsTheDeviceIDSupported, "IsTheDeviceIDSupported");
        resolve(d, d.Initial, "VTSPDAPI_Initial");
        resolve(d, d.UnInitial, "VTSPDAPI_UnInitial");
        resolve(d, d.OpenDeviceLCD, "VTSPDAPI_OpenDeviceLCD");
        resolve(d, d.ClearDeviceContent, "VTSPDAPI_ClearDeviceContent");
        resolve(d, d.ShowVersionInfoOnDevice, "VTSPDAPI_ShowVersionInfoOnDevice");
        resolve(d, d.SetDevicePenStyle, "VTSPDAPI_SetDevicePenStyle");
        resolve(d, d.GetDevicePenID, "VTSPDAPI_GetDevicePenID");
        resolve(d, d.GetDevicePadID, "VTSPDAPI_GetDevicePadID");
        resolve(d, d.GetDeviceSecureID, "VTSPDAPI_GetDeviceSecureID");
        resolve(d, d.GetDevicePartsVersion, "VTSPDAPI_GetDevicePartsVersion");
        resolve(d, d.ShowFPImageOnDevice, "VTSPDAPI_ShowFPImageOnDevice");
        return d;
    }();
    return d;
}

std::ostream& operator<<(std::ostream& os, const PenEvent& e)
{
    return os << "{x=" << e.x << " y=" << e.y << " p=" << e.p << " type=" << e.type << "}";
}

void Events::callback(int x, int y, int p, int type)
{
    std::lock_guard<std::mutex> g(s_lock);
    s_events.push_back({x, y, p, type});
    s_tid = (long)syscall(SYS_gettid);
    s_cv.notify_all();
}

void Events::callback2(int x, int y, int p, int type)
{
    callback(x, y, p, type + 100);
}

void Events::clear()
{
    std::lock_guard<std::mutex> g(s_lock);
    s_events.clear();
}

std::vector<PenEvent> Events::all()
{
    std::lock_guard<std::mutex> g(s_lock);
    return s_events;
}

std::vector<PenEvent> Events::waitFor(size_t n, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lk(s_lock);
    s_cv.wait_for(lk, vttest::Scaled(timeout), [&] { return s_events.size() >= n; });
    return s_events;
}

long Events::readerTid()
{
    std::lock_guard<std::mutex> g(s_lock);
    return s_tid;
}

padsim::Bed& bed()
{
    static padsim::Bed b;
    return b;
}

void unplugAll()
{
    for (padsim::Pad* p : bed().pads())
        p->unplug();
}

// before any test can reach libusb_init
static padsim::Bed& s_bedAtLoad = bed();
