// A small HTTP/1.1 server on the loopback interface: one thread per
// connection, one request per connection. Enough for a control interface
// and a static demo page; not meant for the open network.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <string>
#include <thread>

namespace vtinkpad {

struct HttpRequest {
    std::string method;
    std::string path;   // without the query
    std::string query;  // after '?', undecoded
    std::map<std::string, std::string> headers;  // names in lower case
    std::string body;
};

struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::map<std::string, std::string> headers;
};

class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    explicit HttpServer(Handler handler);
    ~HttpServer();

    // Listens on 127.0.0.1:port (0 = any free port); false with errno set.
    bool listen(int port);
    int port() const { return m_port; }
    void stop();

    static const char* reasonPhrase(int status);

private:
    void acceptLoop();
    void serve(int fd);

    Handler m_handler;
    int m_listenFd = -1;
    int m_wakeFd[2] = {-1, -1};
    int m_port = 0;
    std::atomic<int> m_active{0};
    std::thread m_thread;
};

}  // namespace vtinkpad
