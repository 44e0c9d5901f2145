// A stand-in for libvtinksdk with the Q210 and QT410 families: it records
// every call and answers as the test configures it, so that the adapters'
// binding and mapping rules can be checked without a pad.
#include "vtinksdk.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" {
VTSDK_API unsigned char g_bEnableLog = 0;

struct FakeSdkConfig {
    int nPoints = 0;          // stored points
    int nFailPacketAt = -1;   // getPackets fails for this index
    int nNullTimeAt = -1;     // GetInkPointTime returns null for this index
    int nInfoResult = 0;      // result of getDeviceInfo
    unsigned char bStatus = 1;
    int nKeyStatus = -1;
    bool bFillIdBuffer = false; // id texts fill the whole buffer, no terminator
    int nLiveTexts = 0;       // texts handed out and not yet freed
};
VTSDK_API FakeSdkConfig g_fakeConfig;
VTSDK_API char g_fakeLog[8192];
}

namespace {

void record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void record(const char* format, ...)
{
    char line[256];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    strncat(g_fakeLog, line, sizeof g_fakeLog - strlen(g_fakeLog) - 1);
    strncat(g_fakeLog, ";", sizeof g_fakeLog - strlen(g_fakeLog) - 1);
}

char* text(const std::string& s)
{
    ++g_fakeConfig.nLiveTexts;
    char* p = new char[s.size() + 1];
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

void freeText(char* p)
{
    if (p) {
        --g_fakeConfig.nLiveTexts;
        delete[] p;
    }
}

int idText(const char* name, int nType, char* p, int n)
{
    record("%s(%d,%d)", name, nType, n);
    if (g_fakeConfig.bFillIdBuffer) {
        memset(p, 'A', n);
        return 0;
    }
    snprintf(p, n, "%s-text", name);
    return 0;
}

std::string wide(const wchar_t* p)
{
    std::string s;
    for (; p && *p; ++p)
        s += *p < 128 ? char(*p) : '?';
    return s;
}

// Writes text to the file the caller named, as the SDK writes an image.
bool writeFile(const wchar_t* pPath, const std::string& text)
{
    FILE* f = pPath ? fopen(wide(pPath).c_str(), "w") : nullptr;
    if (!f)
        return false;
    fputs(text.c_str(), f);
    return fclose(f) == 0;
}

} // namespace

#define FAKE_FAMILY(P)                                                                                                  \
    bool P##InitialDevice(int t, QWidget* w, int x, int y, int wd, int h)                                               \
    {                                                                                                                   \
        record(#P "InitialDevice(%d,%p,%d,%d,%d,%d)", t, (void*)w, x, y, wd, h);                                        \
        return true;                                                                                                    \
    }                                                                                                                   \
    int P##UnInitialDevice(int t) { record(#P "UnInitialDevice(%d)", t); return 0; }                                   \
    int P##OpenLCD(int t, bool b) { record(#P "OpenLCD(%d,%d)", t, b); return 0; }                                     \
    int P##Clear(int t) { record(#P "Clear(%d)", t); return 0; }                                                       \
    int P##GetHWPenID(int t, char* p, int n) { return idText(#P "GetHWPenID", t, p, n); }                              \
    int P##GetHWPadID(int t, char* p, int n) { return idText(#P "GetHWPadID", t, p, n); }                              \
    int P##GetHWVersionID(int t, char* p, int n) { return idText(#P "GetHWVersionID", t, p, n); }                      \
    int P##DisplayHWVersion(int t, bool b) { record(#P "DisplayHWVersion(%d,%d)", t, b); return 0; }                   \
    int P##SetPenStyle(int t, bool b) { record(#P "SetPenStyle(%d,%d)", t, b); return 0; }                             \
    int P##SetPenWidth(int t, int n) { record(#P "SetPenWidth(%d,%d)", t, n); return 0; }                              \
    int P##SignatureStatusCallback(int t, SignatureStatusCallback) { record(#P "SignatureStatusCallback(%d)", t); return 0; } \
    int P##GetTotalPacketsNumber(int t) { record(#P "GetTotalPacketsNumber(%d)", t); return g_fakeConfig.nPoints ? g_fakeConfig.nPoints : ARI_NO_DATA; } \
    int P##getPackets(int, _PACKETS* p)                                                                                 \
    {                                                                                                                   \
        if (p->nIndex == g_fakeConfig.nFailPacketAt || p->nIndex >= g_fakeConfig.nPoints)                               \
            return ARI_FAILED;                                                                                          \
        p->nX = int16_t(10 * p->nIndex);                                                                                \
        p->nY = int16_t(-3 + p->nIndex);                                                                                \
        p->nPressure = int16_t(100 + p->nIndex);                                                                        \
        p->bStrokeEnd = p->nIndex == g_fakeConfig.nPoints - 1;                                                          \
        return ARI_SUCCESS;                                                                                             \
    }                                                                                                                   \
    char* P##GetInkPointTime(int, int i)                                                                                \
    {                                                                                                                   \
        if (i == g_fakeConfig.nNullTimeAt)                                                                              \
            return nullptr;                                                                                             \
        return text("2024-05-01 13:45:12." + std::to_string(100 + i));                                                 \
    }                                                                                                                   \
    void P##FreeInkPointTime(int, char* p) { freeText(p); }                                                            \
    int P##SaveDrawingImage(int t, int n, wchar_t* p, int d)                                                           \
    {                                                                                                                   \
        record(#P "SaveDrawingImage(%d,%d,%s,%d)", t, n, wide(p).c_str(), d);                                          \
        if (!g_fakeConfig.nPoints)                                                                                      \
            return ARI_NO_DATA;                                                                                         \
        return writeFile(p, "saved type " + std::to_string(n)) ? 0 : ARI_NO_DATA;                                      \
    }                                                                                                                   \
    int P##SetSaveCenterImageClip(int t, bool b, int x, int y) { record(#P "SetSaveCenterImageClip(%d,%d,%d,%d)", t, b, x, y); return 0; } \
    int P##getDeviceInfo(int t, int i, void* p)                                                                         \
    {                                                                                                                   \
        record(#P "getDeviceInfo(%d,%d)", t, i);                                                                       \
        if (i == DIID_GET_STATUS)                                                                                       \
            *(unsigned char*)p = g_fakeConfig.bStatus;                                                                  \
        return g_fakeConfig.nInfoResult;                                                                                \
    }                                                                                                                   \
    void P##AboutBoxByWId(VTSDK_WId) {}                                                                                 \
    void P##GetAboutInfo(int t, char* p) { record(#P "GetAboutInfo(%d)", t); strcpy(p, "About\n\nfake"); }             \
    char* P##PacketsBase64Encode(int t, int n)                                                                          \
    {                                                                                                                   \
        record(#P "PacketsBase64Encode(%d,%d)", t, n);                                                                 \
        return g_fakeConfig.nPoints ? text("IMG" + std::to_string(n) + "-" + std::to_string(g_fakeConfig.nPoints)) : nullptr; \
    }                                                                                                                   \
    void P##PacketsBase64EncodeFree(int, char* p) { freeText(p); }                                                     \
    int P##Base64Decode(int t, int n, const char* d, wchar_t* p)                                                       \
    {                                                                                                                   \
        record(#P "Base64Decode(%d,%d,%s,%s)", t, n, d, wide(p).c_str());                                              \
        if (n >= 1 && n <= 3)                                                                                           \
            return writeFile(p, std::string("decoded ") + d) ? 0 : ARI_NO_DATA;                                        \
        return 0;                                                                                                       \
    }                                                                                                                   \
    int P##GetTotalDecodePacketsNumber(int) { return 2; }                                                              \
    int P##GetDecodePacketsData(int, int i, int k) { return k == INKDATATYPE_STROKEEND ? i : 100 * k + i; }            \
    int P##SetPenColor(int t, int r, int g, int b) { record(#P "SetPenColor(%d,%d,%d,%d)", t, r, g, b); return 0; }   \
    int P##GetDeviceConfirmOrCancelKeyStatus(int)                                                                       \
    {                                                                                                                   \
        int n = g_fakeConfig.nKeyStatus;                                                                                \
        g_fakeConfig.nKeyStatus = -1;                                                                                   \
        return n;                                                                                                       \
    }                                                                                                                   \
    char* P##GetSVGImageBase64Data(int t) { record(#P "GetSVGImageBase64Data(%d)", t); return text("SVG"); }           \
    void P##FreeSVGImageBase64Data(int, char* p) { freeText(p); }                                                      \
    bool P##RealTimeSignatureDataCallback(int, RealTimeSignatureDataCallback) { return false; }                         \
    char* P##PacketsBase64EncodeEx(int t, int n, bool b)                                                                \
    {                                                                                                                   \
        record(#P "PacketsBase64EncodeEx(%d,%d,%d)", t, n, b);                                                         \
        return g_fakeConfig.nPoints ? text("EX" + std::to_string(n) + "-" + std::to_string(g_fakeConfig.nPoints)) : nullptr; \
    }                                                                                                                   \
    void P##PacketsBase64EncodeExFree(int, char* p) { freeText(p); }

extern "C" {
FAKE_FAMILY(VTQ210_)
FAKE_FAMILY(RUVU410_)
#ifndef FAKESDK_NO_ABOUTBOX
void VTQ210_AboutBox(QWidget*) {}
#endif
void RUVU410_AboutBox(QWidget*) {}
}
