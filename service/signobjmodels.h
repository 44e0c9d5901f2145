#pragma once

#include "signobjinterface.h"
#include "vtinkmodels.h"

#include <QElapsedTimer>

#include <mutex>
#include <vector>
#include <string>

class QLibrary;

// SDK entry points an adapter may resolve, in the order they are resolved.
// A model resolves the subset its traits allow (see signobjmodels.cpp).
enum SdkEntryPoint {
    EP_InitialDevice,
    EP_UnInitialDevice,
    EP_OpenLCD,
    EP_Clear,
    EP_GetHWPenID,
    EP_GetHWPadID,
    EP_GetHWVersionID,
    EP_DisplayHWVersion,
    EP_SetPenStyle,
    EP_SetPenWidth,
    EP_SignatureStatusCallback,
    EP_GetTotalPacketsNumber,
    EP_getPackets,
    EP_GetInkPointTime,
    EP_FreeInkPointTime,
    EP_SaveDrawingImage,
    EP_SetSaveCenterImageClip,
    EP_getDeviceInfo,
    EP_AboutBox,
    EP_GetAboutInfo,
    EP_PacketsBase64Encode,
    EP_PacketsBase64EncodeFree,
    EP_Base64Decode,
    EP_GetTotalDecodePacketsNumber,
    EP_GetDecodePacketsData,
    EP_SetPenColor,
    EP_GetDeviceConfirmOrCancelKeyStatus,
    EP_SetDisplayedFPImageAt,
    EP_GetFPImageBase64Data,
    EP_FreeFPImageBase64Data,
    EP_GetSVGImageBase64Data,
    EP_FreeSVGImageBase64Data,
    EP_PacketsBase64EncodeEx,
    EP_PacketsBase64EncodeExFree,
    EP_COUNT
};

// Optional groups of entry points; a model resolves those its capabilities
// (vtinkmodels.h) name.
enum ModelFeature : unsigned {
    MF_NONE = 0,
    MF_LCD = VTINK_CAP_SCREEN,              // OpenLCD, GetHWPenID, DisplayHWVersion
    MF_FINGERPRINT = VTINK_CAP_FINGERPRINT, // SetDisplayedFPImageAt, GetFPImageBase64Data, FreeFPImageBase64Data
};

// Everything that differs between the five pad models: one row each in the
// model table (signobjmodels.cpp).
struct ServiceModelTraits {
    int nDeviceType;             // passed first to every SDK call
    const char* pszClassName;    // log label prefix, "SignObjQ210"
    const char* pszSymbolPrefix; // "VTQ210_"
    SignObjInterface* (*pfnCreate)();
};

// The model table's row for a device type, or null.
const ServiceModelTraits* FindModel(int nDeviceType);

// One adapter for every model: loads "./libvtinksdk.so", resolves the model's
// entry points by name and forwards to them.
class SignObjAdapter : public SignObjInterface
{
public:
    explicit SignObjAdapter(const ServiceModelTraits& traits);
    ~SignObjAdapter() override;

    bool LoadDIVuziDadSDK();

    QString GetAboutInfo() override;
    bool InitialDevice(int nID, int nWidth, int nHeight) override;
    bool UnInitialDevice() override;
    bool IsValid() override;
    void Clear() override;
    int GetSize() override;
    QString GetPointer() override;
    std::vector<InkPoint> InkPoints(bool bTimes) override;
    void SetPenWidth(int nWidth) override;
    void SetPenStyle(bool bPressureOn) override;
    void SetPenColor(int nR, int nG, int nB) override;
    QString Encode(int nType) override;
    QString Decode(int nType, QString strPath, QString strData) override;
    QString GetDecodeFilePath() override;
    QString GetDeviceInfo(int nType) override;
    void SetClip(int nWidth, int nHeight) override;
    QString SaveDrawImage(int nType, int nDPI, QString strPath) override;
    QString GetInks() override;
    QString GetOpaqueInks() override;
    QString VersionID() override;
    QString PenID() override;
    QString PadID() override;
    void DisplayDeviceInfoInLCD(bool bShow) override;
    void CloseLCD() override;
    void OpenLCD() override;
    int GetDeviceConfirmOrCancelKeyStatus() override;
    QString GetFingerPrintImage(bool bFPImageOnly) override;
    void SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight) override;
    QString WPSSignConfirmed(bool bEnableDateTime, QString strName) override;
    QString WPSGetInks() override;
    QString GetSVGImageBase64Data() override;
    bool SetPadReports(PadReports* pReports) override; // signobjlive.cpp
    bool Session(PadSession* pSession) const override;

    // The SDK's live callbacks land here (its threads).
    void LivePoint(unsigned long ulPosition, long lPressureAndFlag);
    void LivePadEvent(int nEvent);

    // A read-only view for tests: which model, and what got bound.
    const ServiceModelTraits& Traits() const { return m_traits; }
    bool IsLoaded() const;
    bool IsResolved(SdkEntryPoint ep) const { return m_pfn[ep] != nullptr; }
    // "m_pfn_VTQ210_SetPenWidth"
    std::string PfnName(SdkEntryPoint ep) const;
    // Lets a benchmark have an unchanged image reported again.
    void ForgetReportedImages() { m_lastImageDigest.clear(); m_lastFPImageDigest.clear(); }

private:
    SignObjAdapter(const SignObjAdapter&) = delete;
    SignObjAdapter& operator=(const SignObjAdapter&) = delete;

    // Whether the model's list holds the entry point at all.
    bool ModelHas(SdkEntryPoint ep) const;
    bool Available(SdkEntryPoint ep) const { return m_pSignPadSDK && m_pfn[ep]; }
    template <typename Fn>
    Fn Pfn(SdkEntryPoint ep) const { return reinterpret_cast<Fn>(m_pfn[ep]); }
    std::string Label(const char* pszOperation) const;

    QString GetIdText(SdkEntryPoint ep, const char* pszOperation);
    void CallOpenLCD(bool bOn, const char* pszOperation);
    // Image event array from a Base64 producer and its release function,
    // reported once per change of the image, told by *pLastDigest.
    QString ReportImage(SdkEntryPoint produce, SdkEntryPoint release, int nImageType, int nFlag, bool bUseFlag,
                        const char* pszEventType, QByteArray* pLastDigest, const char* pszOperation);
    // A copy of a text the SDK handed out, which goes back to its release function.
    QString TakeText(char* pszData, SdkEntryPoint release);
    // SaveDrawingImage with the path as given; returns the SDK's code.
    int SaveDrawingImageTo(int nType, int nDPI, const QString& strFullPath, const char* pszOperation);

    const ServiceModelTraits& m_traits;
    QLibrary* m_pSignPadSDK = nullptr;
    void* m_pfn[EP_COUNT] = {};

    // Live reports (signobjlive.cpp). The two callback registrations are
    // resolved when reports start; the lock keeps a point read on the
    // reader thread apart from a Clear of the ink.
    void* m_pfnRealTimeSignatureDataCallback = nullptr;
    void* m_pfnPadEventCallback = nullptr;
    mutable std::mutex m_LiveMutex; // also read by Session()
    PadReports* m_pReports = nullptr; // under m_LiveMutex
    int m_nCanvasWidth = 0, m_nCanvasHeight = 0;
    int m_nRawSpanX = 0, m_nRawSpanY = 0; // 0 until reports start
    int m_nLastCanvasX = 0, m_nLastCanvasY = 0; // where the last pen point was drawn
    QElapsedTimer m_openedAt;             // started when the pad opened
    qint64 m_nOpenedUtcMs = 0;            // the same moment on the wall clock
    std::vector<qint64> m_pointTimes;     // ms since opening of each stored point, as reported live; under m_LiveMutex
    // Each id is a round trip to the pad: read once when it opens, kept
    // while its plug events are watched and it neither left nor came back.
    // Under m_LiveMutex.
    QString m_strPadId, m_strPenId, m_strFirmware;
    bool m_bIdentityRead = false;
    bool m_bPadEventsOn = false;
    QString m_strDecodeFilePath;
    // SHA-256 of the last image reported: a digest, not a copy, to tell
    // "nothing changed" (an empty reply) from a new image.
    QByteArray m_lastImageDigest;
    QByteArray m_lastFPImageDigest; // fingerprint model only
};

// Each model's class: the one adapter, bound to the model's row.
template <int DEVICE_TYPE>
class SignObjModel : public SignObjAdapter
{
public:
    SignObjModel() : SignObjAdapter(*FindModel(DEVICE_TYPE)) {}
};
using SignObjQ210 = SignObjModel<VTQ210_DEVICE>;
using SignObjQ220 = SignObjModel<VTQ220_DEVICE>;
using SignObjQ230F = SignObjModel<VTQ230F_DEVICE>;
using SignObjQT410 = SignObjModel<RUVU410_DEVICE>;
using SignObjM420 = SignObjModel<ROV420_DEVICE>;

// The manager's creation table: the adapter for a device type, or null.
SignObjInterface* CreateModelSignObj(int nID);
