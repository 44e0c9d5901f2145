#include "checksystraythread.h"

#include <QSystemTrayIcon>

#include "systraymenumgr.h"
#include "vtlog.h"

CheckSysTrayThread::CheckSysTrayThread(QObject* parent) : QThread(parent)
{
}

void CheckSysTrayThread::run()
{
    bool bResult = false;
    for (int nProbe = 1; nProbe <= PROBE_COUNT && !isInterruptionRequested(); ++nProbe) {
        auto* pProbe = new QSystemTrayIcon();
        bResult = QSystemTrayIcon::isSystemTrayAvailable();
        delete pProbe;
        VT_LOG_THREAD("CheckSysTrayThread::run()", "<%ld>-probe %d: %d", nProbe, bResult ? 1 : 0);
        VtDesktopTrace(QStringLiteral("tray probe %1 %2").arg(nProbe).arg(bResult ? 1 : 0));
        if (bResult)
            break;
        if (nProbe < PROBE_COUNT)
            msleep(PROBE_INTERVAL_MS);
    }
    emit SysTrayAvailable(bResult);
}
