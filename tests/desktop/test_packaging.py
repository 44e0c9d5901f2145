"""Installation checks: the udev rule against the USB id header, the install
layout (cmake --install into a DESTDIR), and the Debian package installed
with apt-get, run through its /usr/bin link and removed again, leaving the
system's file list as it was (root only). The package is $VT_DEB_PACKAGE when
set (CI passes the release package), else cpack's package of this build.
Run one case: python3 -m test_packaging <case>."""

import gzip
import os
import re
import shutil
import subprocess
import tempfile

import desk
from desk import SKIP, check

BUILD = os.environ.get("VT_BUILD_DIR", os.path.abspath(os.path.join(os.getcwd(), "..")))
SOURCE = os.environ.get("VT_SOURCE_DIR", "")
VERSION = os.environ.get("VT_VERSION", "")
PROGRAM_DIR = os.environ.get("VT_PROGRAM_DIR", "/usr/lib/vtinkhost")
BIN_DIR = os.environ.get("VT_BIN_DIR", "/usr/bin")
SBIN_DIR = os.environ.get("VT_SBIN_DIR", "/usr/sbin")
APPS_DIR = os.environ.get("VT_APPLICATIONS_DIR", "/usr/share/applications")
RULES_DIR = os.environ.get("VT_UDEV_RULES_DIR", "/lib/udev/rules.d")
PROGRAM = desk.PROGRAM
LINK = os.path.join(BIN_DIR, PROGRAM)
ALLOW_SITE = PROGRAM + "-allow-site"  # the administrator's command
ALLOW_SITE_LINK = os.path.join(SBIN_DIR, ALLOW_SITE)
RULE = os.path.join(RULES_DIR, "70-%s.rules" % PROGRAM)
DOC_DIR = "/usr/share/doc/" + PROGRAM
ICON = "/usr/share/pixmaps/%s.png" % PROGRAM
ENTRIES = [os.path.join(APPS_DIR, e) for e in ["com.vantor.%s.desktop" % PROGRAM] +
           ["%s-%s.desktop" % (PROGRAM, d) for d in ("kylin", "neokylin", "nfs", "ubuntu")]]
# In the program's folder (each library also under its soname and full version).
PAYLOAD = [PROGRAM, "libvtinksdk.so", "libvtinkdrv.so", PROGRAM + ".ico", ALLOW_SITE]
# Everything else the installation holds.
FILES = [LINK, ALLOW_SITE_LINK, RULE, ICON, DOC_DIR + "/copyright", DOC_DIR + "/changelog.gz",
         "/usr/share/man/man1/%s.1.gz" % PROGRAM, "/usr/share/man/man8/%s.8.gz" % ALLOW_SITE, "/usr/share/metainfo/com.vantor.%s.metainfo.xml" % PROGRAM] + ENTRIES
# Trees whose file list a package install may change; left out: dpkg's and
# apt's own records, and the X servers' short-lived compiled keymaps (any
# Xvfb started meanwhile writes one).
SYSTEM_TREES = ["/usr", "/etc", "/opt", "/srv", "/var/lib"]
SYSTEM_SKIP = {"/var/lib/dpkg", "/var/lib/apt", "/var/lib/xkb"}


def header_ids():
    ids = {}
    with open(os.path.join(SOURCE, "common", "vtinkmodels.h")) as f:
        for m in re.finditer(r"^#define\s+(\w+_ID)\s+0x([0-9a-fA-F]+)", f.read(), re.M):
            ids[m.group(1)] = "%04x" % int(m.group(2), 16)
    return ids


def rule_matches(text):
    """(vendor, product or None) of every rule line, checking its form."""
    found = set()
    for line in text.splitlines():
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        check('SUBSYSTEM=="usb"' in line and 'ENV{DEVTYPE}=="usb_device"' in line, "rule matches no USB device: " + line)
        check(line.endswith('TAG+="uaccess"'), "rule gives no uaccess: " + line)
        v = re.search(r'ATTR\{idVendor\}=="([0-9a-f]{4})"', line)
        p = re.search(r'ATTR\{idProduct\}=="([0-9a-f]{4})"', line)
        check(v is not None, "rule without vendor id: " + line)
        found.add((v.group(1), p.group(1) if p else None))
    return found


def udev_rule():
    ids = header_ids()
    for name in ("PAD_USB_VENDOR_ID", "SIGN_PAD_PRODUCT_ID", "FP_READER_PRODUCT_ID", "TABLET_USB_VENDOR_ID"):
        check(name in ids, "%s missing from the header" % name)
    want = {(ids["PAD_USB_VENDOR_ID"], ids["SIGN_PAD_PRODUCT_ID"]),
            (ids["PAD_USB_VENDOR_ID"], ids["FP_READER_PRODUCT_ID"]),
            (ids["TABLET_USB_VENDOR_ID"], None)}
    with open(os.path.join(BUILD, "packaging", os.path.basename(RULE))) as f:
        got = rule_matches(f.read())
    check(got == want, "rule covers %r, header gives %r" % (sorted(got, key=str), sorted(want, key=str)))


def check_tree(root, label):
    """The installed files under root ("" for the live system)."""
    inst = root + PROGRAM_DIR
    for name in PAYLOAD:
        path = os.path.join(inst, name)
        check(os.path.isfile(path), "%s: %s missing" % (label, path))
    check(os.access(os.path.join(inst, PROGRAM), os.X_OK), "%s: program not executable" % label)
    for path in FILES:
        check(os.path.lexists(root + path), "%s: %s missing" % (label, path))
    # The links are relative (the tree may be moved) and lead to the programs.
    for link, name in ((LINK, PROGRAM), (ALLOW_SITE_LINK, ALLOW_SITE)):
        target = os.readlink(root + link)
        check(not os.path.isabs(target) and
              os.path.normpath(os.path.join(os.path.dirname(link), target)) == os.path.join(PROGRAM_DIR, name),
              "%s: %s points to %r" % (label, link, target))
    with open(os.path.join(inst, PROGRAM + ".ico"), "rb") as a, \
            open(os.path.join(SOURCE, "service", PROGRAM + ".ico"), "rb") as b:
        check(a.read() == b.read(), "%s: icon differs from the committed one" % label)
    dyn = subprocess.run(["readelf", "-d", os.path.join(inst, PROGRAM)], capture_output=True, text=True).stdout
    check(BUILD not in dyn, "%s: installed program still points into the build folder" % label)
    for entry in ENTRIES:
        with open(root + entry, encoding="utf-8") as f:
            text = f.read()
        check(text.startswith("[Desktop Entry]\n"), "%s: %s is no desktop entry" % (label, entry))
        exe = re.search(r"^Exec=(\S+)", text, re.M)
        check(exe and exe.group(1) == os.path.join(PROGRAM_DIR, PROGRAM),
              "%s: %s starts %r" % (label, entry, exe and exe.group(1)))
        icon = re.search(r"^Icon=(\S+)", text, re.M)
        check(icon and icon.group(1) == ICON, "%s: %s shows icon %r" % (label, entry, icon and icon.group(1)))
        check(re.search(r"^Type=Application$", text, re.M), "%s: %s has no Type" % (label, entry))
    with open(root + RULE) as f:
        check(rule_matches(f.read()), "%s: empty udev rule" % label)
    # The changelog's newest entry is this version (a version bump needs one).
    with gzip.open(root + DOC_DIR + "/changelog.gz", "rt", encoding="utf-8") as f:
        top = f.readline()
    check(top.startswith("%s (%s) " % (PROGRAM, VERSION)), "%s: changelog starts %r, version %s" % (label, top, VERSION))


def install_layout():
    if shutil.which("readelf") is None:
        print("readelf missing")
        raise SystemExit(SKIP)
    dest = tempfile.mkdtemp(prefix="vtinstall-")
    try:
        env = dict(os.environ, DESTDIR=dest)
        subprocess.run(["cmake", "--install", BUILD], env=env, check=True, stdout=subprocess.DEVNULL)
        check_tree(dest, "DESTDIR install")
        # Nothing else: no tests, emulator or headers get installed.
        files = sorted("/" + os.path.relpath(os.path.join(d, f), dest) for d, ds, fs in os.walk(dest)
                       for f in fs + [x for x in ds if os.path.islink(os.path.join(d, x))])
        extra = [f for f in files if not f.startswith(PROGRAM_DIR + "/") and f not in FILES]
        check(not extra, "unexpected installed files: %r" % extra)
        sdk = os.path.join(dest + PROGRAM_DIR, "libvtinksdk.so")
        check(os.path.exists(os.path.realpath(sdk)), "libvtinksdk.so does not resolve")
    finally:
        shutil.rmtree(dest, ignore_errors=True)


NOT_INSTALLED = ("", "unknown ok not-installed", "deinstall ok config-files")


def dpkg_status():
    res = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PROGRAM], capture_output=True, text=True)
    return res.stdout.strip() if res.returncode == 0 else ""


def system_files(root=""):
    """The file list of the system under root ("" for the live one), as
    paths inside it."""
    paths = set()
    for top in SYSTEM_TREES:
        for d, ds, fs in os.walk(root + top):
            ds[:] = [x for x in ds if os.path.join(d, x)[len(root):] not in SYSTEM_SKIP]
            paths.update(os.path.join(d, x)[len(root):] for x in ds + fs)
    return paths


def apt_get(*args):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    # Waits for a dpkg run of another process instead of failing at once.
    res = subprocess.run(["apt-get", "-y", "-q", "--no-install-recommends", "-o", "DPkg::Lock::Timeout=300"]
                         + list(args), env=env,
                         capture_output=True, text=True)
    check(res.returncode == 0, "apt-get %s: code %d\n%s%s" % (" ".join(args), res.returncode, res.stdout, res.stderr))


def deb():
    if os.geteuid() != 0:
        print("not root: the package is not installed")
        raise SystemExit(SKIP)
    package = os.environ.get("VT_DEB_PACKAGE", "")
    for tool in ["apt-get", "dpkg", "dpkg-deb", "readelf"] + ([] if package else ["cpack", "dpkg-shlibdeps"]):
        if shutil.which(tool) is None:
            print("%s missing" % tool)
            raise SystemExit(SKIP)
    # A package removed without purge (dpkg -r) left only dpkg's record: fine.
    desk.require_tools("Xvfb", "trayer", "xdotool", "xwininfo", "import", "convert")  # before installing anything
    if dpkg_status() not in NOT_INSTALLED or os.path.lexists(PROGRAM_DIR) or os.path.lexists(LINK):
        print("%s already installed on this machine; leaving it alone" % PROGRAM)
        raise SystemExit(SKIP)
    out = tempfile.mkdtemp(prefix="vtdeb-")
    installed = False
    try:
        if not package:
            subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                           cwd=BUILD, check=True, stdout=subprocess.DEVNULL)
            debs = [os.path.join(d, f) for d, _, fs in os.walk(out) for f in fs if f.endswith(".deb")]
            check(len(debs) == 1, "cpack made %r" % debs)
            package = debs[0]
        info = subprocess.run(["dpkg-deb", "-f", package, "Package", "Version", "Depends"], capture_output=True,
                              text=True, check=True).stdout
        check("Package: %s\n" % PROGRAM in info and "Version: %s\n" % VERSION in info and "procps" in info,
              "control: %s" % info)
        # libcrypto is opened at run time: either version in use, and no link to one
        check("libssl3 | libssl1.1 (>= 1.1.1)" in info, "control: %s" % info)
        before = system_files()
        installed = True
        apt_get("install", os.path.abspath(package))
        check(dpkg_status() == "install ok installed", "dpkg lists the package as %r" % dpkg_status())
        check_tree("", "installed package")
        added = system_files() - before
        # As the walk sees them (/lib is /usr/lib on a merged /usr).
        ours = [os.path.join(os.path.realpath(os.path.dirname(f)), os.path.basename(f)) for f in FILES]
        extra = sorted(p for p in added if not p.startswith(PROGRAM_DIR) and p not in ours and
                       not any(f.startswith(p + "/") for f in ours))
        check(not extra, "the package added %r" % extra)
        installed_program_runs()
        allow_site_runs()
        apt_get("remove", PROGRAM)
        after = system_files()
        check(after == before, "after removal: left %r, gone %r" % (sorted(after - before), sorted(before - after)))
        apt_get("purge", PROGRAM)
        installed = False
        check(dpkg_status() in NOT_INSTALLED[:2], "dpkg still lists the package as %r" % dpkg_status())
    finally:
        if installed:
            subprocess.run(["dpkg", "--purge", PROGRAM], stdout=subprocess.DEVNULL)
        shutil.rmtree(out, ignore_errors=True)


def allow_site_runs():
    """The installed administrator's command, on a scratch root: it finds
    its libraries and writes the allowlist."""
    root = tempfile.mkdtemp(prefix="vtallow-")
    try:
        res = subprocess.run([ALLOW_SITE_LINK, "https://sign.example.com", "--root", root], capture_output=True, text=True)
        check(res.returncode == 0, "%s: code %d\n%s%s" % (ALLOW_SITE_LINK, res.returncode, res.stdout, res.stderr))
        with open(os.path.join(root, "etc/chromium/policies/managed/%s.json" % PROGRAM)) as f:
            check("https://sign.example.com" in f.read(), "no Chromium policy written")
    finally:
        shutil.rmtree(root, ignore_errors=True)


def installed_program_runs():
    """The installed program, started through the /usr/bin link from another
    folder, with an emulated Q210: the icon file and both libraries are found
    (the program moved into its own folder), the pad opens through the
    WebSocket, and no Qt thread warning is printed."""
    from test_tray import Clients
    d = desk.Desktop(bindir=PROGRAM_DIR, padhost_dir=os.path.join(BUILD, "bin"))
    try:
        d.start_x()
        d.start_tray()
        port = desk.free_port()
        desk.write_settings(d.home, WebSocketPort=port)
        prog = d.start_program(exe=LINK, cwd=d.tmp, pad_model="q210")
        desk.wait_until(lambda: d.port_open(port), 60, "the installed program listening")
        desk.wait_until(lambda: d.icon_colours() > 8, 30, "the installed program's icon drawn in the tray")
        clients = Clients(d, port, [['{"Func":"InitialDevice","id":"2","width":"400","height":"300"}',
                                     '{"Func":"UnInitialDevice"}']])
        clients.expect(["connected"])
        for func in ("InitialDevice", "UnInitialDevice"):
            reply = clients.expect(["text "])[0]
            check(reply == 'text {"Func":"%s","Result":"1"}' % func, "%s: %r" % (func, reply))
        prog.check_thread_warnings()
        if prog.traces():
            # A test build's program reports its menu: leave through the exit item.
            d.open_menu(prog)
            d.pick(prog, "离开", key="Up")
            rc = prog.wait_exit(60)
            check(rc == 0, "installed program exit code %s" % rc)
    finally:
        d.close()


if __name__ == "__main__":
    desk.run_cases({"udev_rule": udev_rule, "install_layout": install_layout, "deb": deb})
