#pragma once

// Compact JSON arrays of objects whose values are all strings, written
// straight into UTF-8 bytes. Same text as QJsonDocument::Compact gives for
// these (keys passed in ascending order, same escapes), without building
// thousands of QJsonObjects for a long ink list.
#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

// UTF-8 text as the inside of a JSON string, with the escapes of
// QJsonDocument::Compact.
inline void AppendJsonEscaped(QByteArray* pOut, const char* p, int n)
{
    static const char HEX[] = "0123456789abcdef";
    int nRun = 0; // start of the bytes copied as they are
    for (int i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (c >= 0x20 && c != '"' && c != '\\')
            continue;
        pOut->append(p + nRun, i - nRun);
        nRun = i + 1;
        pOut->append('\\');
        switch (c) {
        case '"': pOut->append('"'); break;
        case '\\': pOut->append('\\'); break;
        case '\b': pOut->append('b'); break;
        case '\f': pOut->append('f'); break;
        case '\n': pOut->append('n'); break;
        case '\r': pOut->append('r'); break;
        case '\t': pOut->append('t'); break;
        default:
            pOut->append("u00").append(HEX[c >> 4]).append(HEX[c & 0xf]);
            break;
        }
    }
    pOut->append(p + nRun, n - nRun);
}

class CompactJsonArray
{
public:
    explicit CompactJsonArray(int nReserveBytes = 0)
    {
        m_bytes.reserve(nReserveBytes + 2);
        m_bytes.append('[');
    }

    // Starts the next object; members follow with member().
    void beginObject()
    {
        if (m_nObjects++)
            m_bytes.append(',');
        m_bytes.append('{');
        m_bFirstMember = true;
    }
    void endObject() { m_bytes.append('}'); }

    // key: plain ASCII; value: UTF-8 text.
    void member(const char* key, const char* value, int nLength = -1)
    {
        if (!m_bFirstMember)
            m_bytes.append(',');
        m_bFirstMember = false;
        m_bytes.append('"').append(key).append("\":\"");
        AppendJsonEscaped(&m_bytes, value, nLength < 0 ? int(qstrlen(value)) : nLength);
        m_bytes.append('"');
    }
    void member(const char* key, long long nValue)
    {
        char digits[24];
        const int n = qsnprintf(digits, sizeof digits, "%lld", nValue);
        member(key, digits, n);
    }

    QString finish()
    {
        m_bytes.append(']');
        return QString::fromUtf8(m_bytes);
    }

private:
    QByteArray m_bytes;
    int m_nObjects = 0;
    bool m_bFirstMember = true;
};

// {"Func":"...","Result":"..."} exactly as QJsonDocument::Compact writes it,
// in one pass: the JSON writer takes ten times as long for a long text
// (13 ms for 1 MB), which a reply would otherwise wait for.
inline QString CompactReply(const QString& strFunc, const QString& strResult)
{
    static const char HEX[] = "0123456789abcdef";
    QString out;
    out.reserve(strFunc.size() + strResult.size() + 24);
    // Appends s escaped; false on a lone surrogate, which the JSON writer
    // turns into '?' and is left to it.
    auto escaped = [&out](const QString& s) {
        const QChar* p = s.constData();
        const int n = s.size();
        int nRun = 0; // start of the characters copied as they are
        for (int i = 0; i < n; ++i) {
            const ushort u = p[i].unicode();
            if (u >= 0x20 && u != '"' && u != '\\' && (u < 0xD800 || u > 0xDFFF))
                continue;
            if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n && p[i + 1].isLowSurrogate()) {
                ++i; // a pair: UTF-8 as the writer makes it
                continue;
            }
            if (u >= 0xD800)
                return false;
            out.append(p + nRun, i - nRun);
            nRun = i + 1;
            out.append(QLatin1Char('\\'));
            switch (u) {
            case '"': out.append(QLatin1Char('"')); break;
            case '\\': out.append(QLatin1Char('\\')); break;
            case '\b': out.append(QLatin1Char('b')); break;
            case '\f': out.append(QLatin1Char('f')); break;
            case '\n': out.append(QLatin1Char('n')); break;
            case '\r': out.append(QLatin1Char('r')); break;
            case '\t': out.append(QLatin1Char('t')); break;
            default:
                out.append(QLatin1String("u00")).append(QLatin1Char(HEX[u >> 4])).append(QLatin1Char(HEX[u & 0xf]));
                break;
            }
        }
        out.append(p + nRun, n - nRun);
        return true;
    };
    out.append(QLatin1String("{\"Func\":\""));
    bool bOk = escaped(strFunc);
    out.append(QLatin1String("\",\"Result\":\""));
    bOk = bOk && escaped(strResult);
    out.append(QLatin1String("\"}"));
    if (bOk)
        return out;
    QJsonObject object;
    object.insert(QStringLiteral("Func"), strFunc);
    object.insert(QStringLiteral("Result"), strResult);
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}
