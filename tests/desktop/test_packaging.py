"""Installation checks: the udev rule against the USB id header, the install
layout (DESTDIR), and the Debian package installed and removed with dpkg
(root only). Run one case: python3 -m test_packaging <case>."""

import os
import re
import shutil
import subprocess
import tempfile

import desk
from desk import SKIP, check

BUILD = os.environ.get("VT_BUILD_DIR", os.path.abspath(os.path.join(os.getcwd(), "..")))
SOURCE = os.environ.get("VT_SOURCE_DIR", "")
INSTALL_DIR = os.environ.get("VT_INSTALL_DIR", "/opt/vtinkhost")
APPS_DIR = os.environ.get("VT_APPLICATIONS_DIR", "/usr/share/applications")
RULES_DIR = os.environ.get("VT_UDEV_RULES_DIR", "/lib/udev/rules.d")
PROGRAM = desk.PROGRAM
RULE_NAME = "70-%s.rules" % PROGRAM
ENTRIES = ["com.vantor.%s.desktop" % PROGRAM] + ["%s-%s.desktop" % (PROGRAM, d)
                                                  for d in ("kylin", "neokylin", "nfs", "ubuntu")]
PAYLOAD = [PROGRAM, "libvtinksdk.so", "libvtinkdrv.so", PROGRAM + ".ico", PROGRAM + ".png"]


def header_ids():
    ids = {}
    with open(os.path.join(SOURCE, "driver", "include", "vtinkmodels.h")) as f:
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
    with open(os.path.join(BUILD, "packaging", RULE_NAME)) as f:
        got = rule_matches(f.read())
    check(got == want, "rule covers %r, header gives %r" % (sorted(got, key=str), sorted(want, key=str)))


def check_tree(root, label):
    """The installed files under root ("" for the live system)."""
    inst = root + INSTALL_DIR
    for name in PAYLOAD:
        path = os.path.join(inst, name)
        check(os.path.isfile(path), "%s: %s missing" % (label, path))
    check(os.access(os.path.join(inst, PROGRAM), os.X_OK), "%s: program not executable" % label)
    with open(os.path.join(inst, PROGRAM + ".ico"), "rb") as a, \
            open(os.path.join(SOURCE, "service", PROGRAM + ".ico"), "rb") as b:
        check(a.read() == b.read(), "%s: icon differs from the committed one" % label)
    dyn = subprocess.run(["readelf", "-d", os.path.join(inst, PROGRAM)], capture_output=True, text=True).stdout
    check(BUILD not in dyn, "%s: installed program still points into the build folder" % label)
    for entry in ENTRIES:
        path = root + os.path.join(APPS_DIR, entry)
        check(os.path.isfile(path), "%s: desktop entry %s missing" % (label, path))
        with open(path, encoding="utf-8") as f:
            text = f.read()
        check(text.startswith("[Desktop Entry]\n"), "%s: %s is no desktop entry" % (label, entry))
        exe = re.search(r"^Exec=(\S+)", text, re.M)
        check(exe and exe.group(1) == os.path.join(INSTALL_DIR, PROGRAM),
              "%s: %s starts %r" % (label, entry, exe and exe.group(1)))
        check(re.search(r"^Type=Application$", text, re.M), "%s: %s has no Type" % (label, entry))
    with open(root + os.path.join(RULES_DIR, RULE_NAME)) as f:
        check(rule_matches(f.read()), "%s: empty udev rule" % label)


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
        files = sorted(os.path.relpath(os.path.join(d, f), dest) for d, _, fs in os.walk(dest) for f in fs)
        extra = [f for f in files if not (f.startswith(INSTALL_DIR.lstrip("/") + "/") or
                                          f.startswith(APPS_DIR.lstrip("/") + "/") or
                                          f.startswith(RULES_DIR.lstrip("/") + "/"))]
        check(not extra, "unexpected installed files: %r" % extra)
        sdk = os.path.join(dest + INSTALL_DIR, "libvtinksdk.so")
        check(os.path.exists(os.path.realpath(sdk)), "libvtinksdk.so does not resolve")
    finally:
        shutil.rmtree(dest, ignore_errors=True)


def dpkg_installed():
    res = subprocess.run(["dpkg-query", "-W", "-f=${Status}", PROGRAM], capture_output=True, text=True)
    return "install ok installed" in res.stdout


def deb():
    if os.geteuid() != 0:
        print("not root: the package is not installed")
        raise SystemExit(SKIP)
    for tool in ("cpack", "dpkg", "dpkg-deb", "dpkg-shlibdeps"):
        if shutil.which(tool) is None:
            print("%s missing" % tool)
            raise SystemExit(SKIP)
    if dpkg_installed() or os.path.exists(INSTALL_DIR):
        print("%s already installed on this machine; leaving it alone" % PROGRAM)
        raise SystemExit(SKIP)
    out = tempfile.mkdtemp(prefix="vtdeb-")
    installed = False
    try:
        subprocess.run(["cpack", "-G", "DEB", "--config", os.path.join(BUILD, "CPackConfig.cmake"), "-B", out],
                       cwd=BUILD, check=True, stdout=subprocess.DEVNULL)
        debs = [os.path.join(d, f) for d, _, fs in os.walk(out) for f in fs if f.endswith(".deb")]
        check(len(debs) == 1, "cpack made %r" % debs)
        info = subprocess.run(["dpkg-deb", "-f", debs[0], "Package", "Depends"], capture_output=True,
                              text=True, check=True).stdout
        check("Package: %s" % PROGRAM in info and "procps" in info, "control: %s" % info)
        subprocess.run(["dpkg", "-i", debs[0]], check=True, stdout=subprocess.DEVNULL)
        installed = True
        check(dpkg_installed(), "dpkg does not list the package as installed")
        check_tree("", "dpkg install")
        installed_program_runs()
        subprocess.run(["dpkg", "-r", PROGRAM], check=True, stdout=subprocess.DEVNULL)
        installed = False
        check(not dpkg_installed(), "package still installed after dpkg -r")
        left = [p for p in [os.path.join(INSTALL_DIR, n) for n in PAYLOAD] +
                [os.path.join(APPS_DIR, e) for e in ENTRIES] + [os.path.join(RULES_DIR, RULE_NAME)]
                if os.path.exists(p)]
        check(not left, "left after removal: %r" % left)
        check(not os.path.exists(INSTALL_DIR), "%s left after removal" % INSTALL_DIR)
    finally:
        if installed:
            subprocess.run(["dpkg", "-r", PROGRAM], stdout=subprocess.DEVNULL)
        shutil.rmtree(out, ignore_errors=True)


def installed_program_runs():
    """The installed program, started by its full path from another folder
    as a desktop entry does, shows its menu, listens and exits with code 0."""
    d = desk.Desktop(bindir=INSTALL_DIR)
    try:
        d.start_x()
        d.start_tray()
        port = desk.free_port()
        desk.write_settings(d.home, WebSocketPort=port)
        prog = d.start_program(exe=os.path.join(INSTALL_DIR, PROGRAM), cwd=d.tmp)
        prog.wait_trace(r"^tray icon shown: ", 60)
        desk.wait_until(lambda: d.port_open(port), 30, "the installed program listening")
        desk.wait_until(lambda: d.icon_colours() > 8, 30, "the installed program's icon drawn in the tray")
        d.open_menu(prog)
        d.pick(prog, "离开", key="Up")
        rc = prog.wait_exit(60)
        check(rc == 0, "installed program exit code %s" % rc)
    finally:
        d.close()


if __name__ == "__main__":
    desk.run_cases({"udev_rule": udev_rule, "install_layout": install_layout, "deb": deb})
