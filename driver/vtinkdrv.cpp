// Exported driver frame: argument checks, the routing of every call to the
// protocol family of the active device, process-wide state and libusb's
// process-global default context.
#include "families.h"
#include "vtlog.h"

#include <atomic>
#include <unistd.h>

HWSignDataCallback g_pfnHWSignDataCallback = nullptr;
FPDataCallback g_pfnFPDataCallback = nullptr;
int g_nCurrentActiveDeviceID = 0;

// ---- libusb default context ---------------------------------------------------

static std::atomic<int> s_nUsbInits{0};

int VtUsbInit()
{
    int nResult = libusb_init(nullptr);
    if (nResult == LIBUSB_SUCCESS)
        s_nUsbInits++;
    return nResult;
}

void VtUsbExit()
{
    int n = s_nUsbInits.load();
    while (n > 0) {
        if (s_nUsbInits.compare_exchange_weak(n, n - 1)) {
            libusb_exit(nullptr);
            return;
        }
    }
}

bool VtReleaseAndWaitReader(libusb_device_handle* h, int nInterface, const std::atomic<unsigned char>& bInside)
{
    libusb_release_interface(h, nInterface);
    for (int i = 0; i < 1000 && bInside; ++i) {
        if (i % 50 == 49 && libusb_claim_interface(h, nInterface) == LIBUSB_SUCCESS)
            libusb_release_interface(h, nInterface);
        usleep(1000);
    }
    return !bInside;
}

// ---- routing ----------------------------------------------------------------

namespace {

// What one family offers; an entry left out answers VTSPDART_NOT_AVAILABLE.
struct FamilyOps {
    int (*connect)() = nullptr;
    int (*shutdown)() = nullptr;
    int (*openLCD)(bool) = nullptr;
    int (*clear)() = nullptr;
    int (*showVersion)(bool) = nullptr;
    int (*penStyle)(bool) = nullptr;
    int (*penID)(char*, int) = nullptr;
    int (*padID)(char*, int) = nullptr;
    int (*secureID)(char*, int) = nullptr;
    int (*partsVersion)(char*, int) = nullptr;
    int (*showFPImage)(unsigned char*, int, int, int, bool*) = nullptr;
};

const FamilyOps kHidPad = {
    .connect = IsUSBDeviceConnected_Q210_220,
    .shutdown = ShutdownUSBDevice_Q210_220,
    .openLCD = OpenDeviceLCD_Q210_220,
    .clear = ClearDeviceContent_Q210_220,
    .showVersion = ShowVersionInfoOnDevice_Q210_220,
    .penStyle = SetDevicePenStyle_Q210_220,
    .penID = GetDevicePenID_Q210_220,
    .padID = GetDevicePadID_Q210_220,
    .secureID = GetDeviceSecureID_Q210_220,
    .partsVersion = GetDevicePartsVersion_Q210_220,
};

const FamilyOps kQT410 = {
    .connect = IsUSBDeviceConnected_QT410,
    .shutdown = ShutdownUSBDevice_QT410,
    .clear = ClearDeviceContent_QT410,
    .padID = GetDevicePadID_QT410,
    .partsVersion = GetDevicePartsVersion_QT410,
};

const FamilyOps kM420 = {
    .connect = IsUSBDeviceConnected_M420,
    .shutdown = ShutdownUSBDevice_M420,
    .clear = ClearDeviceContent_M420,
    .padID = GetDevicePadID_M420,
    .partsVersion = GetDevicePartsVersion_M420,
};

const FamilyOps kQ230G = {
    .connect = IsUSBDeviceConnected_Q230G,
    .shutdown = ShutdownUSBDevice_Q230G,
    .openLCD = OpenDeviceLCD_Q230G,
    .clear = ClearDeviceContent_Q230G,
    .showVersion = ShowVersionInfoOnDevice_Q230G,
    .penStyle = SetDevicePenStyle_Q230G,
    .penID = GetDevicePenID_Q230G,
    .padID = GetDevicePadID_Q230G,
    .secureID = GetDeviceSecureID_Q230G,
    .partsVersion = GetDevicePartsVersion_Q230G,
    .showFPImage = DisplayImageOnDevice_Q230G_FP,
};

const FamilyOps* FamilyOf(int nDeviceID)
{
    switch (nDeviceID) {
    case VTQ210_DEVICE:
    case VTQ220_DEVICE:
        return &kHidPad;
    case RUVU410_DEVICE:
        return &kQT410;
    case ROV420_DEVICE:
        return &kM420;
    case VTQ230F_DEVICE:
        return &kQ230G;
    default:
        return nullptr;
    }
}

// Calls the active family's operation, or answers -1 when there is none.
template <typename Op, typename... Args>
int Route(Op FamilyOps::*op, Args... args)
{
    const FamilyOps* family = FamilyOf(g_nCurrentActiveDeviceID);
    if (!family || !(family->*op))
        return VTSPDART_NOT_AVAILABLE;
    return (family->*op)(args...);
}

int LeaveWith(const char* label, int nResult)
{
    VT_LOG(label, "<%ld>-leave with nResult=%d!", nResult);
    return nResult;
}

// The identification getters share their argument check and routing.
int GetText(const char* label, const char* argName, decltype(&FamilyOps::penID) op, char* pText, int nMaxCount)
{
    VT_LOG(label, "<%ld>-Enter, %s=%lx, nMaxCount=%d", argName, (unsigned long)(uintptr_t)pText, nMaxCount);
    if (!pText || nMaxCount < 32) {
        VT_LOG(label, "<%ld>-leave with VTSPDART_INVALID_PARAMETERS !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    return LeaveWith(label, Route(op, pText, nMaxCount));
}

}  // namespace

// ---- exported interface ---------------------------------------------------------

extern "C" {

VTINKDRV_API bool IsTheDeviceIDSupported(int nDeviceID)
{
    return FamilyOf(nDeviceID) != nullptr;
}

VTINKDRV_API int VTSPDAPI_Initial(int nDeviceID, HWSignDataCallback pfnHWSignDataCallback,
                                  FPDataCallback pfnFPDataCallback)
{
    const char* label = "VTSPDAPI_Initial()";
    VT_LOG(label, "<%ld>-Enter, nDeviceID=%d, pfnHWSignDataCallback=%lx", nDeviceID,
           (unsigned long)(uintptr_t)pfnHWSignDataCallback);
    bool bSupportedDeviceID = IsTheDeviceIDSupported(nDeviceID);
    if (!bSupportedDeviceID || !pfnHWSignDataCallback) {
        VT_LOG(label, "<%ld>-(bSupportedDeviceID == false) || (pfnHWSignDataCallback == NULL) !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    if (nDeviceID == VTQ230F_DEVICE && !pfnFPDataCallback) {
        VT_LOG(label, "<%ld>-(nDeviceID == VTQ230F_DEVICE) && (pfnFPDataCallback == NULL) !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    // Set before opening: a failed connect is still cleaned up by UnInitial.
    g_nCurrentActiveDeviceID = nDeviceID;
    int nResult = FamilyOf(nDeviceID)->connect();
    if (nResult == VTSPDART_SUCCESS) {
        __atomic_store_n(&g_pfnFPDataCallback, pfnFPDataCallback, __ATOMIC_RELEASE);
        __atomic_store_n(&g_pfnHWSignDataCallback, pfnHWSignDataCallback, __ATOMIC_RELEASE);
    }
    return LeaveWith(label, nResult);
}

VTINKDRV_API int VTSPDAPI_UnInitial(void)
{
    const char* label = "VTSPDAPI_UnInitial()";
    VT_LOG(label, "<%ld>-Enter");
    const FamilyOps* family = FamilyOf(g_nCurrentActiveDeviceID);
    if (!family)
        return LeaveWith(label, VTSPDART_NOT_AVAILABLE);
    int nResult = family->shutdown();
    g_nCurrentActiveDeviceID = 0;
    return LeaveWith(label, nResult);
}

VTINKDRV_API int VTSPDAPI_OpenDeviceLCD(bool bOn)
{
    const char* label = "VTSPDAPI_OpenDeviceLCD()";
    VT_LOG(label, "<%ld>-Enter, bOn=%d", (int)bOn);
    return LeaveWith(label, Route(&FamilyOps::openLCD, bOn));
}

VTINKDRV_API int VTSPDAPI_ClearDeviceContent(void)
{
    const char* label = "VTSPDAPI_ClearDeviceContent()";
    VT_LOG(label, "<%ld>-Enter");
    return LeaveWith(label, Route(&FamilyOps::clear));
}

VTINKDRV_API int VTSPDAPI_ShowVersionInfoOnDevice(bool bOn)
{
    const char* label = "VTSPDAPI_ShowVersionInfoOnDevice()";
    VT_LOG(label, "<%ld>-Enter, bOn=%d", (int)bOn);
    return LeaveWith(label, Route(&FamilyOps::showVersion, bOn));
}

VTINKDRV_API int VTSPDAPI_SetDevicePenStyle(bool bWithPressureValue)
{
    const char* label = "VTSPDAPI_SetDevicePenStyle()";
    VT_LOG(label, "<%ld>-Enter, bWithPressureValue=%d", (int)bWithPressureValue);
    return LeaveWith(label, Route(&FamilyOps::penStyle, bWithPressureValue));
}

VTINKDRV_API int VTSPDAPI_GetDevicePenID(char* pPenID, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDevicePenID()", "pPenID", &FamilyOps::penID, pPenID, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_GetDevicePadID(char* pPadID, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDevicePadID()", "pPadID", &FamilyOps::padID, pPadID, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_GetDeviceSecureID(char* pSecureID, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDeviceSecureID()", "pSecureID", &FamilyOps::secureID, pSecureID, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_GetDevicePartsVersion(char* pVersion, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDevicePartsVersion()", "pVersion", &FamilyOps::partsVersion, pVersion, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_ShowFPImageOnDevice(unsigned char* pucFPImageRawData, int nFPImageRawDataSize,
                                              int nFPImageWidth, int nFPImageHeight, bool* pbAbort)
{
    const char* label = "VTSPDAPI_ShowFPImageOnDevice()";
    VT_LOG(label,
           "<%ld>-Enter, pucFPImageRawData=%lx, nFPImageRawDataSize=%d, nFPImageWidth=%d, nFPImageHeight=%d, "
           "pbAbort=%lx",
           (unsigned long)(uintptr_t)pucFPImageRawData, nFPImageRawDataSize, nFPImageWidth, nFPImageHeight,
           (unsigned long)(uintptr_t)pbAbort);
    if (!pucFPImageRawData || !pbAbort) {
        VT_LOG(label, "<%ld>-leave with VTSPDART_INVALID_PARAMETERS !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    return LeaveWith(label, Route(&FamilyOps::showFPImage, pucFPImageRawData, nFPImageRawDataSize, nFPImageWidth,
                                  nFPImageHeight, pbAbort));
}

}  // extern "C"
