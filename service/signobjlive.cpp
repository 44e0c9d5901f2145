// Live reports of the open pad: the SDK's live point callback, read together
// with the stored point it announces, and its pad events (keys, plug).
#include "signobjmodels.h"

#include "signobjsdk.h"
#include "vtlog.h"

#include <QLibrary>

#include <atomic>
#include <cmath>

namespace {

using RealTimeSignatureDataCallbackFn = decltype(&VTQ210_RealTimeSignatureDataCallback);
using PadEventCallbackFn = decltype(&VTQ210_PadEventCallback);

// The live point callback carries no context; one adapter reports at a time.
std::atomic<SignObjAdapter*> s_pLiveAdapter{nullptr};

void OnLivePoint(unsigned long ulPosition, long lPressureAndFlag)
{
    if (SignObjAdapter* pAdapter = s_pLiveAdapter.load())
        pAdapter->LivePoint(ulPosition, lPressureAndFlag);
}

void OnPadEvent(int nEvent, void* pContext)
{
    static_cast<SignObjAdapter*>(pContext)->LivePadEvent(nEvent);
}

// The SDK reports a position as clamp(raw - offset, 0, span - 1) * 65535 /
// span, truncated. With span < 65535 that is one to one: the clamped raw
// distance comes back exactly, and with it the pixel the SDK drew at (its
// scale is canvas size / span).
int CanvasPixel(unsigned long ulNormalised, int nSpan, int nCanvasSize)
{
    if (nSpan <= 0)
        return 0;
    const long long d = ((long long)ulNormalised * nSpan + 65534) / 65535;
    return int(std::floor(double(d) * (double(nCanvasSize) / nSpan)));
}

} // namespace

bool SignObjAdapter::SetPadReports(PadReports* pReports)
{
    ADAPTER_LOG("SetPadReports", "<%ld>-Enter, pReports=%lx", (unsigned long)pReports);
    if (!pReports) {
        {
            std::lock_guard<std::mutex> lock(m_LiveMutex);
            m_pReports = nullptr;
            m_bPadEventsOn = false; // a swap of pads would go unseen now
            m_bIdentityRead = false;
        }
        if (m_pfnPadEventCallback && m_pSignPadSDK)
            reinterpret_cast<PadEventCallbackFn>(m_pfnPadEventCallback)(m_traits.nDeviceType, nullptr, nullptr);
        SignObjAdapter* pSelf = this;
        s_pLiveAdapter.compare_exchange_strong(pSelf, nullptr);
        return true;
    }
    if (!m_pSignPadSDK || !Available(EP_GetTotalPacketsNumber) || !Available(EP_getPackets) ||
        !Available(EP_getDeviceInfo))
        return false;
    const std::string prefix = m_traits.pszSymbolPrefix;
    if (!m_pfnRealTimeSignatureDataCallback)
        m_pfnRealTimeSignatureDataCallback =
            reinterpret_cast<void*>(m_pSignPadSDK->resolve((prefix + "RealTimeSignatureDataCallback").c_str()));
    if (!m_pfnPadEventCallback)
        m_pfnPadEventCallback = reinterpret_cast<void*>(m_pSignPadSDK->resolve((prefix + "PadEventCallback").c_str()));
    int32_t anX[2] = {0, 0}, anY[2] = {0, 0};
    const auto getDeviceInfo = Pfn<sdkfn::getDeviceInfo>(EP_getDeviceInfo);
    getDeviceInfo(m_traits.nDeviceType, DIID_GET_X_RANGE, anX);
    getDeviceInfo(m_traits.nDeviceType, DIID_GET_Y_RANGE, anY);
    {
        std::lock_guard<std::mutex> lock(m_LiveMutex);
        m_nRawSpanX = anX[1];
        m_nRawSpanY = anY[1];
        m_pReports = pReports;
    }
    s_pLiveAdapter = this;
    bool bPoints = false, bEvents = false;
    if (m_pfnRealTimeSignatureDataCallback)
        bPoints = reinterpret_cast<RealTimeSignatureDataCallbackFn>(m_pfnRealTimeSignatureDataCallback)(
            m_traits.nDeviceType, OnLivePoint);
    if (m_pfnPadEventCallback)
        bEvents = reinterpret_cast<PadEventCallbackFn>(m_pfnPadEventCallback)(m_traits.nDeviceType, OnPadEvent, this) ==
                  ARI_SUCCESS;
    {
        std::lock_guard<std::mutex> lock(m_LiveMutex);
        m_bPadEventsOn = bEvents;
    }
    ADAPTER_LOG("SetPadReports", "<%ld>-Leave, bPoints=%d, bEvents=%d", (int)bPoints, (int)bEvents);
    return bPoints || bEvents;
}

void SignObjAdapter::LivePoint(unsigned long ulPosition, long lPressureAndFlag)
{
    std::lock_guard<std::mutex> lock(m_LiveMutex);
    const bool bStrokeEnd = ((lPressureAndFlag >> 16) & 0xFFFF) == 0;
    // A stroke end is not drawn: it stands where its stroke's last point was
    // drawn (its own report carries that point's position as stored, 16 bits).
    if (!bStrokeEnd) {
        m_nLastCanvasX = CanvasPixel(ulPosition & 0xFFFF, m_nRawSpanX, m_nCanvasWidth);
        m_nLastCanvasY = CanvasPixel((ulPosition >> 16) & 0xFFFF, m_nRawSpanY, m_nCanvasHeight);
    }
    // Every point's time on the clock of "PenData", for the evidence record.
    m_pointTimes.push_back(m_openedAt.isValid() ? m_openedAt.elapsed() : 0);
    if (!m_pReports || !m_pReports->WantsPoints())
        return;
    // Called right after the point was stored, on the one thread that stores
    // points: it is the last one, unless a Clear came in between (then the
    // point is gone and not reported).
    const int nCount = Pfn<sdkfn::GetTotalPacketsNumber>(EP_GetTotalPacketsNumber)(m_traits.nDeviceType);
    if (nCount <= 0)
        return;
    _PACKETS packet = {};
    packet.nIndex = nCount - 1;
    if (Pfn<sdkfn::getPackets>(EP_getPackets)(m_traits.nDeviceType, &packet) != ARI_SUCCESS)
        return;
    if (bStrokeEnd != (packet.bStrokeEnd != 0) || (lPressureAndFlag & 0xFFFF) != (packet.nPressure & 0xFFFF))
        return; // not the point this report announced
    PadReports::Point point;
    point.nX = packet.nX;
    point.nY = packet.nY;
    point.nPressure = packet.nPressure;
    point.bStrokeEnd = bStrokeEnd;
    point.nCanvasX = m_nLastCanvasX;
    point.nCanvasY = m_nLastCanvasY;
    point.nMsSinceOpen = m_openedAt.isValid() ? m_openedAt.elapsed() : 0;
    m_pReports->PointStored(point);
}

void SignObjAdapter::LivePadEvent(int nEvent)
{
    std::lock_guard<std::mutex> lock(m_LiveMutex);
    if (nEvent == PADEV_UNPLUGGED || nEvent == PADEV_PLUGGED)
        m_bIdentityRead = false; // the pad back may be another one
    if (!m_pReports)
        return;
    switch (nEvent) {
    case PADEV_KEY_STATUS:
        m_pReports->KeyTouched();
        break;
    case PADEV_UNPLUGGED:
        m_pReports->PadAttached(false);
        break;
    case PADEV_PLUGGED:
        m_pReports->PadAttached(true);
        break;
    default:
        break;
    }
}
