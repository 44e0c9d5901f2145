#pragma once

#include <QTcpServer>

class QWebSocketServer;

// Accepts the TCP connections of the WebSocket server. Every accepted socket
// gets low delay (TCP_NODELAY) before the handshake: a reply goes out in one
// write, and without it the tail of a reply of some sizes waits for the
// peer's delayed acknowledgement (40 ms). The socket then goes to the
// WebSocket server, which does the handshake and reports the connection.
class ServiceListener : public QTcpServer
{
    Q_OBJECT
public:
    ServiceListener(QWebSocketServer* pWebSocketServer, QObject* parent);

protected:
    void incomingConnection(qintptr nDescriptor) override;

private:
    QWebSocketServer* m_pWebSocketServer;
};
