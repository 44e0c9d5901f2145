#include "detectsigngleinstance.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>

#include "vtlog.h"

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
    QProcess pgrep;
    pgrep.start(QStringLiteral("pgrep"), {QStringLiteral("-f"), processName}, QIODevice::ReadWrite);
    // A pgrep that cannot start yields no output: judged as "not running".
    pgrep.waitForFinished(30000);
    const QByteArray raw = pgrep.readAllStandardOutput();
    const int zero = raw.indexOf('\0');
    const QString text = QString::fromUtf8(zero < 0 ? raw : raw.left(zero));

    // pgrep never lists itself, so our own pid gives "pid" plus an empty
    // tail; every further part is another process (CR and LF both split).
    const QStringList parts = text.split(QRegularExpression(QStringLiteral("[\\r\\n]")));
    VT_LOG("DetectSigngleInstance::IsProcessRunning()", "<%ld>-%s: %d parts",
           processName.toUtf8().constData(), static_cast<int>(parts.size()));
    return parts.size() > 2;
}
