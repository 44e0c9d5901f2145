#pragma once

#include "signobjinterface.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// What the open pad reports as it happens, turned into pushes on the
// service's thread: stored points in batches ("PenData"), a cleared ink
// ("PenData" "clear"), key touches (a wake-up of the key poll) and the pad
// going and coming back ("DeviceStatus").
//
// A batch goes out at once when the last one left at least BATCH_MS ago,
// else BATCH_MS after it: at most one message per BATCH_MS, and no point
// waits longer than that (plus the event loop's own delay).
class LiveStream : public QObject, public PadReports
{
    Q_OBJECT
public:
    static const int BATCH_MS = 4;

    struct Hooks {
        // To the subscribed connections: text, or sealedText where raw ink is sealed.
        std::function<void(const QString& text, const QString& sealedText)> pfnPushPenData;
        std::function<void(const QString& text)> pfnPushDeviceStatus; // likewise
        std::function<void()> pfnKeyTouched;                          // read the key status now
    };
    LiveStream(Hooks hooks, QObject* parent);
    ~LiveStream() override;

    // The pad the service opened, and its close (service thread).
    void Attach(SignObjInterface* pPad);
    void Detach();
    // Whether any connection wants points (service thread).
    void SetWanted(bool bWanted) { m_bWanted = bWanted; }

    // The element array of one batch, as pushed in "Result".
    // bSealed: only what draws the preview (cx, cy, bStrokeEnd).
    static QString BatchText(const std::vector<Point>& points, bool bSealed = false);

    // PadReports.
    bool WantsPoints() const override { return m_bWanted; }
    void PointStored(const Point& point) override;
    void KeyTouched() override;
    void PadAttached(bool bAttached) override;
    void InkCleared() override;

private:
    void PointsWaiting();
    void Flush();

    Hooks m_hooks;
    SignObjInterface* m_pPad = nullptr; // attached, service thread only
    std::atomic<bool> m_bWanted{false};
    std::mutex m_mutex;
    std::vector<Point> m_points; // stored, not yet pushed; under m_mutex
    bool m_bPosted = false;      // a PointsWaiting is on its way; under m_mutex
    QTimer m_flushTimer;
    QElapsedTimer m_sinceFlush;
};
