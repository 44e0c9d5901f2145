#pragma once

// A WebSocket client on a plain socket, for what a browser would never
// send: frame headers announcing more than will come, a frame in the same
// write as the handshake, a peer that stops reading. Blocking calls with
// deadlines, meant for a thread of its own while the service runs in the
// test's event loop.
#include <QByteArray>
#include <QElapsedTimer>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

class RawWsClient
{
public:
    enum Opcode { TEXT = 1, BINARY = 2, CLOSE = 8 };
    struct Frame {
        int nOpcode = -1; // -1: the connection ended, or nothing came in time
        QByteArray payload;
        int CloseCode() const
        {
            return nOpcode == CLOSE && payload.size() >= 2 ? (uchar(payload[0]) << 8) | uchar(payload[1]) : -1;
        }
    };

    RawWsClient() = default;
    RawWsClient(const RawWsClient&) = delete;
    RawWsClient& operator=(const RawWsClient&) = delete;
    ~RawWsClient() { Close(); }

    // A socket, not yet connected (its descriptor exists from here on).
    bool Create(int nReceiveBuffer = 0)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd >= 0 && nReceiveBuffer > 0)
            ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &nReceiveBuffer, sizeof nReceiveBuffer);
        return m_fd >= 0;
    }
    bool Connect(quint16 port)
    {
        if (m_fd < 0 && !Create())
            return false;
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    // Sends the upgrade request (and extra bytes in the same write) and
    // reads the answer's head: true for "101".
    bool Handshake(const QByteArray& origin = QByteArray(), const QByteArray& extra = QByteArray(), int nTimeoutMs = 20000)
    {
        QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n";
        if (!origin.isEmpty())
            request += "Origin: " + origin + "\r\n";
        request += "\r\n" + extra;
        if (Send(request.constData(), request.size(), nTimeoutMs) != request.size())
            return false;
        QElapsedTimer timer;
        timer.start();
        int nEnd = -1;
        while ((nEnd = m_in.indexOf("\r\n\r\n")) < 0) {
            if (!Fill(nTimeoutMs - int(timer.elapsed())))
                return false;
        }
        const bool bUpgraded = m_in.startsWith("HTTP/1.1 101");
        m_in.remove(0, nEnd + 4);
        return bUpgraded;
    }

    // A client frame header (masked with key 0, so the payload goes as is).
    static QByteArray Header(int nOpcode, quint64 nLength, bool bFinal = true)
    {
        QByteArray h;
        h += char((bFinal ? 0x80 : 0) | nOpcode);
        if (nLength < 126) {
            h += char(0x80 | nLength);
        } else if (nLength < 65536) {
            h += char(0x80 | 126);
            h += char(nLength >> 8);
            h += char(nLength);
        } else {
            h += char(0x80 | 127);
            for (int i = 7; i >= 0; --i)
                h += char(nLength >> (8 * i));
        }
        h += QByteArray(4, '\0');
        return h;
    }
    bool SendFrame(int nOpcode, const QByteArray& payload, bool bFinal = true, int nTimeoutMs = 20000)
    {
        const QByteArray frame = Header(nOpcode, quint64(payload.size()), bFinal) + payload;
        return Send(frame.constData(), frame.size(), nTimeoutMs) == frame.size();
    }
    bool SendText(const QByteArray& text) { return SendFrame(TEXT, text); }

    // Bytes written before the deadline or an error (the peer gone).
    qint64 Send(const char* p, qint64 n, int nTimeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        qint64 nSent = 0;
        while (nSent < n) {
            pollfd pfd{m_fd, POLLOUT, 0};
            const int nLeft = nTimeoutMs - int(timer.elapsed());
            if (nLeft <= 0 || ::poll(&pfd, 1, nLeft) <= 0 || (pfd.revents & (POLLERR | POLLHUP)))
                break;
            const ssize_t k = ::send(m_fd, p + nSent, size_t(n - nSent), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (k < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    continue;
                break;
            }
            nSent += k;
        }
        return nSent;
    }

    // The next frame from the service.
    Frame ReadFrame(int nTimeoutMs = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        Frame frame;
        for (;;) {
            if (m_in.size() >= 2) {
                const int nLen7 = uchar(m_in[1]) & 0x7f;
                const int nHead = nLen7 == 126 ? 4 : nLen7 == 127 ? 10 : 2;
                if (m_in.size() >= nHead) {
                    quint64 nLength = quint64(nLen7);
                    if (nLen7 >= 126) {
                        nLength = 0;
                        for (int i = 2; i < nHead; ++i)
                            nLength = (nLength << 8) | uchar(m_in[i]);
                    }
                    if (quint64(m_in.size()) >= nHead + nLength) {
                        frame.nOpcode = uchar(m_in[0]) & 0x0f;
                        frame.payload = m_in.mid(nHead, int(nLength));
                        m_in.remove(0, nHead + int(nLength));
                        return frame;
                    }
                }
            }
            if (!Fill(nTimeoutMs - int(timer.elapsed())))
                return frame;
        }
    }

    void Close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    int Fd() const { return m_fd; }

private:
    bool Fill(int nTimeoutMs)
    {
        if (nTimeoutMs <= 0)
            return false;
        pollfd pfd{m_fd, POLLIN, 0};
        if (::poll(&pfd, 1, nTimeoutMs) <= 0)
            return false;
        char buf[65536];
        const ssize_t k = ::recv(m_fd, buf, sizeof buf, 0);
        if (k <= 0)
            return false;
        m_in.append(buf, int(k));
        return true;
    }

    int m_fd = -1;
    QByteArray m_in;
};
