"""Desktop tests of what the program tells and checks about itself: the tray
icon's status with the port free and taken, and the single-instance check
against processes that only mention the program's name.
Run one case: python3 -m test_status <case> (from build/bin)."""

import re
import subprocess
import sys

import desk
from desk import Desktop, check, free_port, wait_until, write_settings
from test_tray import exit_from_menu, start_ready, with_desktop

STATUS = {
    1: ("正在監聽連接埠 %d", "連接埠 %d 無法開啟："),
    2: ("正在监听端口 %d", "端口 %d 无法打开："),
    3: ("listening on port %d", "port %d could not be opened: "),
}


def hold_port(d, port):
    """A listener on the port in the program's network; returns its process."""
    code = ("import socket,sys\ns=socket.socket()\ns.bind(('0.0.0.0',%d))\ns.listen(1)\n"
            "print('ready',flush=True)\nsys.stdin.read()" % port)
    p = subprocess.Popen(d.ns_prefix(net_only=True) + [sys.executable, "-c", code], stdin=subprocess.PIPE,
                         stdout=subprocess.PIPE, text=True)
    d.procs.append(p)
    check(p.stdout.readline().strip() == "ready", "the port holder did not start")
    return p


@with_desktop
def port_taken(d):
    """With the port taken, the tooltip says so in the menu's language, the
    icon is greyed, one notification tells it and exit still works; with the port free the tooltip tells the port."""
    d.start_x()
    d.start_tray()
    port = free_port()
    holder = hold_port(d, port)
    for lang in (1, 2, 3):
        write_settings(d.home, WebSocketPort=port, UILangID=lang)
        prog = start_ready(d)
        _, m = prog.wait_trace(r"^tray status: (.*) \(icon (\w+)\)$", 30)
        want = STATUS[lang][1] % port
        check(m.group(1).startswith(want) and len(m.group(1)) > len(want), "status %r, expected %r..." % (m.group(1), want))
        check(m.group(2) == "greyed", "icon %s while not listening" % m.group(2))
        prog.wait_trace(r"^tray notification: " + re.escape(m.group(1)) + "$", 10)
        if lang == 3:
            d.screenshot("tray-port-taken.png")
        exit_from_menu(d, prog, lang)
        notes = [l for _, l in prog.traces() if l.startswith("tray notification: ")]
        check(len(notes) == 1, "notifications: %r" % notes)
    holder.stdin.close()
    holder.wait(30)

    write_settings(d.home, WebSocketPort=port, UILangID=3)
    prog = start_ready(d, port)
    _, m = prog.wait_trace(r"^tray status: (.*) \(icon (\w+)\)$", 30)
    check(m.group(1) == STATUS[3][0] % port and m.group(2) == "normal", "status %r" % m.group(0))
    check(not any(l.startswith("tray notification") for _, l in prog.traces()), "notification while listening")
    exit_from_menu(d, prog, 3)


@with_desktop
def instance_mentions(d):
    """Processes that only mention the program's name (a sleep called by
    it, a log being followed) do not stop a start; a real second copy
    still exits with code 1."""
    d.start_x()
    d.start_tray()
    port = free_port()
    write_settings(d.home, WebSocketPort=port)
    name = desk.PROGRAM
    for argv in (["bash", "-c", "exec -a %s sleep 600" % name],
                 ["sh", "-c", "sleep 600; true", "tail -f /tmp/%s.log" % name]):
        d.procs.append(subprocess.Popen(d.ns_prefix() + argv, stdin=subprocess.DEVNULL, start_new_session=True))
    wait_until(lambda: subprocess.run(d.ns_prefix() + ["pgrep", "-f", name], capture_output=True).stdout.count(b"\n") >= 2,
               20, "the processes mentioning the name")
    first = start_ready(d, port)
    second = d.start_program()
    rc = second.wait_exit(60)
    check(rc == 1, "second instance exit code %s" % rc)
    check(first.proc.poll() is None, "first instance ended")
    exit_from_menu(d, first, 2)


if __name__ == "__main__":
    desk.run_cases({
        "port_taken": port_taken,
        "instance_mentions": instance_mentions,
    })
