// vtinkpad: runs a program (normally vtinkhost) with emulated signature pads
// plugged in, and lets people and tests drive those pads over a small HTTP
// interface on 127.0.0.1.
//
//     vtinkpad [--model q210]... [--control-port N] [--port-file F]
//              [--serve DIR] [--signatures DIR] [--interval MS] -- PROGRAM [ARGS...]
//
// vtinkhost refuses to start while any process's command line contains its
// file name, so vtinkpad blanks its own command line to "vtinkpad" before it
// starts the program.

#include "control.h"
#include "httpserver.h"
#include "signer.h"

#include <padsim.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <pthread.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

void usage(FILE* to)
{
    fprintf(to,
            "usage: vtinkpad [options] [-- PROGRAM [ARGS...]]\n"
            "  --model NAME        plug an emulated pad: q210 (default), q220, q230f, qt410, m420;\n"
            "                      repeat for several pads; \"none\": no emulation (a real pad is used)\n"
            "  --control-port N    port of the control interface on 127.0.0.1 (default 0: a free one)\n"
            "  --port-file FILE    write the control port to FILE once listening\n"
            "  --serve DIR         also serve the files under DIR (the web kit: demo page at /demo/)\n"
            "  --signatures DIR    sample signatures for /pad/replay (default: signatures/ beside vtinkpad)\n"
            "  --interval MS       time between pen reports of a stroke (default 5)\n"
            "  --idle-poll-us N    how often the program's idle reads are looked at (default 1000); a\n"
            "                      real pad's read sleeps in the kernel: raise it to measure CPU\n"
            "Without a program, vtinkpad runs until it is interrupted.\n");
}

// Overwrites the argument area of this process, which /proc/PID/cmdline
// shows, so that nothing of the program line (or of a folder named after
// it) is visible in vtinkpad's command line.
void blankCommandLine(int argc, char** argv)
{
    char* begin = argv[0];
    char* end = argv[0];
    for (int i = 0; i < argc; ++i) {
        if (argv[i] != end)
            break;  // not contiguous: only blank what is
        end = argv[i] + strlen(argv[i]) + 1;
    }
    memset(begin, 0, size_t(end - begin));
    const char name[] = "vtinkpad";
    if (size_t(end - begin) > sizeof name)
        memcpy(begin, name, sizeof name);
    prctl(PR_SET_NAME, "vtinkpad");
}

std::string selfDir()
{
    char buf[4096];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0)
        return ".";
    std::string path(buf, size_t(n));
    return path.substr(0, path.rfind('/'));
}

// Starts the program under the bed's environment; it gets SIGTERM when
// vtinkpad dies, so no program is left behind with a dead bed.
pid_t startProgram(padsim::Bed* bed, const std::vector<std::string>& argv)
{
    // vtinkpad itself is loaded already: its own environment can carry the
    // bed's preload for the program.
    if (bed) {
        for (const std::string& kv : bed->childEnvironment()) {
            size_t eq = kv.find('=');
            setenv(kv.substr(0, eq).c_str(), kv.substr(eq + 1).c_str(), 1);
        }
    }
    std::vector<char*> av;
    for (auto& s : argv)
        av.push_back(const_cast<char*>(s.c_str()));
    av.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execvp(av[0], av.data());
        const char msg[] = "vtinkpad: cannot start the program\n";
        (void)!write(2, msg, sizeof msg - 1);
        _exit(127);
    }
    return pid;
}

int exitCodeOf(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    blankCommandLine(argc, argv);

    std::vector<std::string> models, program;
    vtinkpad::ControlOptions opt;
    opt.signatureDir = selfDir() + "/signatures";
    int controlPort = 0;
    std::string portFile;
    int idlePollUs = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) {
                fprintf(stderr, "vtinkpad: %s needs a value\n", a.c_str());
                exit(2);
            }
            return args[++i];
        };
        if (a == "--") {
            program.assign(args.begin() + long(i) + 1, args.end());
            break;
        } else if (a == "--model") {
            models.push_back(value());
        } else if (a == "--control-port") {
            controlPort = atoi(value().c_str());
        } else if (a == "--port-file") {
            portFile = value();
        } else if (a == "--serve") {
            opt.serveDir = value();
        } else if (a == "--signatures") {
            opt.signatureDir = value();
        } else if (a == "--interval") {
            opt.intervalMs = atof(value().c_str());
        } else if (a == "--idle-poll-us") {
            idlePollUs = atoi(value().c_str());
        } else if (a == "-h" || a == "--help") {
            usage(stdout);
            return 0;
        } else {
            fprintf(stderr, "vtinkpad: unknown option %s\n", a.c_str());
            usage(stderr);
            return 2;
        }
    }
    if (models.empty())
        models.push_back("q210");

    // Stop signals and SIGCHLD are taken only by sigtimedwait in the main
    // thread; every helper thread starts with them blocked.
    // They get a handler all the same: as process 1 of a container or PID
    // namespace, vtinkpad would not even be sent a signal left at default.
    sigset_t waitSet;
    sigemptyset(&waitSet);
    struct sigaction noop {};
    noop.sa_handler = [](int) {};
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGCHLD}) {
        sigaddset(&waitSet, sig);
        sigaction(sig, &noop, nullptr);
    }
    pthread_sigmask(SIG_BLOCK, &waitSet, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const bool emulate = !(models.size() == 1 && models[0] == "none");
    std::optional<padsim::Bed> bed;
    if (emulate)
        bed.emplace();
    if (bed && idlePollUs >= 0)
        bed->setThrottleUs(idlePollUs);
    vtinkpad::Control control(bed ? &*bed : nullptr, opt);
    for (const std::string& m : emulate ? models : std::vector<std::string>{}) {
        std::string err;
        if (!control.plug(m, err)) {
            fprintf(stderr, "vtinkpad: %s\n", err.c_str());
            return 2;
        }
    }

    vtinkpad::HttpServer http([&](const vtinkpad::HttpRequest& r) { return control.handle(r); });
    if (!http.listen(controlPort)) {
        fprintf(stderr, "vtinkpad: cannot listen on 127.0.0.1:%d: %s\n", controlPort, strerror(errno));
        return 2;
    }
    if (!portFile.empty()) {
        std::string tmp = portFile + ".tmp";
        std::ofstream(tmp) << http.port() << "\n";
        rename(tmp.c_str(), portFile.c_str());
    }
    if (emulate)
        printf("vtinkpad: %s plugged in; control interface http://127.0.0.1:%d/pad\n", control.summary().c_str(),
               http.port());
    if (!opt.serveDir.empty())
        printf("vtinkpad: serving %s at http://localhost:%d/\n", opt.serveDir.c_str(), http.port());
    fflush(stdout);

    int exitCode = 0;
    if (program.empty()) {
        int sig;
        do {
            sig = sigwaitinfo(&waitSet, nullptr);
        } while (sig == SIGCHLD || (sig < 0 && errno == EINTR));
    } else {
        pid_t pid = startProgram(bed ? &*bed : nullptr, program);
        if (pid < 0) {
            fprintf(stderr, "vtinkpad: fork: %s\n", strerror(errno));
            return 2;
        }
        control.setProgram(pid);
        int status = 0;
        bool stopping = false;
        for (;;) {
            pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid || (r < 0 && errno != EINTR))
                break;
            // the program ends first, then the bed it depends on
            timespec wait{stopping ? 5 : 3600, 0};
            int sig = sigtimedwait(&waitSet, nullptr, &wait);
            if (sig == SIGINT || sig == SIGTERM || sig == SIGHUP) {
                kill(pid, stopping ? SIGKILL : SIGTERM);
                stopping = true;
            } else if (sig < 0 && errno == EAGAIN && stopping) {
                kill(pid, SIGKILL);
            }
        }
        exitCode = exitCodeOf(status);
        control.setProgram(-1);
    }
    control.abortDrawing();
    http.stop();
    return exitCode;
}
