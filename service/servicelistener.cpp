#include "servicelistener.h"

#include "vtlog.h"

#include <QTcpSocket>
#include <QWebSocketServer>

ServiceListener::ServiceListener(QWebSocketServer* pWebSocketServer, QObject* parent)
    : QTcpServer(parent), m_pWebSocketServer(pWebSocketServer)
{
}

void ServiceListener::incomingConnection(qintptr nDescriptor)
{
    auto* pSocket = new QTcpSocket();
    if (!pSocket->setSocketDescriptor(nDescriptor)) {
        VT_LOG("ServiceListener::incomingConnection()", "<%ld>-socket not taken: %s",
               pSocket->errorString().toUtf8().constData());
        delete pSocket; // closes the descriptor
        return;
    }
    pSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_pWebSocketServer->handleConnection(pSocket); // takes ownership
}
