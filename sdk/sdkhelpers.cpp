#include "sdkhelpers.h"
#include "transparentpng.h"
#include "vtinksdk.h"

#include <QBuffer>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* kSdkVersion = "3.0.0.0";
constexpr const char* kOwnerLine = "Copyright (C) Vantor. All rights reserved.";

} // namespace

QImage WhiteImage(int nWidth, int nHeight)
{
    QImage image(std::max(0, nWidth), std::max(0, nHeight), QImage::Format_ARGB32);
    image.fill(Qt::white);
    return image;
}

int DotsPerMetre(int nDPI)
{
    return int(nDPI / 0.0254);
}

const char* ImageFormatOf(int nImageTypeID)
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

QByteArray ImageBytes(QImage image, int nImageTypeID, bool bTransparent)
{
    QByteArray bytes;
    const char* format = ImageFormatOf(nImageTypeID);
    if (!format || image.isNull())
        return bytes;
    if (bTransparent && nImageTypeID == EBITI_PNG)
        MakeWhiteTransparent(image);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format))
        bytes.clear();
    return bytes;
}

char* NewBase64Text(const QByteArray& bytes)
{
    return NewText(bytes.toBase64());
}

char* NewText(const QByteArray& text)
{
    char* p = new (std::nothrow) char[size_t(text.size()) + 1];
    if (!p)
        return nullptr;
    memcpy(p, text.constData(), size_t(text.size()));
    p[text.size()] = 0;
    return p;
}

char* EncodeImageAsBase64(const QImage& image, int nImageTypeID, bool bTransparent)
{
    return NewBase64Text(ImageBytes(image, nImageTypeID, bTransparent));
}

QByteArray SignatureBase64(const QImage& image, int nImageTypeID, bool bTransparent)
{
    if (bTransparent && nImageTypeID == EBITI_PNG && !image.isNull())
        return TransparentPngBytes(image).toBase64(); // white made transparent on the way
    return ImageBytes(image, nImageTypeID, bTransparent).toBase64();
}

char* EncodeSignatureAsBase64(const QImage& image, int nImageTypeID, bool bTransparent)
{
    return NewText(SignatureBase64(image, nImageTypeID, bTransparent));
}

QRect InkBoundingBox(const QImage& image, int nMarginX, int nMarginY, QRect* pRaw)
{
    const int w = image.width(), h = image.height();
    int left = 99999, top = 99999, right = -1, bottom = -1;
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if ((line[x] & 0x00FFFFFFu) == 0x00FFFFFFu)
                continue; // white is background whatever its alpha
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    if (pRaw)
        *pRaw = QRect(QPoint(left, top), QPoint(right, bottom));
    left = std::max(0, left - nMarginX);
    top = std::max(0, top - nMarginY);
    right = std::min(w - 1, right + nMarginX);
    bottom = std::min(h - 1, bottom + nMarginY);
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

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

QString AboutRichText()
{
    return VtArgs(QStringLiteral("<p align='center'>DIVuziDad SDK on Linux OS<br>Version : %1<br>%2</p>"),
                  {QLatin1String(kSdkVersion), QLatin1String(kOwnerLine)});
}

QByteArray AboutPlainText()
{
    return QByteArray("About\n\nDIVuziDad SDK on Linux OS\nVersion : ") + kSdkVersion + "\n" + kOwnerLine;
}
