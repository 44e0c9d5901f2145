#include "clientguard.h"

#include "qtfloor.h"
#include "vtlog.h"

#include <QTimer>
#include <QWebSocket>

#include <linux/sockios.h>
#include <malloc.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace {

const int TRIM_DELAY_MS = 100; // one trim for a burst of releases
const int LARGE_BUFFER_BYTES = 16 << 20; // larger ones are mapped, and unmapped when freed

} // namespace

ClientOutbox::ClientOutbox(QWebSocket* pSocket, QTcpSocket* pTcpSocket, qint64 nMaxPendingBytes)
    : QObject(pSocket), m_pSocket(pSocket), m_pTcpSocket(pTcpSocket), m_nMaxPendingBytes(nMaxPendingBytes)
{
    connect(pSocket, &QWebSocket::bytesWritten, this, &ClientOutbox::Drain);
}

qint64 ClientOutbox::SocketBytesToWrite() const
{
#if VT_QT_AT_LEAST(5, 12, 0)
    return m_pSocket->bytesToWrite();
#else
    // What QWebSocket's own call returns: the line's buffer, none without a line.
    return m_pTcpSocket ? m_pTcpSocket->bytesToWrite() : 0;
#endif
}

qint64 ClientOutbox::PendingBytes() const
{
    return m_nQueuedBytes + SocketBytesToWrite();
}

bool ClientOutbox::PostText(const QString& text)
{
    return Post(Frame{QByteArray(), true}, &text);
}

bool ClientOutbox::PostBinary(const QByteArray& bytes)
{
    return Post(Frame{bytes, false}, nullptr);
}

bool ClientOutbox::Post(Frame&& frame, const QString* pText)
{
    if (m_bClosing)
        return false;
    // A character takes at most three bytes: counted exactly only near the bound.
    qint64 nBytes = pText ? 3 * qint64(pText->size()) : frame.bytes.size();
    if (pText && PendingBytes() + nBytes > m_nMaxPendingBytes)
        nBytes = Utf8Length(*pText);
    if (PendingBytes() + nBytes > m_nMaxPendingBytes) {
        VT_LOG("ClientOutbox::Post()", "<%ld>-%lld bytes waiting, %lld more: over %lld, closing",
               (long long)PendingBytes(), (long long)nBytes, (long long)m_nMaxPendingBytes);
        CloseBehindBacklog(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too much data waiting to be sent"));
        return false;
    }
    if (m_queue.empty() && SocketBytesToWrite() < OUTBOX_HANDOVER_BYTES) {
        if (pText)
            m_pSocket->sendTextMessage(*pText);
        else
            m_pSocket->sendBinaryMessage(frame.bytes);
        return true;
    }
    if (pText) {
        frame.bytes = pText->toUtf8();
        frame.bytes.squeeze(); // the conversion reserves three bytes a character
    }
    m_nQueuedBytes += frame.bytes.size();
    m_queue.push_back(std::move(frame));
    return true;
}

void ClientOutbox::Drain()
{
    while (!m_bClosing && !m_queue.empty() && SocketBytesToWrite() < OUTBOX_HANDOVER_BYTES) {
        Frame frame = std::move(m_queue.front());
        m_queue.pop_front();
        m_nQueuedBytes -= frame.bytes.size();
        if (frame.bText)
            m_pSocket->sendTextMessage(QString::fromUtf8(frame.bytes));
        else
            m_pSocket->sendBinaryMessage(frame.bytes);
    }
}

void ClientOutbox::DropQueue()
{
    const bool bLarge = m_nQueuedBytes >= OUTBOX_HANDOVER_BYTES;
    m_queue.clear();
    m_queue.shrink_to_fit();
    m_nQueuedBytes = 0;
    if (bLarge)
        ReleaseFreedMemorySoon();
}

void ClientOutbox::Close(quint16 nCode, const QString& strReason)
{
    if (m_bClosing)
        return;
    m_bClosing = true;
    DropQueue();
    // Qt's own closing handshake, which browsers take as it is meant
    // (a close frame written beside Qt reads as an abnormal close there).
    m_pSocket->close(static_cast<QWebSocketProtocol::CloseCode>(nCode), strReason);
}

void ClientOutbox::CloseBehindBacklog(quint16 nCode, const QString& strReason)
{
    if (m_bClosing)
        return;
    m_bClosing = true;
    DropQueue();
    if (!m_pTcpSocket) {
        m_pSocket->close(static_cast<QWebSocketProtocol::CloseCode>(nCode), strReason);
        return;
    }
    // A server's close frame: unmasked, code and reason in at most 125 bytes.
    QByteArray payload;
    payload += char(nCode >> 8);
    payload += char(nCode & 0xff);
    payload += strReason.toUtf8().left(123);
    m_pTcpSocket->write(QByteArray(1, char(0x88)) + char(payload.size()) + payload);
    m_closing.start();
    m_pClosePoll = new QTimer(this);
    connect(m_pClosePoll, &QTimer::timeout, this, &ClientOutbox::CloseWhenDelivered);
    m_pClosePoll->start(CLOSE_POLL_MS);
}

void ClientOutbox::CloseWhenDelivered()
{
    if (!m_pTcpSocket || m_pTcpSocket->state() != QAbstractSocket::ConnectedState) {
        m_pClosePoll->stop(); // the peer answered and the line is gone
        ReleaseFreedMemorySoon();
        return;
    }
    // What the peer sends meanwhile (its close frame) is read and not served;
    // unread, it would turn the close into a reset.
    m_pTcpSocket->readAll();
    if (m_closing.elapsed() >= CLOSE_GRACE_MS) {
        m_pClosePoll->stop();
        VT_LOG("ClientOutbox::CloseWhenDelivered()", "<%ld>-peer did not take the close, cut off");
        m_pTcpSocket->abort();
        ReleaseFreedMemorySoon();
        return;
    }
    if (m_bHalfClosed)
        return;
    int nUnacknowledged = 0;
    const int fd = int(m_pTcpSocket->socketDescriptor());
    if (m_pTcpSocket->bytesToWrite() != 0 || ::ioctl(fd, SIOCOUTQ, &nUnacknowledged) != 0 || nUnacknowledged != 0)
        return;
    // All of it, the close frame last, has reached the peer: our end of the
    // line is closed, and the peer closes its end once it has answered the
    // close. Closing both ends before that answer would reset the line, and
    // a browser would report an abnormal close instead of the code sent.
    ::shutdown(fd, SHUT_WR);
    m_bHalfClosed = true;
}

InboundBound::InboundBound(QWebSocket* pSocket, QTcpSocket* pTcpSocket, ClientOutbox* pOutbox, qint64 nMaxBytes)
    : QObject(pSocket), m_pTcpSocket(pTcpSocket), m_pOutbox(pOutbox), m_nMaxBytes(nMaxBytes)
{
    connect(pSocket, &QWebSocket::textFrameReceived, this,
            [this](const QString& frame, bool bLast) { CountFrame(Utf8Length(frame), bLast); });
    connect(pSocket, &QWebSocket::binaryFrameReceived, this,
            [this](const QByteArray& frame, bool bLast) { CountFrame(frame.size(), bLast); });
    if (!pTcpSocket)
        return;
    pTcpSocket->setReadBufferSize(nMaxBytes + FRAME_HEADER_MAX);
    // Queued behind Qt's own reading of the same data, which is queued too.
    connect(pTcpSocket, &QIODevice::readyRead, this, &InboundBound::CheckReadBuffer, Qt::QueuedConnection);
    QMetaObject::invokeMethod(this, [this] { CheckReadBuffer(); }, Qt::QueuedConnection);
}

void InboundBound::CheckReadBuffer()
{
    if (!m_pTcpSocket || !m_pOutbox || m_pOutbox->IsClosing() ||
        m_pTcpSocket->bytesAvailable() < m_pTcpSocket->readBufferSize())
        return;
    VT_LOG("InboundBound::CheckReadBuffer()", "<%ld>-%lld bytes of one frame read, over %lld",
           (long long)m_pTcpSocket->bytesAvailable(), (long long)m_nMaxBytes);
    TooMuch(QStringLiteral("frame too large"));
}

void InboundBound::CountFrame(qint64 nBytes, bool bLast)
{
    m_nMessageBytes += nBytes;
    const qint64 nMessageBytes = m_nMessageBytes;
    if (bLast)
        m_nMessageBytes = 0;
    if (nMessageBytes > m_nMaxBytes && m_pOutbox && !m_pOutbox->IsClosing()) {
        VT_LOG("InboundBound::CountFrame()", "<%ld>-message of %lld bytes, over %lld", (long long)nMessageBytes,
               (long long)m_nMaxBytes);
        TooMuch(QStringLiteral("message too large"));
    }
}

void InboundBound::TooMuch(const QString& strReason)
{
    // Its requests are not served from here on (the service skips a closing
    // client), and what it still sends stays unread in the kernel.
    m_pOutbox->Close(QWebSocketProtocol::CloseCodeTooMuchData, strReason);
}

qint64 Utf8Length(const QString& text)
{
    qint64 n = 0;
    const QChar* p = text.constData();
    const QChar* end = p + text.size();
    for (; p < end; ++p) {
        const ushort c = p->unicode();
        if (c < 0x80)
            n += 1;
        else if (c < 0x800)
            n += 2;
        else if (QChar::isHighSurrogate(c) && p + 1 < end && QChar::isLowSurrogate(p[1].unicode())) {
            n += 4;
            ++p;
        } else
            n += 3; // a lone surrogate goes out as U+FFFD, also three bytes
    }
    return n;
}

QString ConnectionCapExceeded(const AccessSettings& access, int nClients, int nSameOrigin, int nSameRemoteHost)
{
    if (nClients >= access.nMaxConnections)
        return QStringLiteral("too many connections");
    if (nSameOrigin >= access.nMaxConnectionsPerOrigin)
        return QStringLiteral("too many connections from this page");
    if (nSameRemoteHost >= access.nMaxConnectionsPerOrigin)
        return QStringLiteral("too many connections from this computer");
    return QString();
}

void ReleaseFreedMemorySoon()
{
    // Per thread: a timer of a thread whose loop has ended never fires.
    static thread_local bool s_bPending = false;
    if (s_bPending)
        return;
    s_bPending = true;
    QTimer::singleShot(TRIM_DELAY_MS, [] {
        s_bPending = false;
        malloc_trim(0);
    });
}

void KeepLargeBuffersOnHeap()
{
    static const bool s_bDone = [] {
        mallopt(M_MMAP_THRESHOLD, LARGE_BUFFER_BYTES);
        mallopt(M_TRIM_THRESHOLD, 2 * LARGE_BUFFER_BYTES);
        return true;
    }();
    (void)s_bDone;
}
