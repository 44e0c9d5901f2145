#include "transparentpng.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace {

// Fast and close in size to Qt's default output (measured on signatures:
// level 6 takes twice the time for a file 20 % smaller).
const int ZLIB_LEVEL = 3;

std::array<quint32, 256> CrcTable()
{
    std::array<quint32, 256> table{};
    for (quint32 n = 0; n < 256; ++n) {
        quint32 c = n;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}

quint32 Crc32(const QByteArray& bytes)
{
    static const std::array<quint32, 256> table = CrcTable();
    quint32 c = 0xFFFFFFFFu;
    for (const char ch : bytes)
        c = table[(c ^ quint8(ch)) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

void AppendBigEndian(QByteArray& out, quint32 n)
{
    uchar b[4];
    qToBigEndian(n, b);
    out.append(reinterpret_cast<const char*>(b), 4);
}

// Length, type, data, CRC of type and data.
void AppendChunk(QByteArray& out, const char* pszType, const QByteArray& data)
{
    AppendBigEndian(out, quint32(data.size()));
    const QByteArray typed = QByteArray(pszType, 4) + data;
    out.append(typed);
    AppendBigEndian(out, Crc32(typed));
}

} // namespace

QByteArray TransparentPngBytes(const QImage& source)
{
    if (source.isNull())
        return QByteArray();
    const QImage image = source.format() == QImage::Format_ARGB32 ? source
                                                                  : source.convertToFormat(QImage::Format_ARGB32);
    const int w = image.width(), h = image.height();
    const int nRow = 1 + 4 * w; // filter byte, then RGBA
    QByteArray raw(nRow * h, Qt::Uninitialized);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        auto* row = reinterpret_cast<uchar*>(raw.data()) + size_t(y) * nRow;
        *row++ = 0; // filter: none
        for (int x = 0; x < w; ++x, row += 4) {
            const QRgb p = line[x];
            row[0] = uchar(qRed(p));
            row[1] = uchar(qGreen(p));
            row[2] = uchar(qBlue(p));
            row[3] = p == 0xFFFFFFFFu ? 0 : 0xFF;
        }
    }
    QByteArray zlib = qCompress(raw, ZLIB_LEVEL);
    if (zlib.size() < 4)
        return QByteArray();
    zlib.remove(0, 4); // Qt's length prefix; the rest is the zlib stream

    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    QByteArray header;
    AppendBigEndian(header, quint32(w));
    AppendBigEndian(header, quint32(h));
    header.append(char(8)).append(char(6)).append(char(0)).append(char(0)).append(char(0)); // 8-bit RGBA
    AppendChunk(png, "IHDR", header);
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        QByteArray phys;
        AppendBigEndian(phys, quint32(image.dotsPerMeterX()));
        AppendBigEndian(phys, quint32(image.dotsPerMeterY()));
        phys.append(char(1)); // per metre
        AppendChunk(png, "pHYs", phys);
    }
    AppendChunk(png, "IDAT", zlib);
    AppendChunk(png, "IEND", QByteArray());
    return png;
}
