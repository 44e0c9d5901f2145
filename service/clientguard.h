#pragma once

// What one connection may cost the service: the frames waiting to go out
// to it, and how many connections one page or computer may hold.
#include "accesssettings.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include <deque>

class QTimer;
class QWebSocket;

// Close codes the service sends that Qt has no name for.
enum : quint16 {
    VT_CLOSE_TRY_AGAIN_LATER = 1013, // too many connections
};

// The frames waiting to go out to one connection. Qt's own send buffer is
// kept short (a frame is handed over only while it holds less than
// OUTBOX_HANDOVER_BYTES); the rest waits here. Bytes not yet written, here
// and in Qt's buffer, are bounded: past the bound the connection is closed
// with 1008, everything still waiting is dropped, and a peer that does not
// take the close is cut off after a short grace.
//
// The close frame goes out behind what was already handed over; once the
// peer has received all of it our end of the line is closed, and the peer
// closes its end after answering the close (or is cut off after the grace).
// Closed earlier, while the peer's requests or its answer are still
// unread, the system would reset the line and the peer would not see the
// close code.
class ClientOutbox : public QObject
{
    Q_OBJECT
public:
    // Child of pSocket: goes away with it. pTcpSocket: the line under it,
    // when known.
    ClientOutbox(QWebSocket* pSocket, QTcpSocket* pTcpSocket, qint64 nMaxPendingBytes);

    // The one way out for every frame. False when nothing was sent: the
    // connection is closing, or this frame made it go over the bound.
    bool PostText(const QString& text);
    bool PostBinary(const QByteArray& bytes);

    // Closes with code and reason; frames still waiting are dropped.
    void Close(quint16 nCode, const QString& strReason);
    bool IsClosing() const { return m_bClosing; }
    // Waiting here plus in Qt's send buffer.
    qint64 PendingBytes() const;

    static const qint64 OUTBOX_HANDOVER_BYTES = 1 << 20;
    static const int CLOSE_GRACE_MS = 5000;
    static const int CLOSE_POLL_MS = 50;

private:
    struct Frame {
        QByteArray bytes; // text frames as UTF-8
        bool bText;
    };
    bool Post(Frame&& frame, const QString* pText);
    // Qt's send buffer: the line's own (QWebSocket's view of it needs Qt 5.12).
    qint64 SocketBytesToWrite() const;
    // Closes a peer that does not read: the close frame goes out behind
    // Qt's buffer, written on the line itself.
    void CloseBehindBacklog(quint16 nCode, const QString& strReason);
    void Drain();
    void DropQueue();
    // Once everything written has reached the peer: the line is closed.
    void CloseWhenDelivered();

    QWebSocket* m_pSocket;
    QPointer<QTcpSocket> m_pTcpSocket;
    const qint64 m_nMaxPendingBytes;
    std::deque<Frame> m_queue;
    qint64 m_nQueuedBytes = 0;
    bool m_bClosing = false;
    bool m_bHalfClosed = false; // our end of the line closed, waiting for the peer's
    QTimer* m_pClosePoll = nullptr;
    QElapsedTimer m_closing;
};

// The bound on what one connection sends, where Qt cannot keep it (Qt
// 5.15 refuses a larger frame or message itself): a frame or a message over
// nMaxBytes is closed with 1009, and the service reads no more of it. The
// line's read buffer holds one largest frame and its header; full once Qt
// has taken every whole frame from it, it holds part of a larger one.
// Messages are counted frame by frame. (Where Qt reads a frame by waiting
// for it, as 5.11 does, such a frame stops at the full buffer and Qt's own
// read timeout closes the connection.)
class InboundBound : public QObject
{
    Q_OBJECT
public:
    // Child of pSocket; pTcpSocket: the line under it (without it only
    // messages are counted).
    InboundBound(QWebSocket* pSocket, QTcpSocket* pTcpSocket, ClientOutbox* pOutbox, qint64 nMaxBytes);

    static const int FRAME_HEADER_MAX = 14; // 2, 8 more for the length, 4 for the mask

private:
    void CheckReadBuffer();
    void CountFrame(qint64 nBytes, bool bLast);
    void TooMuch(const QString& strReason);

    QPointer<QTcpSocket> m_pTcpSocket;
    QPointer<ClientOutbox> m_pOutbox; // a sibling: both go with the socket
    const qint64 m_nMaxBytes;
    qint64 m_nMessageBytes = 0;
};

// UTF-8 length of a text without converting it.
qint64 Utf8Length(const QString& text);

// Why a new connection is over the caps ("" when it is not): the count of
// connections already held in all, by its page (origin) and by its
// computer. Connections from this computer without an origin (programs,
// not pages) have only the total cap.
QString ConnectionCapExceeded(const AccessSettings& access, int nClients, int nSameOrigin, int nSameRemoteHost);

// Hands freed heap memory back to the system soon (malloc_trim), once for
// a burst of calls: after a large frame, reply or queue was let go.
void ReleaseFreedMemorySoon();

// Replies and images of up to a few MiB are built and freed for every
// request. Taken from the heap instead of fresh mappings, their pages are
// reused rather than faulted in anew each time (that doubled the round trip
// of a 48 KB reply); ReleaseFreedMemorySoon still hands them back. Once per
// process.
void KeepLargeBuffersOnHeap();
