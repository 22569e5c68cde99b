#!/usr/bin/env python3
"""The seeded fault campaign: each run draws every choice (front end, port, link, interface,
other programs, signals) from one seed, runs valdrix-config (or the Linux window) against
valdrix-sim, ser2net and harness/delay_proxy.py, and checks the invariants I1 to I6 from the
simulators' frame logs, the program's outputs and the system. tests/chaos runs fixed seeds and
the regression list; bench/chaos.sh runs it open-ended.

Usage: campaign.py BUILD_DIR [-j JOBS] SEED|@FILE...   (BUILD_DIR: build/native)
       campaign.py BUILD_DIR [-j JOBS] --minutes N [--first SEED]
Each run prints its seed, what it drew, the I4 limit, and a line that repeats it."""
import concurrent.futures
import contextlib
import fcntl
import json
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from launchers import LINE_RATES as RATES, locks_of, released, start_ser2net, start_sim  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
STATUSES = {int(n) for n in re.findall(r"^VALDRIX_EXIT\(\w+, (\d+),", open(
    HERE + "/../cli/exit_statuses.def").read(), re.M)} | {129, 130, 141, 143}
SUBS = {"address": 0x01, "base": 0xF1, "count": 0xF2}
OPEN, CLOSE = "F2 FF 01 0C", "F2 FF 00 0D"
SIGNALS = ("SIGINT", "SIGTERM", "SIGHUP")


# ---- drawing: every choice from the seed, nothing from the machine ----

def draw(seed):
    r = random.Random(seed)
    front = r.choices(("show", "set", "find", "window"), (45, 35, 14, 6))[0]
    ports = [draw_port(r, front) for _ in range(r.randint(2, 3) if front == "find" else 1)]
    s = {"seed": seed, "front": front, "ports": ports, "json": r.random() < 0.7,
         "only_rate": r.choice(RATES) if front != "window" and r.random() < 0.2 else None}
    if front == "set":
        keys = r.sample(("address", "base", "modules16", "modules8"), r.randint(1, 4))
        ranges = {"address": (1, 31), "base": (0, 254), "modules16": (0, 127), "modules8": (0, 254)}
        s["set"] = {k: r.randint(*ranges[k]) for k in keys}
        if r.random() < 0.1:  # one value outside its range: refused before anything is sent
            k = r.choice(keys)
            s["set"][k] = r.choice((ranges[k][0] - 1, ranges[k][1] + 1)) if k == "address" \
                else ranges[k][1] + 1
    if r.random() < (0.8 if front == "window" else 0.3):
        # At a moment from the start, or from when the first port's interface got a frame.
        after = r.choice((None, None, "F0 F0", OPEN))
        s["signal"] = {"name": r.choice(SIGNALS), "after": after, "at": round(r.uniform(
            0, 1.5 if after else 7), 2), "twice": r.random() < 0.25, "gap": round(r.uniform(
                0.05, 0.6), 2)}
    # Drawn apart, so that the scenarios drawn before this choice came stay as they were: a name
    # lookup that the resolver does not answer for a while (the remote ports named localhost).
    slow = random.Random("lookup %d" % seed)
    if front != "window" and any(p["kind"] != "local" for p in ports) and slow.random() < 0.08:
        s["lookup_ms"] = slow.choice((400, 2500, 60000))
    return s


def draw_port(r, front):
    kind = r.choices(("local", "ser2net", "proxy"), (50, 25, 25))[0]
    sim = {"rate": r.choice(RATES), "version": r.randint(101, 130),
           "address": r.choice((r.randint(1, 31),) * 9 + (r.choice((0, 32, 40, 99)),)),
           "base": r.randint(0, 254), "count": r.randint(0, 254)}
    fault = r.choices(("", "silent", "noreply", "badcheck", "stream", "slow", "unplug"),
                      (55, 8, 15, 4, 5, 8, 5))[0]
    if fault == "noreply":
        sim["noreply"] = r.choice(("version", "address", "base", "count"))
    elif fault == "slow":
        sim["reply_delay"] = r.choice((50, 300, 900, 1500))
    elif fault:
        sim[fault] = round(r.uniform(0.2, 6), 2) if fault == "unplug" else True
    port = {"kind": kind, "sim": sim}
    if kind == "proxy":
        port["link"] = {"delay": r.choice((0, 50, 300, 700, 1000, 2000, r.randint(0, 2000))),
                        "jitter": r.choice((0, 0, 20, 100)),
                        "hold": r.choice(("0:0", "0.1:200", "0.3:500")), "late": r.random() < 0.5}
        if r.random() < 0.08:  # a server that keeps the interface's rate, and confirms that
            port["link"]["rate"] = sim["rate"]
        if r.random() < 0.1:
            port["link"]["drop"] = r.randint(2, 120)
    others = {"local": ("flock", "excl", "lock-live", "lock-stale", "poller"),
              "ser2net": ("client", "kick", "restart"), "proxy": ("client", "kick", "restart")}
    if front != "window" and r.random() < 0.3:
        port["other"] = r.choice(others[kind])
        port["other_at"] = round(r.uniform(0.2, 5), 2)
        if kind != "local":  # a moment from the start, or from the open frame's arrival
            port["other_after"] = r.choice((None, OPEN))
    return port


# ---- the I4 limit, from the rates tried, the time-outs and the link ----

def rtt(port):
    link = port.get("link")
    return 0.05 if not link else (2 * link["delay"] + link["jitter"] + int(
        link["hold"].split(":")[1])) / 1000 + 0.05


def limit(s):
    def one(port):
        net, rt, sim = port["kind"] != "local", rtt(port), port["sim"]
        read = 1.004 + rt + min(sim.get("reply_delay", 0) / 1000, 1.004)
        drain = (5.0 if sim.get("stream") else 1.001) + rt
        opening = 3 + rt + (port.get("link", {}).get("delay", 0) / 1000) if net else 0.1
        rate_wait = min(5, max(0.5, 3 * rt)) if net else 0
        tried = 1 if s["only_rate"] else len(RATES)
        search = opening + tried * (rate_wait + read) + 4 * read + drain
        total = search + opening + rate_wait + drain  # the close
        if s["front"] == "set":
            total += search + 3 * drain + opening
        if port.get("other") in ("restart", "kick") or port.get("link", {}).get("drop"):
            total += search + opening
        return total
    return round(max(map(one, s["ports"])) * 1.25 + 3, 1)


def signal_limit(s):
    return 2.5 + 2 * max(map(rtt, s["ports"])) + 0.5  # the half second: a loaded machine


# ---- running one scenario ----

class Run:
    def __init__(self, s, build):
        self.s, self.build = s, build
        self.work = tempfile.mkdtemp(prefix="valdrix-chaos-")
        self.procs, self.sockets, self.timers, self.stop = [], [], [], threading.Event()
        self.failures = []

    def fail(self, rule, text):
        self.failures.append("%s: %s" % (rule, text))

    def spawn(self, *args, **kw):
        p = subprocess.Popen(args, stdout=kw.pop("stdout", subprocess.DEVNULL),
                             stderr=subprocess.DEVNULL, **kw)
        self.procs.append(p)
        return p

    def at(self, when, action, after=None, log=None):
        self.timers.append((when, action, after, log))

    def go(self, p, timers):
        # Each event at its moment from now, or from when its interface got the frame after.
        def later(when, action, after, log):
            if (not after or seen(log, after, 60, p)) and not self.stop.wait(when):
                action()
        for t in timers:
            threading.Thread(target=later, args=t, daemon=True).start()

    def start_port(self, i, port):
        sim, log = port["sim"], os.path.join(self.work, "sim%d.log" % i)
        opts = ["--rate", str(sim["rate"]), "--log", log, "--version", str(sim["version"]),
                "--address", str(sim["address"]), "--base", str(sim["base"]),
                "--count", str(sim["count"]), "--reply-delay", str(sim.get("reply_delay", 2))]
        opts += ["--silent"] * bool(sim.get("silent")) + ["--bad-check"] * bool(sim.get(
            "badcheck")) + ["--stream-after-open"] * bool(sim.get("stream"))
        opts += ["--no-reply-to", sim["noreply"]] if "noreply" in sim else []
        process, path = start_sim(self.build + "/sim/valdrix-sim", *opts)
        self.procs.append(process)
        port.update(path=path, log=log, process=process, name=path)
        if sim.get("unplug"):
            self.at(sim["unplug"], lambda: process.kill())
        if port["kind"] == "local":
            return self.start_local_other(port)
        server, (url,) = start_ser2net(self.work, [path], kick=port.get("other") == "kick")
        self.procs.append(server)
        port.update(server=server, url=url, name=url)
        if port["kind"] == "proxy":
            link = port["link"]
            extra = ["late"] * link["late"] + ["%s=%d" % (k, link[k]) for k in ("rate", "drop")
                                               if link.get(k)]
            proxy = self.spawn(sys.executable, HERE + "/delay_proxy.py", url, os.path.join(
                self.work, "proxy%d.log" % i), str(link["delay"]), link["hold"],
                str(link["jitter"]), *extra,
                stdout=subprocess.PIPE, text=True)
            port["name"] = proxy.stdout.readline().strip()
        if self.s.get("lookup_ms"):
            port["name"] = port["name"].replace("127.0.0.1", "localhost")
        other, tcp = port.get("other"), int(url.rsplit(":", 1)[1])
        if other == "client":
            self.sockets.append(connected(tcp))
        elif other == "kick":
            self.at(port["other_at"], lambda: self.sockets.append(connected(tcp)),
                    port.get("other_after"), port["log"])
        elif other == "restart":
            def restart():
                port["server"].kill()
                port["server"].wait()
                port["server"] = start_ser2net(self.work, [path], ports=[tcp])[0]
                self.procs.append(port["server"])
            self.at(port["other_at"], restart, port.get("other_after"), port["log"])

    def start_local_other(self, port):
        other, path = port.get("other"), port["path"]
        locks = locks_of(path)
        if other in ("flock", "excl"):
            # Holds the port until SIGTERM, then takes its exclusive mark off: the mark stays on the
            # terminal otherwise, as long as the simulator holds its end.
            code = ("import fcntl,os,signal,sys,termios,time\nfd=os.open(sys.argv[1], os.O_RDWR|"
                    "os.O_NOCTTY)\nfcntl.flock(fd, fcntl.LOCK_EX) if sys.argv[2]=='flock' else "
                    "fcntl.ioctl(fd, termios.TIOCEXCL)\nsignal.signal(signal.SIGTERM, lambda *a: "
                    "sys.exit(fcntl.ioctl(fd, termios.TIOCNXCL)))\nprint(flush=True)\n"
                    "time.sleep(600)")
            self.spawn(sys.executable, "-c", code, path, other, stdout=subprocess.PIPE,
                       text=True).stdout.readline()
        elif other in ("lock-live", "lock-stale"):
            holder = self.spawn("sleep", "600")
            if other == "lock-stale":
                holder.kill()
                holder.wait()
            port["lock"] = (locks[0], "%10d\n" % holder.pid)
            write(*port["lock"])
        elif other == "poller":
            # Tries the port every 50 ms as a modem prober would, and keeps it a while when free.
            code = ("import fcntl,os,sys,time\nwhile True:\n time.sleep(0.05)\n"
                    " fd=os.open(sys.argv[1], os.O_RDWR|os.O_NOCTTY|os.O_NONBLOCK)\n try:\n"
                    "  fcntl.flock(fd, fcntl.LOCK_EX|fcntl.LOCK_NB); time.sleep(1.0)\n"
                    " except OSError: pass\n os.close(fd)")
            self.at(port["other_at"] / 10, lambda: self.spawn(sys.executable, "-c", code, path))

    def command(self):
        s = self.s
        args = ["--json"] * s["json"] + (["--rate", str(s["only_rate"])] if s["only_rate"] else [])
        args += [s["front"]] + [p["name"] for p in s["ports"]]
        for k, v in s.get("set", {}).items():
            args += ["--" + k, str(v)]
        return [self.build + "/cli/valdrix-config"] + args

    def execute(self):
        s, window = self.s, self.s["front"] == "window"
        for i, port in enumerate(s["ports"]):
            self.start_port(i, port)
        out, err = (open(os.path.join(self.work, n), "w+") for n in ("out", "err"))
        command = [self.build + "/qt/valdrix-configurator", s["ports"][0]["name"]] if window \
            else self.command()
        self.env = dict(os.environ, DISPLAY=self.xvfb(), QT_QPA_PLATFORM="xcb") if window else None
        if s.get("lookup_ms"):  # the preload of the refused-calls test makes lookups slow
            preload = self.build + "/tests/cli/libvaldrix_refuse.so"
            if not os.path.exists(preload):
                raise RuntimeError("no %s to make lookups slow with" % preload)
            self.env = dict(os.environ, LD_PRELOAD=preload,
                            VALDRIX_SLOW_LOOKUP_MS=str(s["lookup_ms"]))
        self.started = time.monotonic()
        p = subprocess.Popen(command, stdout=out, stderr=err, env=self.env, start_new_session=True)
        self.pid = p.pid
        self.go(p, self.timers)
        if window:
            self.wait_for_user(p)
        self.signals = self.send_signals(p)
        self.rc, self.ended = wait(p, limit(s) + 5), time.monotonic()
        self.stop.set()
        out.seek(0), err.seek(0)
        self.out, self.err = out.read(), err.read()

    def xvfb(self):
        # An X server of the window's own: Escape goes to the window that has the focus.
        r, w = os.pipe()
        self.procs.append(subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0",
                                            "640x480x24", "-nolisten", "tcp"], pass_fds=(w,),
                                           stderr=subprocess.DEVNULL))
        os.close(w)
        with os.fdopen(r) as f:
            return ":" + f.readline().strip()

    def wait_for_user(self, p):
        # The window, its search done, waits for the user: it must have let the server's one
        # client go. Then it ends by the signal drawn, or by Escape.
        port, s = self.s["ports"][0], self.s
        if port["kind"] != "local" and not port["sim"].get("silent") and seen(
                port["log"], OPEN, 15, p):
            time.sleep(2.5 + 2 * rtt(port))
            # An unplugged interface: the server has no device to give a new client.
            if p.poll() is None and not accepts(port["url"], 1.0) and \
                    port["process"].poll() is None:
                self.fail("I5", "the window holds %s while it waits for the user" % port["url"])
        if "signal" not in s:
            # Escape, a second into its search at the earliest, into each of its windows, until
            # it ends: the first may go to the search's error box, as on Windows.
            seen(port["log"], "F0 F0", 15, p)
            time.sleep(1.0)
            xdotool = lambda *a: subprocess.run(("xdotool",) + a, env=self.env, timeout=10,
                                                capture_output=True, text=True).stdout.split()
            while p.poll() is None and time.monotonic() < self.started + limit(s):
                for window in xdotool("search", "--onlyvisible", "--pid", str(p.pid), "--name",
                                      "."):
                    xdotool("windowfocus", "--sync", window, "key", "Escape")
                with contextlib.suppress(subprocess.TimeoutExpired):
                    p.wait(1.5)
            return
        after = s["signal"]["after"]
        if after and not seen(port["log"], after, 15, p):
            s["signal"]["after"] = None  # the frame never came: the user ends the waiting window
        if not s["signal"]["after"]:
            s["signal"]["at"] = max(0, s["signal"]["at"] - (time.monotonic() - self.started))

    def send_signals(self, p):
        sig, sent = self.s.get("signal"), []
        if not sig:
            return sent
        def send():
            for n in range(1 + sig["twice"]):
                if p.poll() is None:
                    sent.append(time.monotonic())
                    p.send_signal(getattr(signal, sig["name"]))
                time.sleep(sig["gap"])
        self.go(p, [(sig["at"], send, sig["after"], self.s["ports"][0]["log"])])
        return sent

    def cleanup(self):
        self.stop.set()
        for sock in self.sockets:
            sock.close()
        for p in reversed(self.procs):
            with contextlib.suppress(OSError):
                p.kill()
            with contextlib.suppress(Exception):
                p.wait(5)
        for port in self.s["ports"]:
            if port.get("lock") and os.path.exists(port["lock"][0]):
                os.unlink(port["lock"][0])
        if not os.environ.get("VALDRIX_CHAOS_KEEP"):  # for a look at the logs of a failing seed
            shutil.rmtree(self.work, ignore_errors=True)

    # ---- the invariants ----

    def check(self):
        s, rc = self.s, self.rc
        # For the last frames to cross the links and reach the simulators' logs.
        time.sleep(0.3 + max(rtt(p) for p in s["ports"]))
        frames = [read_log(p["log"]) for p in s["ports"]]
        self.check_time(rc)
        if rc is None:
            return
        doc = self.check_output(rc)
        for port, (rx, tx) in zip(s["ports"], frames):
            self.check_open_closed(port, rx, rc)
            self.check_writes(port, rx)
        if rc == 0 and s["front"] != "window":
            for port, (rx, tx), found in zip(s["ports"], frames, self.reports(doc)):
                if found is not None:
                    self.check_values(port, rx, tx, found)
        self.check_left_behind()

    def check_time(self, rc):
        took, lim = self.ended - self.started, limit(self.s)
        if rc is None:
            self.fail("I4", "still running after %.1f s (limit %.1f s); killed" % (took, lim))
        elif took > lim:
            self.fail("I4", "took %.1f s, the limit is %.1f s" % (took, lim))
        if self.signals and rc is not None:
            after, bound = self.ended - self.signals[0], signal_limit(self.s)
            if after > bound:
                self.fail("I4", "exited %.2f s after the signal (bound %.2f s)" % (after, bound))

    def check_output(self, rc):
        if rc not in STATUSES and self.s["front"] != "window":
            self.fail("I6", "exit status %d is not a documented one" % rc)
        if not self.s["json"] or self.s["front"] == "window":
            return None
        try:
            doc = json.loads(self.out)
        except ValueError:
            return self.fail("I6", "stdout is not exactly one JSON document: %r" % self.out[:300])
        failed = doc if isinstance(doc, dict) else {}
        wrote = any(is_write(f, p["sim"]["rate"]) for p in self.s["ports"]
                    for f in read_log(p["log"])[0])
        if self.s["front"] == "set" and failed.get("reason") in ("write", "interrupted") and wrote \
                and not {"written", "not_written"} <= set(failed):
            self.fail("I6", "a set that failed after writing does not say what was written: %s"
                      % self.out.strip())
        return doc

    def check_open_closed(self, port, rx, rc):
        hexes = [f["hex"] for f in rx]
        if OPEN not in hexes:
            return
        last = len(hexes) - 1 - hexes[::-1].index(OPEN)
        if CLOSE in hexes[last:] or self.s["front"] == "window" and port["sim"].get("unplug"):
            return  # the window's word on an unplugged interface is in a box, not read here
        said = self.err + self.out  # with --json the message is the document's error
        told = re.search(r"still.{0,60}open", said, re.I | re.S) and "show" in said
        if rc == 0 or not told:  # a stop or a lost link may leave it open, if it says so
            self.fail("I2", "%s: opened, never closed; exit %d, %r" % (port["name"], rc,
                                                                        self.err.strip()[-300:]))

    def check_writes(self, port, rx):
        # I3: only the keys asked, with the values asked; nothing at all after a refusal.
        asked, sim = self.s.get("set", {}), port["sim"]
        ranges = {"address": (1, 31), "base": (0, 254), "modules16": (0, 127), "modules8": (0, 254)}
        refused = any(not lo <= asked[k] <= hi for k, (lo, hi) in ranges.items() if k in asked) \
            or ("modules16" in asked and "modules8" in asked
                and 2 * asked["modules16"] + asked["modules8"] >= 255)
        if refused and rx:
            return self.fail("I3", "%s: a refused argument, yet %d frames went out"
                             % (port["name"], len(rx)))
        allowed = {SUBS[k]: asked[k] for k in ("address", "base") if k in asked}
        if ("modules16" in asked or "modules8" in asked) and sim.get("noreply") != "count":
            m16 = asked.get("modules16", sim["count"] >> 1)
            count = 2 * m16 + asked.get("modules8", sim["count"] & 1)
            if count < 255:
                allowed[SUBS["count"]] = count
        for f in rx:
            if is_write(f, sim["rate"]):
                sub, value = (int(x, 16) for x in f["hex"].split()[1:3])
                if allowed.get(sub) != value:
                    self.fail("I3", "%s: wrote %s, asked %s" % (port["name"], f["hex"], asked))

    def reports(self, doc):
        # What the program reported for each port, in the drawn order (None: not found there).
        if doc is None:
            doc = parse_text(self.out)
        entries = doc if isinstance(doc, list) else [doc]
        by_port = {e.get("port"): e for e in entries if "rate" in e}
        return [by_port.get(p["name"]) for p in self.s["ports"]]

    def check_values(self, port, rx, tx, found):
        # I1: every value reported is what the interface holds; one it never sent is null.
        sim = port["sim"]
        held = {SUBS["address"]: sim["address"], SUBS["base"]: sim["base"],
                SUBS["count"]: sim["count"], 0xFD: sim["version"]}
        for f in rx:
            if is_write(f, sim["rate"]):
                sub, value = (int(x, 16) for x in f["hex"].split()[1:3])
                held[sub] = value
        # A reply's check byte is not examined: one with a wrong check byte counts as sent.
        sent = {int(f["hex"].split()[1], 16) for f in tx if f["hex"].startswith("F2 ")
                and len(f["hex"].split()) == 4}
        want = {"rate": sim["rate"], "version": "%d.%02d" % divmod(held[0xFD], 100),
                "address": held[1], "base": held[0xF1], "modules16": held[0xF2] >> 1,
                "modules8": held[0xF2] & 1}
        subs = {"version": 0xFD, "address": 1, "base": 0xF1, "modules16": 0xF2, "modules8": 0xF2}
        for key, value in want.items():
            got = found.get(key)
            if got is None and key == "rate" or got is not None and got != value or (
                    got is not None and key in subs and subs[key] not in sent):
                self.fail("I1", "%s: %s reported %r, the interface holds %r%s" % (
                    port["name"], key, got, value, "" if subs.get(key, 0) in sent or key == "rate"
                    else " and never sent it"))

    def check_left_behind(self):
        # I5: no lock file, no flock or exclusive mark; ser2net takes a new client within 1 s.
        for sock in self.sockets:
            sock.close()
        for p in self.procs:  # our own holders and pollers go first; the simulators stay
            if p.args[0] in (sys.executable, "sleep") and "delay_proxy" not in " ".join(p.args):
                p.terminate()
                p.wait()
        for port in self.s["ports"]:
            if port["kind"] == "local":
                mine = [f for f in locks_of(port["path"]) if os.path.exists(f)
                        and open(f).read().strip() == str(self.pid)]
                if mine:
                    self.fail("I5", "lock file %s left" % mine[0])
                if port["process"].poll() is None and not released(port["path"]):
                    self.fail("I5", "%s is still locked or marked exclusive" % port["path"])
            elif port["process"].poll() is None and port["server"].poll() is None and not \
                    accepts(port["url"], 1.0):
                self.fail("I5", "ser2net took no new client within 1 s of the exit")


# ---- helpers ----

def write(path, text):
    with open(path, "w") as f:
        f.write(text)


def read_log(path):
    rows = [json.loads(line) for line in open(path) if line.endswith("}\n")] \
        if os.path.exists(path) else []
    return [r for r in rows if r["dir"] == "rx"], [r for r in rows if r["dir"] == "tx"]


def is_write(frame, rate):
    b = frame["hex"].split()
    return frame["rate"] == rate and len(b) == 4 and b[0] == "F2" and int(b[1], 16) in \
        SUBS.values() and b[2] != "FF"


def parse_text(out):
    labels = {"port": "port", "rate": "rate", "version": "version", "XpressNet address": "address",
              "module base address": "base", "16-bit modules": "modules16",
              "8-bit modules": "modules8"}
    entries = []
    for line in out.splitlines():
        label, _, value = line.partition(":")
        if label not in labels or not value.startswith(" "):
            continue
        value = value.strip().split(" (")[0]
        if label == "port":
            entries.append({})
        elif value == "-":
            value = None
        elif label != "version":
            value = int(value)
        entries[-1][labels[label]] = value
    return entries






def connected(tcp):
    sock = socket.create_connection(("127.0.0.1", tcp))
    sock.settimeout(2)
    with contextlib.suppress(OSError):
        sock.recv(64)  # ser2net has taken it on
    return sock


def accepts(url, within):
    # ser2net takes a client on with Telnet options and keeps it; to one too many it sends
    # "Port already in use" behind the options and closes.
    deadline = time.monotonic() + within
    while time.monotonic() < deadline:
        with contextlib.suppress(OSError), socket.create_connection(
                ("127.0.0.1", int(url.rsplit(":", 1)[1])), timeout=within) as sock:
            data, quiet = b"", time.monotonic() + 0.4
            while time.monotonic() < quiet:
                sock.settimeout(quiet - time.monotonic())
                try:
                    chunk = sock.recv(256)
                except socket.timeout:
                    break
                if not chunk or b"in use" in data + chunk:
                    data = b""
                    break
                data += chunk
            if data.startswith(b"\xff"):
                return True
        time.sleep(0.05)
    return False


def seen(log, frame, within, process=None):
    deadline = time.monotonic() + within
    while time.monotonic() < deadline and (not process or process.poll() is None):
        if any(f["hex"] == frame for f in read_log(log)[0]):
            return True
        time.sleep(0.05)
    return False


def wait(p, seconds):
    try:
        return p.wait(seconds)
    except subprocess.TimeoutExpired:
        with contextlib.suppress(OSError):
            os.killpg(p.pid, signal.SIGKILL)
        p.wait()
        return None


def summary(s):
    def port(p):
        sim = p["sim"]
        text = "%s sim@%d %s" % (p["kind"], sim["rate"], ",".join(
            "%s=%s" % (k, v) for k, v in sim.items() if k in (
                "silent", "noreply", "badcheck", "stream", "reply_delay", "unplug", "address")))
        if p.get("link"):
            text += " link " + ",".join("%s=%s" % kv for kv in p["link"].items())
        return text + (" + %s at %s+%ss" % (p["other"], p.get("other_after") or "start",
                                           p["other_at"]) if p.get("other") else "")
    sig, text = s.get("signal"), s["front"] + " --json" * s["json"]
    text += " --rate %d" % s["only_rate"] if s["only_rate"] else ""
    text += " " + json.dumps(s["set"]) if "set" in s else ""
    text += " [%s]" % "; ".join(map(port, s["ports"]))
    text += " lookups %d ms" % s["lookup_ms"] if s.get("lookup_ms") else ""
    return text + (" %s at %s+%ss%s" % (sig["name"], sig["after"] or "start", sig["at"],
                                        " twice" * sig["twice"]) if sig else "")


def run(seed, build, quiet=False):
    # One run: prints the seed, the scenario, the limit and the outcome; returns the failures.
    s = draw(seed)
    r = Run(s, build)
    head = "seed %d: %s; limit %.1f s" % (seed, summary(s), limit(s))
    if s["front"] == "window" and not os.path.exists(build + "/qt/valdrix-configurator"):
        print(head + "\n  skipped: no valdrix-configurator in " + build, flush=True)
        return []
    try:
        r.execute()
        r.check()
    except Exception as e:  # noqa: BLE001 (the harness's own trouble, named as such)
        r.fail("harness", repr(e))
    finally:
        r.cleanup()
    status = "exit %s in %.1f s" % (r.rc, r.ended - r.started) if hasattr(r, "ended") else ""
    if r.failures or not quiet:
        print(head + "\n  " + status + "".join("\n  FAIL " + f for f in r.failures) + (
            "\n  repeat: python3 %s %s %d" % (os.path.relpath(__file__), build, seed)),
            flush=True)
    return r.failures


def seeds_of(args):
    # Seeds given as numbers, or @FILE: the numbers in it, outside comments (# to the line's end).
    for a in args:
        lines = [line.split("#")[0].split() for line in open(a[1:])] if a[:1] == "@" else [[a]]
        yield from (int(word) for words in lines for word in words if word.isdigit())


def main(argv):
    build, args, jobs = os.path.abspath(argv[0]), argv[1:], 1
    if args[:1] == ["-j"]:
        jobs, args = int(args[1]), args[2:]
    pool = concurrent.futures.ThreadPoolExecutor(jobs)
    if args[:1] == ["--minutes"]:
        end, first = time.monotonic() + 60 * float(args[1]), int(args[3]) if args[2:3] == [
            "--first"] else random.randrange(1 << 31)
        start, counter = time.monotonic(), iter(range(first, 1 << 62))
        def worker():
            done = []
            while time.monotonic() < end:
                seed = next(counter)
                done.append((seed, run(seed, build, quiet=True)))
            return done
        results = [r for f in [pool.submit(worker) for _ in range(jobs)] for r in f.result()]
        minutes = (time.monotonic() - start) / 60
        print("%d runs in %.1f min, %.1f runs per minute" % (len(results), minutes,
                                                            len(results) / minutes))
    else:
        seeds = list(seeds_of(args))
        results = list(zip(seeds, pool.map(lambda seed: run(seed, build), seeds)))
    failing = [seed for seed, failures in results if failures]
    print("%d runs, %d failed%s" % (len(results), len(failing), ": " + " ".join(
        map(str, failing)) if failing else ""))
    return 1 if failing else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
