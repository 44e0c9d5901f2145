// A test program that lacks a tool ends with exit code 77, which CTest
// reports as skipped (vt_add_test sets SKIP_RETURN_CODE 77). A skip inside
// the program would count as a pass.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vttest {

constexpr int kExitSkipped = 77;

[[noreturn]] inline void ExitSkipped(const char* pszWhy)
{
    std::fprintf(stderr, "skipped: %s\n", pszWhy);
    std::fflush(nullptr);
    std::exit(kExitSkipped);
}

// libusb in this process reaches the emulated pads only through the preload.
inline void RequireUmockdevPreload()
{
    const char* pszPreload = std::getenv("LD_PRELOAD");
    if (!pszPreload || !std::strstr(pszPreload, "libumockdev-preload"))
        ExitSkipped("not under the umockdev preload (run through tests/umockdev-run.sh)");
}

} // namespace vttest
