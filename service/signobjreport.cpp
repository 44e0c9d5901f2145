// Ink points, image events, encodings and device information as reply text.
#include "signobjmodels.h"

#include "compactjson.h"
#include "signobjsdk.h"
#include "vtlog.h"

#include <QCryptographicHash>
#include <QLibrary>

#include <cstring>

namespace {

const int INFO_TEXT_SIZE = 256;

} // namespace

std::vector<InkPoint> SignObjAdapter::InkPoints(bool bTimes)
{
    std::vector<InkPoint> points;
    const int nCount = GetSize();
    if (nCount <= 0 || !Available(EP_getPackets) || !Available(EP_GetInkPointTime) || !Available(EP_FreeInkPointTime))
        return points;
    points.reserve(size_t(nCount));
    const auto getPackets = Pfn<sdkfn::getPackets>(EP_getPackets);
    const auto getTime = Pfn<sdkfn::GetInkPointTime>(EP_GetInkPointTime);
    const auto freeTime = Pfn<sdkfn::FreeText>(EP_FreeInkPointTime);
    for (int i = 0; i < nCount; ++i) {
        _PACKETS packet = {};
        packet.nIndex = i;
        const int nResult = getPackets(m_traits.nDeviceType, &packet);
        char* pszTime = bTimes ? getTime(m_traits.nDeviceType, i) : nullptr;
        // A point the SDK cannot deliver is left out; the rest stay in order.
        if (nResult == ARI_SUCCESS && (pszTime || !bTimes)) {
            InkPoint point;
            point.nX = packet.nX;
            point.nY = packet.nY;
            point.nPressure = packet.nPressure;
            point.nStrokeEnd = packet.bStrokeEnd;
            if (pszTime)
                point.time = QByteArray(pszTime);
            points.push_back(std::move(point));
        }
        if (pszTime)
            freeTime(m_traits.nDeviceType, pszTime);
    }
    return points;
}

QString SignObjAdapter::GetPointer()
{
    ADAPTER_LOG("GetPointer", "<%ld>-Enter");
    const std::vector<InkPoint> ink = InkPoints(true);
    CompactJsonArray points(int(ink.size()) * 96);
    for (const InkPoint& p : ink) {
        points.beginObject();
        points.member("Time", p.time.constData(), p.time.size());
        points.member("bStrokeEnd", p.nStrokeEnd);
        points.member("pressure", p.nPressure);
        points.member("x", p.nX);
        points.member("y", p.nY);
        points.endObject();
    }
    const QString strResult = points.finish();
    ADAPTER_LOG("GetPointer", "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

QString SignObjAdapter::ReportImage(SdkEntryPoint produce, SdkEntryPoint release, int nImageType, int nFlag, bool bUseFlag,
                                    const char* pszEventType, QByteArray* pLastDigest, const char* pszOperation)
{
    ADAPTER_LOG(pszOperation, "<%ld>-Enter");
    if (!Available(produce) || !Available(release))
        return QString("");
    char* pszData = nullptr;
    if (bUseFlag) // the Ex encoder and the fingerprint image take a second flag
        pszData = Pfn<sdkfn::PacketsBase64EncodeEx>(produce)(m_traits.nDeviceType, nImageType, nFlag != 0);
    else
        pszData = Pfn<sdkfn::PacketsBase64Encode>(produce)(m_traits.nDeviceType, nImageType);
    QString strResult("");
    if (pszData) {
        const int nLength = int(qstrlen(pszData));
        // An empty image has the empty digest, as nothing reported yet.
        const QByteArray digest =
            nLength ? QCryptographicHash::hash(QByteArray::fromRawData(pszData, nLength), QCryptographicHash::Sha256)
                    : QByteArray();
        if (digest != *pLastDigest) {
            if (pLastDigest == &m_lastFPImageDigest)
                ADAPTER_LOG(pszOperation, "<%ld>-(strResult != m_strLastFPImageBase64Content)");
            *pLastDigest = digest;
            // Written straight from the SDK's bytes (Base64: nothing to escape,
            // one byte a character).
            CompactJsonArray event(nLength + 64);
            event.beginObject();
            event.member("EventType", pszEventType);
            event.member("Image", pszData);
            event.member("ImageLength", nLength);
            event.endObject();
            strResult = event.finish();
        } // else unchanged since last reported: the empty text
    }
    Pfn<sdkfn::FreeText>(release)(m_traits.nDeviceType, pszData);
    ADAPTER_LOG(pszOperation, "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

QString SignObjAdapter::GetInks()
{
    return ReportImage(EP_PacketsBase64Encode, EP_PacketsBase64EncodeFree, EBITI_PNG, 0, false, "0",
                       &m_lastImageDigest, "GetInks");
}

QString SignObjAdapter::GetOpaqueInks()
{
    return ReportImage(EP_PacketsBase64EncodeEx, EP_PacketsBase64EncodeExFree, EBITI_PNG, 0, true, "0",
                       &m_lastImageDigest, "GetOpaqueInks");
}

QString SignObjAdapter::WPSGetInks()
{
    return ReportImage(EP_PacketsBase64EncodeEx, EP_PacketsBase64EncodeExFree, EBITI_JPG, 0, true, "0",
                       &m_lastImageDigest, "WPSGetInks");
}

QString SignObjAdapter::GetFingerPrintImage(bool bFPImageOnly)
{
    // Both entry points are resolved only for the fingerprint model.
    return ReportImage(EP_GetFPImageBase64Data, EP_FreeFPImageBase64Data, EBITI_PNG, bFPImageOnly ? 1 : 0, true, "3",
                       &m_lastFPImageDigest, "GetFingerPrintImage");
}

QString SignObjAdapter::TakeText(char* pszData, SdkEntryPoint release)
{
    const QString strText = pszData ? QString::fromUtf8(pszData) : QString("");
    Pfn<sdkfn::FreeText>(release)(m_traits.nDeviceType, pszData);
    return strText;
}

QString SignObjAdapter::Encode(int nType)
{
    ADAPTER_LOG("Encode", "<%ld>-Enter, nType=%d", nType);
    if (!Available(EP_PacketsBase64Encode) || !Available(EP_PacketsBase64EncodeFree))
        return QString("");
    const QString strResult =
        TakeText(Pfn<sdkfn::PacketsBase64Encode>(EP_PacketsBase64Encode)(m_traits.nDeviceType, nType), EP_PacketsBase64EncodeFree);
    ADAPTER_LOG("Encode", "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

QString SignObjAdapter::GetSVGImageBase64Data()
{
    ADAPTER_LOG("GetSVGImageBase64Data", "<%ld>-Enter");
    if (!Available(EP_GetSVGImageBase64Data) || !Available(EP_FreeSVGImageBase64Data))
        return QString("");
    const QString strResult =
        TakeText(Pfn<sdkfn::GetSVGImageBase64Data>(EP_GetSVGImageBase64Data)(m_traits.nDeviceType), EP_FreeSVGImageBase64Data);
    ADAPTER_LOG("GetSVGImageBase64Data", "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

QString SignObjAdapter::GetDeviceInfo(int nType)
{
    ADAPTER_LOG("GetDeviceInfo", "<%ld>-Enter, nType=%d", nType);
    if (!Available(EP_getDeviceInfo))
        return QString("");
    const auto getDeviceInfo = Pfn<sdkfn::getDeviceInfo>(EP_getDeviceInfo);
    int nResult = -1;
    QString strResult("");
    int32_t anValues[2] = {0, 0};
    switch (nType) {
    case DIID_GET_STATUS: {
        unsigned char bConnected = 0;
        nResult = getDeviceInfo(m_traits.nDeviceType, nType, &bConnected);
        strResult = bConnected ? QStringLiteral("true") : QStringLiteral("false");
        break;
    }
    case DIID_GET_X_RANGE:
    case DIID_GET_Y_RANGE:
        nResult = getDeviceInfo(m_traits.nDeviceType, nType, anValues);
        strResult = QString::asprintf("%d,%d", anValues[0], anValues[1]);
        break;
    case DIID_GET_PRESSURE_LEVELS:
        nResult = getDeviceInfo(m_traits.nDeviceType, nType, anValues);
        strResult = QString::asprintf("0,%d", anValues[0]);
        break;
    case DIID_GET_VENDOR_NAME:
    case DIID_GET_MODEL_NAME: {
        char szText[INFO_TEXT_SIZE] = {};
        nResult = getDeviceInfo(m_traits.nDeviceType, nType, szText);
        strResult = QString::fromUtf8(szText, static_cast<int>(qstrnlen(szText, INFO_TEXT_SIZE)));
        break;
    }
    case DIID_GET_DRV_VER:
        nResult = getDeviceInfo(m_traits.nDeviceType, nType, anValues);
        strResult = QString::asprintf("%d.%d", anValues[0], anValues[1]);
        break;
    default:
        break;
    }
    ADAPTER_LOG("GetDeviceInfo", "<%ld>-Leave with strResult.length=%d, nResult=%d", strResult.length(), nResult);
    return strResult;
}
