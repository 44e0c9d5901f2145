#include "inkstore.h"
#include "sdkhelpers.h"
#include "vtlog.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

namespace {

int64_t WallClockMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Floor division: a wall clock before 1970 still yields whole seconds below.
int64_t FloorDiv(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

// The wall clock can step (NTP, the user) while the pen writes; the monotonic
// tick cannot. Both stamps of a point come from one tick reading placed on the
// wall clock read at the anchor, so point times never run backwards.
void CInkStore::AnchorLocked()
{
    const int64_t nTick = GetTickCount();
    m_nWallMinusTickMs = WallClockMs() - nTick;
}

int64_t CInkStore::WallMsOf(const _POINTDATA& pt) const
{
    return pt.lTickCount + m_nWallMinusTickMs;
}

_POINTDATA CInkStore::StampedLocked(_POINTDATA pt) const
{
    pt.lTickCount = GetTickCount();
    pt.tTime = FloorDiv(WallMsOf(pt), 1000);
    return pt;
}

void CInkStore::Open()
{
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        m_pPointDataList.reset(new PointDataList);
        AnchorLocked();
    }
    m_pDecodedPointDataList.reset(new PointDataList);
}

void CInkStore::Close()
{
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        m_pPointDataList.reset();
    }
    m_pDecodedPointDataList.reset();
}

bool CInkStore::Append(int nX, int nY, int nP, bool bStrokeEnd)
{
    _POINTDATA pt{};
    pt.nX = int16_t(nX);
    pt.nY = int16_t(nY);
    pt.nPressure = int16_t(nP);
    pt.bStrokeEnd = bStrokeEnd ? 1 : 0;
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (!m_pPointDataList)
        return false;
    pt = StampedLocked(pt);
    m_pPointDataList->push_back(pt);
    return true;
}

bool CInkStore::AppendStrokeEnd(_POINTDATA& last)
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (!m_pPointDataList || m_pPointDataList->empty())
        return false;
    last = m_pPointDataList->back();
    _POINTDATA end = StampedLocked(last);
    end.bStrokeEnd = 1;
    m_pPointDataList->push_back(end);
    return true;
}

void CInkStore::Clear()
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (m_pPointDataList)
        m_pPointDataList->clear();
    // A new signature follows the wall clock again from here.
    AnchorLocked();
}

bool CInkStore::IsEmpty() const
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    return !m_pPointDataList || m_pPointDataList->empty();
}

PointDataList CInkStore::Points() const
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    return m_pPointDataList ? *m_pPointDataList : PointDataList();
}

int CInkStore::GetTotalInkPointsNumber() const
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (!m_pPointDataList || m_pPointDataList->empty())
        return ARI_NO_DATA;
    return int(m_pPointDataList->size());
}

int CInkStore::GetPACKETS(_PACKETS& p) const
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (!m_pPointDataList || p.nIndex < 0 || size_t(p.nIndex) >= m_pPointDataList->size())
        return ARI_FAILED;
    const _POINTDATA& pt = (*m_pPointDataList)[size_t(p.nIndex)];
    p.nX = pt.nX;
    p.nY = pt.nY;
    p.nPressure = pt.nPressure;
    p.bStrokeEnd = pt.bStrokeEnd;
    return ARI_SUCCESS;
}

char* CInkStore::GetInkPointTime(int nIndex) const
{
    _POINTDATA pt;
    int64_t nWallMs = 0;
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        if (!m_pPointDataList || nIndex < 0 || size_t(nIndex) >= m_pPointDataList->size())
            return nullptr;
        pt = (*m_pPointDataList)[size_t(nIndex)];
        nWallMs = WallMsOf(pt);
    }
    // Seconds and milliseconds of the one reading tTime was made from.
    const int nMs = int(nWallMs - FloorDiv(nWallMs, 1000) * 1000);
    const time_t t = time_t(pt.tTime);
    struct tm local {};
    localtime_r(&t, &local);
    char* p = new (std::nothrow) char[100]();
    if (!p)
        return nullptr;
    snprintf(p, 100, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, nMs);
    return p;
}

char* CInkStore::EncodeInkText() const
{
    QByteArray payload;
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        if (!m_pPointDataList || m_pPointDataList->empty()) {
            VT_LOG(Label("Base64Encode").c_str(), "<%ld>-leave with nullptr due to None of sign image !");
            return nullptr;
        }
        const size_t n = m_pPointDataList->size();
        payload.resize(int(n * sizeof(_POINTDATA) + 1));
        memcpy(payload.data(), m_pPointDataList->data(), n * sizeof(_POINTDATA));
        payload[int(n * sizeof(_POINTDATA))] = 0;
        VT_LOG(Label("Base64Encode").c_str(), "<%ld>-pTotalPtsData=%lx, ulInkCount=%ld, ulTotalPtsDataSize=%ld",
               (unsigned long)payload.constData(), (long)n, (long)payload.size());
    }
    char* p = NewBase64Text(payload);
    VT_LOG(Label("Base64Encode").c_str(), "<%ld>-leave with pBase64Image=%lx !", (unsigned long)p);
    return p;
}

void CInkStore::ClearDecoded()
{
    if (m_pDecodedPointDataList)
        m_pDecodedPointDataList->clear();
}

void CInkStore::DecodeInkText(const QByteArray& bytes)
{
    if (!m_pDecodedPointDataList)
        m_pDecodedPointDataList.reset(new PointDataList);
    const size_t n = size_t(bytes.size()) / sizeof(_POINTDATA);
    m_pDecodedPointDataList->resize(n);
    if (n > 0)
        memcpy(m_pDecodedPointDataList->data(), bytes.constData(), n * sizeof(_POINTDATA));
}

int CInkStore::GetTotalDecodeInkPointsNumber() const
{
    if (!m_pDecodedPointDataList || m_pDecodedPointDataList->empty())
        return ARI_NO_DATA;
    return int(m_pDecodedPointDataList->size());
}

int CInkStore::GetDecodePACKETS(int nIndex, int nTypeID) const
{
    if (!m_pDecodedPointDataList || m_pDecodedPointDataList->empty())
        return ARI_NO_DATA;
    if (nIndex < 0 || size_t(nIndex) >= m_pDecodedPointDataList->size()) {
        VT_LOG(Label("GetDecodePACKETS").c_str(),
               "<%ld>-leave with ARI_INVALID_PARAMETERS due to (nIndex < 0) || (nIndex >= nDecodedInkCount) !");
        return ARI_INVALID_PARAMETERS;
    }
    const _POINTDATA& pt = (*m_pDecodedPointDataList)[size_t(nIndex)];
    int nValue = ARI_NO_DATA;
    switch (nTypeID) {
    case INKDATATYPE_X:
        nValue = pt.nX;
        break;
    case INKDATATYPE_Y:
        nValue = pt.nY;
        break;
    case INKDATATYPE_STROKEEND:
        nValue = pt.bStrokeEnd ? 1 : 0;
        break;
    default:
        break;
    }
    VT_LOG(Label("GetDecodePACKETS").c_str(), "<%ld>-leave with nPACKETS=%d", nValue);
    return nValue;
}
