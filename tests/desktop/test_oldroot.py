"""The Debian package on an older system: a fresh Debian 11 root (made here,
with its own package lists), the package installed there with apt-get, the
installed program signing a whole signature under the emulated pad in that
root, and the package purged again leaving the root's file list as it was
(but for dependencies that others there recommend, which stay).
The package is $VT_DEB_PACKAGE (CI passes the amd64 package built for the
floor). The emulator comes from scripts/floor-emulator.sh (cached in the
build folder; its build root is $VT_FLOOR_BUILD_ROOT when set). Xvfb and
trayer run on the host: the root shares its network, so the program reaches
the X server's abstract socket, and the test the program's port, over the
loopback."""

import base64
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import time
import urllib.request

import desk
import test_packaging as pk
from desk import SKIP, check, log

WORK = os.path.join(pk.BUILD, "floor")
SCRIPTS = os.path.join(pk.SOURCE, "scripts")
EMULATOR_DIR = "/usr/local/lib/vtinkpad"
TIMES = []


def timed(what, fn, *args):
    t = time.monotonic()
    result = fn(*args)
    TIMES.append((what, time.monotonic() - t))
    log("%s: %.1f s" % (what, TIMES[-1][1]))
    return result


def script(*args, capture=False):
    """A floor script, or floor_run ROOT CMD... from floor-lib.sh."""
    if args[0] == "floor_run":
        argv = ["bash", "-c", '. "$0"; floor_run "$@"', os.path.join(SCRIPTS, "floor-lib.sh")] + list(args[1:])
    else:
        argv = ["bash", os.path.join(SCRIPTS, args[0])] + list(args[1:])
    res = subprocess.run(argv, capture_output=True, text=True)
    check(res.returncode == 0, "%s: code %d\n%s%s" % (" ".join(args), res.returncode, res.stdout, res.stderr))
    return res.stdout


def umount(root):
    subprocess.run(["bash", "-c", '. "$0"; floor_umount "$1"', os.path.join(SCRIPTS, "floor-lib.sh"), root])


def remove_root(root):
    umount(root)
    # --one-file-system: never into a bind of the host's /dev that is still there.
    subprocess.run(["rm", "-rf", "--one-file-system", root, root + ".new"], check=True)


def make_root(root, emulator):
    remove_root(root)
    with open(os.path.join(emulator, "depends")) as f:
        deps = f.read().split()
    script("floor-root.sh", root, *deps)
    subprocess.run(["cp", "-a", os.path.join(emulator, "usr"), root + "/"], check=True)
    script("floor_run", root, "ldconfig")


def apt_in(root, *args):
    return script("floor_run", root, "env", "DEBIAN_FRONTEND=noninteractive", "apt-get", "-y", "-q",
                  "--no-install-recommends", *args)


def packages_in(root):
    res = subprocess.run(["dpkg-query", "--admindir", root + "/var/lib/dpkg", "-W", "-f=${binary:Package} ${Status}\n"],
                         capture_output=True, text=True, check=True)
    return {l.split()[0] for l in res.stdout.splitlines() if l.endswith(" installed")}


def files_of(root, packages):
    """The paths dpkg lists for packages, as the walk sees them (/lib is
    /usr/lib on a merged /usr)."""
    paths = set()
    for p in packages:
        info = "%s/var/lib/dpkg/info/%s.list" % (root, p)
        if not os.path.exists(info):
            info = info[:-5] + ":amd64.list"  # Multi-Arch: same
        with open(info) as f:
            for line in f.read().splitlines():
                d = os.path.realpath(root + os.path.dirname(line))[len(root):]
                paths.add(os.path.join(d or "/", os.path.basename(line)))
    return paths


def status_in(root):
    res = subprocess.run(["dpkg-query", "--admindir", root + "/var/lib/dpkg", "-W", "-f=${Status}", desk.PROGRAM],
                         capture_output=True, text=True)
    return res.stdout.strip() if res.returncode == 0 else ""


class Pad:
    """vtinkpad's control interface (its port, once it wrote the port file)."""

    def __init__(self, port_file):
        self.port_file = port_file

    def ready(self):
        try:
            with open(self.port_file) as f:
                self.port = int(f.read().strip())
            return True
        except (OSError, ValueError):
            return False

    def post(self, action, body):
        req = urllib.request.Request("http://127.0.0.1:%d/pad/%s" % (self.port, action),
                                     data=json.dumps(body).encode(), method="POST",
                                     headers={"Content-Type": "application/json"})
        with urllib.request.urlopen(req, timeout=120) as r:
            return json.loads(r.read().decode())


class Client:
    """One WebSocket connection to the program: requests and their replies,
    key pushes kept apart."""

    def __init__(self, port):
        self.ws = desk.WsSession(port)
        check(self.ws.handshake(), "no WebSocket handshake")
        self.pushes = []

    def next_message(self, timeout):
        try:
            op, body = self.ws.frame(timeout)
        except socket.timeout:
            raise desk.TestFailure("no message from the program within %.0f s" % timeout)
        check(op == 0x1, "connection ended (opcode %r %r)" % (op, body))
        return json.loads(body.decode())

    def call(self, func, timeout=60, **members):
        self.ws.send(json.dumps(dict(Func=func, **{k: str(v) for k, v in members.items()})))
        deadline = time.monotonic() + timeout
        while True:
            msg = self.next_message(max(0.1, deadline - time.monotonic()))
            if msg.get("Func") == func:
                return msg["Result"]
            self.pushes.append(msg)

    def wait_push(self, func, timeout=30):
        deadline = time.monotonic() + timeout
        while True:
            for i, msg in enumerate(self.pushes):
                if msg.get("Func") == func:
                    return self.pushes.pop(i)["Result"]
            self.pushes.append(self.next_message(max(0.1, deadline - time.monotonic())))


def start_program(root, d, port):
    """vtinkpad with a Q210, starting the installed program, in the root and
    in a PID namespace of their own (the instance check then sees only them).
    Started through a script file: no command line holds the program's name."""
    home = "/tmp/vt-old-home"
    desk.write_settings(root + home, WebSocketPort=port)
    os.makedirs(root + home + "/run", mode=0o700, exist_ok=True)
    with open(root + "/tmp/vt-old-run.sh", "w") as f:
        f.write("#!/bin/sh\nrm -f /tmp/vt-old-pad.port\n"
                "exec %s/vtinkpad --model q210 --port-file /tmp/vt-old-pad.port -- %s/%s\n"
                % (EMULATOR_DIR, pk.BIN_DIR, desk.PROGRAM))
    script("floor_run", root, "true")  # binds /proc, /dev, /sys
    env = ["DISPLAY=" + d.display, "HOME=" + home, "QT_QPA_PLATFORM=xcb", "XDG_RUNTIME_DIR=" + home + "/run",
           "PATH=/usr/local/bin:/usr/bin:/bin", "LANG=C.UTF-8"]
    argv = ["unshare", "--pid", "--fork", "--kill-child", "--mount-proc=" + root + "/proc",
            "chroot", root, "/usr/bin/env", "-i"] + env + ["/bin/sh", "/tmp/vt-old-run.sh"]
    prog = desk.Program(argv, {"PATH": os.environ["PATH"]}, "/")
    d.programs.append(prog)
    return prog


def is_png(data):
    return data[:8] == b"\x89PNG\r\n\x1a\n"


def sign(root, d, port, prog):
    pad = Pad(root + "/tmp/vt-old-pad.port")
    desk.wait_until(lambda: pad.ready() or prog.proc.poll() is not None, 60, "vtinkpad's control port")
    check(prog.proc.poll() is None, "vtinkpad ended: %s" % prog.output())

    def listening():
        check(prog.proc.poll() is None, "ended with code %s: %s" % (prog.proc.poll(), prog.output()))
        return d.port_open(port)
    desk.wait_until(listening, 90, "the installed program listening")
    c = Client(port)
    check(c.call("InitialDevice", id=2, width=400, height=300) == "1", "InitialDevice failed: %s" % prog.output())
    drawn = pad.post("replay", {"name": "anna-berg", "speed": 0})
    check(drawn.get("ok") and drawn.get("delivered"), "replay: %r" % drawn)
    records = drawn["records"]
    desk.wait_until(lambda: c.call("GetSize") == str(records), 30, "%d ink points stored" % records, interval=0.2)
    check(pad.post("confirm", {}).get("ok"), "confirm key not touched")
    check(c.wait_push("GetDeviceConfirmOrCancelKeyStatus") == "1", "no confirm key event")

    points = json.loads(c.call("GetPointer"))
    check(len(points) == records, "GetPointer: %d points, replayed %d" % (len(points), records))
    check(sum(p["bStrokeEnd"] == "1" for p in points) == drawn["strokes"], "stroke ends differ")
    inks = json.loads(c.call("GetInks"))
    check(inks[0]["EventType"] == "0" and is_png(base64.b64decode(inks[0]["Image"])), "GetInks: no PNG")
    ink = c.call("Encode", type=6)
    check(ink, "Encode 6 gave nothing")
    decoded = json.loads(c.call("Decode", type=6, data=ink))
    check([(p["x"], p["y"], p["bStrokeEnd"]) for p in decoded] == [(p["x"], p["y"], p["bStrokeEnd"]) for p in points],
          "the encoded ink does not decode to the signature")
    for kind, name in ((3, "/tmp/vt-old-sign.png"), (7, "/tmp/vt-old-sign.pdf")):
        check(c.call("SaveDrawingImage", type=kind, dpi=0, path=name) == name, "SaveDrawingImage %d failed" % kind)
    with open(root + "/tmp/vt-old-sign.png", "rb") as f:
        check(is_png(f.read()), "the saved PNG is none")
    info = subprocess.run(["pdfinfo", root + "/tmp/vt-old-sign.pdf"], capture_output=True, text=True)
    check(info.returncode == 0 and re.search(r"^Pages:\s+1$", info.stdout, re.M), "the saved PDF: %s%s" % (info.stdout, info.stderr))
    check(c.call("UnInitialDevice") == "1", "UnInitialDevice failed")
    c.ws.close()


def oldroot():
    if os.geteuid() != 0:
        print("not root: no root to make")
        raise SystemExit(SKIP)
    package = os.environ.get("VT_DEB_PACKAGE", "")
    if not package or not os.path.isfile(package):
        print("no package in VT_DEB_PACKAGE")
        raise SystemExit(SKIP)
    desk.require_tools("mmdebstrap", "unshare", "chroot", "curl", "readelf", "Xvfb", "trayer", "dpkg-query", "pdfinfo")
    check(subprocess.run(["dpkg-deb", "-f", package, "Architecture"], capture_output=True,
                         text=True).stdout.strip() == "amd64", "%s is no amd64 package" % package)
    os.makedirs(WORK, exist_ok=True)
    root, emulator = os.path.join(WORK, "oldroot"), os.path.join(WORK, "emulator")
    start = time.monotonic()
    try:
        # A Debian 11 build root made already (for the packages) may be named.
        build_root = os.environ.get("VT_FLOOR_BUILD_ROOT") or os.path.join(WORK, "build-root")
        timed("emulator (umockdev + vtinkpad) built or reused", script, "floor-emulator.sh", build_root, emulator)
        timed("fresh Debian 11 root with the emulator", make_root, root, emulator)
        before, before_packages = pk.system_files(root), packages_in(root)
        shutil.copy(package, root + "/tmp/")
        timed("apt-get install", apt_in, root, "install", "/tmp/" + os.path.basename(package))
        check(status_in(root) == "install ok installed", "dpkg lists the package as %r" % status_in(root))
        pk.check_tree(root, "package in the Debian 11 root")

        d = desk.Desktop(isolate=False, bindir=root + pk.PROGRAM_DIR)
        try:
            def run():
                d.start_x()
                d.start_tray()
                port = desk.free_port()
                prog = start_program(root, d, port)
                sign(root, d, port, prog)
                prog.check_thread_warnings()
            timed("signature", run)
        finally:
            d.close()
        for name in ("vt-old-sign.png", "vt-old-sign.pdf"):
            os.unlink(os.path.join(root, "tmp", name))

        def purge():
            apt_in(root, "purge", desk.PROGRAM)
            apt_in(root, "autoremove", "--purge")
        timed("apt-get purge + autoremove", purge)
        check(status_in(root) in pk.NOT_INSTALLED[:2], "dpkg still lists the package as %r" % status_in(root))
        # Dependencies that stay (recommended by others) may; nothing else.
        stay = packages_in(root) - before_packages
        after = pk.system_files(root)
        left = after - before - files_of(root, stay)
        check(not left and before <= after, "after removal: left %r, gone %r" % (sorted(left), sorted(before - after)))
        log("dependencies that stay: %s" % " ".join(sorted(stay)))
        remove_root(root)
    finally:
        umount(root)
        TIMES.append(("total", time.monotonic() - start))
        log("times: " + ", ".join("%s %.0f s" % t for t in TIMES))


if __name__ == "__main__":
    desk.run_cases({"oldroot": oldroot})
