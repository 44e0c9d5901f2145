#include "vtlog.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifndef VT_LOG_MAIN_FILE
#error "each deliverable defines VT_LOG_MAIN_FILE and VT_LOG_THREAD_FILE"
#endif

extern "C" {
VT_LOG_EXPORT unsigned char g_bEnableLog = 0;
}

long GetTickCount()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)(ts.tv_sec * 1000 + ts.tv_nsec / 1000000);
}

VtLogWriter& vtlog_main_writer()
{
    static VtLogWriter w(VT_LOG_DIR VT_LOG_MAIN_FILE);
    return w;
}

VtLogWriter& vtlog_thread_writer()
{
    static VtLogWriter w(VT_LOG_DIR VT_LOG_THREAD_FILE);
    return w;
}

void MyDebugTo(const char* file, const char* label, const char* message, const char* end)
{
    FILE* f = fopen(file, "a+");
    if (!f)
        return;
    fprintf(f, "[%s]:%s, %s", label ? label : "", message ? message : "", end ? end : "");
    fclose(f);
}

void MyDebug(const char* label, const char* message, const char* end)
{
    MyDebugTo(vtlog_main_writer().file, label, message, end);
}

void MyDebug_InsideThread(const char* label, const char* message, const char* end)
{
    MyDebugTo(vtlog_thread_writer().file, label, message, end);
}

static void narrow(const wchar_t* in, char (&out)[256])
{
    out[0] = 0;
    if (!in)
        return;
    mbstate_t st{};
    const wchar_t* src = in;
    size_t n = wcsrtombs(out, &src, sizeof out - 1, &st);
    if (n == (size_t)-1) {
        // Not representable in the current locale: keep the ASCII part.
        size_t i = 0;
        for (; in[i] && i < sizeof out - 1; ++i)
            out[i] = (in[i] < 0x80) ? (char)in[i] : '?';
        out[i] = 0;
    } else {
        out[n < sizeof out ? n : sizeof out - 1] = 0;
    }
}

void MyDebugW(const wchar_t* label, const wchar_t* message, const wchar_t* end)
{
    char l[256], m[256], e[256];
    narrow(label, l);
    narrow(message, m);
    narrow(end, e);
    MyDebug(l, m, e);
}

void vtlog_emit(VtLogWriter& w, const char* label, const char* fmt, ...)
{
    std::lock_guard<std::mutex> guard(w.lock);
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(w.message, sizeof w.message, fmt, ap);
    va_end(ap);
    MyDebugTo(w.file, label, w.message, "\n");
}

void vtlog_emitw(VtLogWriter& w, const wchar_t* label, const wchar_t* fmt, ...)
{
    wchar_t buf[256];
    va_list ap;
    va_start(ap, fmt);
    vswprintf(buf, sizeof buf / sizeof buf[0], fmt, ap);
    va_end(ap);
    std::lock_guard<std::mutex> guard(w.lock);
    char l[256], m[256];
    narrow(label, l);
    narrow(buf, m);
    snprintf(w.message, sizeof w.message, "%s", m);
    MyDebugTo(w.file, l, w.message, "\n");
}
