#pragma once

#include <QThread>

// Waits at start-up for a system tray to appear: up to 60 probes, 500 ms
// apart, then reports the result once.
class CheckSysTrayThread : public QThread
{
    Q_OBJECT
public:
    explicit CheckSysTrayThread(QObject* parent);

    static constexpr int PROBE_COUNT = 60;
    static constexpr int PROBE_INTERVAL_MS = 500;

Q_SIGNALS:
    void SysTrayAvailable(bool bResult);

protected:
    void run() override;
};
