#pragma once

#include <QThread>

class WebSocketService;

// The service thread: creates the WebSocket service in run() so that the
// server, its sockets, timer and manager all live on this thread.
class WebSocketThread : public QThread
{
    Q_OBJECT
public:
    WebSocketThread(QObject* parent, int nWebSocketPort);
    ~WebSocketThread() override;

    WebSocketService* m_pWebSocketService = nullptr;
    int m_nWebSocketPort;

protected:
    void run() override;
};
