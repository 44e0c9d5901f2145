// Test helpers that need no SDK headers: threads of this process by name
// (read from /proc) and emulated fingerprint captures.
#pragma once

#include "q230g.h"

#include <functional>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

// State letter and CPU ticks of the first thread with this name.
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


// A 208 x 288 capture with the given byte at each pixel.
inline padsim::Bytes Capture(const std::function<uint8_t(int x, int y)>& value)
{
    padsim::Bytes image(padsim::FingerprintPadModel::kImageSize);
    for (int y = 0; y < 288; ++y)
        for (int x = 0; x < 208; ++x)
            image[y * 208 + x] = value(x, y);
    return image;
}
