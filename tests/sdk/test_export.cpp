// Image export: cropping, transparency, resolution, formats, SVG and PDF.
#include "../common/skipexit.h"
#include "sdktest.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <unistd.h>

namespace {

// A Q210 object without a pad: the ink list exists and tests paint directly.
class Export : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        obj.Ink().Open();
    }
    void TearDown() override { obj.Shutdown(); }
    void AddPoint(int x, int y, int p = 306, bool bEnd = false) { obj.Ink().Append(x, y, p, bEnd); }
    // Ink pixels exactly on the given inclusive rectangle.
    void PaintInk(int left, int top, int right, int bottom)
    {
        obj.Canvas().EditImage([&](QImage& image) {
            QPainter p(&image);
            p.fillRect(QRect(QPoint(left, top), QPoint(right, bottom)), Qt::black);
        });
        if (obj.Ink().IsEmpty())
            AddPoint(0, 0, 0);
    }
    QImage Encoded(bool bEx, int type, bool bTransparent = true)
    {
        char* p = bEx ? obj.Base64EncodeEx(type, bTransparent) : obj.Base64Encode(type);
        QImage image = DecodeBase64Image(p);
        delete[] p;
        return image;
    }
    int Save(int type, const QString& name, int dpi = 150)
    {
        const std::wstring path = W(name.startsWith('/') ? name : dir.filePath(name));
        return obj.SaveDrawingImage(type, path.c_str(), dpi);
    }
    QTemporaryDir dir;
    CQ210SignObj obj{400, 200};
};

TEST_F(Export, ClipToTheInkPlusMargins)
{
    PaintInk(100, 40, 150, 60);
    obj.SetSaveClipImageMargin(true, 5, 5);
    const QImage image = Encoded(true, EBITI_BITMAP);
    ASSERT_EQ(QSize(61, 31), image.size());
    EXPECT_EQ(qRgb(255, 255, 255), image.pixel(4, 4) | 0xFF000000u);
    EXPECT_EQ(qRgb(0, 0, 0), image.pixel(5, 5) | 0xFF000000u) << "top-left taken from canvas (95, 35)";
    EXPECT_EQ(qRgb(0, 0, 0), image.pixel(55, 25) | 0xFF000000u);
    EXPECT_EQ(qRgb(255, 255, 255), image.pixel(56, 26) | 0xFF000000u);
}

TEST_F(Export, ClipIsClampedAtTheCanvasEdge)
{
    PaintInk(0, 0, 10, 10);
    PaintInk(395, 195, 399, 199);
    obj.SetSaveClipImageMargin(true, 10, 10);
    QRect box;
    obj.Canvas().CheckSignImageBoundingBox(box);
    EXPECT_EQ(QRect(0, 0, 400, 200), box);
    obj.Canvas().ClearSignCanvas();
    PaintInk(390, 190, 399, 199);
    EXPECT_EQ(QSize(20, 20), Encoded(false, EBITI_PNG).size());
}

TEST_F(Export, ZeroMarginsLeaveClippingOff)
{
    PaintInk(100, 40, 150, 60);
    EXPECT_EQ(ARI_SUCCESS, obj.SetSaveClipImageMargin(true, 0, 0));
    EXPECT_FALSE(obj.Canvas().ClipImage());
    EXPECT_EQ(QSize(400, 200), Encoded(false, EBITI_PNG).size());
}

TEST_F(Export, ClippingAnEmptyCanvasGivesNoImage)
{
    AddPoint(500, 500);
    obj.SetSaveClipImageMargin(true, 5, 5);
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_PNG, "empty.png"));
    char* p = obj.Base64EncodeEx(EBITI_PNG, true);
    ASSERT_NE(nullptr, p);
    EXPECT_STREQ("", p);
    delete[] p;
}

TEST_F(Export, TransparencyRulesPerEncoder)
{
    PaintInk(100, 40, 150, 60);
    const QImage plain = Encoded(false, EBITI_PNG);
    EXPECT_EQ(0, qAlpha(plain.pixel(10, 10))) << "plain encoder: white is transparent";
    EXPECT_EQ(255, qAlpha(plain.pixel(120, 50)));
    EXPECT_EQ(255, qAlpha(Encoded(true, EBITI_PNG, false).pixel(10, 10))) << "Ex without transparency is opaque";
    EXPECT_EQ(0, qAlpha(Encoded(true, EBITI_PNG, true).pixel(10, 10)));
    const QImage bmp = Encoded(false, EBITI_BITMAP);
    EXPECT_EQ(qRgb(255, 255, 255), bmp.pixel(10, 10)) << "BMP is opaque white around the ink";
    EXPECT_FALSE(Encoded(false, EBITI_JPG).isNull());
}

TEST_F(Export, RasterFilesTakeTheFormatFromTheSuffix)
{
    PaintInk(100, 40, 150, 60);
    ASSERT_EQ(ARI_SUCCESS, Save(EBITI_BITMAP, "opaque.png", 300));
    const QImage opaque(dir.filePath("opaque.png"));
    EXPECT_EQ(255, qAlpha(opaque.pixel(10, 10))) << "type 1 to a .png path is an opaque PNG";
    EXPECT_EQ(11811, opaque.dotsPerMeterX());
    EXPECT_EQ(11811, opaque.dotsPerMeterY());
    ASSERT_EQ(ARI_SUCCESS, Save(EBITI_PNG, "clear.png", 150));
    const QImage clear(dir.filePath("clear.png"));
    EXPECT_EQ(0, qAlpha(clear.pixel(10, 10)));
    EXPECT_EQ(5905, clear.dotsPerMeterX());
    ASSERT_EQ(ARI_SUCCESS, Save(EBITI_JPG, "photo.jpg"));
    EXPECT_EQ(QSize(400, 200), QImage(dir.filePath("photo.jpg")).size());
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_PNG, "nosuffix"));
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_PNG, "unknown.xyz"));
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_PNG, "/nonexistent-dir/a.png"));
}

TEST_F(Export, NothingToSaveWithoutInk)
{
    PaintInk(100, 40, 150, 60);
    obj.Ink().Clear();
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_PNG, "none.png"));
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_SVG, "none.svg"));
    EXPECT_FALSE(QFile::exists(dir.filePath("none.png")));
    EXPECT_EQ(nullptr, obj.GetSVGImageBase64Data());
    EXPECT_EQ(nullptr, obj.Base64Encode(EBITI_PNG));
}

int CountSegments(const QByteArray& svg)
{
    return svg.count("<polyline") + svg.count("<line ") + svg.count("<path ");
}

TEST_F(Export, SvgRedrawsEachSegmentOfTheInk)
{
    for (int i = 0; i < 4; ++i)
        AddPoint(500 + 300 * i, 700 + 50 * i);
    AddPoint(1400, 850, 306, true);
    ASSERT_EQ(ARI_SUCCESS, Save(EBITI_SVG, "one.svg"));
    QFile file(dir.filePath("one.svg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray svg = file.readAll();
    EXPECT_EQ(3, CountSegments(svg)) << svg.constData();
    EXPECT_TRUE(svg.contains("viewBox=\"0 0 400 200\""));
    // A second stroke adds its own segments but none joining the two.
    AddPoint(500, 900);
    AddPoint(600, 900);
    AddPoint(600, 900, 306, true);
    ASSERT_EQ(ARI_SUCCESS, Save(EBITI_SVG, "two.svg"));
    QFile two(dir.filePath("two.svg"));
    ASSERT_TRUE(two.open(QIODevice::ReadOnly));
    EXPECT_EQ(4, CountSegments(two.readAll()));
}

TEST_F(Export, SvgThatCannotBeWrittenFails)
{
    AddPoint(500, 700);
    AddPoint(800, 750);
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_SVG, "/nonexistent-dir/a.svg"));
    obj.Export().SetSvgTempFile(QStringLiteral("/nonexistent-dir/ROvAdez.svg"));
    EXPECT_EQ(nullptr, obj.GetSVGImageBase64Data());
}

TEST_F(Export, SvgBase64LeavesItsFileWithoutFollowingLinks)
{
    AddPoint(500, 700);
    AddPoint(800, 750);
    const QString victim = dir.filePath("victim.txt");
    {
        QFile f(victim);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("keep me");
    }
    const QString name = dir.filePath("ROvAdez.svg");
    ASSERT_EQ(0, symlink(QFile::encodeName(victim).constData(), QFile::encodeName(name).constData()));
    obj.Export().SetSvgTempFile(name);
    char* p = obj.GetSVGImageBase64Data();
    ASSERT_NE(nullptr, p);
    const QByteArray svg = QByteArray::fromBase64(QByteArray(p));
    delete[] p;
    EXPECT_EQ(1, CountSegments(svg));
    QFile kept(victim);
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(QByteArray("keep me"), kept.readAll()) << "the link target is untouched";
    const QFileInfo info(name);
    EXPECT_FALSE(info.isSymLink());
    QFile written(name);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(svg, written.readAll()) << "the file holds exactly the text handed out";
    EXPECT_EQ(2, int(QDir(dir.path()).entryList(QDir::Files).size())) << "no temporary file left behind";
}

TEST_F(Export, SvgBase64AtItsFixedName)
{
    AddPoint(500, 700);
    AddPoint(800, 750);
    char* p = obj.GetSVGImageBase64Data();
    ASSERT_NE(nullptr, p);
    const QByteArray svg = QByteArray::fromBase64(QByteArray(p));
    delete[] p;
    EXPECT_TRUE(svg.contains("<svg"));
    EXPECT_TRUE(QFileInfo("/tmp/ROvAdez.svg").isFile());
}

// Runs in an invocation of its own, which a missing pdfinfo ends as skipped.
TEST_F(Export, PdfIsOneA4Page)
{
    const QString pdfinfo = QStandardPaths::findExecutable("pdfinfo");
    if (pdfinfo.isEmpty())
        vttest::ExitSkipped("pdfinfo not installed");
    PaintInk(100, 40, 150, 60);
    ASSERT_EQ(ARI_SUCCESS, Save(EBITI_PDF, "page.pdf", 300));
    QProcess proc;
    proc.start(pdfinfo, {dir.filePath("page.pdf")});
    ASSERT_TRUE(proc.waitForFinished(30000));
    const QString out = QString::fromUtf8(proc.readAllStandardOutput());
    EXPECT_TRUE(out.contains(QRegularExpression("Pages:\\s+1\\n"))) << qPrintable(out);
    EXPECT_TRUE(out.contains("(A4)")) << qPrintable(out);
    EXPECT_EQ(ARI_NO_DATA, Save(EBITI_PDF, "/nonexistent-dir/page.pdf"));
}

} // namespace
