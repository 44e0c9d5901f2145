#include "websocketservice.h"

#include "signobjmanager.h"
#include "vtlog.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonValue>
#include <QTimer>
#include <QWebSocket>
#include <QWebSocketServer>

namespace {

const char* const SERVER_NAME = "VEDEZediVoduzu - WebSocketServer";
const int KEY_POLL_INTERVAL_MS = 20;

// Numbers travel as strings of decimal digits; anything else counts as 0.
int intMember(const QJsonObject& request, const char* key)
{
    const QJsonValue value = request.value(QLatin1String(key));
    if (!value.isString())
        return 0;
    bool bOk = false;
    const int n = value.toString().toInt(&bOk, 10);
    return bOk ? n : 0;
}

QString textMember(const QJsonObject& request, const char* key)
{
    const QJsonValue value = request.value(QLatin1String(key));
    return value.isString() ? value.toString() : QString("");
}

QJsonObject reply(const QString& strFunc, const QString& strResult)
{
    QJsonObject object;
    object.insert(QStringLiteral("Func"), strFunc);
    object.insert(QStringLiteral("Result"), strResult);
    return object;
}

QString flag(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }

} // namespace

WebSocketService::WebSocketService(quint16 port, QObject* parent)
    : QObject(parent),
      m_pWebSocketServer(new QWebSocketServer(QString::fromLatin1(SERVER_NAME), QWebSocketServer::NonSecureMode, this)),
      m_nPort(port)
{
    if (m_pWebSocketServer->listen(QHostAddress::Any, port)) {
        VT_LOG("WebSocketService::WebSocketService()", "<%ld>-listening on port %d", (int)m_pWebSocketServer->serverPort());
        connect(m_pWebSocketServer, &QWebSocketServer::newConnection, this, &WebSocketService::onNewConnection);
        connect(m_pWebSocketServer, &QWebSocketServer::closed, this, &WebSocketService::closed);
        m_pSignObjMgr = new SignObjManager();
        m_bStartTimer = false;
        m_pTimer = new QTimer(this);
        connect(m_pTimer, &QTimer::timeout, this, &WebSocketService::MyTimerSlot);
    } else {
        VT_LOG("WebSocketService::WebSocketService()", "<%ld>-listen on port %d failed: %s", m_nPort,
               m_pWebSocketServer->errorString().toUtf8().constData());
    }
}

WebSocketService::~WebSocketService()
{
    // Walk a copy: deleting a socket may report its disconnect.
    const QList<QWebSocket*> clients = m_clients;
    m_clients.clear();
    for (QWebSocket* pClient : clients) {
        if (!pClient)
            continue;
        pClient->disconnect(this); // no slot of a half-destroyed service runs
        delete pClient;
    }
    if (m_pTimer) {
        m_pTimer->stop();
        delete m_pTimer;
        m_pTimer = nullptr;
    }
    delete m_pSignObjMgr; // closes the open pad
    m_pSignObjMgr = nullptr;
    m_pWebSocketServer->close();
}

quint16 WebSocketService::serverPort() const
{
    return m_pWebSocketServer->isListening() ? m_pWebSocketServer->serverPort() : 0;
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
    m_clients.append(pSocket);
}

void WebSocketService::processTextMessage(QString message)
{
    QWebSocket* pClient = qobject_cast<QWebSocket*>(sender());
    if (!pClient)
        return;
    const QJsonObject response = ProcessRequestedJsonString(message);
    if (isNullJsonObject(response))
        return;
    const QByteArray bytes = QJsonDocument(response).toJson(QJsonDocument::Compact);
    pClient->sendTextMessage(QString::fromUtf8(bytes.constData()));
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
    m_clients.removeAll(pClient);
    pClient->deleteLater();
}

void WebSocketService::BroadcastResponseBackToClient(QString text)
{
    for (QWebSocket* pClient : qAsConst(m_clients)) {
        if (pClient)
            pClient->sendTextMessage(text);
    }
}

void WebSocketService::MyTimerSlot()
{
    if (!m_pSignObjMgr)
        return;
    const int nKeyStatus = m_pSignObjMgr->GetDeviceConfirmOrCancelKeyStatus();
    if (nKeyStatus != 0 && nKeyStatus != 1)
        return;
    const QJsonObject event = reply(QStringLiteral("GetDeviceConfirmOrCancelKeyStatus"), flag(nKeyStatus == 1));
    BroadcastResponseBackToClient(QString::fromUtf8(QJsonDocument(event).toJson(QJsonDocument::Compact)));
}

QJsonObject WebSocketService::ProcessRequestedJsonString(QString message)
{
    static const char* const LABEL = "WebSocketService::ProcessRequestedJsonString()";
    const QJsonObject request = QJsonDocument::fromJson(message.toUtf8()).object();
    if (!request.contains(QStringLiteral("Func"))) {
        VT_LOG(LABEL, "<%ld>-Leave due to 'bContainFuncKey == false' !!!");
        return getNullJsonObject();
    }
    if (!m_pSignObjMgr) {
        VT_LOG(LABEL, "<%ld>-Leave due to 'm_pSignObjMgr == nullptr' !!!");
        return getNullJsonObject();
    }
    const QString strFunc = textMember(request, "Func");
    if (m_bStartTimer && strFunc == QLatin1String("InitialDevice")) {
        // The open pad stays open; the request gets no reply.
        VT_LOG(LABEL, "<%ld>-Leave due to 'm_bStartTimer == true' !!!");
        return getNullJsonObject();
    }

    using Handler = QString (*)(WebSocketService& service, SignObjManager& mgr, const QJsonObject& r);
    struct Function {
        const char* name;
        Handler handler;
    };
    static const Function functions[] = {
        {"InitialDevice", [](WebSocketService& service, SignObjManager& mgr, const QJsonObject& r) {
             const bool bOpened = mgr.InitialDevice(intMember(r, "id"), intMember(r, "width"), intMember(r, "height"));
             if (bOpened && service.m_pTimer) {
                 service.m_bStartTimer = true;
                 service.m_pTimer->start(KEY_POLL_INTERVAL_MS);
             }
             return flag(bOpened);
         }},
        {"UnInitialDevice", [](WebSocketService& service, SignObjManager& mgr, const QJsonObject&) {
             if (service.m_pTimer) {
                 service.m_pTimer->stop();
                 service.m_bStartTimer = false;
             }
             return flag(mgr.UnInitialDevice());
         }},
        {"GetAboutInfo", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.GetAboutInfo(); }},
        {"Clear", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { mgr.Clear(); return flag(true); }},
        {"SetPenColor", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             mgr.SetPenColor(intMember(r, "r"), intMember(r, "g"), intMember(r, "b"));
             return flag(true);
         }},
        {"SetPenWidth", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             mgr.SetPenWidth(intMember(r, "width"));
             return flag(true);
         }},
        {"SetPenStyle", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             mgr.SetPenStyle(intMember(r, "style") == 0);
             return flag(true);
         }},
        {"SaveDrawingImage", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             return mgr.SaveDrawImage(intMember(r, "type"), intMember(r, "dpi"), textMember(r, "path"));
         }},
        {"GetSize", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return QString::number(mgr.GetSize()); }},
        {"GetPointer", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.GetPointer(); }},
        {"SetClip", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             mgr.SetClip(intMember(r, "width"), intMember(r, "height"));
             return flag(true);
         }},
        {"PadID", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.PadID(); }},
        {"PenID", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.PenID(); }},
        {"VersionID", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.VersionID(); }},
        {"ShowDeviceInfoOnLCD", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             mgr.DisplayDeviceInfoInLCD(intMember(r, "show") == 1);
             return flag(true);
         }},
        {"OpenLCD", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { mgr.OpenLCD(); return flag(true); }},
        {"CloseLCD", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { mgr.CloseLCD(); return flag(true); }},
        {"GetDeviceInfo", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             return mgr.GetDeviceInfo(intMember(r, "type"));
         }},
        {"Encode", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) { return mgr.Encode(intMember(r, "type")); }},
        {"Decode", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             // Ink decodes into the SDK's point store: no file, so no path.
             const int nType = intMember(r, "type");
             const QString strPath = nType == 6 ? QString("") : textMember(r, "path");
             return mgr.Decode(nType, strPath, textMember(r, "data"));
         }},
        {"GetDecodeFilePath", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.GetDecodeFilePath(); }},
        {"GetInks", [](WebSocketService&, SignObjManager& mgr, const QJsonObject&) { return mgr.GetInks(); }},
        {"SetDisplayedFPImageAt", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             mgr.SetDisplayedFPImageAt(intMember(r, "canvaswidth"), intMember(r, "canvasheight"), intMember(r, "left"),
                                       intMember(r, "top"), intMember(r, "width"), intMember(r, "height"));
             return flag(true);
         }},
        {"GetFingerPrintImage", [](WebSocketService&, SignObjManager& mgr, const QJsonObject& r) {
             return mgr.GetFingerPrintImage(intMember(r, "fpimageonly") == 1);
         }},
    };

    for (const Function& function : functions) {
        if (strFunc == QLatin1String(function.name))
            return reply(strFunc, function.handler(*this, *m_pSignObjMgr, request));
    }
    VT_LOG(LABEL, "<%ld>-Leave due to invalid func name (%s) !!!", strFunc.toUtf8().constData());
    return getNullJsonObject();
}
