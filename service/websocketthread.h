#pragma once

#include "accesssettings.h"

#include <QThread>

#include <atomic>

class WebSocketService;

// The service thread: creates the WebSocket service in run() so that the
// server, its sockets, timer and manager all live on this thread.
class WebSocketThread : public QThread
{
    Q_OBJECT
public:
    WebSocketThread(QObject* parent, int nWebSocketPort, const AccessSettings& access = AccessSettings());
    ~WebSocketThread() override;

    // The port the service listens on, readable from any thread: 0 before it
    // listens, after it stopped, or when listening failed.
    quint16 serverPort() const { return m_nListeningPort.load(); }

Q_SIGNALS:
    // Once, when the service has tried to listen: the port listened on, or
    // the configured one and why it could not be opened.
    void ListenResult(int nPort, bool bListening, const QString& strReason);

protected:
    void run() override;

private:
    WebSocketService* m_pWebSocketService = nullptr;
    int m_nWebSocketPort;
    AccessSettings m_access;
    std::atomic<quint16> m_nListeningPort{0};
};
