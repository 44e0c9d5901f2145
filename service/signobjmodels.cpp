#include "signobjmodels.h"

#include "signobjsdk.h"
#include "vtlog.h"

#include <QDateTime>
#include <QLibrary>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace {

template <typename Adapter>
SignObjInterface* Create()
{
    return new Adapter();
}

// The model table: everything the service does differently per model.
constexpr ServiceModelTraits MODELS[] = {
    {
        .nDeviceType = VTQ210_DEVICE,
        .pszClassName = "SignObjQ210",
        .pszSymbolPrefix = "VTQ210_",
        .pfnCreate = Create<SignObjQ210>,
    },
    {
        .nDeviceType = VTQ220_DEVICE,
        .pszClassName = "SignObjQ220",
        .pszSymbolPrefix = "VTQ220_",
        .pfnCreate = Create<SignObjQ220>,
    },
    {
        .nDeviceType = VTQ230F_DEVICE,
        .pszClassName = "SignObjQ230F",
        .pszSymbolPrefix = "VTQ230F_",
        .pfnCreate = Create<SignObjQ230F>,
    },
    {
        .nDeviceType = RUVU410_DEVICE,
        .pszClassName = "SignObjQT410",
        .pszSymbolPrefix = "RUVU410_",
        .pfnCreate = Create<SignObjQT410>,
    },
    {
        .nDeviceType = ROV420_DEVICE,
        .pszClassName = "SignObjM420",
        .pszSymbolPrefix = "ROV420_",
        .pfnCreate = Create<SignObjM420>,
    },
};

// The table agrees with the shared model list: same ids, names and prefixes.
constexpr bool SameText(const char* a, const char* b)
{
    return *a == *b && (*a == 0 || SameText(a + 1, b + 1));
}
constexpr bool StartsWith(const char* a, const char* b)
{
    return *b == 0 || (*a == *b && StartsWith(a + 1, b + 1));
}
constexpr bool Listed(int nDeviceType, const char* pszModel, const char* pszPrefix)
{
    for (const ServiceModelTraits& model : MODELS) {
        if (model.nDeviceType == nDeviceType)
            return StartsWith(model.pszClassName, "SignObj") && SameText(model.pszClassName + 7, pszModel) &&
                   SameText(model.pszSymbolPrefix, pszPrefix);
    }
    return false;
}
#define VT_CHECK_MODEL(id, name, prefix, screen, fp) \
    static_assert(Listed(id, name, #prefix), "service model table disagrees with vtinkmodels.h: " name);
VTINK_FOR_EACH_MODEL(VT_CHECK_MODEL)
#undef VT_CHECK_MODEL
#define VT_COUNT_MODEL(id, name, prefix, screen, fp) +1
static_assert(sizeof MODELS / sizeof MODELS[0] == 0 VTINK_FOR_EACH_MODEL(VT_COUNT_MODEL), "one row per model");
#undef VT_COUNT_MODEL

// Entry points in resolution order, with the feature a model needs for each.
struct EntryPoint {
    const char* pszName;
    unsigned needs;
};
const EntryPoint ENTRY_POINTS[] = {
    {"InitialDevice", MF_NONE},
    {"UnInitialDevice", MF_NONE},
    {"OpenLCD", MF_LCD},
    {"Clear", MF_NONE},
    {"GetHWPenID", MF_LCD},
    {"GetHWPadID", MF_NONE},
    {"GetHWVersionID", MF_NONE},
    {"DisplayHWVersion", MF_LCD},
    {"SetPenStyle", MF_NONE},
    {"SetPenWidth", MF_NONE},
    {"SignatureStatusCallback", MF_NONE},
    {"GetTotalPacketsNumber", MF_NONE},
    {"getPackets", MF_NONE},
    {"GetInkPointTime", MF_NONE},
    {"FreeInkPointTime", MF_NONE},
    {"SaveDrawingImage", MF_NONE},
    {"SetSaveCenterImageClip", MF_NONE},
    {"getDeviceInfo", MF_NONE},
    {"AboutBox", MF_NONE},
    {"GetAboutInfo", MF_NONE},
    {"PacketsBase64Encode", MF_NONE},
    {"PacketsBase64EncodeFree", MF_NONE},
    {"Base64Decode", MF_NONE},
    {"GetTotalDecodePacketsNumber", MF_NONE},
    {"GetDecodePacketsData", MF_NONE},
    {"SetPenColor", MF_NONE},
    {"GetDeviceConfirmOrCancelKeyStatus", MF_NONE},
    {"SetDisplayedFPImageAt", MF_FINGERPRINT},
    {"GetFPImageBase64Data", MF_FINGERPRINT},
    {"FreeFPImageBase64Data", MF_FINGERPRINT},
    {"GetSVGImageBase64Data", MF_NONE},
    {"FreeSVGImageBase64Data", MF_NONE},
    {"PacketsBase64EncodeEx", MF_NONE},
    {"PacketsBase64EncodeExFree", MF_NONE},
};
static_assert(sizeof ENTRY_POINTS / sizeof ENTRY_POINTS[0] == EP_COUNT, "one name per entry point");

const int ID_TEXT_SIZE = 32;
const int ABOUT_TEXT_SIZE = 256;

} // namespace

const ServiceModelTraits* FindModel(int nDeviceType)
{
    for (const ServiceModelTraits& model : MODELS) {
        if (model.nDeviceType == nDeviceType)
            return &model;
    }
    return nullptr;
}

SignObjInterface* CreateModelSignObj(int nID)
{
    const ServiceModelTraits* pModel = FindModel(nID);
    return pModel ? pModel->pfnCreate() : nullptr;
}

SignObjAdapter::SignObjAdapter(const ServiceModelTraits& traits) : m_traits(traits)
{
    const bool bResult = LoadDIVuziDadSDK();
    ADAPTER_LOG(m_traits.pszClassName, "<%ld>-Leave, bResult=%d", (int)bResult);
}

SignObjAdapter::~SignObjAdapter()
{
    if (m_pSignPadSDK) {
        m_pSignPadSDK->unload();
        delete m_pSignPadSDK;
        m_pSignPadSDK = nullptr;
    }
}

std::string SignObjAdapter::Label(const char* pszOperation) const
{
    return std::string(m_traits.pszClassName) + "::" + pszOperation + "()";
}

std::string SignObjAdapter::PfnName(SdkEntryPoint ep) const
{
    return std::string("m_pfn_") + m_traits.pszSymbolPrefix + ENTRY_POINTS[ep].pszName;
}

bool SignObjAdapter::ModelHas(SdkEntryPoint ep) const
{
    return VtinkModelHas(m_traits.nDeviceType, ENTRY_POINTS[ep].needs);
}

bool SignObjAdapter::IsLoaded() const
{
    return m_pSignPadSDK && m_pSignPadSDK->isLoaded();
}

bool SignObjAdapter::LoadDIVuziDadSDK()
{
    ADAPTER_LOG("LoadDIVuziDadSDK", "<%ld>-Enter...");
    if (m_pSignPadSDK) { // loaded again: start from a clean handle
        m_pSignPadSDK->unload();
        delete m_pSignPadSDK;
        std::fill(std::begin(m_pfn), std::end(m_pfn), nullptr);
    }
    // Relative on purpose: the SDK sits beside the program, which runs in its own directory.
    m_pSignPadSDK = new QLibrary(QStringLiteral("./libvtinksdk.so"));
    if (!m_pSignPadSDK->load()) {
        ADAPTER_LOG("LoadDIVuziDadSDK", "<%ld>-libvtinksdk.so' Library is not loaded, stdstrErrorString=%s",
                    m_pSignPadSDK->errorString().toUtf8().constData());
        return false;
    }
    bool bRet = true;
    for (int i = 0; i < EP_COUNT; ++i) {
        const SdkEntryPoint ep = static_cast<SdkEntryPoint>(i);
        if (!ModelHas(ep))
            continue;
        // A missing symbol does not stop the others: what resolved keeps working.
        const std::string symbol = std::string(m_traits.pszSymbolPrefix) + ENTRY_POINTS[ep].pszName;
        m_pfn[ep] = reinterpret_cast<void*>(m_pSignPadSDK->resolve(symbol.c_str()));
        if (!m_pfn[ep]) {
            bRet = false;
            ADAPTER_LOG("LoadDIVuziDadSDK", "<%ld>-%s not resolved", PfnName(ep).c_str());
        }
    }
    if (!bRet)
        ADAPTER_LOG("LoadDIVuziDadSDK", "<%ld>-APIs of 'libvtinksdk.so' Library loaded Failed, stdstrErrorString=%s",
                    m_pSignPadSDK->errorString().toUtf8().constData());
    ADAPTER_LOG("LoadDIVuziDadSDK", "<%ld>-Leave, bRet=%d", (int)bRet);
    return bRet;
}

bool SignObjAdapter::InitialDevice(int nID, int nWidth, int nHeight)
{
    ADAPTER_LOG("InitialDevice", "<%ld>-Enter, nID=%d, nWidth=%d, nHeight=%d", nID, nWidth, nHeight);
    if (!Available(EP_InitialDevice))
        return false;
    const bool bResult = Pfn<sdkfn::InitialDevice>(EP_InitialDevice)(nID, nullptr, 0, 0, nWidth, nHeight);
    if (bResult) {
        m_nCanvasWidth = nWidth;
        m_nCanvasHeight = nHeight;
        m_openedAt.start();
        m_nOpenedUtcMs = QDateTime::currentMSecsSinceEpoch();
        const QString strPadId = PadID(), strPenId = PenID(), strFirmware = VersionID();
        std::lock_guard<std::mutex> lock(m_LiveMutex);
        m_pointTimes.clear();
        m_strPadId = strPadId;
        m_strPenId = strPenId;
        m_strFirmware = strFirmware;
        m_bIdentityRead = true;
    }
    ADAPTER_LOG("InitialDevice", "<%ld>-after call %s(), bResult=%d", PfnName(EP_InitialDevice).c_str(), (int)bResult);
    return bResult;
}

bool SignObjAdapter::Session(PadSession* pSession) const
{
    if (!m_openedAt.isValid())
        return false;
    pSession->nOpenedUtcMs = m_nOpenedUtcMs;
    pSession->nCanvasWidth = m_nCanvasWidth;
    pSession->nCanvasHeight = m_nCanvasHeight;
    std::lock_guard<std::mutex> lock(m_LiveMutex);
    pSession->pointTimes = m_pointTimes;
    pSession->bIdentity = m_bIdentityRead && m_bPadEventsOn;
    if (pSession->bIdentity) {
        pSession->strPadId = m_strPadId;
        pSession->strPenId = m_strPenId;
        pSession->strFirmware = m_strFirmware;
    }
    return true;
}

bool SignObjAdapter::UnInitialDevice()
{
    ADAPTER_LOG("UnInitialDevice", "<%ld>-Enter");
    if (!Available(EP_UnInitialDevice))
        return false;
    {
        std::lock_guard<std::mutex> lock(m_LiveMutex);
        m_bIdentityRead = false;
    }
    const int nResult = Pfn<sdkfn::UnInitialDevice>(EP_UnInitialDevice)(m_traits.nDeviceType);
    ADAPTER_LOG("UnInitialDevice", "<%ld>-after call %s(), nResult=%d", PfnName(EP_UnInitialDevice).c_str(), nResult);
    return nResult == ARI_SUCCESS;
}

void SignObjAdapter::Clear()
{
    ADAPTER_LOG("Clear", "<%ld>-Enter");
    if (!Available(EP_Clear))
        return;
    // No point is read live while the ink is cleared: one read before belongs
    // to the old ink, one read after to the new.
    std::lock_guard<std::mutex> lock(m_LiveMutex);
    const int nResult = Pfn<sdkfn::Clear>(EP_Clear)(m_traits.nDeviceType);
    m_pointTimes.clear();
    if (m_pReports)
        m_pReports->InkCleared();
    ADAPTER_LOG("Clear", "<%ld>-after call %s(), nResult=%d", PfnName(EP_Clear).c_str(), nResult);
}

bool SignObjAdapter::IsValid()
{
    ADAPTER_LOG("IsValid", "<%ld>-Enter");
    if (!Available(EP_getDeviceInfo))
        return false;
    unsigned char bDeviceConnected = 0;
    const int nResult = Pfn<sdkfn::getDeviceInfo>(EP_getDeviceInfo)(m_traits.nDeviceType, DIID_GET_STATUS, &bDeviceConnected);
    ADAPTER_LOG("IsValid", "<%ld>-after call %s(), nResult=%d, bDeviceConnected=%d", PfnName(EP_getDeviceInfo).c_str(), nResult,
                (int)bDeviceConnected);
    return nResult == ARI_SUCCESS && bDeviceConnected != 0;
}

int SignObjAdapter::GetSize()
{
    ADAPTER_LOG("GetSize", "<%ld>-Enter");
    if (!Available(EP_GetTotalPacketsNumber))
        return 0;
    const int nInksCount = Pfn<sdkfn::GetTotalPacketsNumber>(EP_GetTotalPacketsNumber)(m_traits.nDeviceType);
    ADAPTER_LOG("GetSize", "<%ld>-after call %s(), nInksCount=%d", PfnName(EP_GetTotalPacketsNumber).c_str(), nInksCount);
    // The SDK answers an empty ink store (-8) or a missing canvas (-1) with a
    // code; callers and pages read this as a point count, so no ink is 0.
    return nInksCount > 0 ? nInksCount : 0;
}

void SignObjAdapter::SetPenWidth(int nWidth)
{
    ADAPTER_LOG("SetPenWidth", "<%ld>-Enter, nWidth=%d", nWidth);
    if (!Available(EP_SetPenWidth))
        return;
    const int nResult = Pfn<sdkfn::SetPenWidth>(EP_SetPenWidth)(m_traits.nDeviceType, nWidth);
    ADAPTER_LOG("SetPenWidth", "<%ld>-after call %s(), nResult=%d", PfnName(EP_SetPenWidth).c_str(), nResult);
}

void SignObjAdapter::SetPenStyle(bool bPressureOn)
{
    ADAPTER_LOG("SetPenStyle", "<%ld>-Enter, bPressureOn=%d", (int)bPressureOn);
    if (!Available(EP_SetPenStyle))
        return;
    const int nResult = Pfn<sdkfn::SetPenStyle>(EP_SetPenStyle)(m_traits.nDeviceType, bPressureOn);
    ADAPTER_LOG("SetPenStyle", "<%ld>-after call %s(), nResult=%d", PfnName(EP_SetPenStyle).c_str(), nResult);
}

void SignObjAdapter::SetPenColor(int nR, int nG, int nB)
{
    ADAPTER_LOG("SetPenColor", "<%ld>-Enter, nR=%d, nG=%d, nB=%d", nR, nG, nB);
    if (!Available(EP_SetPenColor))
        return;
    const int nResult = Pfn<sdkfn::SetPenColor>(EP_SetPenColor)(m_traits.nDeviceType, nR, nG, nB);
    ADAPTER_LOG("SetPenColor", "<%ld>-after call %s(), nResult=%d", PfnName(EP_SetPenColor).c_str(), nResult);
}

void SignObjAdapter::SetClip(int nWidth, int nHeight)
{
    ADAPTER_LOG("SetClip", "<%ld>-Enter, nWidth=%d, nHeight=%d", nWidth, nHeight);
    if (!Available(EP_SetSaveCenterImageClip) || nWidth < 0 || nHeight < 0)
        return;
    // The two values are the clip margins; both 0 switch clipping off.
    const bool bClip = !(nWidth == 0 && nHeight == 0);
    const int nResult = Pfn<sdkfn::SetSaveCenterImageClip>(EP_SetSaveCenterImageClip)(m_traits.nDeviceType, bClip, nWidth, nHeight);
    ADAPTER_LOG("SetClip", "<%ld>-after call %s(), nResult=%d", PfnName(EP_SetSaveCenterImageClip).c_str(), nResult);
}

void SignObjAdapter::CallOpenLCD(bool bOn, const char* pszOperation)
{
    ADAPTER_LOG(pszOperation, "<%ld>-Enter");
    if (!Available(EP_OpenLCD))
        return;
    const int nResult = Pfn<sdkfn::OpenLCD>(EP_OpenLCD)(m_traits.nDeviceType, bOn);
    ADAPTER_LOG(pszOperation, "<%ld>-after call %s(), nResult=%d", PfnName(EP_OpenLCD).c_str(), nResult);
}

void SignObjAdapter::OpenLCD() { CallOpenLCD(true, "OpenLCD"); }
void SignObjAdapter::CloseLCD() { CallOpenLCD(false, "CloseLCD"); }

void SignObjAdapter::DisplayDeviceInfoInLCD(bool bShow)
{
    ADAPTER_LOG("DisplayDeviceInfoInLCD", "<%ld>-Enter, bShow=%d", (int)bShow);
    if (!Available(EP_DisplayHWVersion))
        return;
    const int nResult = Pfn<sdkfn::DisplayHWVersion>(EP_DisplayHWVersion)(m_traits.nDeviceType, bShow);
    ADAPTER_LOG("DisplayDeviceInfoInLCD", "<%ld>-after call %s(), nResult=%d", PfnName(EP_DisplayHWVersion).c_str(), nResult);
}

int SignObjAdapter::GetDeviceConfirmOrCancelKeyStatus()
{
    if (!Available(EP_GetDeviceConfirmOrCancelKeyStatus))
        return -1;
    const int nKeyStatus = Pfn<sdkfn::GetDeviceConfirmOrCancelKeyStatus>(EP_GetDeviceConfirmOrCancelKeyStatus)(m_traits.nDeviceType);
    // Polled every 20 ms: only presses are worth a line.
    if (nKeyStatus >= 0)
        ADAPTER_LOG("GetDeviceConfirmOrCancelKeyStatus", "<%ld>-after call %s(), nKeyStatus=%d",
                    PfnName(EP_GetDeviceConfirmOrCancelKeyStatus).c_str(), nKeyStatus);
    return nKeyStatus;
}

QString SignObjAdapter::GetIdText(SdkEntryPoint ep, const char* pszOperation)
{
    ADAPTER_LOG(pszOperation, "<%ld>-Enter");
    if (!Available(ep))
        return QString("");
    char szText[ID_TEXT_SIZE] = {}; // zero-filled: a failed call yields empty text
    const int nResult = Pfn<sdkfn::GetHWText>(ep)(m_traits.nDeviceType, szText, ID_TEXT_SIZE);
    ADAPTER_LOG(pszOperation, "<%ld>-after call %s(), nResult=%d", PfnName(ep).c_str(), nResult);
    // Bounded: a full buffer without a terminator must not be read past.
    const QString strResult = QString::fromUtf8(szText, static_cast<int>(qstrnlen(szText, ID_TEXT_SIZE)));
    ADAPTER_LOG(pszOperation, "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

QString SignObjAdapter::VersionID() { return GetIdText(EP_GetHWVersionID, "VersionID"); }
QString SignObjAdapter::PenID() { return GetIdText(EP_GetHWPenID, "PenID"); }
QString SignObjAdapter::PadID() { return GetIdText(EP_GetHWPadID, "PadID"); }

QString SignObjAdapter::GetAboutInfo()
{
    ADAPTER_LOG("GetAboutInfo", "<%ld>-Enter");
    if (!Available(EP_GetAboutInfo))
        return QString("");
    char szAbout[ABOUT_TEXT_SIZE] = {};
    Pfn<sdkfn::GetAboutInfo>(EP_GetAboutInfo)(m_traits.nDeviceType, szAbout);
    const QString strResult = QString::fromUtf8(szAbout, static_cast<int>(qstrnlen(szAbout, ABOUT_TEXT_SIZE)));
    ADAPTER_LOG("GetAboutInfo", "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

void SignObjAdapter::SetDisplayedFPImageAt(int nCanvasWidth, int nCanvasHeight, int nFPLeft, int nFPTop, int nFPWidth, int nFPHeight)
{
    ADAPTER_LOG("SetDisplayedFPImageAt", "<%ld>-Enter, nCanvasWidth=%d, nCanvasHeight=%d, nFPLeft=%d, nFPTop=%d, nFPWidth=%d, nFPHeight=%d",
                nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    if (!Available(EP_SetDisplayedFPImageAt))
        return;
    const int nResult = Pfn<sdkfn::SetDisplayedFPImageAt>(EP_SetDisplayedFPImageAt)(
        m_traits.nDeviceType, nullptr, nCanvasWidth, nCanvasHeight, nFPLeft, nFPTop, nFPWidth, nFPHeight);
    ADAPTER_LOG("SetDisplayedFPImageAt", "<%ld>-after call %s(), nResult=%d", PfnName(EP_SetDisplayedFPImageAt).c_str(), nResult);
}

QString SignObjAdapter::GetDecodeFilePath()
{
    return m_strDecodeFilePath;
}
