// Debug log helpers, compiled into each deliverable (vtinkhost, libvtinksdk,
// libvtinkdrv). Each deliverable has its own switch g_bEnableLog (zero at
// load) and its own files; while the switch is zero nothing is formatted,
// opened or written.
//
// Line format: "[<label>]:<message>, <end>" appended with fopen("a+").
// Messages begin with "<%ld>-" and the monotonic tick, so call sites pass the
// spec'd format strings verbatim: VT_LOG("VTQ210_OpenLCD()", "<%ld>-Enter, bOn=%d", bOn);
#pragma once

#include <mutex>
#include <cstddef>
#include <wchar.h>

// Where the files go. Tests that check the log format compile vtlog.cpp with
// their own directory; the deliverables always use /tmp/.
#ifndef VT_LOG_DIR
#define VT_LOG_DIR "/tmp/"
#endif

#if defined(__GNUC__)
#define VT_LOG_EXPORT __attribute__((visibility("default")))
#define VT_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define VT_LOG_EXPORT
#define VT_PRINTF_LIKE(f, a)
#endif

extern "C" VT_LOG_EXPORT unsigned char g_bEnableLog;

// Milliseconds of the monotonic clock: seconds * 1000 + nanoseconds / 1000000.
long GetTickCount();

// One writer = one file plus the 256-byte buffer its messages are formatted
// into. The lock keeps two threads of one writer from sharing the buffer.
struct VtLogWriter {
    explicit VtLogWriter(const char* path) : file(path) {}
    const char* file;
    char message[256] = {};
    std::mutex lock;
};

// The deliverable's main and thread writers (file names given by the
// deliverable's VT_LOG_MAIN_FILE / VT_LOG_THREAD_FILE definitions).
VtLogWriter& vtlog_main_writer();
VtLogWriter& vtlog_thread_writer();

// Append "[label]:message, end" to a file. No check of the switch here:
// callers go through the macros below.
void MyDebugTo(const char* file, const char* label, const char* message, const char* end);
void MyDebug(const char* label, const char* message, const char* end);
void MyDebug_InsideThread(const char* label, const char* message, const char* end);
// Wide variant: converts its three texts (at most 256 bytes each) and calls MyDebug.
void MyDebugW(const wchar_t* label, const wchar_t* message, const wchar_t* end);

// Format into the writer's buffer and append the line. Callers check the switch first.
void vtlog_emit(VtLogWriter& w, const char* label, const char* fmt, ...) VT_PRINTF_LIKE(3, 4);
void vtlog_emitw(VtLogWriter& w, const wchar_t* label, const wchar_t* fmt, ...);

#define VT_LOG_TO(writer, label, fmt, ...)                                                   \
    do {                                                                                      \
        if (g_bEnableLog) vtlog_emit((writer), (label), fmt, (long)GetTickCount(), ##__VA_ARGS__); \
    } while (0)
#define VT_LOG(label, fmt, ...) VT_LOG_TO(vtlog_main_writer(), label, fmt, ##__VA_ARGS__)
#define VT_LOG_THREAD(label, fmt, ...) VT_LOG_TO(vtlog_thread_writer(), label, fmt, ##__VA_ARGS__)
#define VT_LOGW(label, fmt, ...)                                                             \
    do {                                                                                      \
        if (g_bEnableLog) vtlog_emitw(vtlog_main_writer(), (label), fmt, (long)GetTickCount(), ##__VA_ARGS__); \
    } while (0)
