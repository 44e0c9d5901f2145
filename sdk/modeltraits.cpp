// Everything that differs between the five pad models.
#include "sdkcore.h"

namespace {

// Q210 firmware families; the longer "VTQ210L1" must be tried before "VTQ210".
const FirmwarePrefix kQ210Prefixes[] = {
    {"VTM440", 1024}, {"VTQ210L1", 1024}, {"VTM450L1", 1024}, {"VTQ200", 1024},
    {"VTR260", 1024}, {"VTQ210", 2048},   {"VTM45", 2048},
};
const FirmwarePrefix kQ220Prefixes[] = {{"VTQ220", 2048}};
const FirmwarePrefix kQ230FPrefixes[] = {{"VTQ230F", 2048}};
const FirmwarePrefix kQT410Prefixes[] = {{"RUVU410", 8192}};
const FirmwarePrefix kM420Prefixes[] = {{"ROV420", 8192}};

constexpr unsigned kPadEntries =
    DRV_BIT(DRV_INITIAL) | DRV_BIT(DRV_UNINITIAL) | DRV_BIT(DRV_OPEN_DEVICE_LCD) |
    DRV_BIT(DRV_CLEAR_DEVICE_CONTENT) | DRV_BIT(DRV_GET_DEVICE_PEN_ID) | DRV_BIT(DRV_GET_DEVICE_PAD_ID) |
    DRV_BIT(DRV_GET_DEVICE_SECURE_ID) | DRV_BIT(DRV_GET_DEVICE_PARTS_VERSION) |
    DRV_BIT(DRV_SHOW_VERSION_INFO_ON_DEVICE) | DRV_BIT(DRV_SET_DEVICE_PEN_STYLE);
constexpr unsigned kTabletEntries = DRV_BIT(DRV_INITIAL) | DRV_BIT(DRV_UNINITIAL) |
                                    DRV_BIT(DRV_CLEAR_DEVICE_CONTENT) | DRV_BIT(DRV_GET_DEVICE_PAD_ID) |
                                    DRV_BIT(DRV_GET_DEVICE_PARTS_VERSION) | DRV_BIT(DRV_SET_DEVICE_PEN_STYLE);

template <size_t N> constexpr int Count(const FirmwarePrefix (&)[N]) { return int(N); }

} // namespace

const char* const g_DriverEntryNames[DRV_ENTRY_COUNT] = {
    "VTSPDAPI_Initial",           "VTSPDAPI_UnInitial",           "VTSPDAPI_OpenDeviceLCD",
    "VTSPDAPI_ClearDeviceContent", "VTSPDAPI_GetDevicePenID",      "VTSPDAPI_GetDevicePadID",
    "VTSPDAPI_GetDeviceSecureID", "VTSPDAPI_GetDevicePartsVersion", "VTSPDAPI_ShowVersionInfoOnDevice",
    "VTSPDAPI_SetDevicePenStyle", "VTSPDAPI_ShowFPImageOnDevice",
};

const ModelTraits g_TraitsQ210 = {
    .pszName = "Q210", .pszFamily = "VTQ210_", .pszDeviceConst = "VTQ210_DEVICE", .nDeviceId = VTQ210_DEVICE,
    .nRawOffsetX = 160, .nRawSpanX = 2360, .nRawOffsetY = 220, .nRawSpanY = 1430,
    .ePressureRule = PressureRule::PerWidth306, .nStartPressureLevels = 2048,
    .pPrefixes = kQ210Prefixes, .nPrefixCount = Count(kQ210Prefixes),
    .uDriverEntries = kPadEntries, .bHasScreen = true, .bPenStyleToDriver = true,
    .eKeyModel = KeyModel::TwoStep,
    .bObjDropsHighPressure = true, // its older firmware sends stray pressure spikes
    .dblFixedWidthFactor = 1.0, .pszModelText = "Q210",
};

const ModelTraits g_TraitsQ220 = {
    .pszName = "Q220", .pszFamily = "VTQ220_", .pszDeviceConst = "VTQ220_DEVICE", .nDeviceId = VTQ220_DEVICE,
    .nRawOffsetX = 200, .nRawSpanX = 2300, .nRawOffsetY = 200, .nRawSpanY = 1300,
    .ePressureRule = PressureRule::PerWidth306, .nStartPressureLevels = 2048,
    .pPrefixes = kQ220Prefixes, .nPrefixCount = Count(kQ220Prefixes),
    .uDriverEntries = kPadEntries, .bHasScreen = true, .bPenStyleToDriver = true,
    .eKeyModel = KeyModel::TwoStep, .bObjDropsHighPressure = false,
    .dblFixedWidthFactor = 1.0, .pszModelText = "Q220",
};

const ModelTraits g_TraitsQ230F = {
    .pszName = "Q230F", .pszFamily = "VTQ230F_", .pszDeviceConst = "VTQ230F_DEVICE", .nDeviceId = VTQ230F_DEVICE,
    .nRawOffsetX = 2050, .nRawSpanX = 21170, .nRawOffsetY = 1750, .nRawSpanY = 11490,
    .ePressureRule = PressureRule::PerWidth306, .nStartPressureLevels = 2048,
    .pPrefixes = kQ230FPrefixes, .nPrefixCount = Count(kQ230FPrefixes),
    .uDriverEntries = kPadEntries | DRV_BIT(DRV_SHOW_FP_IMAGE_ON_DEVICE), .bHasScreen = true,
    .bPenStyleToDriver = true, .eKeyModel = KeyModel::TwoStep, .bObjDropsHighPressure = false,
    .dblFixedWidthFactor = 1.0,
    .pszModelText = "Q230G", // the USB side's name
};

const ModelTraits g_TraitsQT410 = {
    .pszName = "QT410", .pszFamily = "RUVU410_", .pszDeviceConst = "RUVU410_DEVICE", .nDeviceId = RUVU410_DEVICE,
    .nRawOffsetX = 550, .nRawSpanX = 29870, .nRawOffsetY = 180, .nRawSpanY = 20120,
    .ePressureRule = PressureRule::ThreeTimesLevels, .nStartPressureLevels = 8192,
    .pPrefixes = kQT410Prefixes, .nPrefixCount = Count(kQT410Prefixes),
    .uDriverEntries = kTabletEntries, .bHasScreen = false,
    .bPenStyleToDriver = false, // the tablet always reports pressure
    .eKeyModel = KeyModel::OneStep, .bObjDropsHighPressure = false,
    .dblFixedWidthFactor = 3.0, // tablet canvases are drawn with a wider pen
    .pszModelText = "QT410",
};

const ModelTraits g_TraitsM420 = {
    .pszName = "M420", .pszFamily = "ROV420_", .pszDeviceConst = "ROV420_DEVICE", .nDeviceId = ROV420_DEVICE,
    .nRawOffsetX = 550, .nRawSpanX = 29870, .nRawOffsetY = 180, .nRawSpanY = 20120,
    .ePressureRule = PressureRule::ThreeTimesLevels, .nStartPressureLevels = 8192,
    .pPrefixes = kM420Prefixes, .nPrefixCount = Count(kM420Prefixes),
    .uDriverEntries = kTabletEntries, .bHasScreen = false, .bPenStyleToDriver = false,
    .eKeyModel = KeyModel::OneStep, .bObjDropsHighPressure = false,
    .dblFixedWidthFactor = 3.0, .pszModelText = "M420",
};

const ModelTraits* TraitsForDevice(int nDeviceId)
{
    for (const ModelTraits* t : {&g_TraitsQ210, &g_TraitsQ220, &g_TraitsQ230F, &g_TraitsQT410, &g_TraitsM420})
        if (t->nDeviceId == nDeviceId)
            return t;
    return nullptr;
}
