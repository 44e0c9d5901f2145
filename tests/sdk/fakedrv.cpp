// Test driver: the VTSPDAPI_* entry points with recorded calls and no USB.
#include "fakedrv.h"
#include "vtinkdrv.h"

#include <cstring>
#include <mutex>
#include <string>

#define FAKE_API extern "C" __attribute__((visibility("default")))

namespace {
std::mutex g_lock;
std::string g_calls;
std::string g_version = "VTQ210 test";
int g_initialResult = 0;
int g_activeId = 0;
HWSignDataCallback g_pen = nullptr;
FPDataCallback g_fp = nullptr;

void Record(const std::string& call)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls += call + ";";
}

int CopyText(const std::string& text, char* p, int n)
{
    if (!p || n < 32)
        return VTSPDART_INVALID_PARAMETERS;
    if (!g_activeId)
        return VTSPDART_NOT_AVAILABLE;
    strncpy(p, text.c_str(), size_t(n) - 1);
    p[n - 1] = 0;
    return VTSPDART_SUCCESS;
}
} // namespace

extern "C" __attribute__((visibility("default"))) unsigned char g_bEnableLog;
unsigned char g_bEnableLog = 0;

FAKE_API void fakedrv_reset(void)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_calls.clear();
    g_version = "VTQ210 test";
    g_initialResult = 0;
    g_activeId = 0;
    g_pen = nullptr;
    g_fp = nullptr;
}

FAKE_API void fakedrv_set_version(const char* pszVersion)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_version = pszVersion;
}

FAKE_API void fakedrv_set_initial_result(int nResult)
{
    std::lock_guard<std::mutex> lock(g_lock);
    g_initialResult = nResult;
}

FAKE_API const char* fakedrv_calls(void)
{
    static std::string copy;
    std::lock_guard<std::mutex> lock(g_lock);
    copy = g_calls;
    return copy.c_str();
}

FAKE_API int fakedrv_count(const char* pszName)
{
    std::lock_guard<std::mutex> lock(g_lock);
    int n = 0;
    const std::string name = pszName;
    for (size_t pos = 0; (pos = g_calls.find(name, pos)) != std::string::npos; pos += name.size()) {
        const char after = pos + name.size() < g_calls.size() ? g_calls[pos + name.size()] : ';';
        if ((pos == 0 || g_calls[pos - 1] == ';') && (after == ';' || after == '('))
            ++n;
    }
    return n;
}

FAKE_API int fakedrv_inject(int x, int y, int pressure, int eventType)
{
    HWSignDataCallback pen;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        pen = g_activeId ? g_pen : nullptr;
    }
    if (!pen)
        return 0;
    pen(x, y, pressure, eventType);
    return 1;
}

FAKE_API int fakedrv_inject_fp(unsigned char* pData, int nSize, int nScore)
{
    FPDataCallback fp;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        fp = g_activeId ? g_fp : nullptr;
    }
    if (!fp)
        return 0;
    fp(pData, nSize, nScore);
    return 1;
}

FAKE_API bool IsTheDeviceIDSupported(int nDeviceID)
{
    return nDeviceID == 7 || (nDeviceID >= 2 && nDeviceID <= 5);
}

FAKE_API int VTSPDAPI_Initial(int nDeviceID, HWSignDataCallback pen, FPDataCallback fp)
{
    Record("Initial(" + std::to_string(nDeviceID) + ",fp=" + (fp ? "1" : "0") + ")");
    if (!IsTheDeviceIDSupported(nDeviceID) || !pen)
        return VTSPDART_INVALID_PARAMETERS;
    if (nDeviceID == VTQ230F_DEVICE && !fp)
        return VTSPDART_INVALID_PARAMETERS;
    std::lock_guard<std::mutex> lock(g_lock);
    g_activeId = nDeviceID;
    if (g_initialResult == 0) {
        g_pen = pen;
        g_fp = fp;
    }
    return g_initialResult;
}

FAKE_API int VTSPDAPI_UnInitial(void)
{
    Record("UnInitial");
    std::lock_guard<std::mutex> lock(g_lock);
    if (!g_activeId)
        return VTSPDART_NOT_AVAILABLE;
    g_activeId = 0;
    return VTSPDART_SUCCESS;
}

FAKE_API int VTSPDAPI_OpenDeviceLCD(bool bOn)
{
    Record(std::string("OpenDeviceLCD(") + (bOn ? "1" : "0") + ")");
    return VTSPDART_SUCCESS;
}

FAKE_API int VTSPDAPI_ClearDeviceContent(void)
{
    Record("ClearDeviceContent");
    return VTSPDART_SUCCESS;
}

FAKE_API int VTSPDAPI_GetDevicePenID(char* p, int n)
{
    Record("GetDevicePenID");
    return CopyText("PEN-0001", p, n);
}

FAKE_API int VTSPDAPI_GetDevicePadID(char* p, int n)
{
    Record("GetDevicePadID");
    return CopyText("PAD-0001", p, n);
}

FAKE_API int VTSPDAPI_GetDeviceSecureID(char* p, int n)
{
    Record("GetDeviceSecureID");
    return CopyText("SEC-0001", p, n);
}

FAKE_API int VTSPDAPI_GetDevicePartsVersion(char* p, int n)
{
    Record("GetDevicePartsVersion");
    std::string version;
    {
        std::lock_guard<std::mutex> lock(g_lock);
        version = g_version;
    }
    return CopyText(version, p, n);
}

FAKE_API int VTSPDAPI_ShowVersionInfoOnDevice(bool bOn)
{
    Record(std::string("ShowVersionInfoOnDevice(") + (bOn ? "1" : "0") + ")");
    return VTSPDART_SUCCESS;
}

FAKE_API int VTSPDAPI_SetDevicePenStyle(bool b)
{
    Record(std::string("SetDevicePenStyle(") + (b ? "1" : "0") + ")");
    return VTSPDART_SUCCESS;
}

FAKE_API int VTSPDAPI_ShowFPImageOnDevice(unsigned char* p, int, int, int, bool* pbAbort)
{
    Record("ShowFPImageOnDevice");
    return (!p || !pbAbort) ? VTSPDART_INVALID_PARAMETERS : VTSPDART_SUCCESS;
}
