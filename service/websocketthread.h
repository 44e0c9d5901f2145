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

    // Someone (the tray) answers siteQuestion() within nTimeoutMs through
    // SetAccess(); 0, or never called: a site the policy would ask about is
    // refused at once. Before start() or while running (GUI thread).
    void EnableSiteQuestions(int nTimeoutMs)
    {
        m_nAskTimeoutMs = nTimeoutMs;
        emit askTimeoutChanged(nTimeoutMs);
    }
    // Hands new access settings to the running service (any thread).
    void SetAccess(const AccessSettings& access) { emit accessChanged(access); }

Q_SIGNALS:
    // The service's questions, delivered in the thread object's thread (the
    // GUI thread): see WebSocketService.
    void siteQuestion(const QString& strSite, bool bRemote);
    void siteQuestionEnded(const QString& strSite);
    void accessChanged(const AccessSettings& access);
    void askTimeoutChanged(int nTimeoutMs);
    // Once, when the service has tried to listen: the port listened on, or
    // the configured one and why it could not be opened.
    void ListenResult(int nPort, bool bListening, const QString& strReason);

protected:
    void run() override;

private:
    WebSocketService* m_pWebSocketService = nullptr;
    int m_nWebSocketPort;
    AccessSettings m_access;
    std::atomic<int> m_nAskTimeoutMs{0};
    std::atomic<quint16> m_nListeningPort{0};
};
