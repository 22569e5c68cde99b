#!/usr/bin/env python3
# valdrix-config against valdrix-sim on pseudo-terminals, and against what is no port.
# Usage: cli_pty_test.py <valdrix-config> <valdrix-sim> <case>
import fcntl
import grp
import json
import os
import shutil
import subprocess
import sys
import tempfile
import termios
import time

CONFIG, SIM, CASE = sys.argv[1:4]
TMP = tempfile.mkdtemp(prefix="valdrix-cli-")
RATES = (9600, 19200, 38400, 57600, 115200)
ME = "%s (pid %d)" % (open("/proc/self/comm").read().strip(), os.getpid())
running = []


def frames(rate, *triples):
    return ["%02X %02X %02X %02X @%d" % (a, b, c, a ^ b ^ c, rate) for a, b, c in triples]


def conversation(rate, *writes):
    # The search (the query at each rate up to the answering one, the reads, the open frame), the
    # writes and the search that reads them back, the close.
    search = ["F0 F0 @%d" % r for r in RATES[:RATES.index(rate) + 1]] + frames(rate, (
        0xF2, 0xFD, 0), (0xF2, 1, 0xFF), (0xF2, 0xF1, 0xFF), (0xF2, 0xF2, 0xFF), (0xF2, 0xFF, 1))
    return search + (frames(rate, *writes) + search if writes else []) + frames(rate, (
        0xF2, 0xFF, 0))


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def check(ok, message):
    if not ok:
        sys.exit("FAIL: " + message)


def sim(rate=9600, *options):
    # A terminal's path, and a function giving the frames valdrix-sim received there so far.
    log = os.path.join(TMP, "frames%d.log" % len(running))
    running.append(subprocess.Popen([SIM, "--rate", str(rate), "--log", log, *options],
                                    stdout=subprocess.PIPE, text=True))
    return running[-1].stdout.readline().strip(), lambda: [
        "%s @%d" % (e["hex"], e["rate"]) for e in map(json.loads, open(log)) if e["dir"] == "rx"]


def run(*args, status=0, env=None, user=()):
    # stderr is a pipe, not a terminal: no progress lines may appear on it.
    r = subprocess.run([*user, CONFIG, *args], capture_output=True, text=True, timeout=30, env=env)
    check(r.returncode == status, "%s: exit status %d\nstdout: %s\nstderr: %s"
          % (" ".join(args), r.returncode, r.stdout, r.stderr))
    return r


def report(*values):
    return ("port:                %s\nrate:                %s\nversion:             %s\n"
            "XpressNet address:   %s\nmodule base address: %s\n16-bit modules:      %s\n"
            "8-bit modules:       %s\n" % values)


def case_show_json_trace():
    path, rx = sim(9600, "--address", "31", "--base", "254", "--count", "254")
    r = run("--json", "show", path, "--trace")
    check(rx() == conversation(9600), "frames %s" % rx())
    want = {"port": path, "rate": 9600, "version": "1.02", "address": 31, "base": 254,
            "modules16": 127, "modules8": 0}
    check(json.loads(r.stdout) == want, "json %s" % r.stdout)
    lines = r.stderr.splitlines()
    sent = ["%s @9600" % line.split("> ", 1)[1] for line in lines if "  > " in line]
    check(sent == rx(), "traced %s" % sent)
    check("< F2 F2 FE " in r.stderr and all(" 9600  " in line for line in lines), r.stderr)


def case_set():
    path, rx = sim(9600, "--address", "7", "--base", "12", "--count", "5")
    r = run("set", path, "--address", "9", "--base", "30", "--modules16", "3", "--modules8", "0")
    check(rx() == conversation(9600, (0xF2, 1, 9), (0xF2, 0xF1, 30), (0xF2, 0xF2, 6)), str(rx()))
    check(r.stdout == report(path, 9600, "1.02", 9, 30, 3, 0), "set printed:\n" + r.stdout)


def case_find():
    # Every port searched at once, each in a conversation of its own; ports this process holds
    # (with flock, with TIOCEXCL) and what is no port are passed over unopened.
    silent = [sim(57600, "--silent") for _ in range(2)]
    found, rx = sim(57600, "--address", "7", "--base", "12", "--count", "5", "--version", "105")
    fds = [os.openpty()[1] for _ in range(2)]
    fcntl.flock(fds[0], fcntl.LOCK_EX)
    fcntl.ioctl(fds[1], termios.TIOCEXCL)
    held = [os.ttyname(fd) for fd in fds]
    os.symlink(found, TMP + "/link")  # the found device again, by another name: talked to once
    ports = [silent[0][0], held[0], found, TMP, held[1], silent[1][0], TMP + "/link"]
    start = time.monotonic()
    r = run("find", *ports)
    elapsed = time.monotonic() - start
    verdicts = dict([(p, "no answer at any rate") for p, _ in silent] + [(p, "in use by " + ME)
                    for p in held] + [(TMP, "not a serial port")])
    want = report(found, 57600, "1.05", 7, 12, 2, 1) + "".join(
        "%s: %s\n" % (p, verdicts[p]) for p in ports[:-1] if p != found)
    check((r.stdout, r.stderr) == (want, ""), "find printed %r, %r" % (r.stdout, r.stderr))
    check(rx() == conversation(57600), "frames %s" % rx())
    for _, quiet in silent:
        check(quiet() == ["F0 F0 @%d" % r for r in RATES], "frames %s" % quiet())
    # A silent port takes five 1 s read time-outs; one after another these would take over 14 s.
    check(elapsed < 7.5, "find took %.1f s" % elapsed)


def case_not_a_port():
    # Refused from what the path is, never opened: no byte reaches a file or a FIFO's reader.
    notes, fifo = os.path.join(TMP, "notes.txt"), os.path.join(TMP, "fifo")
    write(notes, "keep\n")
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    paths = (notes, fifo, "/dev/null")
    before = [(s.st_size, s.st_mtime_ns) for s in map(os.stat, paths)]
    for path in paths:  # refused; the lines of find below say why
        run("show", path, status=3)
    r = run("find", *paths, status=5)
    check(r.stdout == "".join("%s: not a serial port\n" % p for p in paths), r.stdout)
    check([(s.st_size, s.st_mtime_ns) for s in map(os.stat, paths)] == before, "touched")
    check(open(notes).read() == "keep\n" and os.read(reader, 1) == b"", "written to")


def case_permission():
    # As a user outside the port's group; only root can become one.
    user = next((u for u in (["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"],
                             ["runuser", "-u", "nobody", "--"]) if shutil.which(u[0])), None)
    if os.geteuid() or not user or "dialout" not in [g.gr_name for g in grp.getgrall()]:
        sys.exit(print("skipped: needs root, setpriv or runuser, and a dialout group") or 77)
    path = os.ttyname(os.openpty()[1])
    os.chown(path, 0, grp.getgrnam("dialout").gr_gid)
    os.chmod(path, 0o660)
    r = run("show", path, status=3, user=user)
    check(r.stderr == "Could not open %s: permission denied (group dialout)\nAdd your user to the "
          "group dialout: sudo usermod -aG dialout $USER, then log out and in again.\n" % path,
          r.stderr)


try:
    globals()["case_" + CASE]()
finally:
    for process in running:
        process.terminate()
        process.wait(5)
    shutil.rmtree(TMP)
print("ok: " + CASE)
