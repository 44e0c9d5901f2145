#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;
class QWebSocket;
class QWebSocketServer;
class SignObjManager;

// The WebSocket server of the service thread: accepts clients, answers each
// text request to its sender and broadcasts pad key presses to everyone.
class WebSocketService : public QObject
{
    Q_OBJECT
public:
    explicit WebSocketService(quint16 port, QObject* parent = nullptr);
    ~WebSocketService() override;

    QJsonObject ProcessRequestedJsonString(QString message);
    void BroadcastResponseBackToClient(QString text);
    bool isNullJsonObject(const QJsonObject& object) const;
    QJsonObject getNullJsonObject() const;

    // Port actually listened on (the system's choice for port 0); 0 when
    // listening failed.
    quint16 serverPort() const;

    QWebSocketServer* m_pWebSocketServer = nullptr;
    QList<QWebSocket*> m_clients;
    int m_nPort = 0;
    SignObjManager* m_pSignObjMgr = nullptr;
    QTimer* m_pTimer = nullptr;
    bool m_bStartTimer = false;

Q_SIGNALS:
    void closed();

public Q_SLOTS:
    void MyTimerSlot();
    void onNewConnection();
    void processTextMessage(QString message);
    void processBinaryMessage(QByteArray message);
    void socketDisconnected();
};
