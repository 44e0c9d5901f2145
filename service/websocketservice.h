#pragma once

#include "accesssettings.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class LiveStream;
class QTimer;
class QTcpServer;
class QWebSocket;
class QWebSocketServer;
class SignObjManager;
struct RequestCall;

// The WebSocket server of the service thread: accepts clients, answers each
// text request to its sender and broadcasts pad key presses to everyone.
class WebSocketService : public QObject
{
    Q_OBJECT
public:
    // Listens on every address, or on the loopback only when the access
    // settings say so; port 0 lets the system choose.
    explicit WebSocketService(quint16 port, const AccessSettings& access = AccessSettings(), QObject* parent = nullptr);
    ~WebSocketService() override;

    QJsonObject ProcessRequestedJsonString(QString message);
    void BroadcastResponseBackToClient(QString text);

    // What a push is; it decides who gets it.
    enum class Push {
        KeyEvent,     // every connection
        PenData,      // connections that subscribed to the pen stream
        DeviceStatus, // likewise
    };
    // Every push to clients goes out through here.
    void PushToClients(const QString& text, Push kind);
    bool isNullJsonObject(const QJsonObject& object) const;
    QJsonObject getNullJsonObject() const;

    // Port actually listened on (the system's choice for port 0); 0 when
    // listening failed.
    quint16 serverPort() const;

    // A read-only view of the state, for tests and benchmarks.
    struct Status {
        bool bManager = false;      // false only when listening failed
        bool bKeyPollTimer = false; // likewise
        bool bStartTimer = false;   // a pad was opened and not closed since
        int nKeyPollMs = 0;         // interval of the running key poll, 0 while stopped
        int nClients = 0;
        int nPenSubscribers = 0;
    };
    Status status() const;
    // The device-object manager, for operations without a request name;
    // null when listening failed.
    SignObjManager* signObjManager() const { return m_pSignObjMgr; }

Q_SIGNALS:
    void closed();

public Q_SLOTS:
    void MyTimerSlot();
    void onNewConnection();
    void processTextMessage(QString message);
    void processBinaryMessage(QByteArray message);
    void socketDisconnected();

private:
    friend struct RequestCall;

    // One connected page or program. State kept per connection belongs here.
    struct Client {
        QWebSocket* pSocket = nullptr;
        QString strOrigin;          // the handshake's Origin header; empty when none was sent
        QHostAddress peer;          // where the connection comes from
        bool bLoopbackPeer = false; // from this computer
        bool bPenData = false;      // "SubscribePenData": gets pen and device-status pushes
    };
    Client* FindClient(const QWebSocket* pSocket);
    // "SubscribePenData" of one connection (null: none, nothing changes).
    void SubscribePenData(const QWebSocket* pSocket, bool bEnable);
    void UpdatePenDataWanted();
    bool Listen(quint16 port);

    // The row that answers a text request, with its members and the pad it
    // acts on; a call without a row is refused and gets no reply.
    RequestCall Lookup(const QString& message, QWebSocket* pFrom = nullptr);
    void StartKeyPoll();
    void StopKeyPoll();

    QWebSocketServer* m_pWebSocketServer = nullptr; // handshakes only: the listeners accept
    QList<QTcpServer*> m_listeners;                  // one per address listened on
    AccessSettings m_access;
    QList<Client> m_clients;
    int m_nPort = 0;
    SignObjManager* m_pSignObjMgr = nullptr;
    QTimer* m_pTimer = nullptr;
    bool m_bStartTimer = false;
    LiveStream* m_pLive = nullptr; // the open pad's live reports
};
