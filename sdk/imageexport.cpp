// Signature image export: raster files, PDF, SVG and Base64 images.
#include "sdkcore.h"
#include "vtlog.h"

#include <QBuffer>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int DotsPerMetre(int nDPI)
{
    return int(nDPI / 0.0254);
}

// Exactly opaque white becomes fully transparent, everything else fully opaque.
void MakeWhiteTransparent(QImage& image)
{
    if (image.format() != QImage::Format_ARGB32)
        image = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            line[x] = line[x] == 0xFFFFFFFFu ? 0x00FFFFFFu : (line[x] | 0xFF000000u);
    }
}

const char* EncoderFormat(int nImageTypeID)
{
    switch (nImageTypeID) {
    case EBITI_BITMAP:
        return "BMP";
    case EBITI_JPG:
        return "JPG";
    case EBITI_PNG:
        return "PNG";
    default:
        return nullptr;
    }
}

} // namespace

bool WriteFileReplacing(const QString& path, const QByteArray& bytes)
{
    const QByteArray target = QFile::encodeName(path);
    QByteArray tmpl = target + ".XXXXXX";
    const int fd = mkstemp(tmpl.data()); // new file, O_EXCL: never an existing file or link
    if (fd < 0)
        return false;
    bool ok = fchmod(fd, 0644) == 0;
    const char* p = bytes.constData();
    qint64 left = bytes.size();
    while (ok && left > 0) {
        const ssize_t n = write(fd, p, size_t(left));
        if (n < 0) {
            ok = false;
            break;
        }
        p += n;
        left -= n;
    }
    ok = (close(fd) == 0) && ok;
    // rename() replaces a link at the name instead of following it, and fails
    // (sticky /tmp) on a file another user planted there.
    if (ok)
        ok = rename(tmpl.constData(), target.constData()) == 0;
    if (!ok)
        unlink(tmpl.constData());
    return ok;
}

int CSignCore::SetSaveClipImageMargin(bool bClipImage, int nClipMarginX, int nClipMarginY)
{
    const std::string label = Label("SetSaveClipImageMargin");
    VT_LOG(label.c_str(), "<%ld>-Enter, bClipImage=%d, nClipMarginX=%d, nClipMarginY=%d", int(bClipImage),
           nClipMarginX, nClipMarginY);
    m_bClipImage = bClipImage;
    m_nClipMarginX = nClipMarginX;
    m_nClipMarginY = nClipMarginY;
    if (nClipMarginX == 0 && nClipMarginY == 0)
        m_bClipImage = false;
    VT_LOG(label.c_str(), "<%ld>-leave with m_bClipImage=%d", int(m_bClipImage));
    return ARI_SUCCESS;
}

// Caller holds m_CanvasMutex.
void CSignCore::CheckSignImageBoundingBox(QRect& rcBoundBox)
{
    const std::string label = Label("CheckSignImageBoundingBox");
    const int w = m_SignCanvas.width(), h = m_SignCanvas.height();
    VT_LOG(label.c_str(), "<%ld>-Enter, nWidth=%d, nHeight=%d", w, h);
    int left = 99999, top = 99999, right = -1, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(m_SignCanvas.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((line[x] & 0x00FFFFFFu) == 0x00FFFFFFu)
                continue; // white is background whatever its alpha
            if (x < left)
                left = x;
            if (x > right)
                right = x;
            if (y < top)
                top = y;
            if (y > bottom)
                bottom = y;
        }
    }
    VT_LOG(label.c_str(), "<%ld>-nLeft=%d, nRight=%d, nTop=%d, nBottom=%d", left, right, top, bottom);
    left = std::max(0, left - m_nClipMarginX);
    top = std::max(0, top - m_nClipMarginY);
    right = std::min(w - 1, right + m_nClipMarginX);
    bottom = std::min(h - 1, bottom + m_nClipMarginY);
    rcBoundBox = QRect(QPoint(left, top), QPoint(right, bottom));
    VT_LOG(label.c_str(), "<%ld>-leave with rcBoundBox.Left=%d, Right=%d, Top=%d, Bottom=%d", left, right, top,
           bottom);
}

// Caller holds m_CanvasMutex.
QImage CSignCore::TakeSnapshot(QRect& rcBoundBox)
{
    rcBoundBox = QRect();
    if (!m_bClipImage)
        return m_SignCanvas.copy();
    CheckSignImageBoundingBox(rcBoundBox);
    // No ink pixel: left ends beyond right and the crop is empty.
    if (rcBoundBox.width() <= 0 || rcBoundBox.height() <= 0)
        return QImage();
    return m_SignCanvas.copy(rcBoundBox);
}

int CSignCore::SaveDrawingImage(int nImageTypeID, const wchar_t* pImageFilePath, int nDPI)
{
    const std::string label = Label("SaveDrawingImage");
    if (InkIsEmpty() && !HasFingerprintImage())
        return ARI_NO_DATA;
    if (!pImageFilePath)
        return ARI_NO_DATA;
    const QString path = QString::fromWCharArray(pImageFilePath);
    QImage image;
    QRect rcBoundBox;
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        image = TakeSnapshot(rcBoundBox);
    }
    if (m_bClipImage)
        VT_LOG(label.c_str(), "<%ld>-after call CheckSignImageBoundingBox(), l=%d, t=%d, r=%d, b=%d",
               rcBoundBox.left(), rcBoundBox.top(), rcBoundBox.right(), rcBoundBox.bottom());

    bool ok = false;
    switch (nImageTypeID) {
    case EBITI_BITMAP:
    case EBITI_JPG:
    case EBITI_PNG:
        if (image.isNull())
            break;
        image.setDotsPerMeterX(DotsPerMetre(nDPI));
        image.setDotsPerMeterY(DotsPerMetre(nDPI));
        if (nImageTypeID == EBITI_PNG)
            MakeWhiteTransparent(image);
        ok = image.save(path); // format from the suffix
        break;
    case EBITI_PDF:
        ok = SaveDrawingImageAsPDFFile(image, path, nDPI);
        break;
    case EBITI_SVG:
        ok = SaveDrawingImageAsSVGFile(image, path, nDPI, rcBoundBox);
        break;
    default:
        break;
    }
    const int nResult = ok ? ARI_SUCCESS : ARI_NO_DATA;
    VT_LOG(label.c_str(), "<%ld>-leave with nResult=%d", nResult);
    return nResult;
}

bool CSignCore::SaveDrawingImageAsPDFFile(QImage image, const QString& path, int nDPI)
{
    VT_LOG(Label("SaveDrawingImageAsPDFFile").c_str(), "<%ld>-enter, nDPI=%d", nDPI);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    {
        QPdfWriter writer(&file);
        writer.setPageSize(QPageSize(QPageSize::A4));
        writer.setResolution(nDPI);
        writer.setPageMargins(QMarginsF(10, 10, 10, 10)); // points, the writer's default unit
        image.setDotsPerMeterX(DotsPerMetre(nDPI));
        image.setDotsPerMeterY(DotsPerMetre(nDPI));
        QPainter painter(&writer);
        if (!image.isNull())
            painter.drawImage(QPoint(0, 0), image);
        painter.end();
    }
    file.close();
    VT_LOG(Label("SaveDrawingImageAsPDFFile").c_str(), "<%ld>-leave with bRet=%d", 1);
    return true;
}

QByteArray CSignCore::RenderSvg(const QSize& size, int nDPI, const QRect& rcBoundBox)
{
    const std::string label = Label("SaveDrawingImageAsSVGFile");
    VT_LOG(label.c_str(), "<%ld>-enter, nDPI=%d", nDPI);
    PointDataList points;
    {
        std::lock_guard<std::mutex> lock(m_InkListMutex);
        if (m_pPointDataList)
            points = *m_pPointDataList;
    }
    QColor color;
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        color = m_PenColor;
    }
    VT_LOG(label.c_str(), "<%ld>-nInkCount=%d", int(points.size()));

    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(size);
    generator.setViewBox(QRect(QPoint(0, 0), size));
    generator.setResolution(nDPI);
    QPainter painter;
    if (!painter.begin(&generator))
        return QByteArray();
    PaintSvgUnderlay(painter, size.width(), size.height(), nDPI);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool bPressure = m_bWithPressureValue;
    const int nPenWidth = m_nPenWidth;
    bool bOpen = false;
    QPointF last;
    for (const _POINTDATA& pt : points) {
        if (pt.bStrokeEnd) {
            bOpen = false;
            continue;
        }
        double x = 0, y = 0, width = 0;
        ConvertSignRawDataToSignWndData(pt.nX, pt.nY, pt.nPressure, x, y, width);
        if (m_bClipImage) {
            x -= rcBoundBox.left();
            y -= rcBoundBox.top();
        }
        const QPointF here(x, y);
        if (bOpen) {
            painter.setPen(QPen(color, bPressure ? width : double(nPenWidth), Qt::SolidLine, Qt::RoundCap,
                                Qt::RoundJoin));
            painter.drawLine(last, here);
        }
        last = here;
        bOpen = true;
    }
    painter.end();
    VT_LOG(label.c_str(), "<%ld>-leave !");
    return buffer.data();
}

bool CSignCore::SaveDrawingImageAsSVGFile(QImage image, const QString& path, int nDPI, const QRect& rcBoundBox)
{
    const QByteArray svg = RenderSvg(image.size(), nDPI, rcBoundBox);
    if (svg.isEmpty())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    const bool ok = file.write(svg) == svg.size();
    file.close();
    return ok && file.error() == QFileDevice::NoError;
}

char* CSignCore::EncodeSnapshot(int nImageTypeID, bool bTransparent)
{
    const std::string label = Label("EncodeBase64SignImage");
    std::lock_guard<std::mutex> lock(m_CanvasMutex);
    QRect rcBoundBox;
    QImage image = TakeSnapshot(rcBoundBox);
    QByteArray bytes;
    const char* format = EncoderFormat(nImageTypeID);
    if (format && !image.isNull()) {
        if (bTransparent && nImageTypeID == EBITI_PNG)
            MakeWhiteTransparent(image);
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        if (!image.save(&buffer, format))
            bytes.clear();
    }
    char* p = NewBase64Text(bytes);
    VT_LOG(label.c_str(), "<%ld>-leave with pEncodeBase64Image=%lx !", (unsigned long)p);
    return p;
}

char* CSignCore::EncodeBase64SignImage(int nImageTypeID)
{
    VT_LOG(Label("EncodeBase64SignImage").c_str(), "<%ld>-enter, nImageTypeID=%d", nImageTypeID);
    return EncodeSnapshot(nImageTypeID, true);
}

char* CSignCore::EncodeBase64SignImageEx(int nImageTypeID, bool bEnableTransparentBackground)
{
    VT_LOG(Label("EncodeBase64SignImageEx").c_str(), "<%ld>-enter, nImageTypeID=%d, bEnableTransparentBackground=%d",
           nImageTypeID, int(bEnableTransparentBackground));
    return EncodeSnapshot(nImageTypeID, bEnableTransparentBackground);
}

char* CSignCore::GetSVGImageBase64Data()
{
    const std::string label = Label("GetSVGImageBase64Data");
    if (InkIsEmpty()) {
        VT_LOG(label.c_str(), "<%ld>-enter, nInkCount=%d", 0);
        return nullptr;
    }
    QSize size;
    QRect rcBoundBox;
    {
        std::lock_guard<std::mutex> lock(m_CanvasMutex);
        size = TakeSnapshot(rcBoundBox).size();
    }
    const QByteArray svg = RenderSvg(size, 150, rcBoundBox);
    // The text handed out is exactly what went into the file; a file that
    // could not be written leaves nothing to encode.
    if (svg.isEmpty() || !WriteFileReplacing(m_strSvgTempFile, svg))
        return nullptr;
    VT_LOG(label.c_str(), "<%ld>-byteArray size=%d", int(svg.size()));
    char* p = NewBase64Text(svg);
    VT_LOG(label.c_str(), "<%ld>-leave with pSVGBase64Image=%lx !", (unsigned long)p);
    return p;
}

void CSignCore::FreeSVGImageBase64Data(char* p)
{
    delete[] p;
}
