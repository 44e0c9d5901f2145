#include "websocketservice.h"

#include "compactjson.h"
#include "livestream.h"
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
        LiveStream::Hooks hooks;
        hooks.pfnPushPenData = [this](const QString& text) { PushToClients(text, Push::PenData); };
        hooks.pfnPushDeviceStatus = [this](const QString& text) { PushToClients(text, Push::DeviceStatus); };
        hooks.pfnKeyTouched = [this] { MyTimerSlot(); }; // the poll stays as the fallback
        m_pLive = new LiveStream(hooks, this);
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
        delete pListener;
        if (bNoIPv6 && !m_listeners.isEmpty())
            continue; // a computer without IPv6 is served on 127.0.0.1 alone
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
    delete m_pLive; // ends the live reports before the pad closes
    m_pLive = nullptr;
    delete m_pSignObjMgr; // closes the open pad
    m_pSignObjMgr = nullptr;
    for (QTcpServer* pListener : qAsConst(m_listeners))
        pListener->close();
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
    for (const Client& client : m_clients)
        status.nPenSubscribers += client.bPenData ? 1 : 0;
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
    connect(pSocket, &QWebSocket::textMessageReceived, this, &WebSocketService::processTextMessage);
    connect(pSocket, &QWebSocket::binaryMessageReceived, this, &WebSocketService::processBinaryMessage);
    connect(pSocket, &QWebSocket::disconnected, this, &WebSocketService::socketDisconnected);
    Client client;
    client.pSocket = pSocket;
    client.strOrigin = pSocket->origin();
    client.peer = pSocket->peerAddress();
    client.bLoopbackPeer = client.peer.isLoopback();
    m_clients.append(client);
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
    // The row's handler runs straight from here: the lookup returns first.
    const RequestCall call = Lookup(message, pClient);
    if (!call.pRow)
        return; // refused: no reply
    pClient->sendTextMessage(CompactReply(QLatin1String(call.pRow->pszFunc), call.pfnAnswer(call)));
}

void WebSocketService::processBinaryMessage(QByteArray message)
{
    QWebSocket* pClient = qobject_cast<QWebSocket*>(sender());
    if (pClient)
        pClient->sendBinaryMessage(message);
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
    UpdatePenDataWanted();
    pClient->deleteLater();
}

void WebSocketService::BroadcastResponseBackToClient(QString text)
{
    PushToClients(text, Push::KeyEvent);
}

void WebSocketService::PushToClients(const QString& text, Push kind)
{
    for (const Client& client : qAsConst(m_clients)) {
        if (!client.pSocket)
            continue;
        if (kind != Push::KeyEvent && !client.bPenData)
            continue;
        client.pSocket->sendTextMessage(text);
    }
}

void WebSocketService::SubscribePenData(const QWebSocket* pSocket, bool bEnable)
{
    if (Client* pClient = FindClient(pSocket))
        pClient->bPenData = bEnable;
    UpdatePenDataWanted();
}

void WebSocketService::UpdatePenDataWanted()
{
    if (!m_pLive)
        return;
    const bool bWanted = std::any_of(m_clients.begin(), m_clients.end(), [](const Client& c) { return c.bPenData; });
    m_pLive->SetWanted(bWanted);
}
