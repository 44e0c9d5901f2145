#include "websocketthread.h"

#include "websocketservice.h"

WebSocketThread::WebSocketThread(QObject* parent, int nWebSocketPort, const AccessSettings& access)
    : QThread(parent), m_nWebSocketPort(nWebSocketPort), m_access(access)
{
    qRegisterMetaType<AccessSettings>();
}

WebSocketThread::~WebSocketThread()
{
    // Normally already gone (see run()); this covers a thread that never ran
    // its loop to the end.
    delete m_pWebSocketService;
    m_pWebSocketService = nullptr;
}

void WebSocketThread::run()
{
    // Created here so that the server, its sockets, timer and manager belong
    // to this thread. A port above 65535 wraps, as a 16-bit port does.
    m_pWebSocketService = new WebSocketService(static_cast<quint16>(m_nWebSocketPort), m_access);
    // Across threads, both ways queued: the questions reach this object's
    // thread, the answers the service's.
    connect(m_pWebSocketService, &WebSocketService::siteQuestion, this, &WebSocketThread::siteQuestion);
    connect(m_pWebSocketService, &WebSocketService::siteQuestionEnded, this, &WebSocketThread::siteQuestionEnded);
    connect(this, &WebSocketThread::accessChanged, m_pWebSocketService, &WebSocketService::SetAccess);
    // Connected before the read: a tray coming or going meanwhile is not lost.
    connect(this, &WebSocketThread::askTimeoutChanged, m_pWebSocketService, &WebSocketService::EnableSiteQuestions);
    m_pWebSocketService->EnableSiteQuestions(m_nAskTimeoutMs.load());
    m_nListeningPort = m_pWebSocketService->serverPort();
    const quint16 nPort = m_nListeningPort.load();
    emit ListenResult(nPort ? nPort : static_cast<quint16>(m_nWebSocketPort), nPort != 0,
                      m_pWebSocketService->listenError());
    exec();
    m_nListeningPort = 0;
    // Tear the service down on its own thread: its sockets and socket
    // notifiers must not be closed from the GUI thread.
    delete m_pWebSocketService;
    m_pWebSocketService = nullptr;
}
