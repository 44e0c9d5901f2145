// Deadlines of tests and of the pad emulator, stretched by VT_TIME_SCALE
// (set by CTest from the build's VT_TIME_SCALE) where everything runs slower,
// as under an emulator. A wait still ends as soon as its event comes.
#pragma once

#include <chrono>
#include <cstdlib>

namespace vttest {

inline int TimeScale()
{
    static const int scale = [] {
        const char* s = std::getenv("VT_TIME_SCALE");
        const int n = s ? std::atoi(s) : 1;
        return n > 1 ? n : 1;
    }();
    return scale;
}

template <class Rep, class Period>
std::chrono::duration<Rep, Period> Scaled(std::chrono::duration<Rep, Period> d)
{
    return d * TimeScale();
}

inline int ScaledMs(int ms) { return ms * TimeScale(); }

}  // namespace vttest
