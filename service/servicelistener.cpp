#include "servicelistener.h"

#include "vtlog.h"

#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTimer>
#include <QWebSocketServer>

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Connections taken per wake-up, so that a flood does not hold up requests.
const int ACCEPTS_PER_WAKE = 64;

} // namespace

ServiceListener::ServiceListener(QWebSocketServer* pWebSocketServer, QObject* parent)
    : QTcpServer(parent), m_pWebSocketServer(pWebSocketServer)
{
}

ServiceListener::~ServiceListener()
{
    delete m_pAcceptNotifier;
}

bool ServiceListener::listen(const QHostAddress& address, quint16 port)
{
    if (!QTcpServer::listen(address, port))
        return false;
    pauseAccepting(); // QTcpServer's own notifier stays off: see AcceptQueued()
    m_pAcceptNotifier = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
    // By name: activated(int) is the signal Qt 5.11 has (5.15 hides it from
    // typed connects, and its typed one is newer than 5.11).
    connect(m_pAcceptNotifier, SIGNAL(activated(int)), this, SLOT(AcceptQueued()));
    m_pAcceptNotifier->setEnabled(true);
    m_pResumeTimer = new QTimer(this);
    m_pResumeTimer->setSingleShot(true);
    m_pResumeTimer->setInterval(ACCEPT_PAUSE_MS);
    connect(m_pResumeTimer, &QTimer::timeout, this, [this] {
        m_pAcceptNotifier->setEnabled(true);
        AcceptQueued();
    });
    return true;
}

void ServiceListener::AcceptQueued()
{
    for (int i = 0; i < ACCEPTS_PER_WAKE; ++i) {
        const int fd = ::accept4(int(socketDescriptor()), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            incomingConnection(fd);
            continue;
        }
        const int nError = errno;
        if (nError == EINTR || nError == ECONNABORTED || nError == EPROTO)
            continue; // that connection is gone; the next may be fine
        if (nError == EMFILE || nError == ENFILE || nError == ENOBUFS || nError == ENOMEM) {
            ++m_nAcceptPauses;
            VT_LOG("ServiceListener::AcceptQueued()", "<%ld>-accept failed (%s), pausing %d ms", strerror(nError),
                   ACCEPT_PAUSE_MS);
            m_pAcceptNotifier->setEnabled(false);
            m_pResumeTimer->start();
        }
        return; // EAGAIN: nothing more queued
    }
}

void ServiceListener::incomingConnection(qintptr nDescriptor)
{
    auto* pSocket = new QTcpSocket();
    if (!pSocket->setSocketDescriptor(nDescriptor)) {
        VT_LOG("ServiceListener::incomingConnection()", "<%ld>-socket not taken: %s",
               pSocket->errorString().toUtf8().constData());
        delete pSocket;
        ::close(int(nDescriptor));
        return;
    }
    pSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_sockets.removeAll(nullptr);
    m_sockets << pSocket;
    m_pWebSocketServer->handleConnection(pSocket); // takes ownership
}

QTcpSocket* ServiceListener::SocketOf(const QHostAddress& peer, quint16 nPeerPort) const
{
    for (const QPointer<QTcpSocket>& pSocket : m_sockets)
        if (pSocket && pSocket->peerPort() == nPeerPort && pSocket->peerAddress() == peer)
            return pSocket;
    return nullptr;
}

void ServiceListener::RaiseDescriptorLimit()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}
