// The pad driver as one canvas sees it: libvtinkdrv loaded by name, the
// model's entry points resolved into a typed table, the pad initialised and
// at the end switched off and released.
#pragma once

#include "vtinkdrv.h"

#include <string>

class QLibrary;
struct SdkModelTraits;

// The driver's entry points, typed; null until resolved, and for those the
// model does not have (callers check before calling).
struct DriverEntryPoints {
    int (*m_pfn_VTSPDAPI_Initial)(int, HWSignDataCallback, FPDataCallback) = nullptr;
    int (*m_pfn_VTSPDAPI_UnInitial)() = nullptr;
    int (*m_pfn_VTSPDAPI_OpenDeviceLCD)(bool) = nullptr;
    int (*m_pfn_VTSPDAPI_ClearDeviceContent)() = nullptr;
    int (*m_pfn_VTSPDAPI_GetDevicePenID)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_GetDevicePadID)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_GetDeviceSecureID)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_GetDevicePartsVersion)(char*, int) = nullptr;
    int (*m_pfn_VTSPDAPI_ShowVersionInfoOnDevice)(bool) = nullptr;
    int (*m_pfn_VTSPDAPI_SetDevicePenStyle)(bool) = nullptr;
    int (*m_pfn_VTSPDAPI_ShowFPImageOnDevice)(unsigned char*, int, int, int, bool*) = nullptr;
};

class CSignPadDriver {
public:
    CSignPadDriver(const SdkModelTraits& traits, std::string strLabelPrefix);
    ~CSignPadDriver();
    CSignPadDriver(const CSignPadDriver&) = delete;
    CSignPadDriver& operator=(const CSignPadDriver&) = delete;

    // Loads the library, resolves every entry point the model needs and
    // calls VTSPDAPI_Initial; true when the driver answered 0.
    bool LoadDIVuziDadDriver(HWSignDataCallback pfnPen, FPDataCallback pfnFP);
    // Reads the pad's firmware text and matches it against the model's
    // prefixes. A match clears the pad, switches its screen on and gives the
    // pad's pressure levels; no match gives 0 (the driver stays loaded).
    int IdentifyPad();
    // Screen off (pads without a screen: cleared), VTSPDAPI_UnInitial, library
    // unloaded; the driver no longer calls back after it. Always true.
    bool ShutdownDIVuziDadDriver();
    const DriverEntryPoints& Api() const { return m_Api; }

private:
    bool Resolve();

    const SdkModelTraits& m_Traits;
    const std::string m_strLabelPrefix;
    QLibrary* m_pSignPadDriver = nullptr;
    DriverEntryPoints m_Api;
};
