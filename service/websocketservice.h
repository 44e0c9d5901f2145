#pragma once

#include "accesssettings.h"
#include "requesttable.h"

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QList>
#include <QHash>
#include <QObject>
#include <QString>

class LiveStream;
class ClientOutbox;
class QTimer;
class QTcpServer;
class QWebSocket;
class QWebSocketServer;
class SignObjManager;

// The WebSocket server of the service thread: accepts clients, answers each
// text request to its sender and broadcasts pad key presses to everyone.
class WebSocketService : public QObject, private RequestHost
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
    // pSealedText: what goes instead to connections whose raw ink is sealed.
    void PushToClients(const QString& text, Push kind, const QString* pSealedText = nullptr);
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
        int nWaitingClients = 0;    // connections whose site the user is asked about
        int nQuestions = 0;         // sites the user is asked about
        int nPenSubscribers = 0;
        int nAcceptPauses = 0;      // accepting paused for lack of descriptors
        int nRefusedConnections = 0; // closed at once: over a connection cap
        int nBacklogCloses = 0;     // closed for too many bytes waiting to be sent
    };
    Status status() const;
    // The device-object manager, for operations without a request name;
    // null when listening failed.
    SignObjManager* signObjManager() const { return m_pSignObjMgr; }

    // Someone answers questions about sites not yet allowed (the tray), each
    // within nTimeoutMs; without it (0) such a site is refused at once.
    void EnableSiteQuestions(int nTimeoutMs);

    // What one connection not yet allowed may send before the answer; further
    // frames are refused (no reply, as any refused request).
    static const int HELD_FRAMES_MAX = 64;
    static const qint64 HELD_BYTES_MAX = 1 << 20;

Q_SIGNALS:
    void closed();
    // Ask the user whether strSite (an origin, or with bRemote the address
    // of another computer) may use the pad; answered through SetAccess().
    void siteQuestion(const QString& strSite, bool bRemote);
    // The question is moot: answered, timed out, or its pages went away.
    void siteQuestionEnded(const QString& strSite);

public Q_SLOTS:
    void MyTimerSlot();
    void onNewConnection();
    void processTextMessage(QString message);
    void processBinaryMessage(QByteArray message);
    void socketDisconnected();
    // New access settings (the user answered, or removed a site): every
    // connection is judged again. Where the service listens stays as it is.
    void SetAccess(const AccessSettings& access);

private:
    // A frame of a connection not yet allowed, answered once it is.
    struct HeldFrame {
        bool bBinary = false;
        QString text;
        QByteArray bytes;
    };
    // One connected page or program. State kept per connection belongs here.
    struct Client {
        QWebSocket* pSocket = nullptr;
        QString strOrigin;          // the handshake's Origin header; empty when none was sent
        QHostAddress peer;          // where the connection comes from
        bool bLoopbackPeer = false; // from this computer
        QString strSite;            // what the site policy judges (sitepolicy.h)
        bool bRemote = false;
        // Only an allowed connection is answered and gets key events and
        // other pushes; until then its frames wait in held.
        bool bAllowed = false;
        bool bRefused = false;      // closed with the policy's close code
        QList<HeldFrame> held;
        qint64 nHeldBytes = 0;
        bool bPenData = false;      // "SubscribePenData": gets pen and device-status pushes
        ClientOutbox* pOutbox = nullptr; // the one way out to it (a child of the socket)
    };
    Client* FindClient(const QWebSocket* pSocket);
    void SubscribePenData(const QWebSocket* pSocket, bool bEnable) override;
    QString OriginOf(const QWebSocket* pSocket) const override;
    bool RawInkSealed(const QWebSocket* pSocket) const override;
    void UpdatePenDataWanted();
    // Every frame to a client goes out through these: they keep its unsent
    // bytes bounded. False when nothing was sent.
    bool SendText(const Client& client, const QString& text);
    bool SendBinary(const Client& client, const QByteArray& bytes);
    // Connection caps: "" when the new client may stay, else why not.
    QString CapExceeded(const Client& client) const;
    bool Listen(quint16 port);
    // Answers a released held request (a request of an allowed page is
    // answered straight from processTextMessage).
    void AnswerText(QWebSocket* pSocket, const QString& message);
    void SendReply(QWebSocket* pSocket, const RequestRow* pRow, const QString& strResult, int nRequestChars);
    void Hold(Client& client, const HeldFrame& frame, qint64 nBytes);
    void Refuse(QWebSocket* pSocket);
    void Ask(const QString& strSite, bool bRemote);
    void EndQuestion(const QString& strSite);
    void EndUnneededQuestions();

    // The row that answers a text request, with its members and the pad it
    // acts on; a call without a row is refused and gets no reply.
    RequestCall Lookup(const QString& message, QWebSocket* pFrom = nullptr);
    void StartKeyPoll() override;
    void StopKeyPoll() override;

    QWebSocketServer* m_pWebSocketServer = nullptr; // handshakes only: the listeners accept
    QList<QTcpServer*> m_listeners;                  // one per address listened on
    AccessSettings m_access;
    QList<Client> m_clients;
    int m_nPort = 0;
    QString m_strListenError;
    SignObjManager* m_pSignObjMgr = nullptr;
    QTimer* m_pTimer = nullptr;
    bool m_bStartTimer = false;
    int m_nAskTimeoutMs = 0;               // 0: nobody to ask
    QHash<QString, QTimer*> m_questions;   // open questions by site, each with its deadline
    LiveStream* m_pLive = nullptr; // the open pad's live reports
    int m_nRefusedConnections = 0;
    int m_nBacklogCloses = 0;
};
