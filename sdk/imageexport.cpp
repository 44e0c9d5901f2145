#include "imageexport.h"
#include "fplayer.h"
#include "inkstore.h"
#include "sdkhelpers.h"
#include "signcanvas.h"
#include "vtinksdk.h"
#include "vtlog.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>

CImageExport::CImageExport(CSignCanvas& canvas, CInkStore& ink, std::string strLabelPrefix)
    : m_Canvas(canvas), m_Ink(ink), m_strLabel(std::move(strLabelPrefix)),
      m_strSvgTempFile(QStringLiteral("/tmp/ROvAdez.svg"))
{
}

bool CImageExport::DecodableImage(const QByteArray& bytes, const char* format) const
{
    // A few bytes of header can announce gigabytes of pixels: read the size
    // first and decode only what fits.
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    const QSize size = reader.size();
    const bool bOk = size.isValid() && size.width() <= MAX_DECODED_IMAGE_SIDE && size.height() <= MAX_DECODED_IMAGE_SIDE;
    if (!bOk)
        VT_LOG(Label("Base64Decode").c_str(), "<%ld>-refused: image of %d x %d", size.width(), size.height());
    return bOk;
}

bool CImageExport::HasFingerprintImage() const
{
    return m_pFingerprint && m_pFingerprint->HasImage();
}

int CImageExport::SaveDrawingImage(int nImageTypeID, const wchar_t* pImageFilePath, int nDPI)
{
    // Files go ahead without ink once a fingerprint is shown.
    if (m_Ink.IsEmpty() && !HasFingerprintImage())
        return ARI_NO_DATA;
    if (!pImageFilePath)
        return ARI_NO_DATA;
    const QString path = QString::fromWCharArray(pImageFilePath);
    QRect rcBoundBox;
    QImage image = m_Canvas.TakeSnapshot(rcBoundBox);
    if (m_Canvas.ClipImage())
        VT_LOG(Label("SaveDrawingImage").c_str(), "<%ld>-after call CheckSignImageBoundingBox(), l=%d, t=%d, r=%d, b=%d",
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
    VT_LOG(Label("SaveDrawingImage").c_str(), "<%ld>-leave with nResult=%d", nResult);
    return nResult;
}

bool CImageExport::SaveDrawingImageAsPDFFile(QImage image, const QString& path, int nDPI)
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

QByteArray CImageExport::RenderSvg(const QSize& size, int nDPI, const QRect& rcBoundBox)
{
    const std::string label = Label("SaveDrawingImageAsSVGFile");
    VT_LOG(label.c_str(), "<%ld>-enter, nDPI=%d", nDPI);
    const PointDataList points = m_Ink.Points();
    const QColor color = m_Canvas.PenColor();
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
    if (m_pFingerprint)
        m_pFingerprint->PaintSvgUnderlay(painter, size.width(), size.height(), nDPI);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const bool bPressure = m_Canvas.WithPressureValue();
    const int nPenWidth = m_Canvas.PenWidth();
    const bool bClip = m_Canvas.ClipImage();
    bool bOpen = false;
    QPointF last;
    for (const _POINTDATA& pt : points) {
        if (pt.bStrokeEnd) {
            bOpen = false;
            continue;
        }
        double x = 0, y = 0, width = 0;
        m_Canvas.ConvertSignRawDataToSignWndData(pt.nX, pt.nY, pt.nPressure, x, y, width);
        if (bClip) {
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

bool CImageExport::SaveDrawingImageAsSVGFile(const QImage& image, const QString& path, int nDPI,
                                             const QRect& rcBoundBox)
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

int CImageExport::Base64Decode(int nImageTypeID, const char* pEncodedData, const wchar_t* pImageFilePath)
{
    m_Ink.ClearDecoded();
    if (!pEncodedData)
        return ARI_NO_DATA;
    const QByteArray bytes = QByteArray::fromBase64(QByteArray(pEncodedData));
    int nResult = ARI_NO_DATA;
    if (const char* format = ImageFormatOf(nImageTypeID)) {
        QImage image;
        if (pImageFilePath && DecodableImage(bytes, format) && image.loadFromData(bytes, format) &&
            image.save(QString::fromWCharArray(pImageFilePath), format))
            nResult = ARI_SUCCESS;
    } else if (nImageTypeID == EBITI_INK) {
        m_Ink.DecodeInkText(bytes);
        nResult = ARI_SUCCESS;
    }
    VT_LOG(Label("Base64Decode").c_str(), "<%ld>-leave with nResult=%d !", nResult);
    return nResult;
}

char* CImageExport::Base64Encode(int nImageTypeID)
{
    if (ImageFormatOf(nImageTypeID)) {
        if (m_Ink.IsEmpty() && !HasFingerprintImage()) {
            VT_LOG(Label("Base64Encode").c_str(), "<%ld>-leave with nullptr due to None of sign image !");
            return nullptr;
        }
        return EncodeBase64SignImage(nImageTypeID);
    }
    return nImageTypeID == EBITI_INK ? m_Ink.EncodeInkText() : nullptr;
}

char* CImageExport::Base64EncodeEx(int nImageTypeID, bool bEnableTransparentBackground)
{
    if (ImageFormatOf(nImageTypeID)) {
        if (m_Ink.IsEmpty()) {
            VT_LOG(Label("Base64EncodeEx").c_str(), "<%ld>-leave with nullptr due to None of sign image !");
            return nullptr;
        }
        VT_LOG(Label("EncodeBase64SignImageEx").c_str(),
               "<%ld>-enter, nImageTypeID=%d, bEnableTransparentBackground=%d", nImageTypeID,
               int(bEnableTransparentBackground));
        return EncodeSnapshot(nImageTypeID, bEnableTransparentBackground);
    }
    return nImageTypeID == EBITI_INK ? m_Ink.EncodeInkText() : nullptr;
}

char* CImageExport::EncodeBase64SignImage(int nImageTypeID)
{
    VT_LOG(Label("EncodeBase64SignImage").c_str(), "<%ld>-enter, nImageTypeID=%d", nImageTypeID);
    return EncodeSnapshot(nImageTypeID, true);
}

char* CImageExport::EncodeSnapshot(int nImageTypeID, bool bTransparent)
{
    QRect rcBoundBox;
    const QImage snapshot = m_Canvas.TakeSnapshot(rcBoundBox);
    const qint64 nKey = snapshot.isNull() ? 0 : snapshot.cacheKey();
    QByteArray text;
    {
        std::lock_guard<std::mutex> lock(m_EncodedMutex);
        const Encoded& last = m_LastEncoded;
        if (nKey && last.nKey == nKey && last.nImageTypeID == nImageTypeID && last.bTransparent == bTransparent)
            text = last.text;
    }
    if (text.isEmpty()) {
        text = SignatureBase64(snapshot, nImageTypeID, bTransparent);
        std::lock_guard<std::mutex> lock(m_EncodedMutex);
        m_LastEncoded = Encoded{nKey, nImageTypeID, bTransparent, text};
    }
    char* p = NewText(text);
    VT_LOG(Label("EncodeBase64SignImage").c_str(), "<%ld>-leave with pEncodeBase64Image=%lx !", (unsigned long)p);
    return p;
}

char* CImageExport::GetSVGImageBase64Data()
{
    const std::string label = Label("GetSVGImageBase64Data");
    if (m_Ink.IsEmpty()) {
        VT_LOG(label.c_str(), "<%ld>-enter, nInkCount=%d", 0);
        return nullptr;
    }
    QRect rcBoundBox;
    const QSize size = m_Canvas.TakeSnapshot(rcBoundBox).size();
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
