#pragma once

// Compact JSON arrays of objects whose values are all strings, written
// straight into UTF-8 bytes. Same text as QJsonDocument::Compact gives for
// these (keys passed in ascending order, same escapes), without building
// thousands of QJsonObjects for a long ink list.
#include <QByteArray>
#include <QString>

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
        appendEscaped(value, nLength < 0 ? int(qstrlen(value)) : nLength);
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
    void appendEscaped(const char* p, int n)
    {
        static const char HEX[] = "0123456789abcdef";
        for (int i = 0; i < n; ++i) {
            const unsigned char c = static_cast<unsigned char>(p[i]);
            if (c >= 0x20 && c != '"' && c != '\\') {
                m_bytes.append(char(c));
                continue;
            }
            m_bytes.append('\\');
            switch (c) {
            case '"': m_bytes.append('"'); break;
            case '\\': m_bytes.append('\\'); break;
            case '\b': m_bytes.append('b'); break;
            case '\f': m_bytes.append('f'); break;
            case '\n': m_bytes.append('n'); break;
            case '\r': m_bytes.append('r'); break;
            case '\t': m_bytes.append('t'); break;
            default:
                m_bytes.append("u00").append(HEX[c >> 4]).append(HEX[c & 0xf]);
                break;
            }
        }
    }

    QByteArray m_bytes;
    int m_nObjects = 0;
    bool m_bFirstMember = true;
};
