#include "websocketservice.h"

#include "clientguard.h"
#include "compactjson.h"
#include "livestream.h"
#include "qtfloor.h"
#include "requesttable.h"
#include "servicelistener.h"
#include "signobjmanager.h"
#include "sitepolicy.h"
#include "vtlog.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonValue>
#include <QPointer>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

#include <algorithm>

namespace {

const char* const SERVER_NAME = "VEDEZediVoduzu - WebSocketServer";
const int KEY_POLL_INTERVAL_MS = 20; // the fallback when the pad does not wake the service

} // namespace

WebSocketService::WebSocketService(quint16 port, const AccessSettings& access, QObject* parent)
    : QObject(parent),
      m_pWebSocketServer(new QWebSocketServer(QString::fromLatin1(SERVER_NAME), QWebSocketServer::NonSecureMode, this)),
      m_access(access), m_nPort(port)
{
    KeepLargeBuffersOnHeap();
    if (Listen(port)) {
        VT_LOG("WebSocketService::WebSocketService()", "<%ld>-listening on port %d", (int)serverPort());
        connect(m_pWebSocketServer, &QWebSocketServer::newConnection, this, &WebSocketService::onNewConnection);
        connect(m_pWebSocketServer, &QWebSocketServer::closed, this, &WebSocketService::closed);
        m_pSignObjMgr = new SignObjManager();
        m_bStartTimer = false;
        m_pTimer = new QTimer(this);
        connect(m_pTimer, &QTimer::timeout, this, &WebSocketService::MyTimerSlot);
        LiveStream::Hooks hooks;
        hooks.pfnPushPenData = [this](const QString& text, const QString& sealedText) {
            PushToClients(text, Push::PenData, &sealedText);
        };
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
    qDeleteAll(m_questions);
    m_questions.clear();
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
    for (const Client& client : m_clients) {
        status.nWaitingClients += !client.bAllowed && !client.bRefused;
        status.nPenSubscribers += client.bPenData ? 1 : 0;
    }
    status.nQuestions = m_questions.size();
    for (QTcpServer* pListener : m_listeners)
        status.nAcceptPauses += static_cast<ServiceListener*>(pListener)->AcceptPauses();
    status.nRefusedConnections = m_nRefusedConnections;
    status.nBacklogCloses = m_nBacklogCloses;
    return status;
}

// Part of the service's named interface; the request road builds its replies
// as text and tells "no reply" by the row it finds.
bool WebSocketService::isNullJsonObject(const QJsonObject& object) const
{
    return object.isEmpty();
}

QJsonObject WebSocketService::getNullJsonObject() const
{
    return QJsonValue().toObject();
}

void WebSocketService::EnableSiteQuestions(int nTimeoutMs)
{
    m_nAskTimeoutMs = nTimeoutMs;
}

void WebSocketService::onNewConnection()
{
    QWebSocket* pSocket = m_pWebSocketServer->nextPendingConnection();
    if (!pSocket)
        return;
#if VT_QT_API_VERSION >= QT_VERSION_CHECK(5, 15, 0)
    // Larger frames and messages are refused from their header, unread.
    pSocket->setMaxAllowedIncomingFrameSize(quint64(m_access.nMaxMessageBytes));
    pSocket->setMaxAllowedIncomingMessageSize(quint64(m_access.nMaxMessageBytes));
#endif
    Client client;
    client.pSocket = pSocket;
    client.strOrigin = pSocket->origin();
    client.peer = pSocket->peerAddress();
    client.bLoopbackPeer = client.peer.isLoopback();
    const SiteVerdict verdict = DecideSite(m_access, client.strOrigin, client.peer);
    client.strSite = verdict.strSite;
    client.bRemote = verdict.bRemote;
    VT_LOG("WebSocketService::onNewConnection()", "<%ld>-client %s:%d, site '%s': %s",
           pSocket->peerAddress().toString().toUtf8().constData(), (int)pSocket->peerPort(),
           client.strSite.toUtf8().constData(), verdict.pszReason);
    QTcpSocket* pTcpSocket = nullptr;
    for (QTcpServer* pListener : qAsConst(m_listeners))
        if (!pTcpSocket)
            pTcpSocket = static_cast<ServiceListener*>(pListener)->SocketOf(pSocket->peerAddress(), pSocket->peerPort());
    client.pOutbox = new ClientOutbox(pSocket, pTcpSocket, m_access.nMaxPendingBytes);
#if VT_QT_API_VERSION < QT_VERSION_CHECK(5, 15, 0)
    new InboundBound(pSocket, pTcpSocket, client.pOutbox, m_access.nMaxMessageBytes);
#endif
    const QString strCap = CapExceeded(client);
    if (!strCap.isEmpty()) {
        VT_LOG("WebSocketService::onNewConnection()", "<%ld>-refused: %s", strCap.toUtf8().constData());
        ++m_nRefusedConnections;
        pSocket->setParent(this);
        connect(pSocket, &QWebSocket::disconnected, pSocket, &QObject::deleteLater);
        client.pOutbox->Close(VT_CLOSE_TRY_AGAIN_LATER, strCap);
        return;
    }
    connect(pSocket, &QWebSocket::disconnected, this, &WebSocketService::socketDisconnected);
    m_clients.append(client);
    const bool bAsk = verdict.eAction == SiteVerdict::Action::Ask && m_nAskTimeoutMs > 0;
    if (verdict.eAction == SiteVerdict::Action::Refuse || (verdict.eAction == SiteVerdict::Action::Ask && !bAsk)) {
        Refuse(pSocket); // refused, or nobody to ask
        return;
    }
    connect(pSocket, &QWebSocket::textMessageReceived, this, &WebSocketService::processTextMessage);
    connect(pSocket, &QWebSocket::binaryMessageReceived, this, &WebSocketService::processBinaryMessage);
    m_clients.last().bAllowed = verdict.eAction == SiteVerdict::Action::Allow;
    if (bAsk)
        Ask(client.strSite, client.bRemote);
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

void WebSocketService::Refuse(QWebSocket* pSocket)
{
    // Closing may report the disconnect at once, which takes the client out
    // of the list: callers do not walk the list while they refuse.
    Client* pClient = FindClient(pSocket);
    if (!pClient || pClient->bRefused)
        return;
    Client& client = *pClient;
    client.bAllowed = false;
    client.bRefused = true;
    client.held.clear();
    client.nHeldBytes = 0;
    disconnect(pSocket, &QWebSocket::textMessageReceived, this, nullptr);
    disconnect(pSocket, &QWebSocket::binaryMessageReceived, this, nullptr);
    VT_LOG("WebSocketService::Refuse()", "<%ld>-site '%s' refused", client.strSite.toUtf8().constData());
    // The socket leaves the list when its disconnect is reported.
    client.pOutbox->Close(SITE_CLOSE_CODE, QString::fromLatin1(SITE_CLOSE_REASON));
}

void WebSocketService::Hold(Client& client, const HeldFrame& frame, qint64 nBytes)
{
    if (client.held.size() >= HELD_FRAMES_MAX || client.nHeldBytes + nBytes > HELD_BYTES_MAX) {
        VT_LOG("WebSocketService::Hold()", "<%ld>-site '%s': frame refused, %d frames already held",
               client.strSite.toUtf8().constData(), (int)client.held.size());
        return;
    }
    client.held.append(frame);
    client.nHeldBytes += nBytes;
}

void WebSocketService::Ask(const QString& strSite, bool bRemote)
{
    if (m_questions.contains(strSite))
        return; // one question for every connection of the site
    auto* pDeadline = new QTimer(this);
    pDeadline->setSingleShot(true);
    connect(pDeadline, &QTimer::timeout, this, [this, strSite] {
        VT_LOG("WebSocketService::Ask()", "<%ld>-no answer about '%s' in time", strSite.toUtf8().constData());
        EndQuestion(strSite);
        QList<QWebSocket*> waiting;
        for (const Client& client : qAsConst(m_clients))
            if (client.strSite == strSite && !client.bAllowed && !client.bRefused)
                waiting << client.pSocket;
        for (QWebSocket* pSocket : qAsConst(waiting))
            Refuse(pSocket);
    });
    m_questions.insert(strSite, pDeadline);
    pDeadline->start(m_nAskTimeoutMs);
    emit siteQuestion(strSite, bRemote);
}

void WebSocketService::EndQuestion(const QString& strSite)
{
    QTimer* pDeadline = m_questions.take(strSite);
    if (!pDeadline)
        return;
    pDeadline->stop();
    pDeadline->deleteLater();
    emit siteQuestionEnded(strSite);
}

void WebSocketService::EndUnneededQuestions()
{
    for (const QString& site : m_questions.keys()) {
        const bool bWaiting = std::any_of(m_clients.begin(), m_clients.end(), [&site](const Client& client) {
            return client.strSite == site && !client.bAllowed && !client.bRefused;
        });
        if (!bWaiting)
            EndQuestion(site);
    }
}

void WebSocketService::SetAccess(const AccessSettings& access)
{
    const bool bListenLoopbackOnly = m_access.bListenLoopbackOnly;
    m_access = access;
    m_access.bListenLoopbackOnly = bListenLoopbackOnly;

    QList<QPointer<QWebSocket>> released;
    QList<QWebSocket*> refused;
    for (Client& client : m_clients) {
        if (client.bRefused)
            continue;
        switch (DecideSite(m_access, client.strOrigin, client.peer).eAction) {
        case SiteVerdict::Action::Allow:
            if (!client.bAllowed) {
                client.bAllowed = true;
                released << client.pSocket;
            }
            break;
        case SiteVerdict::Action::Ask:
            if (client.bAllowed)
                refused << client.pSocket; // the user took the site back
            break;
        case SiteVerdict::Action::Refuse:
            refused << client.pSocket;
            break;
        }
    }
    for (QWebSocket* pSocket : qAsConst(refused))
        Refuse(pSocket);
    EndUnneededQuestions();
    // Held frames are answered in the order they came, one connection after
    // the other; an answer may not run while the client list is walked.
    for (const QPointer<QWebSocket>& pSocket : qAsConst(released)) {
        Client* pClient = pSocket ? FindClient(pSocket) : nullptr;
        if (!pClient)
            continue;
        const QList<HeldFrame> held = pClient->held;
        pClient->held.clear();
        pClient->nHeldBytes = 0;
        for (const HeldFrame& frame : held) {
            if (!pSocket || !FindClient(pSocket) || !FindClient(pSocket)->bAllowed)
                break;
            if (frame.bBinary)
                SendBinary(*FindClient(pSocket), frame.bytes);
            else
                AnswerText(pSocket, frame.text);
        }
    }
}

void WebSocketService::processTextMessage(QString message)
{
    QWebSocket* pSocket = qobject_cast<QWebSocket*>(sender());
    Client* pClient = pSocket ? FindClient(pSocket) : nullptr;
    // Refused, or closed for sending too much: its requests are not served.
    if (!pClient || pClient->bRefused || pClient->pOutbox->IsClosing())
        return;
    if (!pClient->bAllowed) {
        HeldFrame frame;
        frame.text = message;
        Hold(*pClient, frame, qint64(message.size()) * qint64(sizeof(QChar)));
        return;
    }
    AnswerText(pSocket, message);
}

// The one road of a text request to its reply, for frames as they come and
// for held frames once their site is allowed.
void WebSocketService::AnswerText(QWebSocket* pSocket, const QString& message)
{
    // The row's handler runs straight from here: the lookup returns first.
    const RequestCall call = Lookup(message, pSocket);
    if (call.pRow)
        SendReply(pSocket, call.pRow, call.pfnAnswer(call), message.size());
    else if (message.size() >= ClientOutbox::OUTBOX_HANDOVER_BYTES)
        ReleaseFreedMemorySoon();
}

void WebSocketService::SendReply(QWebSocket* pSocket, const RequestRow* pRow, const QString& strResult, int nRequestChars)
{
    const QString reply = CompactReply(QLatin1String(pRow->pszFunc), strResult);
    // The handler may have let go of large images or buffers.
    if (nRequestChars >= ClientOutbox::OUTBOX_HANDOVER_BYTES || reply.size() >= ClientOutbox::OUTBOX_HANDOVER_BYTES ||
        pRow->bLargeBuffers)
        ReleaseFreedMemorySoon();
    // The client may have gone while the handler ran (a slot of its own).
    if (const Client* pTarget = FindClient(pSocket))
        SendText(*pTarget, reply);
}

void WebSocketService::processBinaryMessage(QByteArray message)
{
    QWebSocket* pSocket = qobject_cast<QWebSocket*>(sender());
    Client* pClient = pSocket ? FindClient(pSocket) : nullptr;
    if (!pClient || pClient->bRefused)
        return;
    if (!pClient->bAllowed) {
        HeldFrame frame;
        frame.bBinary = true;
        frame.bytes = message;
        Hold(*pClient, frame, message.size());
        return;
    }
    SendBinary(*pClient, message);
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
    EndUnneededQuestions(); // a page that went away while its site was asked about
}

void WebSocketService::BroadcastResponseBackToClient(QString text)
{
    PushToClients(text, Push::KeyEvent);
}

void WebSocketService::PushToClients(const QString& text, Push kind, const QString* pSealedText)
{
    // Nothing reaches a connection that is not allowed (yet). A copy: a
    // client closed for its backlog may leave the list meanwhile.
    const QList<Client> clients = m_clients;
    for (const Client& client : clients) {
        if (!client.pSocket || !client.bAllowed)
            continue;
        if (kind != Push::KeyEvent && !client.bPenData)
            continue;
        SendText(client, pSealedText && m_access.RawInkSealedFor(client.strOrigin) ? *pSealedText : text);
    }
}

QString WebSocketService::OriginOf(const QWebSocket* pSocket) const
{
    for (const Client& client : m_clients) {
        if (client.pSocket == pSocket)
            return client.strOrigin;
    }
    return QString();
}

bool WebSocketService::RawInkSealed(const QWebSocket* pSocket) const
{
    // Native clients (no connection, or no Origin) are sealed only system-wide.
    return m_access.RawInkSealedFor(pSocket ? OriginOf(pSocket) : QString());
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

RequestCall WebSocketService::Lookup(const QString& message, QWebSocket* pFrom)
{
    return LookupRequest(message, this, m_pSignObjMgr, m_bStartTimer, pFrom);
}

QJsonObject WebSocketService::ProcessRequestedJsonString(QString message)
{
    const RequestCall call = Lookup(message);
    if (!call.pRow)
        return getNullJsonObject();
    return RequestReply(QLatin1String(call.pRow->pszFunc), call.pfnAnswer(call));
}

void WebSocketService::StartKeyPoll()
{
    if (!m_pTimer)
        return;
    m_bStartTimer = true;
    m_pTimer->start(KEY_POLL_INTERVAL_MS);
    // Keys wake the poll as they happen; the timer stays as the fallback.
    if (m_pLive)
        m_pLive->Attach(m_pSignObjMgr->CurrentSignObj());
}

void WebSocketService::StopKeyPoll()
{
    if (!m_pTimer)
        return;
    if (m_pLive)
        m_pLive->Detach();
    m_pTimer->stop();
    m_bStartTimer = false;
}

void WebSocketService::MyTimerSlot()
{
    if (!m_pSignObjMgr)
        return;
    const int nKeyStatus = m_pSignObjMgr->GetDeviceConfirmOrCancelKeyStatus();
    if (nKeyStatus != 0 && nKeyStatus != 1)
        return;
    BroadcastResponseBackToClient(CompactReply(QStringLiteral("GetDeviceConfirmOrCancelKeyStatus"),
                                               nKeyStatus == 1 ? QStringLiteral("1") : QStringLiteral("0")));
}
