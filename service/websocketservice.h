#pragma once

#include "accesssettings.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class ClientOutbox;
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
    bool isNullJsonObject(const QJsonObject& object) const;
    QJsonObject getNullJsonObject() const;

    // Port actually listened on (the system's choice for port 0); 0 when
    // listening failed.
    quint16 serverPort() const;
    // Why listening failed; empty while listening.
    QString listenError() const { return m_strListenError; }

    // A read-only view of the state, for tests and benchmarks.
    struct Status {
        bool bManager = false;      // false only when listening failed
        bool bKeyPollTimer = false; // likewise
        bool bStartTimer = false;   // a pad was opened and not closed since
        int nKeyPollMs = 0;         // interval of the running key poll, 0 while stopped
        int nClients = 0;
        int nAcceptPauses = 0;      // accepting paused for lack of descriptors
        int nRefusedConnections = 0; // closed at once: over a connection cap
        int nBacklogCloses = 0;     // closed for too many bytes waiting to be sent
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
        ClientOutbox* pOutbox = nullptr; // the one way out to it (a child of the socket)
    };
    Client* FindClient(const QWebSocket* pSocket);
    // Every frame to a client goes out through these: they keep its unsent
    // bytes bounded. False when nothing was sent.
    bool SendText(const Client& client, const QString& text);
    bool SendBinary(const Client& client, const QByteArray& bytes);
    // Connection caps: "" when the new client may stay, else why not.
    QString CapExceeded(const Client& client) const;
    bool Listen(quint16 port);

    // The row that answers a text request, with its members and the pad it
    // acts on; a call without a row is refused and gets no reply.
    RequestCall Lookup(const QString& message);
    void StartKeyPoll();
    void StopKeyPoll();

    QWebSocketServer* m_pWebSocketServer = nullptr; // handshakes only: the listeners accept
    QList<QTcpServer*> m_listeners;                  // one per address listened on
    AccessSettings m_access;
    QList<Client> m_clients;
    int m_nPort = 0;
    QString m_strListenError;
    SignObjManager* m_pSignObjMgr = nullptr;
    QTimer* m_pTimer = nullptr;
    bool m_bStartTimer = false;
    int m_nRefusedConnections = 0;
    int m_nBacklogCloses = 0;
};
