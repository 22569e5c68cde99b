#!/usr/bin/env python3
# valdrix-config against valdrix-sim on pseudo-terminals, and against what is no port.
# Usage: cli_pty_test.py <valdrix-config> <valdrix-sim> <case>
import fcntl, grp, json, os, re, shutil, signal, socket, struct  # noqa: E401
import subprocess, sys, tempfile, termios, threading, time  # noqa: E401

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "harness"))
from launchers import LINE_RATES as RATES, free_port, locks_of, released, start_ser2net, start_sim  # noqa: E402


CONFIG, SIM, CASE = sys.argv[1:4]
ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
TMP = tempfile.mkdtemp(prefix="valdrix-cli-")
ME = "%s (pid %d)" % (open("/proc/self/comm").read().strip(), os.getpid())
running, clients = [], []
TROUBLESHOOTING = {}  # situation: [exit status, the lines quoted], from the user's text
for paragraph in open(ROOT + "/packaging/troubleshooting.txt").read().split("\n\n"):
    title = re.match(r"(.+?) \(exit status (\d+)\)", paragraph)
    if title:
        situation = TROUBLESHOOTING.setdefault(title.group(1), [int(title.group(2)), ""])
    elif paragraph.startswith("    "):
        situation[1] += "".join(line[4:] + "\n" for line in paragraph.splitlines())


def frames(rate, *triples):
    return ["%02X %02X %02X %02X @%d" % (a, b, c, a ^ b ^ c, rate) for a, b, c in triples]


def conversation(rate, *writes, only=False):
    # The search (the query at each rate up to the answering one, or at that one alone with
    # --rate, the reads, the open frame), the writes and the search that reads them back, the close.
    tried = [rate] if only else RATES[:RATES.index(rate) + 1]
    search = ["F0 F0 @%d" % r for r in tried] + frames(rate, (
        0xF2, 0xFD, 0), (0xF2, 1, 0xFF), (0xF2, 0xF1, 0xFF), (0xF2, 0xF2, 0xFF), (0xF2, 0xFF, 1))
    return search + (frames(rate, *writes) + search if writes else []) + frames(rate, (
        0xF2, 0xFF, 0))


def check(ok, message):
    if not ok:
        sys.exit("FAIL: " + message)


def sim(rate=9600, *options):
    # A terminal's path, and a function giving the frames valdrix-sim received there so far.
    log = os.path.join(TMP, "frames%d.log" % len(running))
    process, path = start_sim(SIM, "--rate", str(rate), "--log", log, *options)
    running.append(process)
    return path, lambda: [
        "%s @%d" % (e["hex"], e["rate"]) for e in map(json.loads, open(log)) if e["dir"] == "rx"]


def run(*args, status=0, user=(), **options):
    # stderr is a pipe, not a terminal: no progress lines may appear on it.
    r = subprocess.run([*user, CONFIG, *args], capture_output=True, text=True, timeout=30,
                       **options)
    check(r.returncode == status, "%s: exit status %d\nstdout: %s\nstderr: %s"
          % (" ".join(args), r.returncode, r.stdout, r.stderr))
    return r


def report(*values):
    return ("port:                %s\nrate:                %s\nversion:             %s\n"
            "XpressNet address:   %s\nmodule base address: %s\n16-bit modules:      %s\n"
            "8-bit modules:       %s\n" % values)


def grab(path, stop):
    # A program polling for the port once the run has it: it takes it (flock) when it can.
    while not os.path.exists(locks_of(path)[0]) and not stop.wait(0.001):
        pass
    while not stop.wait(0.001):
        try:
            fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        except OSError:  # TIOCEXCL
            continue
        try:
            fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            stop.wait()
        except OSError:
            pass
        os.close(fd)


def case_show_json_trace():
    # Held from the search to the close: a poller never gets the port in between.
    path, rx = sim(9600, "--address", "31", "--base", "254", "--count", "254")
    stop = threading.Event()
    poller = threading.Thread(target=grab, args=(path, stop), daemon=True)
    poller.start()
    r = run("--json", "show", path, "--trace")
    stop.set()
    poller.join()
    check(rx() == conversation(9600), "frames %s" % rx())
    want = {"port": path, "rate": 9600, "version": "1.02", "address": 31, "base": 254,
            "modules16": 127, "modules8": 0}
    check(json.loads(r.stdout) == want, "json %s" % r.stdout)
    lines = r.stderr.splitlines()
    sent = ["%s @9600" % line.split("> ", 1)[1] for line in lines if "  > " in line]
    check(sent == rx(), "traced %s" % sent)
    check("< F2 F2 FE " in r.stderr and all(" 9600  " in line for line in lines), r.stderr)
    # In German the labels are German and the JSON stays byte for byte what it was.
    german = dict(os.environ, LANG="de_DE.UTF-8", LANGUAGE="", LC_ALL="", LC_MESSAGES="")
    check(run("--json", "show", path, env=german).stdout == r.stdout, "German --json differs")
    shown = run("show", path, env=german).stdout
    check(shown.startswith("Port:") and "\nXpressNet-Adresse:   31\n" in shown, shown)


def case_backup_restore():
    # Saved from one interface, restored onto another at another rate that --rate alone tries,
    # from a pipe as the shell's <(...) gives it, with an option that wins over the file.
    old, old_rx = sim(19200, "--address", "7", "--base", "12", "--count", "5")
    new, rx = sim(115200, "--address", "3", "--base", "0", "--count", "0")
    saved, writer = os.pipe()
    os.write(writer, run("--json", "show", old).stdout.encode())
    os.close(writer)
    check(old_rx() == conversation(19200), "frames %s" % old_rx())
    r = run("--rate", "115200", "set", new, "--from", "/dev/fd/%d" % saved, "--base", "20",
            pass_fds=(saved,))
    check(rx() == conversation(115200, (0xF2, 1, 7), (0xF2, 0xF1, 20), (0xF2, 0xF2, 5), only=True),
          "frames %s" % rx())
    check((r.stdout, r.stderr) == (report(new, 115200, "1.02", 7, 20, 2, 1), ""), r.stdout + r.stderr)


def case_find():
    # Every port searched at once, each in a conversation of its own; ports this process holds
    # (with flock, with TIOCEXCL) and what is no port are passed over unopened.
    silent = [sim(57600, "--silent") for _ in range(2)]
    found, rx = sim(57600, "--address", "7", "--base", "12", "--count", "5", "--version", "105")
    fd = os.openpty()[1]
    fcntl.flock(fd, fcntl.LOCK_EX)
    held = [os.ttyname(fd), os.ttyname(marked())]
    os.symlink(found, TMP + "/link")  # the found device again, by another name: talked to once
    ports = [silent[0][0], held[0], found, TMP, held[1], silent[1][0], TMP + "/link"]
    start = time.monotonic()
    r = run("find", *ports)
    elapsed = time.monotonic() - start
    verdicts = dict([(p, "no answer at any rate") for p, _ in silent] + [(p, "in use by " + ME)
                    for p in held] + [(TMP, "not a serial port")])
    want = report(found, 57600, "1.05", 7, 12, 2, 1) + "".join(
        "%s: %s\n" % (p, verdicts[p]) for p in ports[:-1] if p != found) + (
        "%s/link: the same port as %s\n" % (TMP, found))
    check((r.stdout, r.stderr) == (want, ""), "find printed %r, %r" % (r.stdout, r.stderr))
    check(rx() == conversation(57600), "frames %s" % rx())
    for _, quiet in silent:
        check(quiet() == ["F0 F0 @%d" % r for r in RATES], "frames %s" % quiet())
    # A silent port takes five 1 s read time-outs; one after another these would take over 14 s.
    check(elapsed < 7.5, "find took %.1f s" % elapsed)
    holder = json.loads(run("--json", "show", held[0], status=3).stdout)["holder"]
    check(holder == {"name": ME.split(" (")[0], "pid": os.getpid()}, "holder %s" % holder)


def marked():
    # A valdrix-sim's terminal, opened here and marked exclusive (TIOCEXCL).
    fd = os.open(sim(57600)[0], os.O_RDWR | os.O_NOCTTY)
    fcntl.ioctl(fd, termios.TIOCEXCL)
    return fd


def case_tiocgexcl_left():
    # Left marked exclusive by a program that has ended, held by its device end alone: root opens
    # past the mark, so only TIOCGEXCL shows it; refused, saying so.
    fd = marked()
    path = os.ttyname(fd)
    os.close(fd)
    r = run("show", path, status=3)
    check(r.stderr.startswith("valdrix-config: Could not open %s: marked exclusive by a program "
                              "that has ended\n" % path), r.stderr)


def case_not_a_port():
    # Refused from what the path is, never opened: no byte reaches a file or a FIFO's reader.
    notes, fifo = os.path.join(TMP, "notes.txt"), os.path.join(TMP, "fifo")
    open(notes, "w").write("keep\n")
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
    as_documented("Permission denied", path, user=user)


def as_documented(title, port, holder=None, user=()):
    # What the program prints on port against what packaging/troubleshooting.txt quotes for the
    # situation and its exit status, with the text's port name (and program's pid) made this run's.
    status, quoted = TROUBLESHOOTING[title]
    named = re.search(r"(Could not open|No Valdrix found on) (.+?)(: |\n)", quoted).group(2)
    want = quoted.replace(named, port)
    if named.startswith("rfc2217://"):  # the server, named on its own
        want = want.replace(named[10:], port[10:])
    if holder:
        want = re.sub(r"\(pid \d+\)", "(pid %d)" % holder, want)
    r = run("show", port, status=status, user=user)
    check(r.stderr == want, "%s: printed\n%s" % (title, r.stderr))


def case_troubleshooting():
    # The situations that the troubleshooting text quotes, made for real (permission denied in
    # case_permission, which needs root; the console, which a test cannot take from the kernel, in
    # the fake system tree of tests/pty).
    held, _ = sim()
    fd = os.open(held, os.O_RDONLY | os.O_NOCTTY)
    holder = subprocess.Popen(["cat"], stdin=fd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    running.append(holder)
    os.close(fd)
    silent, _ = sim(9600, "--silent")
    taken = taken_ser2net()
    rows = (("In use", held, holder.pid), ("No answer", silent, None),
            ("Remote port unreachable", "rfc2217://127.0.0.1:%d" % free_port(), None),
            ("Remote port in use", taken, None))
    check({row[0] for row in rows} | {"Permission denied", "The console"} ==
          {title for title, (_, quoted) in TROUBLESHOOTING.items() if quoted}, "the situations")
    for row in rows:
        as_documented(*row)


def case_docs():
    # What the user texts say of the program, against it (the reason words and the exit statuses
    # are made from their tables): each option's range in set --help as README.txt and the
    # settings text give it, and the count rule in its footer.
    txt, settings = (open(ROOT + path).read() for path in (
        "/packaging/README.txt.in", "/packaging/settings.txt"))
    set_help = run("set", "--help").stdout
    ranges = re.findall(r"^  (--\w+) N +(.* (\d+ to \d+))$", set_help, re.M)
    for option, meaning, _ in ranges:
        check(re.search(r"^%s N +%s$" % (option, re.escape(meaning)), txt, re.M), option)
    check(set(re.findall(r"\((\d+ to \d+)\)", settings)) <= {r for _, _, r in ranges}, "ranges")
    rule = lambda text: re.findall(r"must stay below \d+", text)
    check(rule(set_help) == rule(txt) == rule(settings.replace("\n", " ")), "the count rule")






def case_interrupt():
    # A signal when the trace shows a given frame going out: the read or write running then ends
    # at once, only an interface that was opened gets the close frame, every port is released, and
    # our lock file on it held this run's PID until then (a stale one replaced). Through links
    # that delay, drop and restart: the fault campaign (tests/chaos).
    close = frames(57600, (0xF2, 0xFF, 0))
    queries = ["F0 F0 @%d" % r for r in RATES]
    search = conversation(57600)[:-1]
    # The interrupted set, with --json: what reached the interface and what did not.
    half = {"error": "stopped by SIGINT", "reason": "interrupted", "signal": "SIGINT",
            "written": {"address": 9}, "not_written": {"base": 3}}
    rows = (  # name, signal, the frames it follows, command, frames each port received, status
        ("searching", signal.SIGINT, ["> F0 F0"], ["show"], [queries[:1]], 130),
        ("opened", signal.SIGHUP, ["> F2 FF 01"], ["show"], [search + close], 129),
        ("remote", signal.SIGINT, ["> F2 FF 01", "< 0D"], ["show"], [search + close], 130),
        ("apply's drain", signal.SIGINT, ["> F2 01 09"],
         ["set", "--address", "9", "--base", "3", "--json"],
         [search + frames(57600, (0xF2, 1, 9)) + close], 130),
        ("find", signal.SIGTERM, ["> F2 FF 01"], ["find"], [search + close, None, None], 143),
        ("twice", signal.SIGINT, ["> F2 FF 01", "< 0D"], ["show"], [search + close], 130))
    for name, sig, triggers, command, want, status in rows:
        sims = [sim(57600, *([] if i == 0 else ["--silent"])) for i in range(len(want))]
        local = name != "remote"  # ser2net holds the terminal
        ports = [path for path, _ in sims] if local else ser2net(sims[0][0])
        dead = subprocess.Popen(["true"])
        dead.wait()
        if local:  # a stale lock, left by a process that has ended: to be replaced
            open(locks_of(ports[0])[0], "w").write("%10d\n" % dead.pid)
        p = subprocess.Popen([CONFIG, "--trace", command[0], *ports, *command[1:]],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        for second, after in enumerate(triggers):
            while after not in p.stderr.readline():
                check(p.poll() is None, "%s: ended before %r" % (name, after))
            if not second and local:
                held = [open(lock).read() for lock in locks_of(ports[0])]
                check(held == ["%10d\n" % p.pid] * 2, "%s: lock files %r" % (name, held))
            time.sleep(0.2 * second)  # a second signal comes while the close's drain waits
            p.send_signal(sig)
        killed = time.monotonic()
        out, err = p.communicate(timeout=10)
        elapsed = time.monotonic() - killed
        # The close frame's drain waits out a 1 s silence, unless a second signal cuts it short;
        # anything else ends at once.
        drains = want[0][-1:] == close and len(triggers) == 1
        check(elapsed < (1.5 if drains else 0.5), "%s: %.2f s" % (name, elapsed))
        setting = command[0] == "set"
        out = json.loads(out) if setting else out
        check((p.returncode, out) == (status, dict(half, port=ports[0]) if setting else ""),
              "%s: exit %d, %r" % (name, p.returncode, out))
        check(err.endswith("valdrix-config: stopped by %s\n" % sig.name + (
            "Written to the interface before the stop: XpressNet address 9; not written: module "
            "base address 3.\n" if setting else "")), name + ": " + err)
        time.sleep(0.2)  # for the simulators to log the last frames
        for (path, rx), frames_wanted in zip(sims, want):
            got = rx()
            silent_ok = got == queries[:len(got)] and len(got) < len(queries)
            check(got == frames_wanted if frames_wanted else silent_ok, "%s: %s" % (name, got))
            if local:  # ser2net holds the remote one, with a lock of its own
                check(released(path), "%s: %s still held" % (name, path))
                check(not any(map(os.path.exists, locks_of(path))), "%s: %s left" % (name, path))
    # Standard output that cannot be written (full, or a pipe whose reader has gone, as with
    # `| head -1`): the run, close included, ends as SIGPIPE would end it, and says why.
    reader, writer = os.pipe()
    os.close(reader)
    for out, why in ((open("/dev/full", "w"), "No space left on device"), (writer, "Broken pipe")):
        path, rx = sim(9600)
        r = subprocess.run([CONFIG, "show", path], stdout=out, stderr=subprocess.PIPE, text=True)
        check((r.returncode, r.stderr) == (141, "valdrix-config: standard output could not be "
                                           "written (%s); stopped\n" % why),
              "%s: exit %d, %r" % (why, r.returncode, r.stderr))
        check(rx() == conversation(9600), "%s: %s" % (why, rx()))


def ser2net(*ptys, host="127.0.0.1"):
    # The real ser2net on loopback, one RFC 2217 port for each terminal; their URLs.
    if not shutil.which("ser2net"):
        sys.exit(print("skipped: ser2net is not installed (scripts/install-deps.sh)") or 77)
    process, urls = start_ser2net(TMP, ptys, host)
    running.append(process)
    return urls


def taken_ser2net():
    # A ser2net port with a client of ours on it: the next client is one too many.
    url, = ser2net(sim()[0])
    clients.append(socket.create_connection(("127.0.0.1", int(url.rsplit(":", 1)[1]))))
    clients[-1].recv(64)  # ser2net has taken it on
    return url


def proxy(url, *delays):
    # harness/delay_proxy.py in front of url: its URL, and the number of connections so far.
    log = os.path.join(TMP, "proxy%d.log" % len(running))
    open(log, "w").close()
    running.append(subprocess.Popen([sys.executable, os.path.dirname(os.path.abspath(__file__)) + "/../../harness/delay_proxy.py",
                                     url, log, *(delays or ["0"])], stdout=subprocess.PIPE, text=True))
    return running[-1].stdout.readline().strip(), lambda: len(open(log).readlines())


def case_net_show_set():
    # Each rate the search tries reaches the remote line, and 0xFF crosses it intact both ways:
    # the interface's reads answer FF, the close frame carries it. ser2net listens on ::1 and the
    # scheme is in capitals; set goes through a proxy that counts its connections; then find.
    path, rx = sim(38400, "--address", "7", "--base", "12", "--count", "5")
    url = ser2net(path, host="::1")[0].replace("rfc2217", "RFC2217")
    r = run("--trace", "show", url)
    check(rx() == conversation(38400), "frames %s" % rx())
    check(r.stdout == report(url, 38400, "1.02", 7, 12, 2, 1), "show printed:\n" + r.stdout)
    check("  > F0 F0" in r.stderr and all(url in line for line in r.stderr.splitlines()
                                          if " close " in line or " open " in line), r.stderr)
    before = len(rx())
    counted, connections = proxy(url)
    r = run("set", counted, "--base", "30")
    check(rx()[before:] == conversation(38400, (0xF2, 0xF1, 30)), "frames %s" % rx()[before:])
    check(r.stdout == report(counted, 38400, "1.02", 7, 30, 2, 1), "set printed:\n" + r.stdout)
    # The search, the writes, the read-back and the close: one connection.
    check(connections() == 1, "set opened %d connections" % connections())
    # find takes the remote port beside a local one (each in its own conversation: case_find).
    local, _ = sim(57600, "--address", "5")
    found = [(e["port"], e["address"]) for e in json.loads(run("--json", "find", url, local).stdout)]
    check(found == [(url, 7), (local, 5)], "find: %s" % found)


def case_net_slow():
    # Slow links (one-way delays in ms, some chunks held back longer, jitter): a rate's
    # confirmation comes after a local port's wait for it, and the answer to a query after a local
    # read's time-out. The interface is found at its own rate, with its values.
    links = ((9600, "700"), (115200, "700"), (9600, "300", "0.1:200"), (115200, "300", "0.1:200"),
             (38400, "1000"), (57600, "500", "0:0", "200"))
    sims = [sim(rate, "--address", "7", "--base", "12", "--count", "5") for rate, *_ in links]
    shows = [(rate, rx, subprocess.Popen([CONFIG, "show", proxy(url, *delays)[0]], text=True,
                                         stdout=subprocess.PIPE, stderr=subprocess.PIPE))
             for url, (rate, *delays), (_, rx) in zip(ser2net(*(p for p, _ in sims)), links, sims)]
    for rate, rx, p in shows:
        out, err = p.communicate(timeout=100)
        check((p.returncode, out) == (0, report(p.args[-1], rate, "1.02", 7, 12, 2, 1)),
              "exit %d\n%s%s" % (p.returncode, out, err))
        check(rx() == conversation(rate), "%s: frames %s" % (p.args[-1], rx()))


# Servers that misbehave, each a child process: "silent" accepts and never answers; "drop" agrees
# to everything, confirms every rate, and goes away once data has come.
SERVER = """
import socket, sys, time
listener = socket.create_server(("127.0.0.1", 0))
print(listener.getsockname()[1], flush=True)
while True:
    conn = listener.accept()[0]
    if sys.argv[1] == "silent":
        time.sleep(60)
    conn.sendall(bytes([255, 253, 44]) + bytes([255, 250, 44, 101, 0, 0, 37, 128, 255, 240]) * 9)
    while b"\\xf0\\xf0" not in conn.recv(4096):
        pass
    conn.close()
"""


def serve(kind):
    running.append(subprocess.Popen([sys.executable, "-c", SERVER, kind], stdout=subprocess.PIPE,
                                    text=True))
    return "rfc2217://127.0.0.1:%s" % running[-1].stdout.readline().strip()


def case_net_faults():
    # Each refusal, with its reason word, as often as it takes to show it does not vary.
    refused = "rfc2217://127.0.0.1:%d" % free_port()
    taken = taken_ser2net()
    for url, runs, took, why, reason in (
            (refused, 1, 1, "Connection refused", "unreachable"),
            (serve("silent"), 1, 3.8, "the server did not negotiate RFC 2217 within 3 s",
             "unreachable"),
            (taken, 3, 1, "in use by another client of the server at " + taken[10:], "busy")):
        for _ in range(runs):
            start = time.monotonic()
            r = run("--json", "show", url, status=3)
            elapsed = time.monotonic() - start
            want = {"port": url, "error": "Could not open %s: %s" % (url, why), "reason": reason}
            check(json.loads(r.stdout) == dict(want, **{"holder": None} if reason == "busy" else {}),
                  r.stdout)
            check(elapsed < took, "%s: %.1f s" % (url, elapsed))
    # A connection lost in the middle of the search is an adapter pulled out.
    url = serve("drop")
    r = run("show", url, status=4)
    check(r.stderr.startswith("valdrix-config: Could not write to %s: " % url), r.stderr)
    # Malformed addresses: refused as usage, before anything connects.
    for bad in ("rfc2217://host", "rfc2217://:2217", "rfc2217://h:0", "rfc2217://h:65536",
                "rfc2217://::1:2217", "rfc2217://[::1]", "rfc2217://h:22/x", "rfc2217://[]:1"):
        r = run("show", bad, status=2)
        check("rfc2217://HOST:PORT" in r.stderr, r.stderr)

def case_refused_calls():
    # Each call the program makes, refused by the system in turn (tests/refuse/refuse.c): the run
    # ends with a status and a message naming the cause, sends nothing after the failure but the
    # close frame (Apply still tries each value, and searches again to read them back), and
    # leaves no lock behind; the port then opens again. Rows: call, which call fails, how many,
    # errno, command, exit status, text, the spans of the normal run's frames received (show:
    # 0-5 the search, 6 the close; set: 6 the base, 7-12 the read-back, 13 the close).
    E, UNREACH, PERM, INVAL = 5, 101, 1, 22  # EIO, ENETUNREACH, EPERM, EINVAL
    lock = "/run/lock" if os.path.isdir("/run/lock") else "/var/lock"
    server = socket.create_server(("127.0.0.1", 0))  # takes connections, says nothing
    rows = [
        ("open", 1, 1, E, "show", 3, "{p}: Input/output error", ()),
        ("tcgetattr", 1, 1, E, "show", 3, "{p}: tcgetattr: Input/output error", ()),
        ("tcgetattr", 2, 1, E, "show", 3, "{p}: tcgetattr: Input/output error", ()),
        ("tcsetattr", 1, 1, E, "show", 3, "{p}: tcsetattr: Input/output error", ()),
        ("tcsetattr", 2, 5, INVAL, "show", 5, "set to 115200: tcsetattr: Invalid argument", ()),
        ("tcsetattr", 3, 1, INVAL, "set", 3, "{p}: tcsetattr: Invalid argument", ((0, 6), (7, 14))),
        ("ioctl", 1, 1, E, "show", 3, "{p}: ioctl TIOCGEXCL: Input/output error", ()),
        ("ioctl", 2, 1, E, "show", 3, "{p}: ioctl TIOCEXCL: Input/output error", ()),
        ("ioctl", 3, 1, E, "show", 3, "{p}: ioctl TIOCMBIS: Input/output error", ()),
        ("write", 1, 1, E, "show", 3, ": write %s/LTMP." % lock, ()),
        ("write", 2, 1, E, "show", 4, "Could not write to {p}: write: Input/output error", ()),
        ("write", 8, 1, E, "set", 4, "write to {p}: write: Input/output error", ((0, 6), (7, 14))),  # Apply
        ("write", 9, 1, E, "set", 4, "Could not write to {p}", ((0, 7), (13, 14))),  # the read-back
        # /proc unreadable: the simulator is not seen to be the terminal's device end.
        ("read", 1, 9999, E, "show", 3, "{p}: in use by", ()),
        # The port's own reads (a "tty" row counts only reads of a terminal) and polls.
        ("read tty", 1, 9999, E, "show", 4, "write to {p}: read: Input/output error", ((0, 1),)),
        ("poll", 1, 9999, E, "show", 4, "write to {p}: poll: Input/output error", None),
        ("link", 1, 1, PERM, "show", 3, ": link %s/LCK.." % lock, ()),
        ("rename", 1, 1, E, "show", 3, ": rename %s/LCK.." % lock, ()),
        ("connect", 1, 1, UNREACH, "show", 3, "{p}: Network is unreachable", ()),
        ("poll net", 2, 1, E, "show", 3, "{p}: Input/output error", ()),  # the connect's wait
        ("getaddrinfo", 1, 1, E, "show", 3, "{p}: unknown host localhost", ()),
    ]
    for call, nth, count, errno, command, status, text, spans in rows:
        row = "%s #%d" % (call, nth)
        network = call.split()[-1] in ("connect", "getaddrinfo", "net")
        path, rx = ("rfc2217://localhost:%d" % server.getsockname()[1], list) if network else sim()
        names = [] if network else locks_of(path)
        if call == "rename":  # a stale lock, of a process that has ended
            ended = subprocess.Popen(["true"])
            open(names[0], "w").write("%10d\n" % (ended.wait() or ended.pid))
        env = dict(os.environ, LD_PRELOAD=os.environ["VALDRIX_REFUSE"], VALDRIX_FAIL_NTH=str(nth),
                   VALDRIX_FAIL_CALL=call.split()[0], VALDRIX_FAIL_COUNT=str(count),
                   VALDRIX_FAIL_ERRNO=str(errno), **({"VALDRIX_FAIL_TTY": "1"} if "tty" in call else {}))
        r = run(command, path, *(("--base", "20") if command == "set" else ()), status=status,
                env=env)
        check(text.format(p=path) in r.stderr, "%s: printed %r" % (row, r.stderr))
        if network:
            continue
        normal = conversation(9600, *((0xF2, 0xF1, 20),)[:1 if command == "set" else 0])
        # A refused poll ends the first read at once: the pty hands the simulator its query late,
        # or drops it as the program closes it.
        got = "".join(f.split(" @")[0] for f in rx()).replace(" ", "")
        check("F0F0".startswith(got) if spans is None else
              rx() == sum((normal[a:b] for a, b in spans), []), "%s: frames %s" % (row, rx()))
        check(call == "rename" or not any(map(os.path.exists, names)), "%s: lock left" % row)
        run("show", path)
        check(not any(map(os.path.exists, names)), "%s: lock left after" % row)


try:
    globals()["case_" + CASE]()
finally:
    for process in running:
        process.terminate()
        process.wait(5)
    shutil.rmtree(TMP)
print("ok: " + CASE)
