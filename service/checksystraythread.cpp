#include "checksystraythread.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSystemTrayIcon>

#include <climits>

#include "desktoptesthooks.h"
#include "vtlog.h"

CheckSysTrayThread::CheckSysTrayThread(QObject* parent) : QThread(parent)
{
}

void CheckSysTrayThread::Stop()
{
    requestInterruption();
    QMutexLocker lock(&m_mutex);
    m_bStop = true;
    m_wake.wakeAll();
}

void CheckSysTrayThread::run()
{
    bool bResult = false;
    for (int nProbe = 1; nProbe <= PROBE_COUNT; ++nProbe) {
        if (!AskGuiThread(bResult))
            return;
        VT_LOG_THREAD("CheckSysTrayThread::run()", "<%ld>-probe %d: %d", nProbe, bResult ? 1 : 0);
        VtDesktopTrace(QStringLiteral("tray probe %1 %2").arg(nProbe).arg(bResult ? 1 : 0));
        if (bResult)
            break;
        if (nProbe < PROBE_COUNT && !Pause(PROBE_INTERVAL_MS))
            return;
    }
    emit SysTrayAvailable(bResult);
}

// One probe, run by the GUI thread's event loop; this thread waits for the
// answer without blocking the GUI thread in turn (a blocking queued call would
// deadlock against Stop() followed by wait(), or against an event loop that
// has already ended). False when stopped first.
bool CheckSysTrayThread::AskGuiThread(bool& bAvailable)
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_bStop)
            return false;
        m_bAnswered = false;
    }
    // This object lives in the GUI thread: the call runs there, and is
    // dropped if the object is deleted first.
    QMetaObject::invokeMethod(
        this,
        [this] {
            auto* pProbe = new QSystemTrayIcon();
            const bool bResult = QSystemTrayIcon::isSystemTrayAvailable();
            delete pProbe;
            QMutexLocker lock(&m_mutex);
            m_bAnswer = bResult;
            m_bAnswered = true;
            m_wake.wakeAll();
        },
        Qt::QueuedConnection);
    QMutexLocker lock(&m_mutex);
    while (!m_bAnswered && !m_bStop)
        m_wake.wait(&m_mutex, ULONG_MAX); // not the QDeadlineTimer overload, which Qt 5.11 lacks
    bAvailable = m_bAnswer;
    return m_bAnswered && !m_bStop;
}

bool CheckSysTrayThread::Pause(int nMs)
{
    QDeadlineTimer deadline(nMs);
    QMutexLocker lock(&m_mutex);
    while (!m_bStop && !deadline.hasExpired())
        m_wake.wait(&m_mutex, (unsigned long)qMax<qint64>(1, deadline.remainingTime()));
    return !m_bStop;
}
