// Image files: saving the signature, decoding Base64 into files or points,
// and the composed signature picture.
#include "signobjmodels.h"

#include "compactjson.h"
#include "qtfloor.h"
#include "safefilewrite.h"
#include "signobjsdk.h"
#include "vtlog.h"

#include <QDateTime>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QLibrary>
#include <QPainter>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace {

const char* const TMP_DIR = "/tmp/";
const char* const SIGN_IMAGE_PATH = "/tmp/DOdAvivARA.png";
const char* const SIGN_IMAGE_TEMPLATE = "/tmp/DOdAvivARA-XXXXXX.png";
const char* const COMPOSED_IMAGE_PATH = "/tmp/DOdAvivARA_dt_name.png";
const char* const COMPOSED_IMAGE_TEMPLATE = "/tmp/DOdAvivARA_dt_name-XXXXXX.png";
const int DOTS_PER_METER_300_DPI = 11811;

// A fresh, exclusively created file named after the template (its ".png"
// suffix kept, so format detection by name still works). Empty on failure.
QString createFreshFile(const char* pszTemplate)
{
    std::string name(pszTemplate);
    const int fd = mkstemps(&name[0], 4);
    if (fd < 0)
        return QString();
    ::close(fd);
    return QString::fromLocal8Bit(name.c_str());
}

// rename() replaces whatever sits at the fixed name, a planted link
// included, instead of writing through it.
bool moveIntoPlace(const QString& strFrom, const char* pszTo)
{
    if (::rename(QFile::encodeName(strFrom).constData(), pszTo) == 0)
        return true;
    ::unlink(QFile::encodeName(strFrom).constData());
    return false;
}

// A path from the page stays inside /tmp/: no ".." component.
bool leavesTmp(const QString& strPath)
{
    const QStringList parts = VtSplit(strPath, QLatin1Char('/'));
    return parts.contains(QStringLiteral(".."));
}

bool IsRasterType(int nType)
{
    return nType == EBITI_BITMAP || nType == EBITI_JPG || nType == EBITI_PNG;
}

} // namespace

int SignObjAdapter::SaveDrawingImageTo(int nType, int nDPI, const QString& strFullPath, const char* pszOperation)
{
    std::wstring wstrPath = strFullPath.toStdWString(); // UCS-4, zero-terminated
    const int nResult = Pfn<sdkfn::SaveDrawingImage>(EP_SaveDrawingImage)(m_traits.nDeviceType, nType, &wstrPath[0], nDPI);
    ADAPTER_LOG(pszOperation, "<%ld>-after call %s(), nResult=%d", PfnName(EP_SaveDrawingImage).c_str(), nResult);
    return nResult;
}

QString SignObjAdapter::SaveDrawImage(int nType, int nDPI, QString strPath)
{
    ADAPTER_LOG("SaveDrawImage", "<%ld>-Enter, nType=%d, nDPI=%d, strPath=%s", nType, nDPI, strPath.toUtf8().constData());
    if (!Available(EP_SaveDrawingImage))
        return QString("");
    if (!strPath.contains(QLatin1Char('/')))
        strPath = QLatin1String(TMP_DIR) + strPath;
    int nResult = ARI_NO_DATA;
    SafeFileWrite::Kind kind;
    if (!SafeFileWrite::KindOfType(nType, &kind)) {
        // Writes no file: the SDK answers for the type.
        nResult = SaveDrawingImageTo(nType, nDPI, strPath, "SaveDrawImage");
    } else {
        SafeFileWrite file;
        if (!file.Prepare(strPath, kind)) {
            ADAPTER_LOG("SaveDrawImage", "<%ld>-refused: %s", file.Why().toUtf8().constData());
        } else {
            nResult = SaveDrawingImageTo(nType, nDPI, file.WritePath(), "SaveDrawImage");
            if (nResult == ARI_SUCCESS && !file.Commit()) {
                ADAPTER_LOG("SaveDrawImage", "<%ld>-not saved: %s", file.Why().toUtf8().constData());
                nResult = ARI_NO_DATA;
            }
        }
    }
    const QString strResult = nResult == ARI_SUCCESS ? strPath : QString::number(nResult);
    ADAPTER_LOG("SaveDrawImage", "<%ld>-Leave with strResult.length=%d", strResult.length());
    return strResult;
}

QString SignObjAdapter::Decode(int nType, QString strPath, QString strData)
{
    ADAPTER_LOG("Decode", "<%ld>-Enter, nType=%d, strPath=%s, strData.length=%d", nType, strPath.toUtf8().constData(),
                strData.length());
    if (!Available(EP_Base64Decode))
        return QString("");
    if (leavesTmp(strPath)) {
        ADAPTER_LOG("Decode", "<%ld>-refused: path '%s' would leave /tmp/", strPath.toUtf8().constData());
        return QString("");
    }
    const QString strFullPath = QLatin1String(TMP_DIR) + strPath;
    // Image types write the file: the name must fit, and the file is
    // written beside it and renamed into place.
    SafeFileWrite file;
    if (IsRasterType(nType) && !file.Prepare(strFullPath, SafeFileWrite::Kind::Raster)) {
        ADAPTER_LOG("Decode", "<%ld>-refused: %s", file.Why().toUtf8().constData());
        return QString("");
    }
    m_strDecodeFilePath = strFullPath;
    const QByteArray data = strData.toUtf8();
    std::wstring wstrPath = (IsRasterType(nType) ? file.WritePath() : strFullPath).toStdWString();
    const int nResult = Pfn<sdkfn::Base64Decode>(EP_Base64Decode)(m_traits.nDeviceType, nType, data.constData(), &wstrPath[0]);
    ADAPTER_LOG("Decode", "<%ld>-after call %s(), nResult=%d", PfnName(EP_Base64Decode).c_str(), nResult);
    if (IsRasterType(nType) && nResult == ARI_SUCCESS && !file.Commit())
        ADAPTER_LOG("Decode", "<%ld>-not saved: %s", file.Why().toUtf8().constData());

    if (nType != EBITI_INK || !Available(EP_GetTotalDecodePacketsNumber) || !Available(EP_GetDecodePacketsData))
        return QString("");
    const auto getData = Pfn<sdkfn::GetDecodePacketsData>(EP_GetDecodePacketsData);
    const int nCount = Pfn<sdkfn::GetTotalDecodePacketsNumber>(EP_GetTotalDecodePacketsNumber)(m_traits.nDeviceType);
    CompactJsonArray points(nCount > 0 ? nCount * 40 : 0);
    for (int i = 0; i < nCount; ++i) {
        points.beginObject();
        points.member("bStrokeEnd", getData(m_traits.nDeviceType, i, INKDATATYPE_STROKEEND));
        points.member("x", getData(m_traits.nDeviceType, i, INKDATATYPE_X));
        points.member("y", getData(m_traits.nDeviceType, i, INKDATATYPE_Y));
        points.endObject();
    }
    return points.finish();
}

QString SignObjAdapter::WPSSignConfirmed(bool bEnableDateTime, QString strName)
{
    static const char* const OP = "WPSSignConfirmed";
    ADAPTER_LOG(OP, "<%ld>-Enter, bEnableDateTime=%d, strName=%s", (int)bEnableDateTime, strName.toUtf8().constData());
    SetClip(5, 5);

    // The SDK writes a fresh file that is then renamed over the fixed name.
    QString strResult("");
    QImage signImage;
    if (Available(EP_SaveDrawingImage)) {
        const QString strTemp = createFreshFile(SIGN_IMAGE_TEMPLATE);
        if (strTemp.isEmpty()) {
            strResult = QString::number(ARI_NO_DATA);
        } else {
            const int nResult = SaveDrawingImageTo(EBITI_PNG, 300, strTemp, OP);
            if (nResult != ARI_SUCCESS) {
                ::unlink(QFile::encodeName(strTemp).constData());
                strResult = QString::number(nResult);
            } else {
                signImage.load(strTemp, "PNG");
                strResult = moveIntoPlace(strTemp, SIGN_IMAGE_PATH) ? QString::fromLatin1(SIGN_IMAGE_PATH)
                                                                     : QString::number(ARI_NO_DATA);
            }
        }
    }
    ADAPTER_LOG(OP, "<%ld>-after call SaveDrawImage(), strResult.length=%d", strResult.length());
    // An empty result (no SDK) reads as 0, as the plain picture path does.
    if (strResult.toInt() < 0)
        return strResult;
    if (!bEnableDateTime && strName.isEmpty())
        return strResult;
    if (strResult.isEmpty())
        return strResult;

    const QString strCurrentDateTime = QDateTime::currentDateTime().toString(QStringLiteral("yyyy/MM/dd hh:mm:ss"));
    ADAPTER_LOG(OP, "<%ld>-strCurrentDateTime=%s", strCurrentDateTime.toUtf8().constData());
    const int nSignImageWidth = signImage.width();
    const int nSignImageHeight = signImage.height();
    ADAPTER_LOG(OP, "<%ld>-nSignImageWidth=%d, nSignImageHeight=%d", nSignImageWidth, nSignImageHeight);

    QFont font(QStringLiteral("times"), 24, QFont::Normal, false);
    QImage metricsDevice(1, 1, QImage::Format_ARGB32); // same resolution as the picture while it is drawn
    const QFontMetrics metrics(font, &metricsDevice);
    const int nLineHeight = metrics.height();
    int nTextWidth = 0;
    int nTextHeight = 0;
    if (bEnableDateTime && !strName.isEmpty()) {
        nTextWidth = qMax(metrics.horizontalAdvance(strName), metrics.horizontalAdvance(strCurrentDateTime));
        nTextHeight = 2 * nLineHeight;
        ADAPTER_LOG(OP, "<%ld>-strName and strCurrentDateTime existed..., nTargetSignWidth=%d, nTargetSignHeight=%d", nTextWidth, nTextHeight);
    } else if (bEnableDateTime) {
        nTextWidth = metrics.horizontalAdvance(strCurrentDateTime);
        nTextHeight = nLineHeight;
        ADAPTER_LOG(OP, "<%ld>-strCurrentDateTime existed..., nTargetSignWidth=%d, nTargetSignHeight=%d", nTextWidth, nTextHeight);
    } else {
        nTextWidth = metrics.horizontalAdvance(strName);
        nTextHeight = nLineHeight;
        ADAPTER_LOG(OP, "<%ld>-strName existed..., nTargetSignWidth=%d, nTargetSignHeight=%d", nTextWidth, nTextHeight);
    }
    const int nTargetSignWidth = qMax(nSignImageWidth, nTextWidth);
    const int nTargetSignHeight = nSignImageHeight + nTextHeight;
    ADAPTER_LOG(OP, "<%ld>-nTargetSignWidth=%d, nTargetSignHeight=%d", nTargetSignWidth, nTargetSignHeight);

    QImage targetSignImage(nTargetSignWidth, nTargetSignHeight, QImage::Format_ARGB32);
    targetSignImage.fill(Qt::transparent);
    {
        QPainter painter(&targetSignImage);
        painter.setFont(font);
        int nOffsetY = 0;
        if (!strName.isEmpty()) {
            painter.drawText(QRect(0, 0, nTargetSignWidth, nLineHeight), Qt::AlignRight | Qt::AlignTop, strName);
            nOffsetY = nLineHeight;
        }
        painter.drawImage(nTargetSignWidth - nSignImageWidth, nOffsetY, signImage);
        if (bEnableDateTime)
            painter.drawText(QRect(0, nOffsetY + nSignImageHeight, nTargetSignWidth, nLineHeight), Qt::AlignRight | Qt::AlignTop,
                             strCurrentDateTime);
    }
    targetSignImage.setDotsPerMeterX(DOTS_PER_METER_300_DPI);
    targetSignImage.setDotsPerMeterY(DOTS_PER_METER_300_DPI);

    const QString strTemp = createFreshFile(COMPOSED_IMAGE_TEMPLATE);
    bool bRet = !strTemp.isEmpty() && targetSignImage.save(strTemp, "PNG");
    if (bRet)
        bRet = moveIntoPlace(strTemp, COMPOSED_IMAGE_PATH);
    else if (!strTemp.isEmpty())
        ::unlink(QFile::encodeName(strTemp).constData());
    ADAPTER_LOG(OP, "<%ld>-after call targetSignImage.save(strTargetSignImageFilePath), bRet=%d", (int)bRet);
    return bRet ? QString::fromLatin1(COMPOSED_IMAGE_PATH) : QStringLiteral("-1");
}
