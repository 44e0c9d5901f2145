#pragma once

#include <QPointer>
#include <QTcpServer>

class QSocketNotifier;
class QTcpSocket;
class QTimer;
class QWebSocketServer;

// Accepts the TCP connections of the WebSocket server. Every accepted socket
// gets low delay (TCP_NODELAY) before the handshake: a reply goes out in one
// write, and without it the tail of a reply of some sizes waits for the
// peer's delayed acknowledgement (40 ms). The socket then goes to the
// WebSocket server, which does the handshake and reports the connection.
//
// The listener accepts by itself rather than through QTcpServer: when the
// process runs out of descriptors, accept() fails while the connection
// stays queued, and QTcpServer would be woken for it again at once, over
// and over. Here accepting pauses for ACCEPT_PAUSE_MS instead and then
// tries again; the queued connections wait in the kernel meanwhile.
class ServiceListener : public QTcpServer
{
    Q_OBJECT
public:
    ServiceListener(QWebSocketServer* pWebSocketServer, QObject* parent);
    // Stops watching the descriptor before QTcpServer closes it.
    ~ServiceListener() override;

    bool listen(const QHostAddress& address, quint16 port);
    // Times accepting was paused for lack of descriptors.
    int AcceptPauses() const { return m_nAcceptPauses; }
    // The TCP socket under an accepted connection, by its peer's address
    // and port; null when it is gone or was not accepted here.
    QTcpSocket* SocketOf(const QHostAddress& peer, quint16 nPeerPort) const;

    // Raises this process's soft descriptor limit to its hard limit.
    static void RaiseDescriptorLimit();

    static const int ACCEPT_PAUSE_MS = 100;

protected:
    void incomingConnection(qintptr nDescriptor) override;

private Q_SLOTS:
    void AcceptQueued();

private:

    QWebSocketServer* m_pWebSocketServer;
    // Accepted; QPointer, as Qt takes the sockets' signal connections.
    QList<QPointer<QTcpSocket>> m_sockets;
    QSocketNotifier* m_pAcceptNotifier = nullptr;
    QTimer* m_pResumeTimer = nullptr;
    int m_nAcceptPauses = 0;
};
