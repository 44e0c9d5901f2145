"""The packages to ship, against the oldest desktops supported: glibc 2.28,
Qt 5.11.3, GCC 8's C++ runtime, libusb 1.0.22, OpenSSL 1.1.1. $VT_FLOOR_PACKAGES is the
folder scripts/build-package.sh filled (one package per architecture).
  requirements: each package's Depends, and the symbol versions its binaries
                need, stay within the floor (scripts/check-floor.sh names the
                symbols behind a newer requirement);
  contents:     each package says its architecture, holds binaries for it,
                and all hold the same files.
Run one case: python3 floor_packages.py <case>."""

import glob
import os
import re
import subprocess
import sys
import tempfile

SKIP = 77
SOURCE = os.environ.get("VT_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
FOLDER = os.environ.get("VT_FLOOR_PACKAGES", "")
ARCHS = os.environ.get("VT_PACKAGE_ARCHS", "amd64 arm64").split()
ELF_MACHINE = {"amd64": "Advanced Micro Devices X86-64", "arm64": "AArch64"}
# Highest version each library package may be asked for ("" : any).
FLOOR = {"libc6": "2.28", "libstdc++6": "8", "libgcc1": "1:8", "libgcc-s1": "8",
         "libusb-1.0-0": "2:1.0.22", "procps": "", "zlib1g": "1:1.2.11",
         # libcrypto is opened at run time, 3 or 1.1: the older must do.
         "libssl1.1": "1.1.1"}
QT_FLOOR = "5.11.3"
# Highest symbol versions: glibc 2.28, GCC 8's libstdc++, Qt 5.11's tag.
SYMBOL_FLOOR = {"GLIBC": "2.28", "GLIBCXX": "3.4.25", "CXXABI": "1.3.11", "Qt": "5.11"}

failures = []


def fail(msg):
    failures.append(msg)
    print("FAIL: " + msg)


def dpkg_newer(a, b):
    return subprocess.run(["dpkg", "--compare-versions", a, "gt", b]).returncode == 0


def packages():
    debs = {a: glob.glob(os.path.join(FOLDER, "vtinkhost_*_%s.deb" % a)) for a in ARCHS}
    if not FOLDER or not any(debs.values()):
        print("no packages in VT_FLOOR_PACKAGES=%r (bash scripts/build-package.sh makes them)" % FOLDER)
        sys.exit(SKIP)
    for a, found in debs.items():
        if len(found) != 1:
            fail("%s: expected one package, found %r" % (a, found))
    return {a: f[0] for a, f in debs.items() if len(f) == 1}


def field(deb, name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], capture_output=True, text=True, check=True).stdout.strip()


def unpacked(deb):
    d = tempfile.mkdtemp(prefix="vtfloor-")
    subprocess.run(["dpkg-deb", "-x", deb, d], check=True)
    return d


def elf_files(tree):
    for d, _, fs in os.walk(tree):
        for f in fs:
            p = os.path.join(d, f)
            if not os.path.islink(p):
                with open(p, "rb") as h:
                    if h.read(4) == b"\x7fELF":
                        yield p


def depends_over_floor(depends):
    """The alternatives of Depends that ask for more than the floor."""
    over = []
    for clause in depends.split(","):
        ok = False
        for alt in clause.split("|"):
            m = re.match(r"\s*([^\s(]+)\s*(?:\(\s*>=\s*([^)\s]+)\s*\))?", alt)
            name, ver = m.group(1), m.group(2) or ""
            limit = QT_FLOOR if name.startswith("libqt5") else FLOOR.get(name)
            if limit is None:
                continue  # unknown library: judged by its symbols below
            if not ver or not limit or not dpkg_newer(ver, limit):
                ok = True
        if not ok:
            over.append(clause.strip())
    return over


def symbols_over_floor(path):
    """Dynamic symbols of path needing a newer glibc, C++ runtime or Qt."""
    out = subprocess.run(["readelf", "-W", "--dyn-syms", path], capture_output=True, text=True, check=True).stdout
    over = set()
    for m in re.finditer(r" UND (\S+)@(GLIBC|GLIBCXX|CXXABI|Qt)_([0-9.]+)", out):
        sym, lib, ver = m.groups()
        if dpkg_newer(ver, SYMBOL_FLOOR[lib]):
            over.add("%s@%s_%s" % (sym, lib, ver))
    return sorted(over)


def check_floor(checker, deb):
    """scripts/check-floor.sh on one package: inside the Debian 11 root when
    $VT_FLOOR_ROOT names one (its symbols files, and the libraries of every
    architecture built there), else on this system, which has a foreign
    architecture's libraries only once the arm64 tests installed them."""
    root = os.environ.get("VT_FLOOR_ROOT", "")
    if not (root and os.path.isfile(os.path.join(root, "usr/bin/dpkg-shlibdeps")) and os.geteuid() == 0):
        return subprocess.run(["bash", checker, deb], capture_output=True, text=True)
    inner = tempfile.mkdtemp(prefix="vtfloorcheck-", dir=os.path.join(root, "tmp"))
    try:
        for f in (checker, deb):
            subprocess.run(["cp", f, inner], check=True)
        at = "/tmp/" + os.path.basename(inner) + "/"
        # floor_run binds /proc and /dev (the checker reads through /dev/fd).
        return subprocess.run(["bash", "-c", '. "$0"; floor_run "$1" bash "$2" "$3"; s=$?; floor_umount "$1"; exit $s',
                               os.path.join(SOURCE, "scripts", "floor-lib.sh"), root,
                               at + os.path.basename(checker), at + os.path.basename(deb)],
                              capture_output=True, text=True)
    finally:
        subprocess.run(["rm", "-rf", inner])


def requirements():
    for tool in ("dpkg-deb", "readelf"):
        if subprocess.run(["sh", "-c", "command -v " + tool], capture_output=True).returncode:
            print("%s missing" % tool)
            sys.exit(SKIP)
    debs = packages()
    checker = os.path.join(SOURCE, "scripts", "check-floor.sh")
    for arch, deb in sorted(debs.items()):
        depends = field(deb, "Depends")
        print("%s: Depends: %s" % (arch, depends))
        for clause in depends_over_floor(depends):
            fail("%s: Depends asks for %s" % (arch, clause))
        tree = unpacked(deb)
        glibc = "0"
        try:
            for path in elf_files(tree):
                for sym in symbols_over_floor(path):
                    fail("%s: %s needs %s" % (arch, os.path.relpath(path, tree), sym))
                out = subprocess.run(["readelf", "-V", path], capture_output=True, text=True).stdout
                for v in re.findall(r"Name: GLIBC_([0-9.]+)", out):
                    glibc = v if dpkg_newer(v, glibc) else glibc
        finally:
            subprocess.run(["rm", "-rf", tree])
        # The field and the binaries agree: the package never installs where
        # its binaries cannot run.
        libc = re.search(r"\blibc6 \(>= ([^)]+)\)", depends)
        if not libc or dpkg_newer(glibc, libc.group(1)):
            fail("%s: binaries need GLIBC_%s, Depends asks for %s" % (arch, glibc, libc and libc.group(0)))
        # Depends as the floor's own symbols files compute it, with the
        # symbols that ask for more.
        res = check_floor(checker, deb)
        print(res.stdout + res.stderr)
        if res.returncode != 0:
            fail("%s: scripts/check-floor.sh exit %d" % (arch, res.returncode))


def contents():
    debs = packages()
    lists = {}
    for arch, deb in sorted(debs.items()):
        if field(deb, "Architecture") != arch:
            fail("%s: Architecture is %r" % (deb, field(deb, "Architecture")))
        tree = unpacked(deb)
        try:
            elfs = list(elf_files(tree))
            if not elfs:
                fail("%s: no binaries" % deb)
            for path in elfs:
                head = subprocess.run(["readelf", "-h", path], capture_output=True, text=True).stdout
                m = re.search(r"Machine:\s+(.*)", head)
                if not m or m.group(1).strip() != ELF_MACHINE.get(arch):
                    fail("%s: %s is for %r" % (arch, os.path.relpath(path, tree), m and m.group(1).strip()))
        finally:
            subprocess.run(["rm", "-rf", tree])
        out = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True, check=True).stdout
        lists[arch] = sorted((l.split()[0], re.sub(r" -> .*", "", l).split()[-1]) for l in out.splitlines())
    base = min(lists) if lists else None
    for arch, files in lists.items():
        if files != lists[base]:
            a, b = set(lists[base]), set(files)
            fail("%s and %s differ: only in %s %r, only in %s %r" % (base, arch, base, sorted(a - b), arch, sorted(b - a)))


if __name__ == "__main__":
    {"requirements": requirements, "contents": contents}[sys.argv[1]]()
    if failures:
        sys.exit(1)
    print("ok")
