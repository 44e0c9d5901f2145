// The evidence record and its seal (see evidence.h).
#include "evidence.h"

#include "cryptolib.h"
#include "jose.h"
#include "signobjinterface.h"
#include "vtinksdk.h"
#include "vtlog.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

// "a,b" of GetDeviceInfo as [a, b]; [] when the pad did not answer.
QJsonArray Range(const QString& strPair)
{
    QJsonArray range;
    const QStringList parts = strPair.split(QLatin1Char(','));
    if (parts.size() == 2) {
        range.append(parts.at(0).toInt());
        range.append(parts.at(1).toInt());
    }
    return range;
}

QJsonObject Device(SignObjInterface* pPad)
{
    QJsonObject device;
    device.insert(QStringLiteral("model"), pPad->GetDeviceInfo(DIID_GET_MODEL_NAME));
    device.insert(QStringLiteral("vendor"), pPad->GetDeviceInfo(DIID_GET_VENDOR_NAME));
    device.insert(QStringLiteral("padId"), pPad->PadID());
    device.insert(QStringLiteral("penId"), pPad->PenID());
    device.insert(QStringLiteral("firmware"), pPad->VersionID());
    QJsonObject area;
    area.insert(QStringLiteral("x"), Range(pPad->GetDeviceInfo(DIID_GET_X_RANGE)));
    area.insert(QStringLiteral("y"), Range(pPad->GetDeviceInfo(DIID_GET_Y_RANGE)));
    device.insert(QStringLiteral("writingArea"), area);
    device.insert(QStringLiteral("pressure"), Range(pPad->GetDeviceInfo(DIID_GET_PRESSURE_LEVELS)));
    return device;
}

// A member of a "GetPointer" point: a decimal string, or a number.
int IntOf(const QJsonValue& value)
{
    return value.isString() ? value.toString().toInt() : value.toInt();
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
    // The points exactly as "GetPointer" hands them to a page.
    QByteArray pointer = pPad->GetPointer().toUtf8();
    QJsonArray points = QJsonDocument::fromJson(pointer).array();
    jose::Cleanse(&pointer);
    if (points.isEmpty())
        return QByteArray();

    // The live times are the clock of "PenData"; without them, the SDK's
    // time text (whole seconds on the wall clock) stands in.
    const bool bLiveTimes = session.pointTimes.size() == size_t(points.size());
    PointClock clock;
    QJsonArray strokes;
    QJsonArray stroke;
    qint64 nFirstMs = 0, nLastMs = 0;
    for (int i = 0; i < points.size(); ++i) {
        const QJsonObject p = points.at(i).toObject();
        qint64 nMs = 0;
        if (bLiveTimes)
            nMs = session.nOpenedUtcMs + session.pointTimes[size_t(i)];
        else if (!clock.ToMs(p.value(QStringLiteral("Time")).toString(), &nMs))
            return QByteArray();
        if (i == 0)
            nFirstMs = nMs;
        nLastMs = nMs;
        QJsonArray point;
        point.append(IntOf(p.value(QStringLiteral("x"))));
        point.append(IntOf(p.value(QStringLiteral("y"))));
        point.append(IntOf(p.value(QStringLiteral("pressure"))));
        point.append(double(nMs - session.nOpenedUtcMs));
        stroke.append(point);
        if (IntOf(p.value(QStringLiteral("bStrokeEnd"))) != 0) {
            strokes.append(stroke);
            stroke = QJsonArray();
        }
    }
    if (!stroke.isEmpty())
        strokes.append(stroke); // a stroke still under the pen
    points = QJsonArray();

    QJsonObject canvas;
    canvas.insert(QStringLiteral("width"), session.nCanvasWidth);
    canvas.insert(QStringLiteral("height"), session.nCanvasHeight);
    QJsonObject versions;
    versions.insert(QStringLiteral("program"), QStringLiteral(VT_PROGRAM_VERSION));
    versions.insert(QStringLiteral("sdk"), pPad->GetAboutInfo());
    versions.insert(QStringLiteral("driver"), pPad->GetDeviceInfo(DIID_GET_DRV_VER));

    QJsonObject record;
    record.insert(QStringLiteral("version"), RECORD_VERSION);
    record.insert(QStringLiteral("origin"), strOrigin);
    record.insert(QStringLiteral("doc"), strDoc);
    record.insert(QStringLiteral("nonce"), strNonce);
    record.insert(QStringLiteral("requested"), Utc(nRequestedMs));
    record.insert(QStringLiteral("opened"), Utc(session.nOpenedUtcMs));
    record.insert(QStringLiteral("firstPoint"), Utc(nFirstMs));
    record.insert(QStringLiteral("lastPoint"), Utc(nLastMs));
    record.insert(QStringLiteral("device"), Device(pPad));
    record.insert(QStringLiteral("canvas"), canvas);
    record.insert(QStringLiteral("strokes"), strokes);
    record.insert(QStringLiteral("imageSha256"), HexSha256OfBase64(pPad->Encode(EBITI_PNG)));
    record.insert(QStringLiteral("versions"), versions);
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
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
    VT_LOG(LABEL, "<%ld>-sealed %d record bytes for %s, %d-bit key: %d characters", nRecordBytes, key.Alg(), key.nBits,
           jwe.size());
    return QString::fromLatin1(jwe);
}

} // namespace evidence
