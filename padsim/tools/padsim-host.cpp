// padsim-host: plugs emulated pads, runs a program that sees them, and takes
// simple commands on stdin (and on a loopback TCP port) while it runs.
//
//   padsim-host [--model NAME]... [--seed N] [--listen PORT] [-- PROGRAM ARGS...]
//
// Exit code: the program's (128 + signal when killed); without a program,
// runs until stdin ends. --listen 0 picks a free port and prints
// "padsim-host: listening PORT". Command lines (answers "padsim-host: ok ..."
// or "padsim-host: error ..." on stdout, or on the connection that asked;
// commands act on the selected pad, the first by default):
//   plug MODEL | select N | unplug | replug
//   down X Y P | move X Y P | up X Y | stroke X,Y,P X,Y,P ... | confirm | cancel
//   raw EP HEXBYTES | mask HEX|random
//   penid TEXT | secureid TEXT | version TEXT | padid TEXT
//   waitread MS    (a host read is pending on the pen endpoint)
//   received       (one line per control request / OUT transfer so far)
#include "padsim.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

namespace {

std::mutex g_out;

void answer(const std::string& text)
{
    std::lock_guard<std::mutex> g(g_out);
    printf("padsim-host: %s\n", text.c_str());
    fflush(stdout);
}

std::string hex(const padsim::Bytes& b)
{
    std::string s;
    char t[4];
    for (uint8_t v : b) {
        snprintf(t, sizeof t, "%02x", v);
        s += t;
    }
    return s;
}

bool parseHex(const std::string& s, padsim::Bytes& out)
{
    if (s.size() % 2)
        return false;
    for (size_t i = 0; i < s.size(); i += 2) {
        char* end = nullptr;
        std::string byte = s.substr(i, 2);
        long v = strtol(byte.c_str(), &end, 16);
        if (*end)
            return false;
        out.push_back((uint8_t)v);
    }
    return true;
}

class Host {
public:
    explicit Host(padsim::Bed& bed) : m_bed(bed) {}

    std::string run(const std::string& line);

private:
    padsim::Pad* pad()
    {
        auto pads = m_bed.pads();
        return m_selected < pads.size() ? pads[m_selected] : nullptr;
    }
    padsim::Bed& m_bed;
    size_t m_selected = 0;
};

std::string Host::run(const std::string& line)
{
    std::istringstream in(line);
    std::string cmd;
    in >> cmd;
    if (cmd.empty())
        return "";
    if (cmd == "plug") {
        std::string name;
        in >> name;
        padsim::ModelPtr m = padsim::models::byName(name);
        if (!m)
            return "error unknown model " + name;
        m_bed.plug(std::move(m));
        m_selected = m_bed.pads().size() - 1;
        return "ok " + std::to_string(m_selected);
    }
    if (cmd == "select") {
        size_t n = 0;
        in >> n;
        if (n >= m_bed.pads().size())
            return "error no pad " + std::to_string(n);
        m_selected = n;
        return "ok";
    }
    padsim::Pad* p = pad();
    if (!p)
        return "error no pad plugged";
    int x = 0, y = 0, pr = 0;
    if (cmd == "unplug") {
        p->unplug();
    } else if (cmd == "replug") {
        p->replug();
    } else if (cmd == "down" || cmd == "move") {
        if (!(in >> x >> y >> pr))
            return "error usage: " + cmd + " X Y P";
        cmd == "down" ? p->penDown(x, y, pr) : p->penMove(x, y, pr);
    } else if (cmd == "up") {
        if (!(in >> x >> y))
            return "error usage: up X Y";
        p->penUp(x, y);
    } else if (cmd == "stroke") {
        std::vector<padsim::Pad::Point> pts;
        std::string tok;
        while (in >> tok) {
            if (sscanf(tok.c_str(), "%d,%d,%d", &x, &y, &pr) != 3)
                return "error bad point " + tok;
            pts.push_back({(uint16_t)x, (uint16_t)y, (uint16_t)pr});
        }
        if (pts.empty())
            return "error usage: stroke X,Y,P ...";
        p->stroke(pts);
    } else if (cmd == "confirm") {
        p->touchConfirm();
    } else if (cmd == "cancel") {
        p->touchCancel();
    } else if (cmd == "raw") {
        std::string ep, bytes;
        padsim::Bytes b;
        if (!(in >> ep >> bytes) || !parseHex(bytes, b))
            return "error usage: raw EP HEXBYTES";
        p->sendRaw((uint8_t)strtol(ep.c_str(), nullptr, 0), b, p->model().penDevice);
    } else if (cmd == "mask") {
        std::string v;
        in >> v;
        if (v == "random")
            p->forceMask(std::nullopt);
        else
            p->forceMask((uint8_t)strtol(v.c_str(), nullptr, 16));
    } else if (cmd == "penid" || cmd == "secureid" || cmd == "version" || cmd == "padid") {
        std::string text;
        std::getline(in >> std::ws, text);
        if (cmd == "penid") p->setPenId(text);
        else if (cmd == "secureid") p->setSecureId(text);
        else if (cmd == "version") p->setPartsVersion(text);
        else p->setPadId(text);
    } else if (cmd == "waitread") {
        int ms = 5000;
        in >> ms;
        if (!p->waitForPendingRead(padsim::Millis(ms), p->model().penDevice, p->model().penEndpoint))
            return "error no read pending";
    } else if (cmd == "received") {
        std::string all;
        for (const padsim::Transfer& t : p->received()) {
            char head[64];
            if (t.kind == padsim::Transfer::Control)
                snprintf(head, sizeof head, "control %02x %02x %04x %04x %u", t.setup.bmRequestType,
                         t.setup.bRequest, t.setup.wValue, t.setup.wIndex, t.setup.wLength);
            else
                snprintf(head, sizeof head, "out %d %02x", t.device, t.endpoint);
            all += std::string("\n") + head + " " + hex(t.data);
        }
        return "ok " + std::to_string(p->received().size()) + all;
    } else {
        return "error unknown command " + cmd;
    }
    return "ok";
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> models, program;
    long seed = -1;
    int listenPort = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--model" && i + 1 < argc) {
            models.push_back(argv[++i]);
        } else if (a == "--listen" && i + 1 < argc) {
            listenPort = atoi(argv[++i]);
        } else if (a == "--seed" && i + 1 < argc) {
            seed = strtol(argv[++i], nullptr, 0);
        } else if (a == "--") {
            program.assign(argv + i + 1, argv + argc);
            break;
        } else {
            fprintf(stderr, "usage: padsim-host [--model NAME]... [--seed N] [--listen PORT] [-- PROGRAM ARGS...]\n");
            return 2;
        }
    }
    auto bed = std::make_unique<padsim::Bed>();
    for (const std::string& name : models) {
        padsim::ModelPtr m = padsim::models::byName(name);
        if (!m) {
            fprintf(stderr, "padsim-host: unknown model %s\n", name.c_str());
            return 2;
        }
        padsim::Pad& pad = bed->plug(std::move(m));
        if (seed >= 0)
            pad.seed((uint32_t)seed);
    }
    Host host(*bed);
    std::mutex hostLock;
    bool stopped = false;
    const bool withProgram = !program.empty();
    std::thread([&] {  // never joined: it may sit in a read when the program ends
        std::string line;
        while (std::getline(std::cin, line)) {
            std::lock_guard<std::mutex> g(hostLock);
            if (stopped)
                return;
            std::string a = host.run(line);
            if (!a.empty())
                answer(a);
        }
        if (!withProgram) {
            std::lock_guard<std::mutex> g(hostLock);
            stopped = true;
            bed.reset();
            fflush(stdout);
            _exit(0);
        }
    }).detach();
    if (listenPort >= 0) {
        int srv = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);  // never beyond this machine
        addr.sin_port = htons((uint16_t)listenPort);
        socklen_t len = sizeof addr;
        if (srv < 0 || bind(srv, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(srv, 4) != 0 ||
            getsockname(srv, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            fprintf(stderr, "padsim-host: cannot listen on port %d\n", listenPort);
            return 2;
        }
        answer("listening " + std::to_string(ntohs(addr.sin_port)));
        std::thread([&, srv] {  // one connection at a time, like stdin
            for (;;) {
                int c = accept4(srv, nullptr, nullptr, SOCK_CLOEXEC);
                if (c < 0)
                    continue;
                FILE* in = fdopen(c, "r");
                char buf[4096];
                while (in && fgets(buf, sizeof buf, in)) {
                    std::string line(buf);
                    line.erase(line.find_last_not_of("\r\n") + 1);
                    std::string a;
                    {
                        std::lock_guard<std::mutex> g(hostLock);
                        if (stopped)
                            return;
                        a = host.run(line);
                    }
                    if (!a.empty()) {
                        a = "padsim-host: " + a + "\n";
                        if (write(c, a.data(), a.size()) < 0)
                            break;
                    }
                }
                if (in)
                    fclose(in);
                else
                    close(c);
            }
        }).detach();
    }
    answer("ready");
    if (!withProgram) {
        for (;;)
            pause();  // the stdin thread ends the process
    }
    padsim::Child child = bed->start(program);
    if (child.pid() < 0) {
        fprintf(stderr, "padsim-host: cannot start %s\n", program[0].c_str());
        return 127;
    }
    int rc;
    while ((rc = child.wait(padsim::Millis(60000))) == -1) {
    }
    {
        std::lock_guard<std::mutex> g(hostLock);
        stopped = true;
        bed.reset();  // removes the testbed's temporary tree
    }
    fflush(stdout);
    _exit(rc);
}
