// The testbed: root hub, plugging and unplugging, programs started under it.
#include "internal.h"
#include "../../tests/common/timescale.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

extern char** environ;

namespace padsim {

Bed::Bed() : d(std::make_unique<Impl>())
{
    d->tb = umockdev_testbed_new();  // also sets UMOCKDEV_DIR for this process
    gchar* root = umockdev_testbed_get_root_dir(d->tb);
    d->root = root;
    g_free(root);
    // root hub 1d6b:0002, bus 1
    static const uint8_t hub[] = {18, 1, 0, 2, 9, 0, 1, 64, 0x6b, 0x1d, 2, 0, 0x01, 0x06, 3, 2, 1, 1,
                                  9, 2, 25, 0, 1, 1, 0, 0xe0, 0, 9, 4, 0, 0, 1, 9, 0, 0, 0,
                                  7, 5, 0x81, 3, 4, 0, 12};
    gchar* hp = umockdev_testbed_add_device(d->tb, "usb", "usb1", nullptr, "busnum", "1\n", "devnum", "1\n",
                                            "speed", "480\n", "bConfigurationValue", "1\n", "idVendor", "1d6b\n",
                                            "idProduct", "0002\n", nullptr, "DEVTYPE", "usb_device", nullptr);
    d->hubPath = hp ? hp : "";
    g_free(hp);
    umockdev_testbed_set_attribute_binary(d->tb, d->hubPath.c_str(), "descriptors", const_cast<uint8_t*>(hub),
                                          sizeof hub);
}

Bed::~Bed()
{
    {
        std::lock_guard<std::mutex> g(d->mu);
        d->pads.clear();  // nodes detach their handlers
    }
    g_object_unref(d->tb);
}

Pad& Bed::plug(ModelPtr model)
{
    auto impl = std::make_unique<PadImpl>();
    impl->bed = d.get();
    impl->owner = this;
    impl->texts = model->texts;
    impl->model = std::move(model);
    uint32_t seed = 0x5eed;
    if (const char* s = getenv("PADSIM_SEED"))
        seed = (uint32_t)strtoul(s, nullptr, 0);
    PadImpl* raw = impl.get();
    Pad* pad;
    {
        std::lock_guard<std::mutex> g(d->mu);
        impl->rng.seed(seed + (uint32_t)d->pads.size());
        d->pads.emplace_back(new Pad(std::move(impl)));
        pad = d->pads.back().get();
    }
    d->plugNodes(*raw);
    return *pad;
}

void Bed::Impl::plugNodes(PadImpl& pad)
{
    std::vector<std::unique_ptr<UsbNode>> nodes;
    {
        std::lock_guard<std::mutex> g(mu);
        for (size_t i = 0; i < pad.model->usb.size(); ++i)
            nodes.push_back(std::make_unique<UsbNode>(pad, (int)i, tb, pad.model->usb[i], nextDevnum++));
    }
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> g(pad.mu);
        pad.nodes = std::move(nodes);
        pad.plugged = true;
        for (auto& n : pad.nodes)
            paths.push_back(n->sysPath());
    }
    pad.model->plugged(*pad.self);
    for (auto& p : paths)
        umockdev_testbed_uevent(tb, p.c_str(), "add");  // add_device sends none
    pad.cv.notify_all();
}

void Bed::Impl::unplugNodes(PadImpl& pad)
{
    std::vector<std::string> paths;
    {
        std::lock_guard<std::mutex> g(pad.mu);
        if (!pad.plugged)
            return;
        pad.plugged = false;
        for (auto& n : pad.nodes) {
            n->unplugLocked();
            paths.push_back(n->sysPath());
        }
        // a client may still have the node open: keep it answering ENODEV
        for (auto& n : pad.nodes)
            pad.retired.push_back(std::move(n));
        pad.nodes.clear();
        pad.cv.notify_all();
    }
    for (auto& p : paths) {
        umockdev_testbed_uevent(tb, p.c_str(), "remove");  // needs the sysfs entry still there
        umockdev_testbed_remove_device(tb, p.c_str());
    }
}

Pad* Bed::find(const std::string& modelName)
{
    std::lock_guard<std::mutex> g(d->mu);
    for (auto& p : d->pads)
        if (p->model().name == modelName)
            return p.get();
    return nullptr;
}

std::vector<Pad*> Bed::pads()
{
    std::lock_guard<std::mutex> g(d->mu);
    std::vector<Pad*> v;
    for (auto& p : d->pads)
        v.push_back(p.get());
    return v;
}

std::string Bed::rootDir() const
{
    return d->root;
}

void Bed::setThrottleUs(int us)
{
    d->throttleUs = us;
}

int Bed::throttleUs() const
{
    return d->throttleUs;
}

// ---- programs under the bed ----------------------------------------------------

static bool isSanitizerRuntime(const std::string& lib)
{
    return lib.find("libasan") != std::string::npos || lib.find("libtsan") != std::string::npos ||
           lib.find("libubsan") != std::string::npos;
}

std::vector<std::string> Bed::childEnvironment() const
{
    std::vector<std::string> first, rest;
    bool havePreload = false;
    if (const char* pre = getenv("LD_PRELOAD")) {
        std::string s = pre;
        size_t pos = 0;
        while (pos <= s.size()) {
            size_t end = s.find_first_of(": ", pos);
            if (end == std::string::npos)
                end = s.size();
            std::string lib = s.substr(pos, end - pos);
            if (!lib.empty()) {
                havePreload |= lib.find("libumockdev-preload") != std::string::npos;
                (isSanitizerRuntime(lib) ? first : rest).push_back(lib);
            }
            pos = end + 1;
        }
    }
    if (!havePreload)
        rest.insert(rest.begin(), "libumockdev-preload.so.0");
    std::string ld;
    for (auto* list : {&first, &rest})
        for (auto& lib : *list)
            ld += (ld.empty() ? "" : ":") + lib;
    return {"UMOCKDEV_DIR=" + d->root, "LD_PRELOAD=" + ld};
}

Child Bed::start(const std::vector<std::string>& argv, bool pipeStdin, bool pipeStdout)
{
    Child c;
    if (argv.empty())
        return c;
    // Build everything before fork: only async-signal-safe calls after it.
    std::vector<std::string> add = childEnvironment();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        if (kv.rfind("UMOCKDEV_DIR=", 0) == 0 || kv.rfind("LD_PRELOAD=", 0) == 0)
            continue;
        env.push_back(kv);
    }
    env.insert(env.end(), add.begin(), add.end());
    std::vector<char*> envp, av;
    for (auto& s : env)
        envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);
    for (auto& s : argv)
        av.push_back(const_cast<char*>(s.c_str()));
    av.push_back(nullptr);
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if (pipeStdin && pipe2(in, O_CLOEXEC) != 0)
        return c;
    if (pipeStdout && pipe2(out, O_CLOEXEC) != 0) {
        for (int fd : in)
            if (fd >= 0)
                close(fd);
        return c;
    }
    pid_t pid = fork();
    if (pid == 0) {
        if (in[0] >= 0)
            dup2(in[0], 0);
        if (out[1] >= 0)
            dup2(out[1], 1);
        execvpe(av[0], av.data(), envp.data());
        _exit(127);
    }
    if (in[0] >= 0)
        close(in[0]);
    if (out[1] >= 0)
        close(out[1]);
    if (pid < 0) {
        for (int fd : {in[1], out[0]})
            if (fd >= 0)
                close(fd);
        return c;
    }
    c.m_pid = pid;
    c.m_stdin = in[1];
    c.m_stdout = out[0];
    return c;
}

int Bed::run(const std::vector<std::string>& argv, Millis timeout)
{
    Child c = start(argv);
    if (c.pid() < 0)
        return -1;
    int rc = c.wait(timeout);
    if (rc == -1) {
        c.kill();
        c.wait(Millis(5000));
        return -1;
    }
    return rc;
}

// ---- Child -------------------------------------------------------------------

Child::Child(Child&& o) noexcept { *this = std::move(o); }

Child& Child::operator=(Child&& o) noexcept
{
    if (this != &o) {
        std::swap(m_pid, o.m_pid);
        std::swap(m_stdin, o.m_stdin);
        std::swap(m_stdout, o.m_stdout);
        std::swap(m_status, o.m_status);
    }
    return *this;
}

Child::~Child()
{
    for (int fd : {m_stdin, m_stdout})
        if (fd >= 0)
            close(fd);
    if (m_pid > 0 && running()) {
        kill(SIGKILL);
        wait(Millis(5000));
    }
}

static int decodeStatus(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return -1;
}

bool Child::running()
{
    if (m_pid <= 0 || m_status >= 0)
        return false;
    int st = 0;
    pid_t r = waitpid(m_pid, &st, WNOHANG);
    if (r == m_pid) {
        m_status = decodeStatus(st);
        return false;
    }
    return r == 0;
}

int Child::wait(Millis timeout)
{
    if (m_pid <= 0)
        return -1;
    auto deadline = std::chrono::steady_clock::now() + vttest::Scaled(timeout);
    auto pause = std::chrono::milliseconds(1);
    while (running()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return -1;
        std::this_thread::sleep_for(pause);  // waitpid has no timeout; back off to 20 ms
        if (pause < std::chrono::milliseconds(20))
            pause *= 2;
    }
    return m_status;
}

void Child::kill(int signal)
{
    if (m_pid > 0 && m_status < 0)
        ::kill(m_pid, signal);
}

}  // namespace padsim
