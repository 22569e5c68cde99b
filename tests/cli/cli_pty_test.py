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


def frame(*data):
    check = 0
    for b in data:
        check ^= b
    return " ".join("%02X" % b for b in data + (check,))


def search(rate):
    # The query at each rate up to the answering one, the reads and the open frame, the close.
    queries = [frame(0xF2, sub, value) for sub, value in
               ((0xFD, 0), (0x01, 0xFF), (0xF1, 0xFF), (0xF2, 0xFF), (0xFF, 1))]
    return ["F0 F0 @%d" % r for r in RATES[:RATES.index(rate) + 1]] + at(rate, queries)


def at(rate, frames):
    return ["%s @%d" % (f, rate) for f in frames]


def check(ok, message):
    if not ok:
        sys.exit("FAIL: " + message)


def sim(rate=9600, *options):
    # A terminal's path, and a function giving the frames valdrix-sim received there so far.
    log = os.path.join(TMP, "frames%d.log" % len(running))
    running.append(subprocess.Popen([SIM, "--rate", str(rate), "--log", log, *options],
                                    stdout=subprocess.PIPE, text=True))

    def received():
        with open(log) as f:
            return ["%s @%d" % (e["hex"], e["rate"]) for e in map(json.loads, f) if e["dir"] == "rx"]
    return running[-1].stdout.readline().strip(), received


def run(*args, status=0, env=None, user=()):
    # stderr is a pipe, not a terminal: no progress lines may appear on it.
    r = subprocess.run([*user, CONFIG, *args], capture_output=True, text=True, timeout=30, env=env)
    check(r.returncode == status, "%s: exit status %d, expected %d\nstdout: %s\nstderr: %s"
          % (" ".join(args), r.returncode, status, r.stdout, r.stderr))
    return r


def report(port, rate, version, address, base, modules16, modules8):
    return ("port:                %s\nrate:                %s\nversion:             %s\n"
            "XpressNet address:   %s\nmodule base address: %s\n16-bit modules:      %s\n"
            "8-bit modules:       %s\n" % (port, rate, version, address, base, modules16, modules8))


def case_show_json_trace():
    path, rx = sim(9600, "--address", "31", "--base", "254", "--count", "254")
    r = run("--json", "show", path, "--trace")
    check(rx() == search(9600) + at(9600, [frame(0xF2, 0xFF, 0)]), "frames %s" % rx())
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
    writes = [frame(0xF2, 0x01, 9), frame(0xF2, 0xF1, 30), frame(0xF2, 0xF2, 6)]
    check(rx() == search(9600) + at(9600, writes) + search(9600) + at(9600, [frame(0xF2, 0xFF, 0)]),
          "frames %s" % rx())
    check(r.stdout == report(path, 9600, "1.02", 9, 30, 3, 0), "set printed:\n" + r.stdout)


def case_find():
    # Every port searched at once, each in its own conversation; ports held by this process
    # (with flock, with TIOCEXCL) and what is no port are passed over unopened.
    silent = [sim(57600, "--silent") for _ in range(2)]
    found = sim(57600, "--address", "7", "--base", "12", "--count", "5", "--version", "105")
    held = []
    for hold in (lambda fd: fcntl.flock(fd, fcntl.LOCK_EX), lambda fd: fcntl.ioctl(fd, termios.TIOCEXCL)):
        master, slave = os.openpty()
        hold(slave)
        held.append(os.ttyname(slave))
    ports = [silent[0][0], held[0], found[0], TMP, held[1], silent[1][0]]
    start = time.monotonic()
    r = run("find", *ports)
    elapsed = time.monotonic() - start
    lines = {silent[0][0]: "no answer at any rate", silent[1][0]: "no answer at any rate",
             held[0]: "in use by " + ME, held[1]: "in use by " + ME, TMP: "not a serial port"}
    want = report(found[0], 57600, "1.05", 7, 12, 2, 1) + "".join(
        "%s: %s\n" % (p, lines[p]) for p in ports if p in lines)
    check((r.stdout, r.stderr) == (want, ""), "find printed %r, %r" % (r.stdout, r.stderr))
    check(found[1]() == search(57600) + at(57600, [frame(0xF2, 0xFF, 0)]), "frames %s" % found[1]())
    for _, rx in silent:
        check(rx() == ["F0 F0 @%d" % r for r in RATES], "frames %s" % rx())
    # A silent port takes five 1 s read time-outs; one after another these would take over 14 s.
    check(elapsed < 7.5, "find took %.1f s" % elapsed)


def case_not_a_port():
    # Refused from what the path is, never opened: no byte reaches a file or a FIFO's reader.
    notes, fifo = os.path.join(TMP, "notes.txt"), os.path.join(TMP, "fifo")
    with open(notes, "w") as f:
        f.write("keep\n")
    os.mkfifo(fifo)
    reader = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    paths = (notes, fifo, "/dev/null")
    before = [(s.st_size, s.st_mtime_ns) for s in map(os.stat, paths)]
    for path in paths:
        r = run("show", path, status=3)
        check(r.stderr.startswith("Could not open %s: not a serial port\n" % path), r.stderr)
    r = run("find", *paths, status=5)
    check(r.stdout == "".join("%s: not a serial port\n" % p for p in paths), r.stdout)
    check([(s.st_size, s.st_mtime_ns) for s in map(os.stat, paths)] == before, "touched")
    check(open(notes).read() == "keep\n" and os.read(reader, 1) == b"", "written to")


def case_permission():
    # As a user outside the port's group; only root can make one.
    user = {"setpriv": ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"],
            "runuser": ["runuser", "-u", "nobody", "--"]}
    tool = next((t for t in user if shutil.which(t)), None)
    why = [w for w, bad in (("not root", os.geteuid() != 0), ("no setpriv or runuser", not tool),
                            ("no dialout group", "dialout" not in [g.gr_name for g in grp.getgrall()]))
           if bad]
    if why:
        print("skipped: " + why[0])
        sys.exit(77)
    master, slave = os.openpty()
    path = os.ttyname(slave)
    os.chown(path, 0, grp.getgrnam("dialout").gr_gid)
    os.chmod(path, 0o660)
    r = run("show", path, status=3, user=user[tool])
    check(r.stderr == "Could not open %s: permission denied (group dialout)\nAdd your user to the "
          "group dialout: sudo usermod -aG dialout $USER, then log out and in again.\n" % path,
          r.stderr)


def case_list_long():
    # list -l on a fake system tree: a USB adapter's ids, strings and by-id link.
    usb = "devices/pci0000:00/usb1/1-2"
    for d in ("sys/%s/1-2:1.0/ttyUSB0" % usb, "sys/class/tty/ttyUSB0", "dev/serial/by-id"):
        os.makedirs(os.path.join(TMP, d))
    fields = {"idVendor": "1a86", "idProduct": "7523", "manufacturer": "Acme Works",
              "product": "USB Serial Bridge", "serial": "AW-0042"}
    for name, value in fields.items():
        with open("%s/sys/%s/%s" % (TMP, usb, name), "w") as f:
            f.write(value + "\n")
    os.symlink("../../../%s/1-2:1.0/ttyUSB0" % usb, TMP + "/sys/class/tty/ttyUSB0/device")
    os.symlink(sim()[0], TMP + "/dev/ttyUSB0")
    by_id = TMP + "/dev/serial/by-id/usb-Acme_Works_USB_Serial_Bridge_AW-0042-port0"
    os.symlink("../../ttyUSB0", by_id)
    open(TMP + "/dev/ttyUSB1", "w").close()  # no port: left out
    r = run("--json", "list", "-l", env=dict(os.environ, VALDRIX_SYSROOT=TMP))
    want = {"port": TMP + "/dev/ttyUSB0", "by_id": by_id, "vendor_id": "1a86",
            "product_id": "7523", "manufacturer": "Acme Works", "product": "USB Serial Bridge",
            "serial": "AW-0042", "description": None, "state": "free", "holder": None,
            "group": None}
    check(json.loads(r.stdout) == [want], r.stdout)


try:
    globals()["case_" + CASE]()
finally:
    for process in running:
        process.terminate()
        process.wait(5)
    shutil.rmtree(TMP)
print("ok: " + CASE)
