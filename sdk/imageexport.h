// The signature handed out as pictures: raster, PDF and SVG files, Base64
// images and the SVG text, from the canvas's picture and the stored ink; on
// the Q230F with its fingerprint.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>

#include <mutex>
#include <string>

class CFingerprintLayer;
class CInkStore;
class CSignCanvas;
class QPainter;

class CImageExport {
public:
    CImageExport(CSignCanvas& canvas, CInkStore& ink, std::string strLabelPrefix);
    void SetFingerprint(CFingerprintLayer* pFingerprint) { m_pFingerprint = pFingerprint; }
    // Where GetSVGImageBase64Data leaves its SVG ("/tmp/ROvAdez.svg").
    void SetSvgTempFile(const QString& path) { m_strSvgTempFile = path; }

    // EBITI_BITMAP, EBITI_JPG, EBITI_PNG (format from the path's suffix),
    // EBITI_PDF or EBITI_SVG at nDPI; ARI_NO_DATA when nothing was written.
    int SaveDrawingImage(int nImageTypeID, const wchar_t* pImageFilePath, int nDPI);
    // Base64 picture (types 1..3) or ink text (6); null for other types or
    // without ink (the plain one: without ink and fingerprint).
    char* Base64Encode(int nImageTypeID);
    char* Base64EncodeEx(int nImageTypeID, bool bEnableTransparentBackground);
    // Base64 image (types 1..3) written to a file in its own format, or ink
    // text (6) into the decoded points; the decoded points are emptied first.
    // Images wider or higher than MAX_DECODED_IMAGE_SIDE are refused from
    // their header, undecoded.
    int Base64Decode(int nImageTypeID, const char* pEncodedData, const wchar_t* pImageFilePath);
    static const int MAX_DECODED_IMAGE_SIDE = 8192;
    // The picture as a Base64 image, PNG with white made transparent.
    char* EncodeBase64SignImage(int nImageTypeID);
    // Base64 of the SVG, also left in the SVG temp file; null without ink or
    // when the file could not be written.
    char* GetSVGImageBase64Data();

private:
    bool HasFingerprintImage() const;
    bool DecodableImage(const QByteArray& bytes, const char* format) const;
    char* EncodeSnapshot(int nImageTypeID, bool bTransparent);
    bool SaveDrawingImageAsPDFFile(QImage image, const QString& path, int nDPI);
    bool SaveDrawingImageAsSVGFile(const QImage& image, const QString& path, int nDPI, const QRect& rcBoundBox);
    // The SVG of the stored ink for a picture of this size (empty on failure).
    QByteArray RenderSvg(const QSize& size, int nDPI, const QRect& rcBoundBox);
    std::string Label(const char* pszOp) const { return m_strLabel + pszOp + "()"; }

    CSignCanvas& m_Canvas;
    CInkStore& m_Ink;
    CFingerprintLayer* m_pFingerprint = nullptr;
    const std::string m_strLabel;
    QString m_strSvgTempFile;
    // The last picture encoded, by its snapshot's cache key (which changes
    // whenever the canvas is drawn on): pages poll for the picture, and the
    // evidence record hashes it, while the ink stands still.
    struct Encoded {
        qint64 nKey = 0;
        int nImageTypeID = 0;
        bool bTransparent = false;
        QByteArray text;
    };
    std::mutex m_EncodedMutex;
    Encoded m_LastEncoded; // under m_EncodedMutex
};
