// Threads of this process by name, read from /proc: tests use them to check
// that a worker exists, sleeps, or has ended.
#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

// State letter and CPU ticks (utime + stime) of the first thread with this name.
inline bool ThreadState(const char* pszName, char& state, long& ticks)
{
    QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != pszName)
            continue;
        QFile stat(tasks.filePath(tid + "/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        state = f.value(0).isEmpty() ? '?' : f[0][0];
        ticks = f.value(11).toLong() + f.value(12).toLong();
        return true;
    }
    return false;
}

inline bool ThreadExists(const char* pszName)
{
    char state = 0;
    long ticks = 0;
    return ThreadState(pszName, state, ticks);
}
