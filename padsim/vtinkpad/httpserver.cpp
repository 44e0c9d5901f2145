#include "httpserver.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace vtinkpad {

namespace {

constexpr size_t MAX_HEADER_BYTES = 16 * 1024;
constexpr size_t MAX_BODY_BYTES = 8 * 1024 * 1024;
constexpr int IO_TIMEOUT_MS = 10000;  // a client that stalls this long is dropped

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, timeoutMs);
    } while (r < 0 && errno == EINTR);
    return r > 0;
}

bool sendAll(int fd, const std::string& data)
{
    size_t off = 0;
    while (off < data.size()) {
        ssize_t n = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        off += size_t(n);
    }
    return true;
}

std::string lower(std::string s)
{
    for (char& c : s)
        c = char(tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t\r");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

}  // namespace

HttpServer::HttpServer(Handler handler) : m_handler(std::move(handler)) {}

HttpServer::~HttpServer()
{
    stop();
}

const char* HttpServer::reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 302: return "Found";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 409: return "Conflict";
    case 413: return "Payload Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

bool HttpServer::listen(int port)
{
    m_listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listenFd < 0)
        return false;
    int one = 1;
    setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(m_listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(m_listenFd, 16) != 0) {
        int e = errno;
        close(m_listenFd);
        m_listenFd = -1;
        errno = e;
        return false;
    }
    socklen_t len = sizeof addr;
    getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
    m_port = ntohs(addr.sin_port);
    if (pipe2(m_wakeFd, O_CLOEXEC) != 0)
        return false;
    m_thread = std::thread([this] { acceptLoop(); });
    return true;
}

void HttpServer::stop()
{
    if (m_thread.joinable()) {
        char b = 1;
        (void)!write(m_wakeFd[1], &b, 1);
        m_thread.join();
    }
    // Requests still being served hold no reference to the listening socket,
    // but they call the handler: give them a bounded time to finish.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_active.load() > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    for (int* fd : {&m_listenFd, &m_wakeFd[0], &m_wakeFd[1]}) {
        if (*fd >= 0)
            close(*fd);
        *fd = -1;
    }
}

void HttpServer::acceptLoop()
{
    for (;;) {
        pollfd p[2] = {{m_listenFd, POLLIN, 0}, {m_wakeFd[0], POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (p[1].revents)
            return;
        if (!(p[0].revents & POLLIN))
            continue;
        int fd = accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++m_active;
        std::thread([this, fd] {
            serve(fd);
            close(fd);
            --m_active;
        }).detach();
    }
}

void HttpServer::serve(int fd)
{
    std::string buf;
    size_t headerEnd;
    char chunk[4096];
    while ((headerEnd = buf.find("\r\n\r\n")) == std::string::npos) {
        if (buf.size() > MAX_HEADER_BYTES || !waitReadable(fd, IO_TIMEOUT_MS))
            return;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return;
        buf.append(chunk, size_t(n));
    }
    HttpRequest req;
    HttpResponse res;
    std::string head = buf.substr(0, headerEnd);
    size_t lineEnd = head.find("\r\n");
    std::string requestLine = head.substr(0, lineEnd);
    size_t sp1 = requestLine.find(' ');
    size_t sp2 = requestLine.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos) {
        sendAll(fd, "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        return;
    }
    req.method = requestLine.substr(0, sp1);
    std::string target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
    size_t q = target.find('?');
    req.path = target.substr(0, q);
    if (q != std::string::npos)
        req.query = target.substr(q + 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos)
            e = head.size();
        std::string line = head.substr(pos, e - pos);
        size_t colon = line.find(':');
        if (colon != std::string::npos)
            req.headers[lower(trim(line.substr(0, colon)))] = trim(line.substr(colon + 1));
        pos = e + 2;
    }
    size_t want = 0;
    if (auto it = req.headers.find("content-length"); it != req.headers.end()) {
        char* end = nullptr;
        unsigned long long v = strtoull(it->second.c_str(), &end, 10);
        if (!end || *end || v > MAX_BODY_BYTES) {
            sendAll(fd, "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
            return;
        }
        want = size_t(v);
    }
    req.body = buf.substr(headerEnd + 4);
    while (req.body.size() < want) {
        if (!waitReadable(fd, IO_TIMEOUT_MS))
            return;
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0)
            return;
        req.body.append(chunk, size_t(n));
    }
    req.body.resize(want);

    res = m_handler(req);

    std::string out = "HTTP/1.1 " + std::to_string(res.status) + " " + reasonPhrase(res.status) + "\r\n";
    if (!res.contentType.empty())
        out += "Content-Type: " + res.contentType + "\r\n";
    for (auto& [k, v] : res.headers)
        out += k + ": " + v + "\r\n";
    out += "Content-Length: " + std::to_string(res.body.size()) + "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n";
    if (req.method != "HEAD")
        out += res.body;
    sendAll(fd, out);
}

}  // namespace vtinkpad
