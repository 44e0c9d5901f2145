// Shared helpers of the SDK tests: the test driver's controls, callback
// recorders that tests wait on with deadlines, and small image helpers.
#pragma once

#include "signobj.h"
#include "vtinksdk.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

// The test driver library, loaded from the working directory exactly as the
// SDK loads it, so both reach the same instance.
struct FakeDriver {
    void (*reset)();
    void (*set_version)(const char*);
    void (*set_initial_result)(int);
    const char* (*calls)();
    int (*count)(const char*);
    int (*inject)(int, int, int, int);
    int (*inject_fp)(unsigned char*, int, int);
    // Null when the working directory holds no test driver.
    static FakeDriver* Get();
    // Get(), reset and answering with this firmware text.
    static FakeDriver* Fresh(const char* pszVersion);
};

// Status-callback recorder: the key-action thread appends, tests wait.
struct StatusRecorder {
    std::mutex lock;
    std::condition_variable cond;
    std::vector<int> values;
    bool bBlock = false; // callbacks wait here until Release()
    bool bInside = false;
    static StatusRecorder& Get();
    static void Callback(int nStatus);
    void Reset();
    // Waits until n values arrived; false at the deadline.
    bool WaitFor(size_t n, std::chrono::milliseconds deadline = std::chrono::seconds(10));
    bool WaitInside(std::chrono::milliseconds deadline = std::chrono::seconds(10));
    void Release();
    std::vector<int> Values();
};

// Live point recorder.
struct LiveRecorder {
    std::mutex lock;
    std::vector<std::pair<unsigned long, long>> values;
    static LiveRecorder& Get();
    static void Callback(unsigned long ulPosition, long lPressure);
    std::vector<std::pair<unsigned long, long>> Values();
};

QImage DecodeBase64Image(const char* pszText);
std::wstring W(const QString& s);
// Dark (non-white) pixels in one column of an image.
int DarkPixelsInColumn(const QImage& image, int x);

// The entry points of one family, as a host binds them.
struct Family {
    const char* name;
    int id;
    decltype(&VTQ210_InitialDevice) InitialDevice;
    decltype(&VTQ210_UnInitialDevice) UnInitialDevice;
    decltype(&VTQ210_Clear) Clear;
    decltype(&VTQ210_GetTotalPacketsNumber) GetTotalPacketsNumber;
    decltype(&VTQ210_GetTotalDecodePacketsNumber) GetTotalDecodePacketsNumber;
    decltype(&VTQ210_getPackets) getPackets;
    decltype(&VTQ210_GetInkPointTime) GetInkPointTime;
    decltype(&VTQ210_SaveDrawingImage) SaveDrawingImage;
    decltype(&VTQ210_SetSaveCenterImageClip) SetSaveCenterImageClip;
    decltype(&VTQ210_getDeviceInfo) getDeviceInfo;
    decltype(&VTQ210_PacketsBase64Encode) PacketsBase64Encode;
    decltype(&VTQ210_PacketsBase64EncodeEx) PacketsBase64EncodeEx;
    decltype(&VTQ210_Base64Decode) Base64Decode;
    decltype(&VTQ210_GetDecodePacketsData) GetDecodePacketsData;
    decltype(&VTQ210_RealTimeSignatureDataCallback) RealTimeSignatureDataCallback;
    decltype(&VTQ210_GetAboutInfo) GetAboutInfo;
    decltype(&VTQ210_GetSVGImageBase64Data) GetSVGImageBase64Data;
    decltype(&VTQ210_GetDeviceConfirmOrCancelKeyStatus) GetDeviceConfirmOrCancelKeyStatus;
    decltype(&VTQ210_SetPenWidth) SetPenWidth;
    decltype(&VTQ210_SetPenStyle) SetPenStyle;
    decltype(&VTQ210_SignatureStatusCallback) SignatureStatusCallback;
};

#define FAMILY(P, ID)                                                                                       \
    Family                                                                                                  \
    {                                                                                                       \
        #P, ID, P##InitialDevice, P##UnInitialDevice, P##Clear, P##GetTotalPacketsNumber,                   \
            P##GetTotalDecodePacketsNumber, P##getPackets, P##GetInkPointTime, P##SaveDrawingImage,         \
            P##SetSaveCenterImageClip, P##getDeviceInfo, P##PacketsBase64Encode, P##PacketsBase64EncodeEx,  \
            P##Base64Decode, P##GetDecodePacketsData, P##RealTimeSignatureDataCallback, P##GetAboutInfo,    \
            P##GetSVGImageBase64Data, P##GetDeviceConfirmOrCancelKeyStatus, P##SetPenWidth, P##SetPenStyle, P##SignatureStatusCallback               \
    }

extern const Family kFamilies[5];
inline void PrintTo(const Family& f, std::ostream* os)
{
    *os << f.name;
}
// A firmware text that the family's model accepts.
const char* VersionOf(int id);
// Raw pad coordinates of a canvas point.
int RawX(const SdkModelTraits& t, int nCanvasWidth, double x);
int RawY(const SdkModelTraits& t, int nCanvasHeight, double y);
// Raw pressure giving a stroke width of about 3 at pen width 3.
int PressureForWidth3(const SdkModelTraits& t);
