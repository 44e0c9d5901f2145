// Ink store and the Base64 ink format.
#include "sdktest.h"
#include "vtlog.h"

#include <QRegularExpression>
#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

class InkFormat : public ::testing::Test {
protected:
    void SetUp() override
    {
        drv = FakeDriver::Fresh("VTQ220 1.0");
        ASSERT_NE(nullptr, drv) << "test driver not in the working directory";
        ASSERT_TRUE(VTQ220_InitialDevice(VTQ220_DEVICE, nullptr, 0, 0, 400, 200));
    }
    void TearDown() override
    {
        if (drv)
            VTQ220_UnInitialDevice(VTQ220_DEVICE);
    }
    std::string Encode()
    {
        char* p = VTQ220_PacketsBase64Encode(VTQ220_DEVICE, EBITI_INK);
        std::string s = p ? p : "";
        VTQ220_PacketsBase64EncodeFree(VTQ220_DEVICE, p);
        return s;
    }
    FakeDriver* drv = nullptr;
    wchar_t path[8] = L"unused";
};

TEST_F(InkFormat, TwoRecordsGiveFortyNineBytesAndSixtyEightCharacters)
{
    drv->inject(1000, 800, 0x1234, HWET_PEN_DOWN);
    drv->inject(1100, 900, 77, HWET_PEN_UP);
    const std::string text = Encode();
    ASSERT_EQ(68u, text.size());
    EXPECT_EQ("==", text.substr(66));
    const QByteArray bytes = QByteArray::fromBase64(QByteArray::fromStdString(text));
    ASSERT_EQ(49, bytes.size());
    EXPECT_EQ(0, bytes[48]);
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.constData());
    // Little-endian fields at their offsets.
    EXPECT_EQ(1000, b[0] | (b[1] << 8));
    EXPECT_EQ(800, b[2] | (b[3] << 8));
    EXPECT_EQ(0x34, b[4]);
    EXPECT_EQ(0x12, b[5]);
    EXPECT_EQ(0, b[6]);
    EXPECT_EQ(0, b[7]);
    EXPECT_EQ(1, b[24 + 6]) << "second record closes the stroke";
    EXPECT_EQ(1000, b[24] | (b[25] << 8)) << "and repeats the first point";
    int64_t tick = 0, wall = 0;
    memcpy(&tick, b + 8, 8);
    memcpy(&wall, b + 16, 8);
    EXPECT_GT(tick, 0);
    EXPECT_LE(std::llabs(int64_t(time(nullptr)) - wall), 5);
}

TEST_F(InkFormat, EmptyInkHasNoText)
{
    EXPECT_EQ("", Encode());
    EXPECT_EQ(nullptr, VTQ220_PacketsBase64Encode(VTQ220_DEVICE, EBITI_PNG));
}

TEST_F(InkFormat, DecodeRestoresTheRecords)
{
    drv->inject(1000, 800, 300, HWET_PEN_DOWN);
    drv->inject(1200, 850, 310, HWET_PEN_MOVE);
    drv->inject(1200, 850, 0, HWET_PEN_UP);
    drv->inject(-5 & 0xFFFF, 2000, 100, HWET_PEN_DOWN);
    drv->inject(0, 0, 0, HWET_PEN_UP);
    const std::string text = Encode();
    ASSERT_EQ(ARI_SUCCESS, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_INK, text.c_str(), path));
    const int n = VTQ220_GetTotalDecodePacketsNumber(VTQ220_DEVICE);
    ASSERT_EQ(VTQ220_GetTotalPacketsNumber(VTQ220_DEVICE), n);
    ASSERT_EQ(5, n);
    for (int i = 0; i < n; ++i) {
        _PACKETS pk{};
        pk.nIndex = i;
        ASSERT_EQ(ARI_SUCCESS, VTQ220_getPackets(VTQ220_DEVICE, &pk));
        EXPECT_EQ(pk.nX, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, i, INKDATATYPE_X));
        EXPECT_EQ(pk.nY, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, i, INKDATATYPE_Y));
        EXPECT_EQ(pk.bStrokeEnd, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, i, INKDATATYPE_STROKEEND));
    }
    EXPECT_EQ(-5, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, 3, INKDATATYPE_X)) << "sign-extended";
    EXPECT_EQ(1, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, 2, INKDATATYPE_STROKEEND));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, 5, INKDATATYPE_X));
    EXPECT_EQ(ARI_INVALID_PARAMETERS, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, -1, INKDATATYPE_X));
    // Clear leaves the decoded points alone.
    VTQ220_Clear(VTQ220_DEVICE);
    EXPECT_EQ(ARI_NO_DATA, VTQ220_GetTotalPacketsNumber(VTQ220_DEVICE));
    EXPECT_EQ(5, VTQ220_GetTotalDecodePacketsNumber(VTQ220_DEVICE));
}

TEST_F(InkFormat, ShortOrBrokenTextDecodesToWholeRecordsOnly)
{
    // 23 bytes: no whole record.
    const QByteArray shortText = QByteArray(23, 'a').toBase64(QByteArray::OmitTrailingEquals);
    ASSERT_LT(shortText.size(), 32);
    ASSERT_EQ(ARI_SUCCESS, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_INK, shortText.constData(), path));
    EXPECT_EQ(ARI_NO_DATA, VTQ220_GetTotalDecodePacketsNumber(VTQ220_DEVICE));
    EXPECT_EQ(ARI_NO_DATA, VTQ220_GetDecodePacketsData(VTQ220_DEVICE, 0, INKDATATYPE_X));
    // 50 bytes, unpadded, with stray characters: two records.
    QByteArray text = QByteArray(50, 'b').toBase64(QByteArray::OmitTrailingEquals);
    text.insert(10, "\n*");
    ASSERT_EQ(ARI_SUCCESS, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_INK, text.constData(), path));
    EXPECT_EQ(2, VTQ220_GetTotalDecodePacketsNumber(VTQ220_DEVICE));
    // Any decode empties the list first.
    ASSERT_EQ(ARI_NO_DATA, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_PNG, "AAAA", path));
    EXPECT_EQ(ARI_NO_DATA, VTQ220_GetTotalDecodePacketsNumber(VTQ220_DEVICE));
}

TEST_F(InkFormat, ImageDecodeWritesTheFileOnlyForItsFormat)
{
    QTemporaryDir dir;
    QImage image(20, 10, QImage::Format_ARGB32);
    image.fill(Qt::red);
    QByteArray png, jpg;
    {
        QBuffer b(&png);
        b.open(QIODevice::WriteOnly);
        image.save(&b, "PNG");
        QBuffer c(&jpg);
        c.open(QIODevice::WriteOnly);
        image.save(&c, "JPG");
    }
    const std::wstring out = W(dir.filePath("out.png"));
    ASSERT_EQ(ARI_SUCCESS, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_PNG, png.toBase64().constData(),
                                               const_cast<wchar_t*>(out.c_str())));
    EXPECT_EQ(QSize(20, 10), QImage(dir.filePath("out.png"), "PNG").size());
    const std::wstring out2 = W(dir.filePath("out2.png"));
    EXPECT_EQ(ARI_NO_DATA, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_PNG, jpg.toBase64().constData(),
                                               const_cast<wchar_t*>(out2.c_str())));
    EXPECT_FALSE(QFile::exists(dir.filePath("out2.png")));
    const std::wstring bad = L"/nonexistent-dir/x.png";
    EXPECT_EQ(ARI_NO_DATA, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_PNG, png.toBase64().constData(),
                                               const_cast<wchar_t*>(bad.c_str())));
}

namespace {
// A one-bit grey PNG of w x h, all black: a few kilobytes for any size.
QByteArray blackPng(quint32 w, quint32 h)
{
    auto be32 = [](quint32 v) { return QByteArray(1, char(v >> 24)) + char(v >> 16) + char(v >> 8) + char(v); };
    auto chunk = [&](const char* type, const QByteArray& data) {
        const QByteArray body = QByteArray(type) + data;
        quint32 crc = 0xffffffffu;
        for (char c : body) {
            crc ^= uchar(c);
            for (int k = 0; k < 8; ++k)
                crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
        }
        return be32(quint32(data.size())) + body + be32(~crc);
    };
    const QByteArray raw(int(h * (1 + (w + 7) / 8)), '\0'); // filter byte 0, then zero bits
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", be32(w) + be32(h) + QByteArray("\x01\x00\x00\x00\x00", 5)) +
           chunk("IDAT", qCompress(raw, 9).mid(4)) + chunk("IEND", QByteArray());
}
} // namespace

// The header decides: an image wider or higher than 8192 pixels is refused
// before any pixel is decoded, and nothing is written.
TEST_F(InkFormat, ImageDecodeRefusesMoreThan8192PixelsASide)
{
    QTemporaryDir dir;
    struct Case { quint32 w, h; int nResult; };
    const Case cases[] = {{8192, 8192, ARI_SUCCESS}, {8193, 1, ARI_NO_DATA}, {1, 8193, ARI_NO_DATA}, {16000, 16000, ARI_NO_DATA}};
    for (const Case& c : cases) {
        const QString name = dir.filePath(QString("%1x%2.png").arg(c.w).arg(c.h));
        const std::wstring out = W(name);
        EXPECT_EQ(c.nResult, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_PNG, blackPng(c.w, c.h).toBase64().constData(),
                                                 const_cast<wchar_t*>(out.c_str()))) << c.w << "x" << c.h;
        EXPECT_EQ(c.nResult == ARI_SUCCESS ? QSize(int(c.w), int(c.h)) : QSize(), QImageReader(name).size());
    }
    // A header too broken to tell the size: refused as well.
    const std::wstring out = W(dir.filePath("broken.png"));
    EXPECT_EQ(ARI_NO_DATA, VTQ220_Base64Decode(VTQ220_DEVICE, EBITI_PNG, QByteArray("\x89PNG\r\n\x1a\n").toBase64().constData(),
                                               const_cast<wchar_t*>(out.c_str())));
}

TEST_F(InkFormat, PointTimeText)
{
    drv->inject(1000, 800, 300, HWET_PEN_DOWN);
    drv->inject(1010, 810, 300, HWET_PEN_MOVE);
    drv->inject(1020, 820, 300, HWET_PEN_MOVE);
    CSignCore* c = g_pSignWidget.load();
    const PointDataList pts = c->Ink().Points();
    ASSERT_EQ(3u, pts.size());
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const int64_t nNowWallMinusTick = int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000 - GetTickCount();
    int64_t nWallMinusTick = 0;
    for (int i = 0; i < 3; ++i) {
        char* text = VTQ220_GetInkPointTime(VTQ220_DEVICE, i);
        ASSERT_NE(nullptr, text);
        const QString s = QString::fromLatin1(text);
        VTQ220_FreeInkPointTime(VTQ220_DEVICE, text);
        EXPECT_EQ(23, s.size());
        EXPECT_TRUE(QRegularExpression("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}$").match(s).hasMatch()) << qPrintable(s);
        // Local date and time of the stored second...
        const _POINTDATA& pt = pts[size_t(i)];
        const time_t t = time_t(pt.tTime);
        struct tm local {};
        localtime_r(&t, &local);
        char expected[64];
        snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d:%02d:%02d.", local.tm_year + 1900, local.tm_mon + 1,
                 local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
        EXPECT_EQ(QString::fromLatin1(expected), s.left(20));
        // ...and seconds plus milliseconds are the tick placed on one wall-clock
        // anchor: the same offset for every point, close to the clock now.
        const int64_t nOffset = pt.tTime * 1000 + s.mid(20).toInt() - pt.lTickCount;
        if (i == 0)
            nWallMinusTick = nOffset;
        EXPECT_EQ(nWallMinusTick, nOffset) << i;
    }
    EXPECT_LT(std::llabs(nWallMinusTick - nNowWallMinusTick), 2000);
    EXPECT_EQ(nullptr, VTQ220_GetInkPointTime(VTQ220_DEVICE, 3));
    EXPECT_EQ(nullptr, VTQ220_GetInkPointTime(VTQ220_DEVICE, -1));
}

} // namespace
