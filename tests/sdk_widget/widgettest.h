// Helpers shared by the widget and fingerprint tests: the emulated pads,
// deadlines, canvas snapshots and the pixel tests.
#pragma once

#include "fplayer.h"
#include "padsim.h"
#include "signobj.h"
#include "vtinksdk.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTest>

#include <functional>
#include <mutex>

namespace vtw {

constexpr int kDeadlineMs = 30000;

// Polls a condition with the event loop running, until it holds or the deadline passes.
inline bool WaitUntil(const std::function<bool()>& done, int nDeadlineMs = kDeadlineMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > nDeadlineMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// The canvas image (the merged one on the fingerprint model), taken under its lock.
inline QImage CanvasOf(CSignCore* pCanvas)
{
    return pCanvas->Canvas().Image();
}

inline bool IsDark(QRgb c)
{
    return qRed(c) < 128 && qGreen(c) < 128 && qBlue(c) < 128;
}

inline bool IsWhite(QRgb c)
{
    return (c & 0x00FFFFFFu) == 0x00FFFFFFu;
}

inline bool IsRed(QRgb c)
{
    return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
}

// Raw pad coordinates that map onto a canvas point.
inline int RawX(const padsim::WritingArea& a, int nCanvasWidth, double x)
{
    return a.xOffset + int(x * a.xSpan / nCanvasWidth + 0.5);
}

inline int RawY(const padsim::WritingArea& a, int nCanvasHeight, double y)
{
    return a.yOffset + int(y * a.ySpan / nCanvasHeight + 0.5);
}

inline QImage DecodeImage(const char* pszBase64)
{
    if (!pszBase64)
        return QImage();
    return QImage::fromData(QByteArray::fromBase64(QByteArray(pszBase64)));
}

} // namespace vtw
