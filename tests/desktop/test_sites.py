"""Desktop tests of the site policy: the real program under Xvfb with trayer,
WebSocket clients that send an Origin header as pages do, the tray's
question and its "Allowed sites…" list clicked with xdotool.
Run one case: python3 -m test_sites <case> (from build/bin)."""

import os
import queue
import re
import shutil
import subprocess
import sys
import threading

import desk
from desk import Desktop, check, free_port, read_settings, write_settings
from test_tray import TEXTS, exit_from_menu, start_ready, with_desktop

SHOP = "https://shop.example"
GET_SIZE = '{"Func":"GetSize"}'
SIZE_REPLY = 'text {"Func":"GetSize","Result":"0"}'
REFUSED = "closed by close frame 4003 origin not allowed"
SITES_ITEM = "Allowed sites…"
QUESTION = re.compile(r"^site question: (\S+) \| (.*) \| (.+)@(\d+),(\d+) \| (.+)@(\d+),(\d+)$")


class Client:
    """One WebSocket client (see desk.ws_client_main) and its output lines."""

    def __init__(self, d, port, *messages, **options):
        self.proc = d.ws_client(port, *messages, **options)
        self.lines = queue.Queue()
        threading.Thread(target=lambda: [self.lines.put(l.strip()) for l in self.proc.stdout], daemon=True).start()

    def expect(self, *prefixes, timeout=30):
        line = None
        for prefix in prefixes:
            try:
                line = self.lines.get(timeout=timeout)
            except queue.Empty:
                raise desk.TestFailure("client gave no %r within %d s" % (prefix, timeout))
            check(line.startswith(prefix), "client: %r, expected %r" % (line, prefix))
        return line

    def quiet(self):
        return self.lines.empty()


def question(prog, site, start=0):
    """Waits for the tray's question about site: {text, allow, block}, each
    button as (label, x, y)."""
    i, _ = prog.wait_trace(r"^site question: %s \| " % re.escape(site), 30, start)
    m = QUESTION.match(prog.traces()[i][1])
    check(m is not None, "question trace %r" % prog.traces()[i][1])
    return {"text": m.group(2), "allow": (m.group(3), int(m.group(4)), int(m.group(5))),
            "block": (m.group(6), int(m.group(7)), int(m.group(8)))}


def questions(prog):
    return [l for _, l in prog.traces() if l.startswith("site question: ")]


def answer(d, prog, q, button, site):
    _, x, y = q[button]
    d.click(prog, x, y, r"^site answer: %s %s remembered$" % (re.escape(site), button))


@with_desktop
def site_ask(d):
    """Policy ask (the default): two pages of one site wait for one question;
    Allow answers their held requests in order, is remembered across a
    restart, and "Allowed sites…" takes it back again, closing the page."""
    d.start_x()
    d.start_tray()
    port = free_port()
    write_settings(d.home, WebSocketPort=port, UILangID=3)
    prog = start_ready(d, port)
    native = Client(d, port, GET_SIZE)
    native.expect("connected", SIZE_REPLY)
    first = Client(d, port, GET_SIZE, '{"Func":"PadID"}', origin=SHOP)
    second = Client(d, port, GET_SIZE, origin=SHOP)
    first.expect("connected")
    second.expect("connected")
    q = question(prog, SHOP)
    check(q["text"] == SHOP + " wants to use your signature pad", "question %r" % q["text"])
    check((q["allow"][0], q["block"][0]) == ("Allow", "Block"), "buttons %r" % [q["allow"], q["block"]])
    check(first.quiet() and second.quiet(), "a page was answered before the user allowed its site")
    d.screenshot("site-question.png")
    answer(d, prog, q, "allow", SHOP)
    first.expect(SIZE_REPLY, 'text {"Func":"PadID","Result":""}')
    second.expect(SIZE_REPLY)
    check(len(questions(prog)) == 1, "questions: %r" % questions(prog))
    check(read_settings(d.home, "Access").get("AllowedOrigins") == SHOP, "remembered: %r" % read_settings(d.home, "Access"))
    exit_from_menu(d, prog, 3)
    first.expect("closed by close frame")

    # Remembered: the next run lets the site in at once.
    prog = start_ready(d, port)
    page = Client(d, port, GET_SIZE, origin=SHOP)
    page.expect("connected", SIZE_REPLY)
    check(questions(prog) == [], "asked again: %r" % questions(prog))
    title, auto, exit_ = TEXTS[3]
    items = d.open_menu(prog)
    check(items == [title, auto + "[ ]", SITES_ITEM, exit_], "menu %r" % items)
    start = len(prog.traces())
    d.pick(prog, SITES_ITEM)
    _, m = prog.wait_trace(r"^sites shown: (.*)$", 30, start)
    check(m.group(1) == SHOP + " (allowed)", "sites %r" % m.group(1))
    _, m = prog.wait_trace(r"^site row: %s (.+)@(\d+),(\d+)$" % re.escape(SHOP), 10, start)
    check(m.group(1) == "Remove", "button %r" % m.group(1))
    d.screenshot("allowed-sites.png")
    start = len(prog.traces())
    d.click(prog, int(m.group(2)), int(m.group(3)), r"^site forgotten: %s$" % re.escape(SHOP))
    page.expect(REFUSED)
    prog.wait_trace(r"^sites shown: No sites remembered yet\.$", 10, start)
    check(not read_settings(d.home, "Access").get("AllowedOrigins", "").startswith("http"),
          "still remembered: %r" % read_settings(d.home, "Access"))
    exit_from_menu(d, prog, 3)


@with_desktop
def site_block(d):
    """Block, asked in the menu's language (simplified Chinese by default),
    closes the page with 4003 and is remembered: the site's next page is
    refused at once. A question nobody answers ends in 4003 when its time
    is up."""
    d.start_x()
    d.start_tray()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    prog = start_ready(d, port, VTINKHOST_TEST_ASK_TIMEOUT_MS=3000)
    evil = "https://evil.example:8443"
    page = Client(d, port, GET_SIZE, origin=evil)
    page.expect("connected")
    q = question(prog, evil)
    check(q["text"] == evil + " 想使用您的签名板", "question %r" % q["text"])
    check((q["allow"][0], q["block"][0]) == ("允许", "阻止"), "buttons %r" % [q["allow"], q["block"]])
    answer(d, prog, q, "block", evil)
    page.expect(REFUSED)
    check(read_settings(d.home, "Access").get("BlockedOrigins") == evil, "remembered: %r" % read_settings(d.home, "Access"))
    again = Client(d, port, GET_SIZE, origin=evil)
    again.expect("connected", REFUSED)
    check(len(questions(prog)) == 1, "asked again: %r" % questions(prog))

    start = len(prog.traces())
    late = Client(d, port, GET_SIZE, origin="https://late.example")
    late.expect("connected")
    question(prog, "https://late.example", start)
    late.expect(REFUSED)
    prog.wait_trace(r"^site question closed: https://late\.example$", 10, start)
    check(not any(l.startswith("site answer: https://late") for _, l in prog.traces()), "answered by itself")
    check("late.example" not in str(read_settings(d.home, "Access")), "an unanswered site remembered")
    exit_from_menu(d, prog, 2)


@with_desktop
def site_list_locked(d):
    """Policy list in a locked system-wide file: only the listed site and
    this computer's own pages and programs get in, an unlisted site is
    refused at once without a question, and the user's file cannot widen
    it. Unlocked, the same user's file does."""
    d.start_x()
    d.start_tray()
    port = free_port()
    listed, widened, other = "https://listed.example", "https://widened.example", "https://other.example"
    d.system_settings({"Policy": "list", "AllowedOrigins": listed, "Locked": "true"})
    write_settings(d.home, WebSocketPort=port, access={"Policy": "allow", "AllowedOrigins": widened})
    prog = start_ready(d, port)
    for origin, want in ((listed, SIZE_REPLY), (widened, REFUSED), (other, REFUSED), (None, SIZE_REPLY),
                         ("http://localhost:8080", SIZE_REPLY)):
        Client(d, port, GET_SIZE, origin=origin).expect("connected", want)
    check(questions(prog) == [], "asked: %r" % questions(prog))
    exit_from_menu(d, prog, 2)

    d.system_settings({"Policy": "list", "AllowedOrigins": listed})
    prog = start_ready(d, port)
    for origin in (widened, other):
        Client(d, port, GET_SIZE, origin=origin).expect("connected", SIZE_REPLY)
    exit_from_menu(d, prog, 2)


def peer_network(d):
    """A second network namespace joined to the program's by a veth pair:
    the program's side is 10.213.7.1, the other computer 10.213.7.2.
    Returns the command prefix that runs in the other computer."""
    if not d.isolated or shutil.which("ip") is None:
        print("needs the test's own network namespaces (root, unshare, nsenter, ip)")
        sys.exit(desk.SKIP)
    holder = subprocess.Popen(["unshare", "--net", "sleep", "100000"], stdin=subprocess.DEVNULL, start_new_session=True)
    d.procs.append(holder)
    peer = ["nsenter", "-t", str(holder.pid), "-n", "--"]
    prog_ns = d.ns_prefix(net_only=True)

    def ready():
        # unshare has made the namespace once it runs sleep in it
        try:
            return os.readlink("/proc/%d/ns/net" % holder.pid) != os.readlink("/proc/self/ns/net")
        except OSError:
            return False
    desk.wait_until(ready, 20, "the other computer's namespace")
    for cmd in (prog_ns + ["ip", "link", "add", "vtprog", "type", "veth", "peer", "name", "vtpeer", "netns", str(holder.pid)],
                prog_ns + ["ip", "addr", "add", "10.213.7.1/30", "dev", "vtprog"],
                prog_ns + ["ip", "link", "set", "vtprog", "up"],
                peer + ["ip", "link", "set", "lo", "up"],
                peer + ["ip", "addr", "add", "10.213.7.2/30", "dev", "vtpeer"],
                peer + ["ip", "link", "set", "vtpeer", "up"]):
        subprocess.run(cmd, check=True)
    return peer


@with_desktop
def listen_address(d):
    """Another computer (a namespace of the test's own behind a veth pair)
    counts as a site of its own, whatever Origin it sends, and is asked
    about as such; with ListenAddress=loopback nothing listens for it."""
    d.start_x()
    d.start_tray()
    peer = peer_network(d)
    port = free_port()
    write_settings(d.home, WebSocketPort=port, UILangID=3)
    prog = start_ready(d, port)
    remote = Client(d, port, GET_SIZE, origin=SHOP, host="10.213.7.1", prefix=peer)
    remote.expect("connected")
    q = question(prog, "10.213.7.2")
    check(q["text"] == "A computer at 10.213.7.2 wants to use your signature pad", "question %r" % q["text"])
    answer(d, prog, q, "block", "10.213.7.2")
    remote.expect(REFUSED)
    check(read_settings(d.home, "Access").get("BlockedOrigins") == "10.213.7.2",
          "remembered: %r" % read_settings(d.home, "Access"))
    exit_from_menu(d, prog, 3)

    write_settings(d.home, WebSocketPort=port, UILangID=3, access={"ListenAddress": "loopback", "Policy": "allow"})
    prog = start_ready(d, port)
    Client(d, port, GET_SIZE).expect("connected", SIZE_REPLY)
    line = Client(d, port, GET_SIZE, host="10.213.7.1", prefix=peer).expect("no connection")
    check("refused" in line, "the other computer: %r" % line)
    listening = subprocess.run(d.ns_prefix(net_only=True) + ["ss", "-Hltn", "sport", "= :%d" % port],
                               capture_output=True, text=True, check=True).stdout.split("\n")
    addresses = sorted(l.split()[3] for l in listening if l.strip())
    check(addresses == ["127.0.0.1:%d" % port, "[::1]:%d" % port], "listening on %r" % addresses)
    exit_from_menu(d, prog, 3)


if __name__ == "__main__":
    desk.run_cases({
        "site_ask": site_ask,
        "site_block": site_block,
        "site_list_locked": site_list_locked,
        "listen_address": listen_address,
    })
