#include "websocketservice.h"

#include "clientguard.h"
#include "requesttable.h"
#include "servicelistener.h"
#include "signobjmanager.h"
#include "vtlog.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

namespace {

const char* const SERVER_NAME = "VEDEZediVoduzu - WebSocketServer";

} // namespace

WebSocketService::WebSocketService(quint16 port, const AccessSettings& access, QObject* parent)
    : QObject(parent),
      m_pWebSocketServer(new QWebSocketServer(QString::fromLatin1(SERVER_NAME), QWebSocketServer::NonSecureMode, this)),
      m_access(access), m_nPort(port)
{
    if (Listen(port)) {
        VT_LOG("WebSocketService::WebSocketService()", "<%ld>-listening on port %d", (int)serverPort());
        connect(m_pWebSocketServer, &QWebSocketServer::newConnection, this, &WebSocketService::onNewConnection);
        connect(m_pWebSocketServer, &QWebSocketServer::closed, this, &WebSocketService::closed);
        m_pSignObjMgr = new SignObjManager();
        m_bStartTimer = false;
        m_pTimer = new QTimer(this);
        connect(m_pTimer, &QTimer::timeout, this, &WebSocketService::MyTimerSlot);
    }
}

bool WebSocketService::Listen(quint16 port)
{
    // Any is IPv4 and IPv6 in one socket; the loopback needs one of each.
    QList<QHostAddress> addresses{QHostAddress::Any};
    if (m_access.bListenLoopbackOnly)
        addresses = {QHostAddress(QHostAddress::LocalHost), QHostAddress(QHostAddress::LocalHostIPv6)};
    for (const QHostAddress& address : qAsConst(addresses)) {
        auto* pListener = new ServiceListener(m_pWebSocketServer, this);
        // With port 0 the second address takes the port the first one got.
        const quint16 nPort = m_listeners.isEmpty() ? port : m_listeners.first()->serverPort();
        if (pListener->listen(address, nPort)) {
            m_listeners << pListener;
            continue;
        }
        const bool bNoIPv6 = address == QHostAddress(QHostAddress::LocalHostIPv6) &&
                             pListener->serverError() == QAbstractSocket::UnsupportedSocketOperationError;
        VT_LOG("WebSocketService::WebSocketService()", "<%ld>-listen on %s port %d failed: %s",
               address.toString().toUtf8().constData(), (int)nPort, pListener->errorString().toUtf8().constData());
        const QString strError = pListener->errorString();
        delete pListener;
        if (bNoIPv6 && !m_listeners.isEmpty())
            continue; // a computer without IPv6 is served on 127.0.0.1 alone
        m_strListenError = strError;
        for (QTcpServer* p : qAsConst(m_listeners))
            delete p;
        m_listeners.clear();
        return false;
    }
    return true;
}

WebSocketService::~WebSocketService()
{
    // Walk a copy: deleting a socket may report its disconnect.
    const QList<Client> clients = m_clients;
    m_clients.clear();
    for (const Client& client : clients) {
        if (!client.pSocket)
            continue;
        client.pSocket->disconnect(this); // no slot of a half-destroyed service runs
        delete client.pSocket;
    }
    if (m_pTimer) {
        m_pTimer->stop();
        delete m_pTimer;
        m_pTimer = nullptr;
    }
    delete m_pSignObjMgr; // closes the open pad
    m_pSignObjMgr = nullptr;
    for (QTcpServer* pListener : qAsConst(m_listeners))
        delete pListener; // closes it
    m_listeners.clear();
    m_pWebSocketServer->close();
}

quint16 WebSocketService::serverPort() const
{
    return m_listeners.isEmpty() ? 0 : m_listeners.first()->serverPort();
}

WebSocketService::Status WebSocketService::status() const
{
    Status status;
    status.bManager = m_pSignObjMgr != nullptr;
    status.bKeyPollTimer = m_pTimer != nullptr;
    status.bStartTimer = m_bStartTimer;
    status.nKeyPollMs = m_pTimer && m_pTimer->isActive() ? m_pTimer->interval() : 0;
    status.nClients = m_clients.size();
    for (QTcpServer* pListener : m_listeners)
        status.nAcceptPauses += static_cast<ServiceListener*>(pListener)->AcceptPauses();
    status.nRefusedConnections = m_nRefusedConnections;
    status.nBacklogCloses = m_nBacklogCloses;
    return status;
}

bool WebSocketService::isNullJsonObject(const QJsonObject& object) const
{
    return object.isEmpty();
}

QJsonObject WebSocketService::getNullJsonObject() const
{
    return QJsonValue().toObject();
}

void WebSocketService::onNewConnection()
{
    QWebSocket* pSocket = m_pWebSocketServer->nextPendingConnection();
    if (!pSocket)
        return;
    VT_LOG("WebSocketService::onNewConnection()", "<%ld>-client %s:%d", pSocket->peerAddress().toString().toUtf8().constData(),
           (int)pSocket->peerPort());
    // Larger frames and messages are refused from their header, unread.
    pSocket->setMaxAllowedIncomingFrameSize(quint64(m_access.nMaxMessageBytes));
    pSocket->setMaxAllowedIncomingMessageSize(quint64(m_access.nMaxMessageBytes));
    Client client;
    client.pSocket = pSocket;
    client.strOrigin = pSocket->origin();
    client.peer = pSocket->peerAddress();
    client.bLoopbackPeer = client.peer.isLoopback();
    QTcpSocket* pTcpSocket = nullptr;
    for (QTcpServer* pListener : qAsConst(m_listeners))
        if (!pTcpSocket)
            pTcpSocket = static_cast<ServiceListener*>(pListener)->SocketOf(pSocket->peerAddress(), pSocket->peerPort());
    client.pOutbox = new ClientOutbox(pSocket, pTcpSocket, m_access.nMaxPendingBytes);
    const QString strCap = CapExceeded(client);
    if (!strCap.isEmpty()) {
        VT_LOG("WebSocketService::onNewConnection()", "<%ld>-refused: %s", strCap.toUtf8().constData());
        ++m_nRefusedConnections;
        pSocket->setParent(this);
        connect(pSocket, &QWebSocket::disconnected, pSocket, &QObject::deleteLater);
        client.pOutbox->Close(VT_CLOSE_TRY_AGAIN_LATER, strCap);
        return;
    }
    connect(pSocket, &QWebSocket::textMessageReceived, this, &WebSocketService::processTextMessage);
    connect(pSocket, &QWebSocket::binaryMessageReceived, this, &WebSocketService::processBinaryMessage);
    connect(pSocket, &QWebSocket::disconnected, this, &WebSocketService::socketDisconnected);
    m_clients.append(client);
}

QString WebSocketService::CapExceeded(const Client& client) const
{
    int nSameOrigin = 0;
    int nSameRemoteHost = 0;
    for (const Client& other : m_clients) {
        if (!client.strOrigin.isEmpty() && other.strOrigin == client.strOrigin)
            ++nSameOrigin;
        if (!client.bLoopbackPeer && other.peer.isEqual(client.peer, QHostAddress::TolerantConversion))
            ++nSameRemoteHost;
    }
    return ConnectionCapExceeded(m_access, m_clients.size(), nSameOrigin, nSameRemoteHost);
}

bool WebSocketService::SendText(const Client& client, const QString& text)
{
    if (!client.pOutbox || client.pOutbox->IsClosing())
        return false;
    const bool bSent = client.pOutbox->PostText(text);
    m_nBacklogCloses += !bSent; // refused only when it closed for its backlog
    return bSent;
}

bool WebSocketService::SendBinary(const Client& client, const QByteArray& bytes)
{
    if (!client.pOutbox || client.pOutbox->IsClosing())
        return false;
    const bool bSent = client.pOutbox->PostBinary(bytes);
    m_nBacklogCloses += !bSent;
    return bSent;
}

WebSocketService::Client* WebSocketService::FindClient(const QWebSocket* pSocket)
{
    for (Client& client : m_clients)
        if (client.pSocket == pSocket)
            return &client;
    return nullptr;
}

void WebSocketService::processTextMessage(QString message)
{
    QWebSocket* pClient = qobject_cast<QWebSocket*>(sender());
    if (!pClient)
        return;
    const Client* pSender = FindClient(pClient);
    if (!pSender || pSender->pOutbox->IsClosing())
        return; // closed for sending too much: its requests are not served
    const bool bLargeMessage = message.size() >= ClientOutbox::OUTBOX_HANDOVER_BYTES;
    // The row's handler runs straight from here: the lookup returns first.
    const RequestCall call = Lookup(message);
    if (!call.pRow) {
        if (bLargeMessage)
            ReleaseFreedMemorySoon();
        return; // refused: no reply
    }
    const QString strResult = call.pfnAnswer(call);
    const QJsonObject response = RequestReply(QLatin1String(call.pRow->pszFunc), strResult);
    const QByteArray bytes = QJsonDocument(response).toJson(QJsonDocument::Compact);
    // The handler may have let go of large images or buffers.
    if (bLargeMessage || bytes.size() >= ClientOutbox::OUTBOX_HANDOVER_BYTES || call.pRow->bLargeBuffers)
        ReleaseFreedMemorySoon();
    // The client may have gone while the handler ran (a slot of its own).
    if (const Client* pTarget = FindClient(pClient))
        SendText(*pTarget, QString::fromUtf8(bytes.constData()));
}

void WebSocketService::processBinaryMessage(QByteArray message)
{
    QWebSocket* pClient = qobject_cast<QWebSocket*>(sender());
    if (const Client* pSender = pClient ? FindClient(pClient) : nullptr)
        SendBinary(*pSender, message);
}

void WebSocketService::socketDisconnected()
{
    QWebSocket* pClient = qobject_cast<QWebSocket*>(sender());
    if (!pClient)
        return;
    VT_LOG("WebSocketService::socketDisconnected()", "<%ld>-client gone");
    m_clients.erase(std::remove_if(m_clients.begin(), m_clients.end(),
                                   [pClient](const Client& client) { return client.pSocket == pClient; }),
                    m_clients.end());
    pClient->deleteLater();
}

void WebSocketService::BroadcastResponseBackToClient(QString text)
{
    // A copy: a client closed for its backlog may leave the list meanwhile.
    const QList<Client> clients = m_clients;
    for (const Client& client : clients) {
        if (client.pSocket)
            SendText(client, text);
    }
}
