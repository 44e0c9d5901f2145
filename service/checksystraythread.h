#pragma once

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

// Waits at start-up for a system tray to appear: up to 60 probes, 500 ms
// apart, then reports the result once. The thread only paces the probes:
// each probe icon is created, asked and deleted on the GUI thread, which owns
// every Qt GUI object.
class CheckSysTrayThread : public QThread
{
    Q_OBJECT
public:
    explicit CheckSysTrayThread(QObject* parent);

    static constexpr int PROBE_COUNT = 60;
    static constexpr int PROBE_INTERVAL_MS = 500;

    // Ends run() soon, also while it waits for a probe's answer or between
    // probes; a stopped poll reports nothing. Call from the GUI thread, then
    // wait() for the thread.
    void Stop();

Q_SIGNALS:
    void SysTrayAvailable(bool bResult);

protected:
    void run() override;

private:
    bool AskGuiThread(bool& bAvailable);
    bool Pause(int nMs);

    QMutex m_mutex;
    QWaitCondition m_wake;
    bool m_bStop = false;
    bool m_bAnswered = false;
    bool m_bAnswer = false;
};
