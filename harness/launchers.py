"""valdrix-sim and ser2net started for the tests and the benchmarks. Each start returns the
process, which the caller ends, and what to reach it by; a start that fails raises. And whether
a terminal a run used is free again."""
import fcntl
import os
import re
import socket
import struct
import subprocess
import time

# The line rates in the order the search tries them, from the one list the programs are built from.
LINE_RATES = tuple(int(r) for r in re.findall(r"X\((\d+)\)", re.search(
    r"#define VALDRIX_LINE_RATES\(X\)(.*)", open(os.path.join(os.path.dirname(
        os.path.abspath(__file__)), "..", "serial", "serial_port.h")).read()).group(1)))


def locks_of(path):
    # Our UUCP lock files for a pseudo-terminal: by its base name (cu's) and its path (minicom's).
    real = os.path.realpath(path)
    return ["/run/lock/LCK.." + n for n in (os.path.basename(real), real[5:].replace("/", "_"))]


def released(path):
    # What the next run's open asks: no flock on the node, TIOCEXCL (TIOCGEXCL: 0x80045440) clear.
    fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    try:
        fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        return struct.unpack("i", fcntl.ioctl(fd, 0x80045440, bytes(4)))[0] == 0
    except OSError:
        return False
    finally:
        os.close(fd)


def start_sim(sim, *options):
    # valdrix-sim with these options, and the terminal's path it prints first.
    process = subprocess.Popen([sim, *options], stdout=subprocess.PIPE, text=True)
    path = process.stdout.readline().strip()
    if not path.startswith("/dev/"):
        process.kill()
        raise RuntimeError("valdrix-sim did not start")
    return process, path


def free_port(host="127.0.0.1"):
    with socket.socket(socket.AF_INET6 if ":" in host else socket.AF_INET) as s:
        s.bind((host, 0))
        return s.getsockname()[1]


def listening(port, pid):
    # From the kernel's socket tables, so that no test connection takes ser2net's one client; and
    # a listener of process pid's own, not another run's that drew the same free port.
    tables = [t for t in ("/proc/net/tcp", "/proc/net/tcp6") if os.path.exists(t)]
    rows = [line.split() for t in tables for line in open(t).readlines()[1:]]
    inodes = {"socket:[%s]" % r[9] for r in rows if r[1].endswith(":%04X" % port) and r[3] == "0A"}
    try:
        return any(os.readlink("/proc/%d/fd/%s" % (pid, fd)) in inodes
                   for fd in os.listdir("/proc/%d/fd" % pid))
    except OSError:
        return False


def start_ser2net(work, ptys, host="127.0.0.1", ports=None, kick=False, tries=3):
    # The real ser2net listening on host, one RFC 2217 port for each terminal; and their URLs.
    # ports: the TCP ports again (a restart); kick: a new client takes the port over. Ports drawn
    # here that another run took meanwhile are drawn again.
    drawn, ports = not ports, ports or [free_port(host) for _ in ptys]
    conf = os.path.join(work, "ser2net-%d.yaml" % ports[0])
    with open(conf, "w") as f:
        f.write("".join("connection: &c%d\n  accepter: telnet(rfc2217),tcp,%s,%d\n"
                        "  connector: serialdev,%s,9600n81,local\n%s" % (
                            i, host, port, pty, "  options:\n    kickolduser: true\n" * kick)
                        for i, (port, pty) in enumerate(zip(ports, ptys))))
    process = subprocess.Popen(["ser2net", "-n", "-d", "-c", conf], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    deadline = time.monotonic() + (2 if drawn and tries > 1 else 10)
    while not all(listening(port, process.pid) for port in ports):
        if time.monotonic() > deadline or process.poll() is not None:
            process.kill()
            process.wait()
            if drawn and tries > 1:
                return start_ser2net(work, ptys, host, None, kick, tries - 1)
            raise RuntimeError("ser2net did not start")
        time.sleep(0.05)
    name = "[%s]" % host if ":" in host else host
    return process, ["rfc2217://%s:%d" % (name, port) for port in ports]
