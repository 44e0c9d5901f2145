// Exported driver frame: argument checks, the routing of every call to the
// protocol family of the active device, and the process-wide state.
#include "fingerprint.h"
#include "hid.h"
#include "padwatch.h"
#include "tablet.h"
#include "vtlog.h"

#include <cstdint>

HWSignDataCallback g_pfnHWSignDataCallback = nullptr;
FPDataCallback g_pfnFPDataCallback = nullptr;
int g_nCurrentActiveDeviceID = 0;

// ---- the driver model table ----------------------------------------------------

namespace {

// Which family serves each device id: the one place the driver tells models apart.
const struct DriverModel {
    int nDeviceID;
    FamilyOps* family;
} kDriverModels[] = {
    {.nDeviceID = VTQ210_DEVICE, .family = &g_familyQ210_220},
    // the same USB device as the Q210; only the SDK tells them apart
    {.nDeviceID = VTQ220_DEVICE, .family = &g_familyQ210_220},
    {.nDeviceID = RUVU410_DEVICE, .family = &g_familyQT410},
    {.nDeviceID = ROV420_DEVICE, .family = &g_familyM420},
    // the Q230G on USB, the one model that delivers fingerprints
    {.nDeviceID = VTQ230F_DEVICE, .family = &g_familyQ230G},
};

#define VT_COUNT_MODEL(id, name, prefix, screen, fp) +1
static_assert(sizeof kDriverModels / sizeof kDriverModels[0] == 0 VTINK_FOR_EACH_MODEL(VT_COUNT_MODEL),
              "every model has a family");
#undef VT_COUNT_MODEL

const DriverModel* ModelOf(int nDeviceID)
{
    for (const DriverModel& m : kDriverModels)
        if (m.nDeviceID == nDeviceID)
            return &m;
    return nullptr;
}

FamilyOps* ActiveFamily()
{
    return VtFamilyOf(g_nCurrentActiveDeviceID);
}

int LeaveWith(const char* label, int nResult)
{
    VT_LOG(label, "<%ld>-leave with nResult=%d!", nResult);
    return nResult;
}

// The identification getters share their argument check and routing.
int GetText(const char* label, const char* argName, VtPadText text, char* pText, int nMaxCount)
{
    VT_LOG(label, "<%ld>-Enter, %s=%lx, nMaxCount=%d", argName, (unsigned long)(uintptr_t)pText, nMaxCount);
    if (!pText || nMaxCount < 32) {
        VT_LOG(label, "<%ld>-leave with VTSPDART_INVALID_PARAMETERS !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    FamilyOps* family = ActiveFamily();
    return LeaveWith(label, family ? family->GetText(text, pText, nMaxCount) : VTSPDART_NOT_AVAILABLE);
}

}  // namespace

FamilyOps* VtFamilyOf(int nDeviceID)
{
    const DriverModel* model = ModelOf(nDeviceID);
    return model ? model->family : nullptr;
}

// ---- exported interface ---------------------------------------------------------

extern "C" {

VTINKDRV_API bool IsTheDeviceIDSupported(int nDeviceID)
{
    return VtFamilyOf(nDeviceID) != nullptr;
}

VTINKDRV_API int VTSPDAPI_Initial(int nDeviceID, HWSignDataCallback pfnHWSignDataCallback,
                                  FPDataCallback pfnFPDataCallback)
{
    const char* label = "VTSPDAPI_Initial()";
    VT_LOG(label, "<%ld>-Enter, nDeviceID=%d, pfnHWSignDataCallback=%lx", nDeviceID,
           (unsigned long)(uintptr_t)pfnHWSignDataCallback);
    const DriverModel* model = ModelOf(nDeviceID);
    bool bSupportedDeviceID = model != nullptr;
    if (!bSupportedDeviceID || !pfnHWSignDataCallback) {
        VT_LOG(label, "<%ld>-(bSupportedDeviceID == false) || (pfnHWSignDataCallback == NULL) !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    if (VtinkModelHas(model->nDeviceID, VTINK_CAP_FINGERPRINT) && !pfnFPDataCallback) {
        VT_LOG(label, "<%ld>-(nDeviceID == VTQ230F_DEVICE) && (pfnFPDataCallback == NULL) !");
        return VTSPDART_INVALID_PARAMETERS;
    }
    // Set before opening: a failed connect is still cleaned up by UnInitial.
    g_nCurrentActiveDeviceID = nDeviceID;
    int nResult = model->family->Connect();
    if (nResult == VTSPDART_SUCCESS) {
        __atomic_store_n(&g_pfnFPDataCallback, pfnFPDataCallback, __ATOMIC_RELEASE);
        __atomic_store_n(&g_pfnHWSignDataCallback, pfnHWSignDataCallback, __ATOMIC_RELEASE);
        g_padWatch.Start(model->family);
    }
    return LeaveWith(label, nResult);
}

VTINKDRV_API int VTSPDAPI_UnInitial(void)
{
    const char* label = "VTSPDAPI_UnInitial()";
    VT_LOG(label, "<%ld>-Enter");
    FamilyOps* family = ActiveFamily();
    if (!family)
        return LeaveWith(label, VTSPDART_NOT_AVAILABLE);
    g_padWatch.Stop();  // while libusb is still up
    int nResult = family->Shutdown();
    g_nCurrentActiveDeviceID = 0;
    return LeaveWith(label, nResult);
}

VTINKDRV_API int VTSPDAPI_OpenDeviceLCD(bool bOn)
{
    const char* label = "VTSPDAPI_OpenDeviceLCD()";
    VT_LOG(label, "<%ld>-Enter, bOn=%d", (int)bOn);
    FamilyOps* family = ActiveFamily();
    return LeaveWith(label, family ? family->Command(VT_CMD_SCREEN, bOn) : VTSPDART_NOT_AVAILABLE);
}

VTINKDRV_API int VTSPDAPI_ClearDeviceContent(void)
{
    const char* label = "VTSPDAPI_ClearDeviceContent()";
    VT_LOG(label, "<%ld>-Enter");
    FamilyOps* family = ActiveFamily();
    return LeaveWith(label, family ? family->Command(VT_CMD_CLEAR, true) : VTSPDART_NOT_AVAILABLE);
}

VTINKDRV_API int VTSPDAPI_ShowVersionInfoOnDevice(bool bOn)
{
    const char* label = "VTSPDAPI_ShowVersionInfoOnDevice()";
    VT_LOG(label, "<%ld>-Enter, bOn=%d", (int)bOn);
    FamilyOps* family = ActiveFamily();
    return LeaveWith(label, family ? family->Command(VT_CMD_VERSION_SCREEN, bOn) : VTSPDART_NOT_AVAILABLE);
}

VTINKDRV_API int VTSPDAPI_SetDevicePenStyle(bool bWithPressureValue)
{
    const char* label = "VTSPDAPI_SetDevicePenStyle()";
    VT_LOG(label, "<%ld>-Enter, bWithPressureValue=%d", (int)bWithPressureValue);
    FamilyOps* family = ActiveFamily();
    return LeaveWith(label, family ? family->Command(VT_CMD_PEN_STYLE, bWithPressureValue) : VTSPDART_NOT_AVAILABLE);
}

VTINKDRV_API int VTSPDAPI_GetDevicePenID(char* pPenID, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDevicePenID()", "pPenID", VT_TEXT_PEN_ID, pPenID, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_GetDevicePadID(char* pPadID, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDevicePadID()", "pPadID", VT_TEXT_PAD_ID, pPadID, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_GetDeviceSecureID(char* pSecureID, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDeviceSecureID()", "pSecureID", VT_TEXT_SECURE_ID, pSecureID, nMaxCount);
}

VTINKDRV_API int VTSPDAPI_GetDevicePartsVersion(char* pVersion, int nMaxCount)
{
    return GetText("VTSPDAPI_GetDevicePartsVersion()", "pVersion", VT_TEXT_PARTS_VERSION, pVersion, nMaxCount);
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
    FamilyOps* family = ActiveFamily();
    return LeaveWith(label, family ? family->ShowFPImage(pucFPImageRawData, nFPImageRawDataSize, nFPImageWidth,
                                                         nFPImageHeight, pbAbort)
                                   : VTSPDART_NOT_AVAILABLE);
}

}  // extern "C"
