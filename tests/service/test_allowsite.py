"""vtinkhost-allow-site on scratch roots: what it writes where, that a second
run changes nothing, that it merges with the policies already there,
removes its entries again, and refuses malformed origins and malformed
policy files without writing anything.
Run from the folder holding the command (build/bin)."""

import json
import os
import subprocess
import sys
import tempfile

TOOL = os.path.join(os.getcwd(), "vtinkhost-allow-site")
CHROMIUM = "etc/chromium/policies/managed"
CHROME = "etc/opt/chrome/policies/managed"
FIREFOX = "etc/firefox/policies/policies.json"
SYSTEM = "etc/xdg/vtinkhost/vtinkhost.conf"
KEY = "LoopbackNetworkAllowedForUrls"


def fail(what):
    print("FAIL: " + what)
    sys.exit(1)


def check(cond, what):
    if not cond:
        fail(what)


def run(root, *args):
    return subprocess.run([TOOL] + list(args) + ["--root", root], capture_output=True, text=True)


def ok(root, *args):
    res = run(root, *args)
    check(res.returncode == 0, "%s: code %d\n%s%s" % (" ".join(args), res.returncode, res.stdout, res.stderr))
    return res.stdout


def load(root, rel):
    with open(os.path.join(root, rel)) as f:
        return json.load(f)


def put(root, rel, data):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w") as f:
        f.write(data if isinstance(data, str) else json.dumps(data))


def snapshot(root):
    """{relative path: (bytes, mtime)} of every file under root."""
    files = {}
    for d, _, fs in os.walk(root):
        for f in fs:
            p = os.path.join(d, f)
            with open(p, "rb") as h:
                files[os.path.relpath(p, root)] = (h.read(), os.stat(p).st_mtime_ns)
    return files


def allowed_in_system_file(root):
    with open(os.path.join(root, SYSTEM)) as f:
        text = f.read()
    check(text == "" or text.startswith("[Access]\n"), "system file: %r" % text)
    for line in text.splitlines():
        if line.startswith("AllowedOrigins="):
            return [o.strip() for o in line.split("=", 1)[1].split(",")]
    return []


def fresh_root():
    return tempfile.mkdtemp(prefix="vtallow-")


def main():
    if not os.access(TOOL, os.X_OK):
        print("vtinkhost-allow-site not built")
        sys.exit(77)

    # Malformed origins: refused with code 2, nothing written.
    root = fresh_root()
    for bad in ("sign.example.com", "https://sign.example.com/pay", "https://me@sign.example.com", "null",
                "ftp://sign.example.com", "file:///etc", "https://"):
        res = run(root, bad)
        check(res.returncode == 2 and "not a web site's origin" in res.stderr, "%r: code %d %s" % (bad, res.returncode, res.stderr))
    check(snapshot(root) == {}, "wrote for a malformed origin: %r" % list(snapshot(root)))
    check(run(root, "https://a.example", "--bogus").returncode == 2, "unknown option taken")

    # Written as browsers send it, into all four files.
    ok(root, "HTTPS://Sign.Example.com:443/")
    for rel in (CHROMIUM, CHROME):
        check(load(root, rel + "/vtinkhost.json") == {KEY: ["https://sign.example.com"]}, "%s: %r" % (rel, load(root, rel + "/vtinkhost.json")))
    check(load(root, FIREFOX) == {"policies": {"LocalNetworkAccess": {"SkipDomains": ["sign.example.com"]}}}, "firefox: %r" % load(root, FIREFOX))
    check(allowed_in_system_file(root) == ["https://sign.example.com"], "system file: %r" % allowed_in_system_file(root))
    # Once more: not a byte or a time stamp changes.
    before = snapshot(root)
    out = ok(root, "https://sign.example.com")
    check(snapshot(root) == before, "a second run changed files")
    check(out.count("unchanged") == 4, "second run: %s" % out)

    # A second origin of the same host; removing one keeps Firefox's host.
    ok(root, "http://sign.example.com:8080")
    check(allowed_in_system_file(root) == ["https://sign.example.com", "http://sign.example.com:8080"], "two origins")
    ok(root, "https://sign.example.com", "--remove")
    check(load(root, CHROMIUM + "/vtinkhost.json") == {KEY: ["http://sign.example.com:8080"]}, "removed from Chromium")
    check(load(root, FIREFOX)["policies"]["LocalNetworkAccess"]["SkipDomains"] == ["sign.example.com"], "host dropped early")
    ok(root, "http://sign.example.com:8080", "--remove")
    for rel in (CHROMIUM, CHROME):
        check(not os.path.exists(os.path.join(root, rel, "vtinkhost.json")), "empty policy file left in " + rel)
    check(not os.path.exists(os.path.join(root, FIREFOX)), "empty Firefox policies left")
    check(allowed_in_system_file(root) == [], "system file keeps %r" % allowed_in_system_file(root))
    ok(root, "http://sign.example.com:8080", "--remove")  # nothing to remove: fine

    # Policies already there are kept; a file that sets the list already gets the entry.
    root = fresh_root()
    admin = {"HomepageLocation": "https://intranet.example", KEY: ["https://other.example"]}
    put(root, CHROMIUM + "/admin.json", admin)
    put(root, CHROMIUM + "/zz-more.json", {"BookmarkBarEnabled": True})
    ff = {"policies": {"DisableTelemetry": True, "LocalNetworkAccess": {"Enabled": True, "SkipDomains": ["other.example"]}}}
    put(root, FIREFOX, ff)
    put(root, SYSTEM, "[Settings]\nUILangID=3\n[Access]\nPolicy=list\nBlockedOrigins=https://sign.example.com\n")
    ok(root, "https://sign.example.com")
    check(load(root, CHROMIUM + "/admin.json") == dict(admin, **{KEY: ["https://other.example", "https://sign.example.com"]}),
          "admin.json: %r" % load(root, CHROMIUM + "/admin.json"))
    check(not os.path.exists(os.path.join(root, CHROMIUM, "vtinkhost.json")), "a second file sets the same policy")
    check(load(root, CHROMIUM + "/zz-more.json") == {"BookmarkBarEnabled": True}, "another policy file changed")
    ff["policies"]["LocalNetworkAccess"]["SkipDomains"].append("sign.example.com")
    check(load(root, FIREFOX) == ff, "firefox: %r" % load(root, FIREFOX))
    with open(os.path.join(root, SYSTEM)) as f:
        text = f.read()
    check("UILangID=3" in text and "Policy=list" in text and "BlockedOrigins" not in text, "system file: %r" % text)
    ok(root, "https://sign.example.com", "--remove")
    check(load(root, CHROMIUM + "/admin.json") == admin, "admin.json after removal: %r" % load(root, CHROMIUM + "/admin.json"))

    # A policy file that is not JSON: nothing is written anywhere.
    root = fresh_root()
    put(root, FIREFOX, "{ not json")
    before = snapshot(root)
    res = run(root, "https://sign.example.com")
    check(res.returncode == 1 and "not a JSON object" in res.stderr, "malformed policies: code %d %s" % (res.returncode, res.stderr))
    check(snapshot(root) == before, "wrote next to a malformed policy file: %r" % list(snapshot(root)))

    if os.geteuid() != 0:
        res = subprocess.run([TOOL, "https://sign.example.com"], capture_output=True, text=True)
        check(res.returncode == 1 and "root" in res.stderr, "not root: code %d %s" % (res.returncode, res.stderr))
    print("PASS")


if __name__ == "__main__":
    main()
