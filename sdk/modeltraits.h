// Everything that differs between the five pad models inside the SDK: one
// SdkModelTraits row per model, all of them in modeltraits.cpp. Device ids and
// names come from the shared model list (vtinkmodels.h). A new pad model
// gets a row there and its thin canvas classes in signobj.h and signwidget.h.
#pragma once

#include "vtinkmodels.h"

class CSignCore;
class QWidget;

enum class KeyModel {
    TwoStep, // key counts when the pen lifts from it (HID and fingerprint pads)
    OneStep  // key counts at once (tablets report keys on release)
};

enum class PressureRule {
    PerWidth306,     // width / 306.0
    ThreeTimesLevels // width * 3.0 / pressure levels
};

struct FirmwarePrefix {
    const char* pszPrefix; // compared over its own length
    int nPressureLevels;
};

struct SdkModelTraits {
    int nDeviceId;
    int nRawOffsetX, nRawSpanX;
    int nRawOffsetY, nRawSpanY;
    PressureRule ePressureRule;
    int nStartPressureLevels;
    const FirmwarePrefix* pPrefixes; // tried in order
    int nPrefixCount;
    bool bPenStyleToDriver;     // SetDevicePenStyle reaches the pad
    KeyModel eKeyModel;
    bool bObjDropsHighPressure; // object kind drops moves above the pressure levels
    double dblFixedWidthFactor; // fixed-width strokes: pen width times this
    const char* pszModelText;   // DIID_GET_MODEL_NAME
    // The model's canvas classes (C<model>SignObj, C<model>SignWidget).
    CSignCore* (*pfnNewSignObj)(int nWidth, int nHeight);
    CSignCore* (*pfnNewSignWidget)(QWidget* pParentWidget);

    // Pressure levels of a pad whose firmware text starts with one of the
    // model's prefixes (tried in order, bytes compared); 0 when none matches.
    int PressureLevelsOf(const char* pszFirmware) const;

    // From the shared model list.
    // LCD, pen id, secure id and version screen; LCD on at connect, off at shutdown.
    bool HasScreen() const { return VtinkModelHas(nDeviceId, VTINK_CAP_SCREEN); }
    // Fingerprint reader: its callback, screen images, the fingerprint layer.
    bool HasFingerprint() const { return VtinkModelHas(nDeviceId, VTINK_CAP_FINGERPRINT); }
    const char* Name() const;        // "Q210": class and log names
    const char* Family() const;      // "VTQ210_": the export prefix
    const char* DeviceConst() const; // "VTQ210_DEVICE", for log lines
};

// The models by the name their classes carry: g_Traits<model>,
// C<model>SignObj, C<model>SignWidget.
#define VT_SDK_FOR_EACH_MODEL(X) X(Q210) X(Q220) X(Q230F) X(QT410) X(M420)

#define VT_DECLARE_TRAITS(M) extern const SdkModelTraits g_Traits##M;
VT_SDK_FOR_EACH_MODEL(VT_DECLARE_TRAITS)
#undef VT_DECLARE_TRAITS
// Traits of a device id, null when unsupported.
const SdkModelTraits* TraitsForDevice(int nDeviceId);
