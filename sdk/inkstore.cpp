// Ink store: point read-out, the Base64 ink text and its decoding.
#include "sdkcore.h"
#include "vtlog.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

char* NewBase64Text(const QByteArray& bytes)
{
    const QByteArray text = bytes.toBase64();
    char* p = new (std::nothrow) char[size_t(text.size()) + 1];
    if (!p)
        return nullptr;
    memcpy(p, text.constData(), size_t(text.size()));
    p[text.size()] = 0;
    return p;
}

bool CSignCore::InkIsEmpty()
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    return !m_pPointDataList || m_pPointDataList->empty();
}

int CSignCore::GetTotalInkPointsNumber()
{
    std::lock_guard<std::mutex> lock(m_InkListMutex);
    if (!m_pPointDataList || m_pPointDataList->empty())
        return ARI_NO_DATA;
    return int(m_pPointDataList->size());
}

int CSignCore::GetPACKETS(_PACKETS& p)
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

char* CSignCore::GetInkPointTime(int nIndex)
{
    _POINTDATA pt;
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        if (!m_pPointDataList || nIndex < 0 || size_t(nIndex) >= m_pPointDataList->size())
            return nullptr;
        pt = (*m_pPointDataList)[size_t(nIndex)];
    }
    const time_t t = time_t(pt.tTime);
    struct tm local {};
    localtime_r(&t, &local);
    char* p = new (std::nothrow) char[100]();
    if (!p)
        return nullptr;
    // The milliseconds come from the monotonic tick: they order points within a second.
    snprintf(p, 100, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
             local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, int(pt.lTickCount % 1000));
    return p;
}

void CSignCore::FreeInkPointTime(char* p)
{
    delete[] p;
    VT_LOG(Label("FreeInkPointTime").c_str(), "<%ld>-after call delete[] pInkPointTime !");
}

char* CSignCore::Base64Encode(int nImageTypeID)
{
    if (nImageTypeID >= EBITI_BITMAP && nImageTypeID <= EBITI_PNG) {
        if (InkIsEmpty() && !HasFingerprintImage()) {
            VT_LOG(Label("Base64Encode").c_str(), "<%ld>-leave with nullptr due to None of sign image !");
            return nullptr;
        }
        return EncodeBase64SignImage(nImageTypeID);
    }
    return nImageTypeID == EBITI_INK ? EncodeInkText() : nullptr;
}

char* CSignCore::Base64EncodeEx(int nImageTypeID, bool bEnableTransparentBackground)
{
    if (nImageTypeID >= EBITI_BITMAP && nImageTypeID <= EBITI_PNG) {
        if (InkIsEmpty()) {
            VT_LOG(Label("Base64EncodeEx").c_str(), "<%ld>-leave with nullptr due to None of sign image !");
            return nullptr;
        }
        return EncodeBase64SignImageEx(nImageTypeID, bEnableTransparentBackground);
    }
    return nImageTypeID == EBITI_INK ? EncodeInkText() : nullptr;
}

char* CSignCore::EncodeInkText()
{
    const std::string label = Label("Base64Encode");

    QByteArray payload;
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        if (!m_pPointDataList || m_pPointDataList->empty()) {
            VT_LOG(label.c_str(), "<%ld>-leave with nullptr due to None of sign image !");
            return nullptr;
        }
        const size_t n = m_pPointDataList->size();
        payload.resize(int(n * sizeof(_POINTDATA) + 1));
        memcpy(payload.data(), m_pPointDataList->data(), n * sizeof(_POINTDATA));
        payload[int(n * sizeof(_POINTDATA))] = 0;
        VT_LOG(label.c_str(), "<%ld>-pTotalPtsData=%lx, ulInkCount=%ld, ulTotalPtsDataSize=%ld",
               (unsigned long)payload.constData(), (long)n, (long)payload.size());
    }
    char* p = NewBase64Text(payload);
    VT_LOG(label.c_str(), "<%ld>-leave with pBase64Image=%lx !", (unsigned long)p);
    return p;
}

void CSignCore::Base64EncodeFree(char* p)
{
    delete[] p;
    VT_LOG(Label("Base64EncodeFree").c_str(), "<%ld>-after call delete[] pEncodedData !");
}

void CSignCore::Base64EncodeExFree(char* p)
{
    delete[] p;
    VT_LOG(Label("Base64EncodeExFree").c_str(), "<%ld>-after call delete[] pEncodedData !");
}

int CSignCore::Base64Decode(int nImageTypeID, const char* pEncodedData, const wchar_t* pImageFilePath)
{
    if (m_pDecodedPointDataList)
        m_pDecodedPointDataList->clear();
    if (!pEncodedData)
        return ARI_NO_DATA;
    const QByteArray bytes = QByteArray::fromBase64(QByteArray(pEncodedData));
    int nResult = ARI_NO_DATA;
    static const char* const kFormats[] = {nullptr, "BMP", "JPG", "PNG"};
    if (nImageTypeID >= EBITI_BITMAP && nImageTypeID <= EBITI_PNG) {
        QImage image;
        if (pImageFilePath && image.loadFromData(bytes, kFormats[nImageTypeID]) &&
            image.save(QString::fromWCharArray(pImageFilePath), kFormats[nImageTypeID]))
            nResult = ARI_SUCCESS;
    } else if (nImageTypeID == EBITI_INK) {
        if (!m_pDecodedPointDataList)
            m_pDecodedPointDataList.reset(new PointDataList);
        const size_t n = size_t(bytes.size()) / sizeof(_POINTDATA);
        m_pDecodedPointDataList->resize(n);
        if (n > 0)
            memcpy(m_pDecodedPointDataList->data(), bytes.constData(), n * sizeof(_POINTDATA));
        nResult = ARI_SUCCESS;
    }
    VT_LOG(Label("Base64Decode").c_str(), "<%ld>-leave with nResult=%d !", nResult);
    return nResult;
}

int CSignCore::GetTotalDecodeInkPointsNumber()
{
    if (!m_pDecodedPointDataList || m_pDecodedPointDataList->empty())
        return ARI_NO_DATA;
    return int(m_pDecodedPointDataList->size());
}

int CSignCore::GetDecodePACKETS(int nIndex, int nTypeID)
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
