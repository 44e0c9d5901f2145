// The evidence record and its seal (see evidence.h).
#include "evidence.h"

#include "cryptolib.h"
#include "jose.h"
#include "qtfloor.h"
#include "signobjinterface.h"
#include "vtinksdk.h"
#include "vtlog.h"

#include "compactjson.h"

#include <QDateTime>
#include <QStringList>

#include <algorithm>
#include <vector>

namespace evidence {

const char* const CONTENT_TYPE = "vnd.vtinkhost.evidence.v1+json";

namespace {

const int RECORD_VERSION = 1;
const int MAX_NONCE = 128;
const char* const LABEL = "GetEvidence";

#ifndef VT_PROGRAM_VERSION
#define VT_PROGRAM_VERSION ""
#endif

QString Utc(qint64 nMsSinceEpoch)
{
    return QDateTime::fromMSecsSinceEpoch(nMsSinceEpoch, Qt::UTC).toString(Qt::ISODateWithMs);
}

int Digits(const QString& s, int nFrom, int nCount, bool* pOk)
{
    int n = 0;
    for (int i = nFrom; i < nFrom + nCount; ++i) {
        const QChar c = s.at(i);
        if (!c.isDigit() || c.unicode() > '9') {
            *pOk = false;
            return 0;
        }
        n = n * 10 + (c.unicode() - '0');
    }
    return n;
}

// The SDK's local "yyyy-mm-dd hh:mm:ss.mmm" of a point, as ms since the
// epoch. The hour's start is looked up once per hour of ink.
class PointClock
{
public:
    bool ToMs(const QString& strTime, qint64* pMs)
    {
        if (strTime.size() != 23)
            return false;
        const QStringRef hour = strTime.leftRef(13);
        if (hour != m_strHour) {
            const QDateTime start = QDateTime::fromString(hour.toString(), QStringLiteral("yyyy-MM-dd hh"));
            if (!start.isValid())
                return false;
            m_strHour = hour.toString();
            m_nHourStartMs = start.toMSecsSinceEpoch();
        }
        bool bOk = strTime.at(13) == QLatin1Char(':') && strTime.at(16) == QLatin1Char(':')
                   && strTime.at(19) == QLatin1Char('.');
        const int nMinute = Digits(strTime, 14, 2, &bOk);
        const int nSecond = Digits(strTime, 17, 2, &bOk);
        const int nMs = Digits(strTime, 20, 3, &bOk);
        *pMs = m_nHourStartMs + nMinute * 60000 + nSecond * 1000 + nMs;
        return bOk;
    }

private:
    QString m_strHour;
    qint64 m_nHourStartMs = 0;
};

// The record's text, written straight into bytes: keys in ascending order,
// escapes and numbers as QJsonDocument::Compact writes them, in a fraction
// of the time of building and writing QJsonObjects.
class RecordText
{
public:
    explicit RecordText(int nReserve) { m_out.reserve(nReserve); }
    // "key": (after a comma unless first in its object)
    RecordText& Key(const char* pszKey)
    {
        Separate();
        m_out.append('"').append(pszKey).append("\":");
        m_bFirst = true; // the value comes next, without a comma
        return *this;
    }
    RecordText& Text(const QString& s)
    {
        Separate();
        const QByteArray utf8 = s.toUtf8();
        m_out.append('"');
        AppendJsonEscaped(&m_out, utf8.constData(), utf8.size());
        m_out.append('"');
        return *this;
    }
    RecordText& Number(qint64 n)
    {
        Separate();
        char digits[24];
        m_out.append(digits, qsnprintf(digits, sizeof digits, "%lld", n));
        return *this;
    }
    // Text that is JSON already.
    RecordText& Json(const QByteArray& json)
    {
        Separate();
        m_out.append(json);
        return *this;
    }
    RecordText& Open(char c)
    {
        Separate();
        m_out.append(c);
        m_bFirst = true;
        return *this;
    }
    RecordText& Close(char c)
    {
        m_out.append(c);
        m_bFirst = false;
        return *this;
    }
    // "a,b" of GetDeviceInfo as [a, b]; [] when the pad did not answer.
    RecordText& Range(const QString& strPair)
    {
        const QStringList parts = VtSplit(strPair, QLatin1Char(','));
        Open('[');
        if (parts.size() == 2)
            Number(parts.at(0).toInt()).Number(parts.at(1).toInt());
        return Close(']');
    }
    QByteArray Take() { return std::move(m_out); }

private:
    void Separate()
    {
        if (!m_bFirst)
            m_out.append(',');
        m_bFirst = false;
    }

    QByteArray m_out;
    bool m_bFirst = true;
};

void Device(SignObjInterface* pPad, const PadSession& session, RecordText* pOut)
{
    RecordText& out = *pOut;
    out.Key("device").Open('{');
    out.Key("firmware").Text(session.bIdentity ? session.strFirmware : pPad->VersionID());
    out.Key("model").Text(pPad->GetDeviceInfo(DIID_GET_MODEL_NAME));
    out.Key("padId").Text(session.bIdentity ? session.strPadId : pPad->PadID());
    out.Key("penId").Text(session.bIdentity ? session.strPenId : pPad->PenID());
    out.Key("pressure").Range(pPad->GetDeviceInfo(DIID_GET_PRESSURE_LEVELS));
    out.Key("vendor").Text(pPad->GetDeviceInfo(DIID_GET_VENDOR_NAME));
    out.Key("writingArea").Open('{');
    out.Key("x").Range(pPad->GetDeviceInfo(DIID_GET_X_RANGE));
    out.Key("y").Range(pPad->GetDeviceInfo(DIID_GET_Y_RANGE));
    out.Close('}').Close('}');
}

QString HexSha256OfBase64(const QString& strBase64)
{
    QByteArray image = QByteArray::fromBase64(strBase64.toLatin1());
    const QByteArray digest = image.isEmpty() ? QByteArray() : jose::Sha256(image);
    return QString::fromLatin1(digest.toHex());
}

} // namespace

bool IsDocumentHash(const QString& strDoc)
{
    if (strDoc.size() != 64)
        return false;
    for (const QChar c : strDoc) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

bool IsNonce(const QString& strNonce)
{
    if (strNonce.isEmpty() || strNonce.size() > MAX_NONCE)
        return false;
    for (const QChar c : strNonce) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7E)
            return false;
    }
    return true;
}

QByteArray Record(SignObjInterface* pPad, const QString& strDoc, const QString& strNonce, const QString& strOrigin)
{
    const qint64 nRequestedMs = QDateTime::currentMSecsSinceEpoch();
    PadSession session;
    if (!pPad->Session(&session) || pPad->GetSize() <= 0)
        return QByteArray();
    // The points exactly as "GetPointer" hands them to a page. The live
    // times are the clock of "PenData"; without them, the SDK's time text
    // (whole seconds on the wall clock) stands in.
    std::vector<InkPoint> points = pPad->InkPoints(false);
    const bool bLiveTimes = session.pointTimes.size() == points.size();
    if (!bLiveTimes)
        points = pPad->InkPoints(true);
    if (points.empty())
        return QByteArray();

    PointClock clock;
    RecordText strokes(int(points.size()) * 24 + 64);
    strokes.Open('[');
    bool bInStroke = false;
    qint64 nFirstMs = 0, nLastMs = 0;
    bool bTimesOk = true;
    for (size_t i = 0; i < points.size() && bTimesOk; ++i) {
        const InkPoint& p = points[i];
        qint64 nMs = 0;
        if (bLiveTimes)
            nMs = session.nOpenedUtcMs + session.pointTimes[i];
        else
            bTimesOk = clock.ToMs(QString::fromUtf8(p.time), &nMs);
        if (i == 0)
            nFirstMs = nMs;
        nLastMs = nMs;
        if (!bInStroke) {
            strokes.Open('[');
            bInStroke = true;
        }
        strokes.Open('[').Number(p.nX).Number(p.nY).Number(p.nPressure).Number(nMs - session.nOpenedUtcMs).Close(']');
        if (p.nStrokeEnd != 0) {
            strokes.Close(']');
            bInStroke = false;
        }
    }
    if (bInStroke)
        strokes.Close(']'); // a stroke still under the pen
    strokes.Close(']');
    std::fill(points.begin(), points.end(), InkPoint());
    points.clear();
    QByteArray strokesText = strokes.Take();
    if (!bTimesOk) {
        jose::Cleanse(&strokesText);
        return QByteArray();
    }

    RecordText record(strokesText.size() + 1024);
    record.Open('{');
    record.Key("canvas").Open('{');
    record.Key("height").Number(session.nCanvasHeight);
    record.Key("width").Number(session.nCanvasWidth);
    record.Close('}');
    Device(pPad, session, &record);
    record.Key("doc").Text(strDoc);
    record.Key("firstPoint").Text(Utc(nFirstMs));
    record.Key("imageSha256").Text(HexSha256OfBase64(pPad->Encode(EBITI_PNG)));
    record.Key("lastPoint").Text(Utc(nLastMs));
    record.Key("nonce").Text(strNonce);
    record.Key("opened").Text(Utc(session.nOpenedUtcMs));
    record.Key("origin").Text(strOrigin);
    record.Key("requested").Text(Utc(nRequestedMs));
    record.Key("strokes").Json(strokesText);
    jose::Cleanse(&strokesText);
    record.Key("version").Number(RECORD_VERSION);
    record.Key("versions").Open('{');
    record.Key("driver").Text(pPad->GetDeviceInfo(DIID_GET_DRV_VER));
    record.Key("program").Text(QStringLiteral(VT_PROGRAM_VERSION));
    record.Key("sdk").Text(pPad->GetAboutInfo());
    record.Close('}').Close('}');
    return record.Take();
}

QString Answer(SignObjInterface* pPad, const QString& strDoc, const QString& strNonce, const QString& strKey,
               const QString& strOrigin)
{
    QString strWhy;
    jose::PublicJwk key;
    if (!IsDocumentHash(strDoc))
        strWhy = QStringLiteral("\"doc\" is not a SHA-256 in 64 hex digits");
    else if (!IsNonce(strNonce))
        strWhy = QStringLiteral("\"nonce\" is not 1 to 128 printable characters");
    else
        jose::ParseJwk(strKey.toUtf8(), &key, &strWhy);
    if (!strWhy.isEmpty()) {
        VT_LOG(LABEL, "<%ld>-refused (-2): %s", strWhy.toUtf8().constData());
        return QStringLiteral("-2");
    }
    if (!CryptoLib::Get(&strWhy)) {
        VT_LOG(LABEL, "<%ld>-refused (-1): %s", strWhy.toUtf8().constData());
        return QStringLiteral("-1");
    }
    QByteArray record = Record(pPad, strDoc, strNonce, strOrigin);
    if (record.isEmpty()) {
        VT_LOG(LABEL, "<%ld>-refused (-8): no ink");
        return QStringLiteral("-8");
    }
    const QByteArray jwe = jose::Seal(record, key, QLatin1String(CONTENT_TYPE), &strWhy);
    const int nRecordBytes = record.size();
    jose::Cleanse(&record);
    if (jwe.isEmpty()) {
        VT_LOG(LABEL, "<%ld>-refused (-2): %s", strWhy.toUtf8().constData());
        return QStringLiteral("-2");
    }
    VT_LOG(LABEL, "<%ld>-sealed %d record bytes for %s, %d-bit key, with %s: %d characters", nRecordBytes, key.Alg(),
           key.nBits, CryptoLib::LoadedName().toUtf8().constData(), jwe.size());
    return QString::fromLatin1(jwe);
}

} // namespace evidence
