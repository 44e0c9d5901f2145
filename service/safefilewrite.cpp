#include "safefilewrite.h"

#include "qtfloor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const TMP_COMPONENT = "tmp"; // "/tmp/"
const int FRESH_NAME_ATTEMPTS = 16;

struct KindSuffixes {
    SafeFileWrite::Kind kind;
    QStringList suffixes;
};

bool SuffixFits(SafeFileWrite::Kind kind, const QString& strSuffix)
{
    static const KindSuffixes TABLE[] = {
        {SafeFileWrite::Kind::Raster, {"bmp", "jpg", "jpeg", "png"}},
        {SafeFileWrite::Kind::Pdf, {"pdf"}},
        {SafeFileWrite::Kind::Svg, {"svg"}},
    };
    for (const KindSuffixes& row : TABLE)
        if (row.kind == kind)
            return row.suffixes.contains(strSuffix.toLower());
    return false;
}

QString RandomPart()
{
    static const char ALPHABET[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString s;
    for (int i = 0; i < 8; ++i)
        s += QLatin1Char(ALPHABET[QRandomGenerator::system()->bounded(int(sizeof ALPHABET) - 1)]);
    return s;
}

} // namespace

bool SafeFileWrite::KindOfType(int nType, Kind* pKind)
{
    switch (nType) {
    case 1: // EBITI_BITMAP, EBITI_JPG, EBITI_PNG: the suffix picks the format
    case 2:
    case 3: *pKind = Kind::Raster; return true;
    case 7: *pKind = Kind::Pdf; return true;
    case 8: *pKind = Kind::Svg; return true;
    default: return false;
    }
}

SafeFileWrite::~SafeFileWrite()
{
    if (m_nDirFd < 0)
        return;
    if (!m_bCommitted && !m_strTempName.isEmpty())
        ::unlinkat(m_nDirFd, QFile::encodeName(m_strTempName).constData(), 0);
    ::close(m_nDirFd);
}

bool SafeFileWrite::Fail(const QString& strWhy)
{
    m_strWhy = strWhy;
    return false;
}

bool SafeFileWrite::Prepare(const QString& strPath, Kind kind)
{
    if (strPath.contains(QChar(0)))
        return Fail(QStringLiteral("the name holds a NUL character"));
    const QStringList parts = VtSplit(strPath, QLatin1Char('/'));
    if (parts.contains(QStringLiteral("..")))
        return Fail(QStringLiteral("the name holds a '..' component"));
    m_strFinalName = parts.last();
    if (m_strFinalName.isEmpty() || m_strFinalName == QLatin1String("."))
        return Fail(QStringLiteral("no file name"));
    const QString strSuffix = QFileInfo(m_strFinalName).suffix();
    if (!SuffixFits(kind, strSuffix))
        return Fail(QStringLiteral("the suffix '%1' does not fit the image type").arg(strSuffix));

    // The folder, walked one component at a time from the root. Under /tmp/
    // anyone may plant a link, so there no component may be one.
    QString strDir = strPath.left(strPath.size() - m_strFinalName.size());
    if (!strDir.startsWith(QLatin1Char('/')))
        strDir = QDir::currentPath() + QLatin1Char('/') + strDir;
    QStringList dirs = VtSplit(strDir, QLatin1Char('/'), true);
    dirs.removeAll(QStringLiteral("."));
    const bool bUnderTmp = !dirs.isEmpty() && dirs.first() == QLatin1String(TMP_COMPONENT);
    m_nDirFd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    QString strWalked;
    for (int i = 0; i < dirs.size() && m_nDirFd >= 0; ++i) {
        strWalked += QLatin1Char('/') + dirs[i];
        const bool bNoLinks = bUnderTmp && i > 0;
        const QByteArray name = QFile::encodeName(dirs[i]);
        const int fd = ::openat(m_nDirFd, name.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC | (bNoLinks ? O_NOFOLLOW : 0));
        const int nError = errno;
        if (fd < 0) {
            struct stat st;
            const bool bLink = bNoLinks && ::fstatat(m_nDirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
                               S_ISLNK(st.st_mode);
            return Fail(bLink ? QStringLiteral("%1 is a symbolic link").arg(strWalked)
                              : VtArgs(QStringLiteral("folder %1: %2"),
                                       {strWalked, QString::fromLocal8Bit(strerror(nError))}));
        }
        ::close(m_nDirFd);
        m_nDirFd = fd;
    }
    if (m_nDirFd < 0)
        return Fail(QStringLiteral("no root folder"));

    // Same permissions as a file the writer would have created, or as the
    // file being replaced.
    const QByteArray finalName = QFile::encodeName(m_strFinalName);
    struct stat target;
    const bool bReplacing = ::fstatat(m_nDirFd, finalName.constData(), &target, AT_SYMLINK_NOFOLLOW) == 0 &&
                            S_ISREG(target.st_mode);
    for (int i = 0; i < FRESH_NAME_ATTEMPTS && m_strTempName.isEmpty(); ++i) {
        const QString strName = QLatin1Char('.') + m_strFinalName + QLatin1Char('-') + RandomPart() + QLatin1Char('.') + strSuffix;
        const int fd = ::openat(m_nDirFd, QFile::encodeName(strName).constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return Fail(VtArgs(QStringLiteral("cannot create a file in %1: %2"),
                               {strWalked, QString::fromLocal8Bit(strerror(errno))}));
        }
        if (bReplacing)
            ::fchmod(fd, target.st_mode & 0777);
        ::close(fd);
        m_strTempName = strName;
    }
    if (m_strTempName.isEmpty())
        return Fail(QStringLiteral("no fresh name in %1").arg(strWalked));
    // Through the open folder: a folder renamed or replaced meanwhile does
    // not redirect the write.
    const QString strFdDir = QStringLiteral("/proc/self/fd/%1").arg(m_nDirFd);
    m_strWritePath = (QFileInfo(strFdDir).isDir() ? strFdDir : strWalked) + QLatin1Char('/') + m_strTempName;
    return true;
}

bool SafeFileWrite::Commit()
{
    if (m_nDirFd < 0 || m_strTempName.isEmpty() || m_bCommitted)
        return Fail(QStringLiteral("nothing prepared"));
    if (::renameat(m_nDirFd, QFile::encodeName(m_strTempName).constData(), m_nDirFd,
                   QFile::encodeName(m_strFinalName).constData()) != 0)
        return Fail(VtArgs(QStringLiteral("cannot replace %1: %2"),
                           {m_strFinalName, QString::fromLocal8Bit(strerror(errno))}));
    m_bCommitted = true;
    return true;
}
