// The oldest Qt the program and the SDK run on is 5.11.3. A Qt call newer
// than that stands behind VT_QT_AT_LEAST, with an older way of doing the
// same beside it. A build with VT_QT_FLOOR (cmake -DVT_QT_FLOOR=ON) takes
// the older ways on any Qt, so that they are built and tested here too and
// its binaries need nothing newer than 5.11.3 (it also leaves out Qt's
// version tag).
//
// Where an older call says the same thing on every Qt, it is used
// everywhere instead: VtArgs and VtSplit below.
#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <climits>

#include <initializer_list>

#define VT_QT_FLOOR_VERSION QT_VERSION_CHECK(5, 11, 3)
#if defined(VT_QT_FLOOR) && QT_VERSION > VT_QT_FLOOR_VERSION
#define VT_QT_API_VERSION VT_QT_FLOOR_VERSION
#else
#define VT_QT_API_VERSION QT_VERSION
#endif
// True when Qt major.minor.patch's API may be used.
#define VT_QT_AT_LEAST(major, minor, patch) (VT_QT_API_VERSION >= QT_VERSION_CHECK(major, minor, patch))

// strFormat.arg(a1, a2, ...): each argument replaces the next lowest
// numbered place marker (%1 .. %99), in one pass, so that a "%2" inside a
// substituted text stays as it is. From Qt 5.14 on the multi-argument arg()
// is a template over a newer library call; this is the same on every Qt.
inline QString VtArgs(const QString& strFormat, std::initializer_list<QString> args)
{
    // The marker at pos: its number, or -1; pEnd gets the index after it.
    auto marker = [&strFormat](int pos, int* pEnd) {
        int i = pos + 1;
        if (i < strFormat.size() && strFormat.at(i) == QLatin1Char('L'))
            ++i; // "%L1" is a marker too
        int n = -1;
        for (int nDigits = 0; i < strFormat.size() && nDigits < 2; ++i, ++nDigits) {
            const ushort c = strFormat.at(i).unicode();
            if (c < '0' || c > '9')
                break;
            n = (n < 0 ? 0 : n * 10) + (c - '0');
        }
        *pEnd = i;
        return n;
    };
    bool used[100] = {};
    int nEnd = 0;
    for (int i = 0; i < strFormat.size(); ++i) {
        if (strFormat.at(i) != QLatin1Char('%'))
            continue;
        const int n = marker(i, &nEnd);
        if (n >= 0)
            used[n] = true;
    }
    const QString* slot[100] = {};
    const QString* pArg = args.begin();
    for (int n = 0; n < 100 && pArg != args.end(); ++n)
        if (used[n])
            slot[n] = pArg++;
    QString result;
    result.reserve(strFormat.size());
    for (int i = 0; i < strFormat.size();) {
        if (strFormat.at(i) == QLatin1Char('%')) {
            const int n = marker(i, &nEnd);
            if (n >= 0 && slot[n]) {
                result += *slot[n];
                i = nEnd;
                continue;
            }
        }
        result += strFormat.at(i++);
    }
    return result;
}

// text.split(sep), with or without the empty parts. Qt 5.15 moved split()
// to a newer library call, also with no flag given.
inline QStringList VtSplit(const QString& text, QChar sep, bool bSkipEmpty = false)
{
    QStringList parts;
    int nStart = 0;
    for (;;) {
        const int nSep = text.indexOf(sep, nStart);
        const int nEnd = nSep < 0 ? text.size() : nSep;
        if (!bSkipEmpty || nEnd > nStart)
            parts << text.mid(nStart, nEnd - nStart);
        if (nSep < 0)
            return parts;
        nStart = nSep + 1;
    }
}

// thread.wait() until it has ended. Qt 5.15 moved wait() with no argument
// to a newer library call; ULONG_MAX is "no time limit" on every Qt.
inline bool VtWaitForThread(QThread* pThread)
{
#if VT_QT_AT_LEAST(5, 15, 0)
    return pThread->wait();
#else
    return pThread->wait(ULONG_MAX);
#endif
}
