#include "clientguard.h"

#include "vtlog.h"

#include <QTimer>
#include <QWebSocket>

#include <malloc.h>

namespace {

const int TRIM_DELAY_MS = 100; // one trim for a burst of releases

} // namespace

ClientOutbox::ClientOutbox(QWebSocket* pSocket, qint64 nMaxPendingBytes)
    : QObject(pSocket), m_pSocket(pSocket), m_nMaxPendingBytes(nMaxPendingBytes)
{
    connect(pSocket, &QWebSocket::bytesWritten, this, &ClientOutbox::Drain);
}

qint64 ClientOutbox::PendingBytes() const
{
    return m_nQueuedBytes + m_pSocket->bytesToWrite();
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
    const qint64 nBytes = pText ? Utf8Length(*pText) : frame.bytes.size();
    if (PendingBytes() + nBytes > m_nMaxPendingBytes) {
        VT_LOG("ClientOutbox::Post()", "<%ld>-%lld bytes waiting, %lld more: over %lld, closing",
               (long long)PendingBytes(), (long long)nBytes, (long long)m_nMaxPendingBytes);
        Close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("too much data waiting to be sent"));
        return false;
    }
    if (m_queue.empty() && m_pSocket->bytesToWrite() < OUTBOX_HANDOVER_BYTES) {
        if (pText)
            m_pSocket->sendTextMessage(*pText);
        else
            m_pSocket->sendBinaryMessage(frame.bytes);
        return true;
    }
    if (pText)
        frame.bytes = pText->toUtf8();
    m_nQueuedBytes += frame.bytes.size();
    m_queue.push_back(std::move(frame));
    return true;
}

void ClientOutbox::Drain()
{
    while (!m_bClosing && !m_queue.empty() && m_pSocket->bytesToWrite() < OUTBOX_HANDOVER_BYTES) {
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
    // A peer that does not read never takes the close frame, and Qt would
    // keep its send buffer until it does.
    m_pAbortTimer = new QTimer(this);
    m_pAbortTimer->setSingleShot(true);
    connect(m_pAbortTimer, &QTimer::timeout, m_pSocket, [this] {
        VT_LOG("ClientOutbox::Close()", "<%ld>-peer did not take the close, cut off");
        m_pSocket->abort();
        ReleaseFreedMemorySoon();
    });
    m_pAbortTimer->start(CLOSE_GRACE_MS);
    m_pSocket->close(static_cast<QWebSocketProtocol::CloseCode>(nCode), strReason);
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
