"""Desktop tests of the real program under Xvfb with trayer as tray host.
Run one case: python3 test_tray.py <case> (from build/bin)."""

import os
import queue
import signal
import threading
import time

import desk
from desk import Desktop, check, free_port, read_settings, wait_until, write_settings

TEXTS = {
    1: ("Vantor電子簽名板驅動程式(跨平台WS)", "每次開機時自動啟動", "離開"),
    2: ("Vantor电子签名板驱动程序(跨平台WS)", "每次开机时自动启动", "离开"),
    3: ("Vantor DureRur Driver (Cross Platform WS)", "Auto Launch at Startup", "Exit"),
}
ENTRY_FILES = {
    "uos": "com.vantor.vtinkhost.desktop",
    "kylin": "vtinkhost-kylin.desktop",
    "neokylin": "vtinkhost-neokylin.desktop",
    "nfsdesktop": "vtinkhost-nfs.desktop",
    "ubuntu": "vtinkhost-ubuntu.desktop",
}


SITES = {1: "已允許的網站…", 2: "已允许的网站…", 3: "Allowed sites…"}


def expect_menu(items, lang, checked):
    title, auto, exit_ = TEXTS[lang]
    want = [title, auto + ("[x]" if checked else "[ ]"), SITES[lang], exit_]
    check(items == want, "menu %r, expected %r" % (items, want))


def exit_from_menu(d, prog, lang):
    """Open the menu, pick the exit item, expect exit code 0."""
    d.open_menu(prog)
    d.pick(prog, TEXTS[lang][2], key="Up")
    rc = prog.wait_exit(60)
    check(rc == 0, "exit code %s after the exit item; output:\n%s" % (rc, prog.output()))


def toggle_auto_launch(d, prog, lang, want):
    start = len(prog.traces())
    d.open_menu(prog)
    d.pick(prog, TEXTS[lang][1])
    prog.wait_trace(r"^auto launch %d$" % (1 if want else 0), 20, start)


def start_ready(d, port=None, exe=None, cwd=None, **env):
    """Start the program and wait until its icon is shown and, when a port is
    given, until it listens."""
    prog = d.start_program(exe=exe, cwd=cwd, **env)
    prog.wait_trace(r"^tray icon shown: ", 60)
    if port is not None:
        wait_until(lambda: d.port_open(port), 30, "the service listening on %d" % port)
    return prog


def with_desktop(fn):
    def run():
        d = Desktop()
        try:
            fn(d)
        finally:
            d.close()
    return run


@with_desktop
def defaults(d):
    """No settings file: simplified Chinese, item unchecked, default port;
    exit saves the three keys. Without a private network the test writes a
    free port first (the default port may be in use on the machine)."""
    d.start_x()
    d.start_tray()
    if d.isolated:
        port = 6089
    else:
        port = free_port()
        write_settings(d.home, WebSocketPort=port)
    # Started by full path from another folder: the icon file and libraries
    # are found only because the program moves into its own folder.
    prog = start_ready(d, port, exe=os.path.join(d.bindir, desk.PROGRAM), cwd=d.tmp)
    tooltip = prog.wait_trace(r"^tray icon shown: (.*)$", 1)[1].group(1)
    check(tooltip == TEXTS[2][0], "tooltip %r" % tooltip)
    colours = wait_until(lambda: d.icon_colours() > 8 and d.icon_colours(), 30, "the icon drawn in the tray")
    desk.log("tray icon shows %d colours" % colours)

    items = d.open_menu(prog)
    expect_menu(items, 2, checked=False)
    d.select_item(prog, TEXTS[2][1])
    d.screenshot("tray-menu.png")
    d.pick(prog, TEXTS[2][2])  # one further down: the exit item
    rc = prog.wait_exit(60)
    check(rc == 0, "exit code %s" % rc)
    check(not d.port_open(port), "port %d still open after exit" % port)
    s = read_settings(d.home)
    check(s is not None, "no settings file written")
    check(s == {"AutoLaunch": "false", "WebSocketPort": str(port), "UILangID": "2"}, "settings %r" % s)


@with_desktop
def languages(d):
    """UILangID 1 and 3 give the other two languages; a non-numeric value
    reads as 0, which is English."""
    d.start_x()
    d.start_tray()
    for stored, lang, saved in (("1", 1, "1"), ("3", 3, "3"), ("abc", 3, "0")):
        port = free_port()
        write_settings(d.home, WebSocketPort=port, UILangID=stored)
        prog = start_ready(d, port)
        expect_menu(d.open_menu(prog), lang, checked=False)
        d.screenshot("tray-menu-lang-%s.png" % stored)
        d.pick(prog, TEXTS[lang][2], key="Up")
        rc = prog.wait_exit(60)
        check(rc == 0, "exit code %s" % rc)
        s = read_settings(d.home)
        check(s["UILangID"] == saved, "UILangID %s saved as %r" % (stored, s["UILangID"]))


@with_desktop
def autostart(d):
    """The auto-launch item copies the installed entry into the user's
    autostart folder and deletes it again; the check mark follows the file."""
    d.start_x()
    d.start_tray()
    apps = os.path.join(d.tmp, "applications")
    os.makedirs(apps)
    for product, name in ENTRY_FILES.items():
        with open(os.path.join(apps, name), "w") as f:
            f.write("[Desktop Entry]\nName=installed %s\n" % product)
    autostart_dir = os.path.join(d.home, ".config", "autostart")
    user_entry = os.path.join(autostart_dir, ENTRY_FILES["ubuntu"])
    env = dict(VTINKHOST_TEST_PRODUCT="ubuntu", VTINKHOST_TEST_APPS_DIR=apps + "/", VTINKHOST_TEST_REPORT=1)

    def run(settings, expect_checked, action=None, lang=3):
        port = free_port()
        write_settings(d.home, WebSocketPort=port, UILangID=lang, **settings)
        prog = start_ready(d, None, **env)
        expect_menu(d.open_menu(prog), lang, expect_checked)
        d.xdo("key", "Escape")
        if action is not None:
            toggle_auto_launch(d, prog, lang, action)
        exit_from_menu(d, prog, lang)
        return read_settings(d.home)

    # Stored true but no file: unchecked, and the next write stores false.
    s = run({"AutoLaunch": "true"}, expect_checked=False)
    check(s["AutoLaunch"] == "false", "AutoLaunch %r without the file" % s["AutoLaunch"])
    check(not os.path.exists(autostart_dir), "autostart folder created without the item")

    # Setting the item creates the folder and copies the installed entry.
    s = run({"AutoLaunch": "false"}, expect_checked=False, action=True)
    check(os.path.isfile(user_entry), "no copy at %s" % user_entry)
    with open(user_entry) as f:
        check(f.read() == "[Desktop Entry]\nName=installed ubuntu\n", "copy differs from the installed entry")
    check(s["AutoLaunch"] == "true", "AutoLaunch %r after setting" % s["AutoLaunch"])

    # Next start: checked; clearing deletes the copy and stores false.
    s = run({"AutoLaunch": "true"}, expect_checked=True, action=False)
    check(not os.path.exists(user_entry), "copy not deleted")
    check(s["AutoLaunch"] == "false", "AutoLaunch %r after clearing" % s["AutoLaunch"])

    # A file already there with the key absent: unchecked; setting leaves
    # the existing file alone.
    with open(user_entry, "w") as f:
        f.write("user's own\n")
    s = run({}, expect_checked=False, action=True)
    with open(user_entry) as f:
        check(f.read() == "user's own\n", "existing autostart file replaced")
    check(s["AutoLaunch"] == "true", "AutoLaunch %r" % s["AutoLaunch"])
    os.remove(user_entry)

    # Every other distribution uses its own file name.
    for product in ("uos", "kylin", "neokylin", "nfsdesktop"):
        env["VTINKHOST_TEST_PRODUCT"] = product
        run({}, expect_checked=False, action=True, lang=2)
        got = sorted(os.listdir(autostart_dir))
        check(got == [ENTRY_FILES[product]], "%s: autostart folder holds %r" % (product, got))
        os.remove(os.path.join(autostart_dir, ENTRY_FILES[product]))

    # An unknown distribution has no file to manage: setting copies nothing
    # and the next start shows the item cleared.
    env["VTINKHOST_TEST_PRODUCT"] = "debian"
    s = run({}, expect_checked=False, action=True)
    check(os.listdir(autostart_dir) == [], "file copied on an unknown distribution")
    check(s["AutoLaunch"] == "true", "AutoLaunch %r" % s["AutoLaunch"])
    run({"AutoLaunch": "true"}, expect_checked=False)


def about_reply(d, port, timeout):
    """One client asks GetAboutInfo; returns its reply line."""
    clients = Clients(d, port, [['{"Func":"GetAboutInfo"}']])
    clients.expect(["connected"], timeout)
    reply = clients.expect(["text "], timeout)[0]
    check('"Func":"GetAboutInfo"' in reply, "GetAboutInfo: %r" % reply)
    return clients


def program_pid(prog):
    """The program's own process below the harness's process group leader
    (desk_padhost and nsenter may stand between)."""
    def children():
        out = {}
        for e in os.listdir("/proc"):
            if e.isdigit():
                try:
                    with open("/proc/%s/stat" % e) as f:
                        st = f.read()
                except OSError:
                    continue
                rest = st[st.rindex(")") + 2:].split()
                out.setdefault(int(rest[1]), []).append((int(e), st[st.index("(") + 1:st.rindex(")")]))
        return out
    found = []

    def look():
        kids, todo = children(), [prog.proc.pid]
        while todo:
            for pid, comm in kids.get(todo.pop(), []):
                if comm == desk.PROGRAM:
                    found.append(pid)
                    return True
                todo.append(pid)
        return False
    wait_until(look, 30, "the program's process")
    return found[0]


def sigterm(prog):
    os.kill(program_pid(prog), signal.SIGTERM)
    rc = prog.wait_exit(60)
    check(rc == 0, "exit code %s after SIGTERM; output:\n%s" % (rc, prog.output()))


@with_desktop
def no_tray(d):
    """No tray host at all: the program serves within seconds of its start,
    keeps probing after its first minute of probes instead of quitting, and
    stops on SIGTERM with its settings written."""
    d.start_x()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    prog = d.start_program()
    wait_until(lambda: d.port_open(port), 10, "the service listening on %d without a tray" % port)
    first = about_reply(d, port, 10)
    # Nobody to ask: a site the policy would ask about is refused at once,
    # long before a question's 60 s would end.
    page = d.ws_client(port, '{"Func":"GetAboutInfo"}', origin="https://sign.example.com")
    out, _ = page.communicate(timeout=20)
    lines = out.splitlines()
    check(page.returncode == 0, "page client failed")
    check(lines[-1:] == ["closed by close frame 4003 origin not allowed"], "page without a tray: %r" % lines)
    prog.wait_trace(r"^tray probe 60 0$", 120)
    # Still looking after the first minute: the next probe is traced only
    # on a change, so the program must simply still be there and serving.
    check(prog.proc.poll() is None, "ended after the probes, code %s" % prog.proc.poll())
    second = about_reply(d, port, 30)
    probes = [l for _, l in prog.traces() if l.startswith("tray probe")]
    check(len(probes) == 60 and all(l.endswith(" 0") for l in probes), "probes: %r" % probes)
    check(not any(l.startswith("tray icon shown") for _, l in prog.traces()), "icon shown without a tray")
    check(read_settings(d.home) == {"WebSocketPort": str(port)}, "settings touched: %r" % read_settings(d.home))
    sigterm(prog)
    for clients in (first, second):
        clients.expect(["closed by close frame"])
        clients.finish()
    check(any(l == "service stopped" for _, l in prog.traces()), "service not stopped")
    got = read_settings(d.home)
    check(got.get("WebSocketPort") == str(port) and "AutoLaunch" in got and "UILangID" in got,
          "settings after SIGTERM: %r" % got)


@with_desktop
def late_tray(d):
    """The service listens before any tray exists; a tray host that appears
    later gets the icon and a working menu, and so does one that comes back
    after the tray went away."""
    d.start_x()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    prog = d.start_program()
    prog.wait_trace(r"^tray probe 4 0$", 30)
    wait_until(lambda: d.port_open(port), 30, "the service listening before the tray exists")
    before = len(prog.traces())
    d.start_tray()
    i_ok, _ = prog.wait_trace(r"^tray probe (\d+) 1$", 30, before)
    i_icon, _ = prog.wait_trace(r"^tray icon shown: ", 30, before)
    check(i_ok < i_icon, "order: probe %d, icon %d" % (i_ok, i_icon))
    traces = prog.traces()
    i_svc = [i for i, (_, l) in enumerate(traces) if l == "service started on port %d" % port]
    check(len(i_svc) == 1 and i_svc[0] < before, "service started at %r, tray at %d" % (i_svc, before))
    wait_until(d.tray_icon_geometry, 30, "icon embedded in the tray")
    # The tray goes away and comes back: the icon docks again.
    before = len(prog.traces())
    d.stop_tray()
    prog.wait_trace(r"^tray gone$", 30, before)
    check(d.port_open(port), "not listening once the tray went away")
    d.start_tray()
    prog.wait_trace(r"^tray icon shown: ", 30, before)
    wait_until(d.tray_icon_geometry, 30, "icon embedded in the new tray")
    exit_from_menu(d, prog, 2)


@with_desktop
def sigterm_open_pad(d):
    """SIGTERM without a tray while a client holds an emulated Q210 open:
    the connection is closed, the pad's screen switched off (the SDK's
    shutdown, the pad released), the settings written, exit code 0."""
    if not os.access(os.path.join(d.bindir, "desk_padhost"), os.X_OK):
        print("desk_padhost not built")
        raise SystemExit(desk.SKIP)
    d.start_x()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    prog = d.start_program(pad_model="q210")
    wait_until(lambda: d.port_open(port), 30, "the service listening on %d" % port)
    opener = '{"Func":"InitialDevice","id":"2","width":"400","height":"300"}'
    clients = Clients(d, port, [[opener]])
    clients.expect(["connected"])
    reply = clients.expect(["text "])[0]
    check(reply == 'text {"Func":"InitialDevice","Result":"1"}', "InitialDevice: %r" % reply)
    os.kill(program_pid(prog), signal.SIGTERM)
    clients.expect(["closed by close frame"])
    clients.finish()
    _, m = prog.wait_trace(r"^padhost exit (\d+) screen-on (\d+) screen-off (\d+)$", 60)
    check(m.group(1) == "0", "exit code %s" % m.group(1))
    check(m.group(3) == "1", "screen switched off %s times at SIGTERM" % m.group(3))
    check(prog.wait_exit(30) == 0, "desk_padhost exit code")
    got = read_settings(d.home)
    check("AutoLaunch" in got and "UILangID" in got, "settings after SIGTERM: %r" % got)


@with_desktop
def single_instance(d):
    """A second start while one runs exits 1 at once, before any tray probe
    or service; the first keeps running and exits normally."""
    d.start_x()
    d.start_tray()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    first = start_ready(d, port)
    second = d.start_program()
    rc = second.wait_exit(60)
    check(rc == 1, "second instance exit code %s" % rc)
    check(second.traces() == [], "second instance went on: %r" % second.traces())
    check(first.proc.poll() is None, "first instance ended")
    check(d.port_open(port), "first instance stopped listening")
    exit_from_menu(d, first, 2)
    # With the first gone, a new start runs again.
    third = start_ready(d, port)
    exit_from_menu(d, third, 2)


class Clients:
    """WebSocket clients, each with its own queue of output lines."""

    def __init__(self, d, port, messages):
        self.queues = []
        self.procs = []
        for msgs in messages:
            c = d.ws_client(port, *msgs)
            q = queue.Queue()
            self.procs.append(c)
            self.queues.append(q)
            threading.Thread(target=lambda c=c, q=q: [q.put(l.strip()) for l in c.stdout], daemon=True).start()

    def expect(self, want, timeout=30):
        """Client n's next line must start with want[n]; returns the lines."""
        deadline = time.monotonic() + timeout
        got = []
        for n, prefix in enumerate(want):
            try:
                line = self.queues[n].get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise desk.TestFailure("client %d gave no %r" % (n, prefix))
            check(line.startswith(prefix), "client %d: %r, expected %r" % (n, line, prefix))
            got.append(line)
        return got

    def finish(self):
        for c in self.procs:
            check(c.wait(30) == 0, "client failed")


@with_desktop
def exit_with_clients(d):
    """Exit from the menu with two clients connected closes both connections
    (a close frame each) and ends with code 0."""
    d.start_x()
    d.start_tray()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    prog = start_ready(d, port)
    clients = Clients(d, port, [[], []])
    clients.expect(["connected", "connected"])
    exit_from_menu(d, prog, 2)
    clients.expect(["closed by close frame"] * 2)
    clients.finish()


@with_desktop
def exit_with_open_pad(d):
    """As above with an emulated Q210 opened by one client: the exit closes
    both connections, switches the pad's screen off (the SDK's shutdown) and
    ends with code 0."""
    if not os.access(os.path.join(d.bindir, "desk_padhost"), os.X_OK):
        print("desk_padhost not built")
        raise SystemExit(desk.SKIP)
    d.start_x()
    d.start_tray()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    prog = d.start_program(pad_model="q210")
    prog.wait_trace(r"^tray icon shown: ", 60)
    wait_until(lambda: d.port_open(port), 30, "the service listening on %d" % port)
    opener = '{"Func":"InitialDevice","id":"2","width":"400","height":"300"}'
    clients = Clients(d, port, [[opener], []])
    clients.expect(["connected", "connected"])
    reply = clients.expect(["text "])[0]
    check(reply == 'text {"Func":"InitialDevice","Result":"1"}', "InitialDevice: %r" % reply)
    exit_from_menu(d, prog, 2)
    clients.expect(["closed by close frame"] * 2)
    clients.finish()
    _, m = prog.wait_trace(r"^padhost exit (\d+) screen-on (\d+) screen-off (\d+)$", 30)
    check(m.group(1) == "0", "exit code %s" % m.group(1))
    check(m.group(2) == "1", "screen switched on %s times" % m.group(2))
    check(m.group(3) == "1", "screen switched off %s times at exit" % m.group(3))


if __name__ == "__main__":
    desk.run_cases({
        "defaults": defaults,
        "languages": languages,
        "autostart": autostart,
        "no_tray": no_tray,
        "late_tray": late_tray,
        "sigterm_open_pad": sigterm_open_pad,
        "single_instance": single_instance,
        "exit_with_clients": exit_with_clients,
        "exit_with_open_pad": exit_with_open_pad,
    })
