#include <QApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "detectsigngleinstance.h"
#include "servicelistener.h"
#include "systraymenumgr.h"
#include "vtlog.h"

namespace {

int g_termPipe[2] = {-1, -1};

// Only async-signal-safe work here: the event loop does the rest.
void OnTermSignal(int)
{
    const char c = 1;
    ssize_t n = write(g_termPipe[1], &c, 1);
    (void)n;
}

// Drains the SIGTERM pipe and ends the program as the exit item does:
// settings written, service stopped, pad closed.
class TermWatch : public QObject
{
    Q_OBJECT
public:
    TermWatch(QSocketNotifier* pNotifier, SysTrayMenuMgr* pTrayMgr)
        : QObject(pTrayMgr), m_pNotifier(pNotifier), m_pTrayMgr(pTrayMgr)
    {
        // By name: activated(int) is the signal Qt 5.11 has (5.15 hides it
        // from typed connects, and its typed one is newer than 5.11).
        connect(pNotifier, SIGNAL(activated(int)), this, SLOT(Fired()));
    }

private slots:
    void Fired()
    {
        char buf[16];
        while (read(g_termPipe[0], buf, sizeof buf) > 0) {
        }
        m_pNotifier->setEnabled(false);
        VT_LOG("main()", "<%ld>-SIGTERM: exiting");
        m_pTrayMgr->ExitWebSocketService();
    }

private:
    QSocketNotifier* m_pNotifier;
    SysTrayMenuMgr* m_pTrayMgr;
};

// SIGTERM (the session ending, with or without a tray) ends the program.
void WatchTermSignal(SysTrayMenuMgr* pTrayMgr)
{
    if (pipe(g_termPipe) != 0)
        return;
    for (int fd : g_termPipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    new TermWatch(new QSocketNotifier(g_termPipe[0], QSocketNotifier::Read, pTrayMgr), pTrayMgr);
    struct sigaction sa = {};
    sa.sa_handler = OnTermSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
}

}  // namespace

int main(int argc, char* argv[])
{
    // Every client holds a descriptor: use all the system allows us.
    ServiceListener::RaiseDescriptorLimit();
    auto* pApp = new QApplication(argc, argv);

    auto* pDetect = new DetectSigngleInstance(nullptr);
    if (!pDetect->IsSingleInstance()) {
        delete pDetect;
        delete pApp;
        return 1;
    }

    auto* pTrayMgr = new SysTrayMenuMgr(nullptr);
    QObject::connect(pTrayMgr, &SysTrayMenuMgr::closed, pApp, &QCoreApplication::quit);
    WatchTermSignal(pTrayMgr);
    // Only the exit item or SIGTERM end the program, not a closed dialog.
    pApp->setQuitOnLastWindowClosed(false);
    // Serves at once; the icon follows whenever a tray is there.
    pTrayMgr->Initialize();

    const int nResult = pApp->exec();

    delete pTrayMgr;
    delete pDetect;
    delete pApp;
    return nResult;
}

#include "main.moc"
