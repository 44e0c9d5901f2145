"""Harness for the desktop tests: a private X server (Xvfb), a real tray host
(trayer), the real program, and helpers to drive its tray menu with xdotool.

Every wait has a deadline; nothing sleeps for a fixed time to let things
settle. When running as root, the program runs in its own PID, mount and
network namespace, so that its pgrep sees no unrelated process and its port
is private to the test (the default port can then be used safely)."""

import base64
import os
import queue
import random
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

SKIP = 77
PROGRAM = "vtink" + "host"  # spelt apart: see ws_client_main
TRACE = "vt-test: "
# Qt's warnings for GUI objects, timers or notifiers used from the wrong thread
# (undefined behaviour, and printed into the user's terminal).
QT_THREAD_WARNING = re.compile(r"in a different thread|from another thread|outside the GUI thread")


class TestFailure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise TestFailure(what)


def log(msg):
    print("[desk %.3f] %s" % (time.monotonic(), msg), flush=True)


def require_tools(*tools):
    missing = [t for t in tools if shutil.which(t) is None]
    if missing:
        print("missing tools: %s" % " ".join(missing))
        sys.exit(SKIP)


def wait_until(pred, timeout, what, interval=0.05):
    """Poll pred() until it returns a true value; fail after timeout s."""
    deadline = time.monotonic() + timeout
    while True:
        value = pred()
        if value:
            return value
        if time.monotonic() > deadline:
            raise TestFailure("timed out after %.0f s waiting for %s" % (timeout, what))
        time.sleep(interval)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def read_settings(home, want="Settings"):
    """The program's settings file as {key: value} of one group."""
    path = os.path.join(home, ".config", PROGRAM, PROGRAM + ".conf")
    if not os.path.exists(path):
        return None
    values, group = {}, None
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                group = line[1:-1]
            elif "=" in line and group == want:
                k, v = line.split("=", 1)
                values[k.strip()] = v.strip()
    return values


def write_settings(home, access=None, **values):
    """Group Settings from the keywords; group Access from the dict access."""
    d = os.path.join(home, ".config", PROGRAM)
    os.makedirs(d, exist_ok=True)
    with open(os.path.join(d, PROGRAM + ".conf"), "w", encoding="utf-8") as f:
        f.write("[Settings]\n")
        for k, v in values.items():
            f.write("%s=%s\n" % (k, v))
        if access:
            f.write("[Access]\n")
            for k, v in access.items():
                f.write("%s=%s\n" % (k, v))


class Program:
    """One run of the program; collects its stderr trace lines."""

    def __init__(self, argv, env, cwd):
        self.lines = []  # (monotonic time, text)
        self.cond = threading.Condition()
        self.proc = subprocess.Popen(argv, env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     start_new_session=True)
        self.started = time.monotonic()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.proc.stderr:
            text = raw.decode("utf-8", "replace").rstrip("\n")
            with self.cond:
                self.lines.append((time.monotonic(), text))
                self.cond.notify_all()
        with self.cond:
            self.cond.notify_all()

    def traces(self):
        with self.cond:
            return [(t, l[len(TRACE):]) for t, l in self.lines if l.startswith(TRACE)]

    def wait_trace(self, pattern, timeout, start=0):
        """Wait for a trace line (index >= start) matching pattern; returns
        (index, match)."""
        rx = re.compile(pattern)
        deadline = time.monotonic() + timeout
        with self.cond:
            while True:
                tr = [(t, l[len(TRACE):]) for t, l in self.lines if l.startswith(TRACE)]
                for i in range(start, len(tr)):
                    m = rx.search(tr[i][1])
                    if m:
                        return i, m
                left = deadline - time.monotonic()
                if left <= 0 or (self.proc.poll() is not None and not self.reader.is_alive()):
                    raise TestFailure("no trace /%s/ within %.0f s; output:\n%s"
                                      % (pattern, timeout, self.output()))
                self.cond.wait(min(left, 0.2))

    def output(self):
        with self.cond:
            return "\n".join(l for _, l in self.lines)

    def wait_exit(self, timeout):
        try:
            rc = self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise TestFailure("program still running after %.0f s; output:\n%s" % (timeout, self.output()))
        self.reader.join(5)
        self.check_thread_warnings()
        return rc

    def check_thread_warnings(self):
        with self.cond:
            bad = [l for _, l in self.lines if QT_THREAD_WARNING.search(l)]
        check(not bad, "Qt thread warnings on stderr: %r" % bad)

    def kill(self):
        if self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.proc.wait(10)


class Desktop:
    def __init__(self, isolate=True, bindir=None, padhost_dir=None):
        require_tools("Xvfb", "trayer", "xdotool", "xwininfo", "pgrep")
        self.bindir = bindir or os.getcwd()
        self.padhost_dir = padhost_dir or self.bindir
        check(os.access(os.path.join(self.bindir, PROGRAM), os.X_OK),
              "run from the folder holding the program (build/bin)")
        self.tmp = tempfile.mkdtemp(prefix="vtdesk-")
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        self.artifacts = os.environ.get("VT_ARTIFACT_DIR", os.path.join(self.bindir, "..", "artifacts"))
        self.procs = []
        self.programs = []
        self.xvfb = None
        self.trayer = None
        self.display = None
        self.ns_pid = None
        if isolate and os.geteuid() == 0 and shutil.which("unshare") and shutil.which("nsenter"):
            self._start_namespace()

    # -- namespace -----------------------------------------------------------
    def _start_namespace(self):
        holder = subprocess.Popen(
            ["unshare", "--pid", "--fork", "--mount-proc", "--net", "--kill-child",
             "sh", "-c", "ip link set lo up && exec sleep 100000"],
            stdin=subprocess.DEVNULL, start_new_session=True)
        self.procs.append(holder)

        def child():
            try:
                with open("/proc/%d/task/%d/children" % (holder.pid, holder.pid)) as f:
                    kids = f.read().split()
            except OSError:
                return None
            if not kids:
                return None
            try:
                with open("/proc/%s/cmdline" % kids[0], "rb") as f:
                    ok = f.read().startswith(b"sleep")
            except OSError:
                return None
            return kids[0] if ok else None

        self.ns_pid = wait_until(child, 20, "the test namespace")
        log("namespace holder pid %s" % self.ns_pid)

    @property
    def isolated(self):
        return self.ns_pid is not None

    def ns_prefix(self, net_only=False, cwd=None):
        if not self.isolated:
            return []
        # Entering the mount namespace resets the working directory: keep ours.
        extra = [] if net_only else ["-p", "-m", "--wd=" + (cwd or os.getcwd())]
        return ["nsenter", "-t", str(self.ns_pid), "-n"] + extra + ["--"]

    # -- X server and tray host ------------------------------------------
    def start_x(self):
        """Xvfb on a free display in a high range (away from displays other
        harnesses pick); it reports its number on a pipe once it accepts
        clients."""
        rng = random.Random(os.getpid() ^ int(time.time()))
        for attempt in range(20):
            n = rng.randrange(200, 900)
            if os.path.exists("/tmp/.X%d-lock" % n) or os.path.exists("/tmp/.X11-unix/X%d" % n):
                continue
            r, w = os.pipe()
            xvfb = subprocess.Popen(["Xvfb", ":%d" % n, "-displayfd", str(w), "-screen", "0", "800x600x24",
                                     "-nolisten", "tcp"],
                                    pass_fds=(w,), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=open(os.path.join(self.tmp, "xvfb.log"), "w"), start_new_session=True)
            os.close(w)
            got = b""
            deadline = time.monotonic() + 30
            while not got.endswith(b"\n") and time.monotonic() < deadline:
                if not select.select([r], [], [], max(0.0, deadline - time.monotonic()))[0]:
                    break
                chunk = os.read(r, 16)  # EOF when Xvfb gives up (display taken)
                if not chunk:
                    break
                got += chunk
            os.close(r)
            if got.endswith(b"\n") and xvfb.poll() is None:
                name = ":" + got.decode().strip()
                # a client must get through before the display counts as ours
                probe = subprocess.run(["xwininfo", "-root"], env=dict(os.environ, DISPLAY=name),
                                       capture_output=True, text=True, timeout=30)
                if probe.returncode == 0 and xvfb.poll() is None:
                    self.xvfb = xvfb
                    self.procs.append(xvfb)
                    self.display = name
                    log("Xvfb on %s" % self.display)
                    return
                with open(os.path.join(self.tmp, "xvfb.log"), errors="replace") as f:
                    log("Xvfb on %s refused a client (%s; Xvfb %s): %s"
                        % (name, probe.stderr.strip(), "running" if xvfb.poll() is None else
                           "ended with %s" % xvfb.poll(), f.read().strip()))
            if xvfb.poll() is None:
                xvfb.kill()
            xvfb.wait(10)
        raise TestFailure("no display for Xvfb")

    def env(self, **extra):
        env = dict(os.environ)
        for k in ("DBUS_SESSION_BUS_ADDRESS", "XDG_CONFIG_HOME", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                  "WAYLAND_DISPLAY", "LD_PRELOAD"):
            env.pop(k, None)
        env.update(DISPLAY=self.display, HOME=self.home, QT_QPA_PLATFORM="xcb",
                   XDG_RUNTIME_DIR=self.tmp, VTINKHOST_TEST_REPORT="1")
        env.update({k: str(v) for k, v in extra.items()})
        return env

    def start_tray(self):
        self.trayer = subprocess.Popen(
            ["trayer", "--edge", "top", "--align", "left", "--widthtype", "pixel", "--width", "120",
             "--heighttype", "pixel", "--height", "32", "--SetDockType", "false"],
            env=self.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=open(os.path.join(self.tmp, "trayer.log"), "w"), start_new_session=True)
        self.procs.append(self.trayer)

        def panel():
            if self.trayer.poll() is not None:
                with open(os.path.join(self.tmp, "trayer.log"), errors="replace") as f:
                    why = f.read().strip()
                with open(os.path.join(self.tmp, "xvfb.log"), errors="replace") as f:
                    raise TestFailure("trayer ended with code %s: %s (Xvfb %s; its log: %s)"
                                      % (self.trayer.poll(), why, "running" if self.xvfb.poll() is None else
                                         "ended with %s" % self.xvfb.poll(), f.read().strip()))
            return self._panel_line() is not None
        wait_until(panel, 60, "the trayer panel window", interval=0.2)
        return time.monotonic()

    def _tree(self):
        res = subprocess.run(["xwininfo", "-root", "-tree"], env=self.env(), capture_output=True, text=True)
        return res.stdout.splitlines()

    def _panel_line(self):
        for i, line in enumerate(self._tree()):
            if '("panel" "trayer")' in line:
                return i
        return None

    def tray_icon_geometry(self):
        """(x, y, w, h) of our icon window when it is embedded in trayer's
        panel, else None."""
        tree = self._tree()
        start = None
        for i, line in enumerate(tree):
            if '("panel" "trayer")' in line:
                start, indent = i, len(line) - len(line.lstrip())
                break
        if start is None:
            return None
        for line in tree[start + 1:]:
            if line.strip() and len(line) - len(line.lstrip()) <= indent:
                break
            m = re.search(r'"%s": \("%s" "%s"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+)'
                          % (PROGRAM, PROGRAM, PROGRAM), line)
            if m:
                w, h, x, y = map(int, m.groups())
                if w > 1 and h > 1:
                    return x, y, w, h
        return None

    # -- the program -----------------------------------------------------
    def start_program(self, exe=None, cwd=None, pad_model=None, **env):
        """Start the program (by default "./<name>" in the program's folder);
        with pad_model, under desk_padhost with that emulated pad plugged."""
        cwd = cwd or self.bindir
        exe = exe or "./" + PROGRAM
        argv = self.ns_prefix(cwd=cwd) + [exe]
        if pad_model:
            env["VT_PADHOST_EXE"] = exe
            argv = [os.path.join(self.padhost_dir, "desk_padhost"), pad_model, "--"] + argv[:-1] + ["@PROGRAM@"]
        prog = Program(argv, self.env(**env), cwd)
        self.programs.append(prog)
        return prog

    def port_open(self, port):
        code = ("import socket,sys\ns=socket.socket()\ns.settimeout(2)\n"
                "sys.exit(0 if s.connect_ex(('127.0.0.1',%d))==0 else 1)" % port)
        return subprocess.run(self.ns_prefix(net_only=True) + [sys.executable, "-c", code]).returncode == 0

    def ws_client(self, port, *messages, origin=None, host="127.0.0.1", prefix=None):
        """A WebSocket client in the program's network (or the one prefix
        enters), with the Origin header origin; see ws_client_main."""
        env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.abspath(__file__)), VT_WS_HOST=host)
        if origin:
            env["VT_WS_ORIGIN"] = origin
        prefix = self.ns_prefix(net_only=True) if prefix is None else prefix
        p = subprocess.Popen(prefix + [sys.executable, "-c", "import desk; desk.ws_client_main()",
                                       str(port)] + list(messages),
                             env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, text=True)
        self.procs.append(p)
        return p

    def system_settings(self, access):
        """Writes the system-wide file (/etc/xdg/<program>/<program>.conf)
        with the group Access for the program's namespace only: a scratch
        folder is bound over /etc/xdg there. Needs the namespace (root)."""
        if not self.isolated:
            print("the system-wide file needs the test's own mount namespace (root, unshare, nsenter)")
            sys.exit(SKIP)
        xdg = os.path.join(self.tmp, "etc-xdg")
        os.makedirs(os.path.join(xdg, PROGRAM), exist_ok=True)
        with open(os.path.join(xdg, PROGRAM, PROGRAM + ".conf"), "w", encoding="utf-8") as f:
            f.write("[Access]\n" + "".join("%s=%s\n" % kv for kv in access.items()))
        if not getattr(self, "_xdg_bound", False):
            subprocess.run(["nsenter", "-t", str(self.ns_pid), "-m", "--", "mount", "--bind", xdg, "/etc/xdg"], check=True)
            self._xdg_bound = True

    def click(self, prog, x, y, pattern, timeout=30):
        """Clicks at (x, y) until the program reports a trace matching
        pattern (a click before the window takes input is lost)."""
        start = len(prog.traces())
        deadline = time.monotonic() + timeout
        while True:
            self.xdo("mousemove", str(x), str(y), "click", "1", "mousemove", "400", "590")
            try:
                return prog.wait_trace(pattern, 5, start)
            except TestFailure:
                if time.monotonic() > deadline:
                    raise

    # -- tray menu -------------------------------------------------------
    def xdo(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env(), check=True)

    def open_menu(self, prog, timeout=60):
        """Right-click the tray icon until the menu reports itself shown;
        returns the menu's items as the program lists them."""
        start = len(prog.traces())
        deadline = time.monotonic() + timeout
        while True:
            x, y, w, h = wait_until(self.tray_icon_geometry, timeout, "the tray icon inside trayer")
            # Click, then move the pointer away so that it cannot hover an item.
            self.xdo("mousemove", str(x + w // 2), str(y + h // 2), "click", "3", "mousemove", "400", "590")
            try:
                i, m = prog.wait_trace(r"^menu shown: (.*)$", 10, start)
            except TestFailure:
                if time.monotonic() > deadline:
                    raise
                continue
            # Keys reach the menu once it is mapped (and has grabbed the keyboard).
            # On a slow machine a repeated click may have closed it again: then
            # click once more.
            def mapped_or_hidden():
                if self._menu_mapped():
                    return "mapped"
                return "hidden" if any(l == "menu hidden" for _, l in prog.traces()[i + 1:]) else None
            if wait_until(mapped_or_hidden, max(1.0, deadline - time.monotonic()),
                          "the menu window mapped") == "mapped":
                return [s.strip() for s in m.group(1).split("|")]
            if time.monotonic() > deadline:
                raise TestFailure("the menu closed each time it was shown")
            start = len(prog.traces())

    def _menu_mapped(self):
        res = subprocess.run(["xdotool", "search", "--onlyvisible", "--classname", "^%s$" % PROGRAM],
                             env=self.env(), capture_output=True, text=True)
        for wid in res.stdout.split():
            geo = subprocess.run(["xdotool", "getwindowgeometry", "--shell", wid], env=self.env(),
                                 capture_output=True, text=True).stdout
            w = re.search(r"^WIDTH=(\d+)", geo, re.M)
            h = re.search(r"^HEIGHT=(\d+)", geo, re.M)
            if w and h and int(w.group(1)) > 60 and int(h.group(1)) > 40:
                return True
        return False

    def select_item(self, prog, text, key="Down", timeout=60):
        """Move the menu's keyboard selection until the program reports the
        item hovered (keys sent before the menu grabs the keyboard are lost,
        so keep pressing), then return the index of the hover trace."""
        deadline = time.monotonic() + timeout
        start = len(prog.traces())
        while True:
            self.xdo("key", key)
            try:
                i, m = prog.wait_trace(r"^menu hovered: (.*)$", 5, start)
            except TestFailure:
                check(time.monotonic() < deadline, "menu never reached item %r" % text)
                continue
            start = i + 1
            if m.group(1) == text:
                return i
            check(time.monotonic() < deadline, "menu never reached item %r" % text)

    def pick(self, prog, text, key="Down"):
        self.select_item(prog, text, key)
        self.xdo("key", "Return")

    def icon_colours(self):
        """Distinct colours in the tray icon's window: a missing icon file
        leaves trayer's plain background there."""
        x, y, w, h = wait_until(self.tray_icon_geometry, 30, "the tray icon inside trayer")
        shot = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "png:-"],
                              env=self.env(), capture_output=True, check=True).stdout
        res = subprocess.run(["convert", "png:-", "-format", "%k", "info:"], input=shot,
                             capture_output=True, check=True)
        return int(res.stdout.decode().strip())

    def screenshot(self, name):
        os.makedirs(self.artifacts, exist_ok=True)
        path = os.path.join(self.artifacts, name)
        if shutil.which("import"):
            subprocess.run(["import", "-window", "root", path], env=self.env(), check=True)
        else:
            xwd = subprocess.run(["xwd", "-root", "-silent"], env=self.env(), capture_output=True, check=True)
            subprocess.run(["convert", "xwd:-", path], input=xwd.stdout, check=True)
        log("screenshot %s" % os.path.abspath(path))
        return path

    # -- teardown --------------------------------------------------------
    def stop_tray(self):
        if self.trayer and self.trayer.poll() is None:
            self.trayer.terminate()
            self.trayer.wait(10)

    def close(self):
        for prog in self.programs:
            prog.kill()
        for p in reversed(self.procs):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGKILL)
                except (ProcessLookupError, PermissionError):
                    p.kill()
                p.wait(10)
        shutil.rmtree(self.tmp, ignore_errors=True)


def run_cases(cases):
    """Runs the case named by argv[1] or VT_DESK_CASE; exit 0 pass, 1 fail."""
    name = sys.argv[1] if len(sys.argv) > 1 else os.environ.get("VT_DESK_CASE", "")
    if name not in cases:
        print("unknown case %r; cases: %s" % (name, ", ".join(sorted(cases))))
        sys.exit(2)
    try:
        cases[name]()
    except TestFailure as e:
        print("FAIL: %s" % e)
        sys.exit(1)
    print("PASS: %s" % name)
    sys.exit(0)


class WsSession:
    """A minimal WebSocket client connection: text frames out (masked),
    server frames in. Connecting raises OSError when refused; handshake()
    is False when the server does not switch protocols."""

    def __init__(self, port, host="127.0.0.1", origin=None, timeout=30):
        self.sock = socket.create_connection((host, port), timeout=timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall(("GET / HTTP/1.1\r\nHost: %s:%d\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                           "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\n%s\r\n"
                           % (host, port, key, "Origin: %s\r\n" % origin if origin else "")).encode())
        self.rest = b""

    def handshake(self):
        buf = b""
        while b"\r\n\r\n" not in buf:
            chunk = self.sock.recv(4096)
            if not chunk:
                return False
            buf += chunk
        if b" 101 " not in buf.split(b"\r\n", 1)[0]:
            return False
        self.rest = buf.split(b"\r\n\r\n", 1)[1]
        return True

    def send(self, text):
        payload, mask = text.encode(), os.urandom(4)
        n = len(payload)
        head = bytes([0x81]) + (bytes([0x80 | n]) if n < 126 else bytes([0x80 | 126]) + n.to_bytes(2, "big"))
        self.sock.sendall(head + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def frame(self, timeout=None):
        """(opcode, payload) of the next server frame; (None, b"") when the
        connection ended without a close frame. socket.timeout after timeout."""
        self.sock.settimeout(timeout)
        while True:
            rest = self.rest
            if len(rest) >= 2:
                n, head = rest[1] & 0x7F, 2
                if n == 126:
                    n, head = (int.from_bytes(rest[2:4], "big") if len(rest) >= 4 else -1), 4
                elif n == 127:
                    n, head = (int.from_bytes(rest[2:10], "big") if len(rest) >= 10 else -1), 10
                if n >= 0 and len(rest) >= head + n:
                    self.rest = rest[head + n:]
                    return rest[0] & 0x0F, rest[head:head + n]
            chunk = self.sock.recv(65536)
            if not chunk:
                return None, b""
            self.rest += chunk

    def close(self):
        self.sock.close()


def ws_client_main():
    """Minimal WebSocket client: connects, prints "connected", sends its
    further arguments as text frames, prints each text frame it gets as
    "text <payload>", and finally tells how the server ended the connection
    (with or without a close frame, and the frame's code and reason).
    $VT_WS_HOST is the address to connect to (default 127.0.0.1), and
    $VT_WS_ORIGIN the Origin header to send (none unless set); a refused
    TCP connection prints "no connection".
    Started with the harness on PYTHONPATH, so that no command line here
    holds the program's name (its single-instance check would count it)."""
    port = int(sys.argv[1])
    try:
        ws = WsSession(port, os.environ.get("VT_WS_HOST", "127.0.0.1"), os.environ.get("VT_WS_ORIGIN"))
    except OSError as e:
        print("no connection: %s" % e, flush=True)
        return
    if not ws.handshake():
        print("refused", flush=True)
        return
    print("connected", flush=True)
    for text in sys.argv[2:]:
        ws.send(text)
    while True:
        op, body = ws.frame()
        if op is None:
            print("closed without close frame", flush=True)
            return
        if op == 0x8:
            code = int.from_bytes(body[:2], "big") if len(body) >= 2 else ""
            print(("closed by close frame %s %s" % (code, body[2:].decode("utf-8", "replace"))).rstrip(), flush=True)
            return
        if op == 0x1:
            print("text " + body.decode("utf-8", "replace"), flush=True)
