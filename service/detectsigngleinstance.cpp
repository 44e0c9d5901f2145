#include "detectsigngleinstance.h"

#include "qtfloor.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <climits>
#include <unistd.h>

#include "vtlog.h"

namespace {

// The kernel keeps this many bytes of a process name; pgrep -x compares
// with what it kept.
const int PROCESS_NAME_BYTES = 15;
const char* const DELETED_SUFFIX = " (deleted)"; // the file was replaced, say by an upgrade

enum class Exe { Same, Other, Unknown };

// The program file a process runs, compared with ours.
Exe CompareProgramFile(qint64 nPid)
{
    auto target = [](const QByteArray& link, int* pError) {
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(link.constData(), buf, sizeof buf - 1);
        *pError = n < 0 ? errno : 0;
        QByteArray path(buf, n < 0 ? 0 : int(n));
        if (path.endsWith(DELETED_SUFFIX))
            path.chop(int(qstrlen(DELETED_SUFFIX)));
        return path;
    };
    int nError = 0;
    const QByteArray mine = target("/proc/self/exe", &nError);
    const QByteArray theirs = target("/proc/" + QByteArray::number(nPid) + "/exe", &nError);
    // Another user's process hides its file: with our exact name, it is
    // taken to be us (one instance per machine).
    if (nError == EACCES || nError == EPERM)
        return Exe::Unknown;
    return !theirs.isEmpty() && theirs == mine ? Exe::Same : Exe::Other;
}

// Neither ended nor a zombie waiting to be reaped.
bool IsLive(qint64 nPid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(nPid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const int nAfterName = text.lastIndexOf(") ");
    if (nAfterName < 0 || nAfterName + 2 >= text.size())
        return false;
    const char state = text[nAfterName + 2];
    return state != 'Z' && state != 'X' && state != 'x';
}

} // namespace

DetectSigngleInstance::DetectSigngleInstance(QObject* parent) : QObject(parent)
{
}

bool DetectSigngleInstance::IsSingleInstance()
{
    const QString name = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    return !IsProcessRunning(name);
}

bool DetectSigngleInstance::IsProcessRunning(QString processName)
{
    const QString strKept = QString::fromLocal8Bit(processName.toLocal8Bit().left(PROCESS_NAME_BYTES));
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-x"), QRegularExpression::escape(strKept)}, QIODevice::ReadWrite);
    // A pgrep that cannot start yields no output: judged as "not running".
    pgrep.waitForFinished(30000);
    const QByteArray raw = pgrep.readAllStandardOutput();
    const int zero = raw.indexOf('\0');
    const QString text = QString::fromUtf8(zero < 0 ? raw : raw.left(zero));

    // One process identifier per line (CR and LF both end one).
    const qint64 nOwnPid = QCoreApplication::applicationPid();
    int nOthers = 0;
    const QStringList lines = VtSplit(QString(text).replace(QLatin1Char('\r'), QLatin1Char('\n')), QLatin1Char('\n'));
    for (const QString& part : lines) {
        bool bOk = false;
        const qint64 nPid = part.trimmed().toLongLong(&bOk);
        if (!bOk || nPid <= 0 || nPid == nOwnPid || !IsLive(nPid))
            continue;
        const Exe exe = CompareProgramFile(nPid);
        VT_LOG("DetectSigngleInstance::IsProcessRunning()", "<%ld>-process %lld: %s", (long long)nPid,
               exe == Exe::Same ? "same program" : exe == Exe::Unknown ? "hidden, counted" : "another program");
        if (exe != Exe::Other)
            ++nOthers;
    }
    VT_LOG("DetectSigngleInstance::IsProcessRunning()", "<%ld>-%s: %d other instance(s)",
           processName.toUtf8().constData(), nOthers);
    return nOthers > 0;
}
