#include "driverlink.h"
#include "modeltraits.h"
#include "vtlog.h"

#include <QLibrary>

#include <tuple>

namespace {

// Which models resolve an entry point, by the capabilities it needs
// (vtinkmodels.h); every one a model resolves is required.
enum Need : unsigned {
    Every = 0,                           // all models
    Screen = VTINK_CAP_SCREEN,           // pads with a screen (not the tablets)
    Fingerprint = VTINK_CAP_FINGERPRINT, // the fingerprint pad
};

template <class Fn> struct Entry {
    const char* pszName;
    Fn DriverEntryPoints::*pMember;
    Need eNeed;
};
template <class Fn> constexpr Entry<Fn> MakeEntry(const char* pszName, Fn DriverEntryPoints::*pMember, Need eNeed)
{
    return {pszName, pMember, eNeed};
}
#define VT_ENTRY(NAME, NEED) MakeEntry("VTSPDAPI_" #NAME, &DriverEntryPoints::m_pfn_VTSPDAPI_##NAME, Need::NEED)

// In resolution order.
const auto kEntries = std::make_tuple(
    VT_ENTRY(Initial, Every), VT_ENTRY(UnInitial, Every), VT_ENTRY(OpenDeviceLCD, Screen),
    VT_ENTRY(ClearDeviceContent, Every), VT_ENTRY(GetDevicePenID, Screen), VT_ENTRY(GetDevicePadID, Every),
    VT_ENTRY(GetDeviceSecureID, Screen), VT_ENTRY(GetDevicePartsVersion, Every),
    VT_ENTRY(ShowVersionInfoOnDevice, Screen), VT_ENTRY(SetDevicePenStyle, Every),
    VT_ENTRY(ShowFPImageOnDevice, Fingerprint));
#undef VT_ENTRY

template <class Fn>
bool Bind(QLibrary& library, const SdkModelTraits& traits, DriverEntryPoints& api, const Entry<Fn>& entry)
{
    if (!VtinkModelHas(traits.nDeviceId, entry.eNeed))
        return true;
    api.*entry.pMember = reinterpret_cast<Fn>(library.resolve(entry.pszName));
    return api.*entry.pMember != nullptr;
}

} // namespace

CSignPadDriver::CSignPadDriver(const SdkModelTraits& traits, std::string strLabelPrefix)
    : m_Traits(traits), m_strLabelPrefix(std::move(strLabelPrefix))
{
}

CSignPadDriver::~CSignPadDriver()
{
    ShutdownDIVuziDadDriver();
}

bool CSignPadDriver::Resolve()
{
    // One pass in table order, stopping at the first missing entry point.
    const bool ok = std::apply(
        [this](const auto&... entry) { return (Bind(*m_pSignPadDriver, m_Traits, m_Api, entry) && ...); }, kEntries);
    if (!ok)
        m_Api = DriverEntryPoints{}; // all or nothing: a half-bound driver is never called
    return ok;
}

bool CSignPadDriver::LoadDIVuziDadDriver(HWSignDataCallback pfnPen, FPDataCallback pfnFP)
{
    const std::string label = m_strLabelPrefix + "LoadDIVuziDadDriver()";
    if (!m_pSignPadDriver)
        m_pSignPadDriver = new QLibrary(QStringLiteral("./libvtinkdrv.so"));
    if (!m_pSignPadDriver->isLoaded() && !m_pSignPadDriver->load()) {
        VT_LOG(label.c_str(), "<%ld>-'libvtinkdrv.so' Library is not loaded !");
        return false;
    }
    if (!Resolve()) {
        VT_LOG(label.c_str(), "<%ld>-'libvtinkdrv.so' Library APIs failed to load !");
        return false;
    }
    const int nResult = m_Api.m_pfn_VTSPDAPI_Initial(m_Traits.nDeviceId, pfnPen, pfnFP);
    VT_LOG(label.c_str(), "<%ld>-after call m_pfn_VTSPDAPI_Initial(), nResult=%d", nResult);
    return nResult == 0;
}

int CSignPadDriver::IdentifyPad()
{
    // Logged under the name the system has always used for this step.
    const std::string label = m_strLabelPrefix + "IsDeviceConnected()";
    char cVersion[32] = {};
    const int nResult = m_Api.m_pfn_VTSPDAPI_GetDevicePartsVersion(cVersion, 32);
    cVersion[31] = 0;
    VT_LOG(label.c_str(), "<%ld>-cVersion=%s, nResult=%d", cVersion, nResult);
    const int nLevels = m_Traits.PressureLevelsOf(cVersion);
    if (nLevels == 0) {
        VT_LOG(label.c_str(), "<%ld>-leave with m_bDeviceConnected=%d", 0);
        return 0;
    }
    m_Api.m_pfn_VTSPDAPI_ClearDeviceContent();
    if (m_Traits.HasScreen())
        m_Api.m_pfn_VTSPDAPI_OpenDeviceLCD(true);
    return nLevels;
}

bool CSignPadDriver::ShutdownDIVuziDadDriver()
{
    if (!m_pSignPadDriver)
        return true;
    if (m_Traits.HasScreen()) {
        if (m_Api.m_pfn_VTSPDAPI_OpenDeviceLCD)
            m_Api.m_pfn_VTSPDAPI_OpenDeviceLCD(false);
    } else if (m_Api.m_pfn_VTSPDAPI_ClearDeviceContent) {
        m_Api.m_pfn_VTSPDAPI_ClearDeviceContent();
    }
    if (m_Api.m_pfn_VTSPDAPI_UnInitial)
        m_Api.m_pfn_VTSPDAPI_UnInitial();
    m_Api = DriverEntryPoints{};
    m_pSignPadDriver->unload();
    delete m_pSignPadDriver;
    m_pSignPadDriver = nullptr;
    return true;
}
