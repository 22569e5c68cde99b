#!/usr/bin/env python3
"""valdrix-config against valdrix-sim on a pseudo-terminal, in real time. One case per run:

    cli_pty_test.py <valdrix-config> <valdrix-sim> <case>

The simulator runs at 9600, the first rate searched, so that no case waits out silent rates
unless it means to."""
import json
import os
import subprocess
import sys
import tempfile
import time

CONFIG, SIM, CASE = sys.argv[1], sys.argv[2], sys.argv[3]


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def frame(*data):
    check = 0
    for b in data:
        check ^= b
    return " ".join("%02X" % b for b in data + (check,))


QUERIES = [
    "F0 F0",  # interface query
    frame(0xF2, 0xFD, 0x00),  # version
    frame(0xF2, 0x01, 0xFF),  # address
    frame(0xF2, 0xF1, 0xFF),  # base address
    frame(0xF2, 0xF2, 0xFF),  # module count
    frame(0xF2, 0xFF, 0x01),  # open
]
CLOSE = frame(0xF2, 0xFF, 0x00)


class Sim:
    def __init__(self, *options):
        self.dir = tempfile.mkdtemp(prefix="valdrix-cli-")
        self.log = os.path.join(self.dir, "frames.log")
        self.proc = subprocess.Popen(
            [SIM, "--rate", "9600", "--log", self.log] + list(options),
            stdout=subprocess.PIPE, text=True)
        self.path = self.proc.stdout.readline().strip()
        if not self.path.startswith("/"):
            fail("valdrix-sim printed no terminal path")

    def received(self):
        """The frames the interface received, in order."""
        with open(self.log) as f:
            return [e["hex"] for e in map(json.loads, f) if e["dir"] == "rx"]

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=5)


def run(*args, timeout=30):
    # stderr is a pipe, not a terminal: no progress lines may appear.
    return subprocess.run([CONFIG] + list(args), capture_output=True, text=True,
                          timeout=timeout)


def expect_status(result, status, what):
    if result.returncode != status:
        fail("%s: exit status %d, expected %d\nstdout: %s\nstderr: %s" %
             (what, result.returncode, status, result.stdout, result.stderr))


def case_show_text():
    sim = Sim("--address", "7", "--base", "12", "--count", "5", "--version", "105")
    try:
        r = run("show", sim.path)
    finally:
        sim.stop()
    expect_status(r, 0, "show")
    want = ("port:                %s\n"
            "rate:                9600\n"
            "version:             1.05\n"
            "XpressNet address:   7\n"
            "module base address: 12\n"
            "16-bit modules:      2\n"
            "8-bit modules:       1\n" % sim.path)
    if r.stdout != want:
        fail("show printed:\n%s\nexpected:\n%s" % (r.stdout, want))
    if r.stderr:
        fail("stderr not a terminal, yet it got: %r" % r.stderr)
    if sim.received() != QUERIES + [CLOSE]:
        fail("frames: %s" % sim.received())


def case_show_json_trace():
    sim = Sim("--address", "31", "--base", "254", "--count", "254")
    try:
        r = run("--json", "show", sim.path, "--trace")
    finally:
        sim.stop()
    expect_status(r, 0, "show --json --trace")
    got = json.loads(r.stdout)
    want = {"port": sim.path, "rate": 9600, "version": "1.02", "address": 31, "base": 254,
            "modules16": 127, "modules8": 0}
    if got != want:
        fail("json %s, expected %s" % (got, want))
    # The trace: each frame the simulator received was traced as sent, at 9600, in order.
    sent = [line.split("> ", 1)[1] for line in r.stderr.splitlines() if "  > " in line]
    if sent != sim.received():
        fail("traced %s, simulator received %s" % (sent, sim.received()))
    if not all(" 9600  " in line for line in r.stderr.splitlines()):
        fail("trace lines without the rate:\n" + r.stderr)
    if "< 02 " not in r.stderr or "< F2 F2 FE " not in r.stderr:
        fail("replies missing from the trace:\n" + r.stderr)


def case_set():
    sim = Sim("--address", "7", "--base", "12", "--count", "5")
    try:
        r = run("set", sim.path, "--address", "9", "--base", "30", "--modules16", "3",
                "--modules8", "0")
        frames = sim.received()
        after = run("--json", "show", sim.path)
    finally:
        sim.stop()
    expect_status(r, 0, "set")
    if "XpressNet address:   9\nmodule base address: 30\n16-bit modules:      3\n" \
            "8-bit modules:       0\n" not in r.stdout:
        fail("set printed:\n" + r.stdout)
    want = QUERIES + [frame(0xF2, 0x01, 9), frame(0xF2, 0xF1, 30), frame(0xF2, 0xF2, 6)] \
        + QUERIES + [CLOSE]
    if frames != want:
        fail("frames %s\nexpected %s" % (frames, want))
    expect_status(after, 0, "show after set")
    got = json.loads(after.stdout)
    if (got["address"], got["base"], got["modules16"], got["modules8"]) != (9, 30, 3, 0):
        fail("the simulator holds %s after set" % got)


def case_not_found():
    sim = Sim("--silent")
    try:
        r = run("set", sim.path, "--address", "3")
    finally:
        sim.stop()
    expect_status(r, 5, "silent interface")
    if r.stderr != "No Valdrix found on %s\n" % sim.path or r.stdout:
        fail("stdout %r, stderr %r" % (r.stdout, r.stderr))
    if sim.received() != ["F0 F0"] * 5:
        fail("frames: %s" % sim.received())


def case_cannot_open():
    missing = os.path.join(tempfile.mkdtemp(prefix="valdrix-cli-"), "no-such-port")
    r = run("show", missing)
    expect_status(r, 3, "missing port")
    if r.stderr != "Could not open %s\n" % missing or r.stdout:
        fail("stdout %r, stderr %r" % (r.stdout, r.stderr))


def case_refused():
    sim = Sim()
    try:
        cases = [
            (["--address", "32"], "--address"),
            (["--base", "255"], "--base"),
            (["--modules16", "100", "--modules8", "55"], "--modules"),
            (["--modules8", "x1"], "--modules8"),
            (["--address", "-3"], "--address"),
            (["--base", "4294967340"], "--base"),  # 44 once wrapped to 32 bits
            (["--modules8", " -1"], "--modules8"),
        ]
        for args, named in cases:
            r = run("set", sim.path, *args)
            expect_status(r, 2, " ".join(args))
            if named not in r.stderr or r.stdout:
                fail("%s: stdout %r, stderr %r" % (args, r.stdout, r.stderr))
        frames = sim.received()
    finally:
        sim.stop()
    if frames:
        fail("refused arguments, yet the simulator received %s" % frames)


def case_unplugged():
    """The interface killed mid-conversation: during a silent rate of the search, and during
    the drain after Apply's first frame. Each run ends at once with the message its failure
    makes and prints no values."""
    def unplug(sim, link, frames, *args):
        config = subprocess.Popen([CONFIG] + list(args), stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 10
        while len(sim.received()) < frames and time.monotonic() < deadline:
            time.sleep(0.005)
        os.unlink(link)  # first, so that no later open reaches a reused terminal
        sim.proc.kill()
        sim.proc.wait()
        killed = time.monotonic()
        out, err = config.communicate(timeout=10)
        took = time.monotonic() - killed
        if took > 0.5:
            fail("%s: ended %.2f s after the kill" % (args[0], took))
        return config.returncode, out, err, sim.received()

    link = os.path.join(tempfile.mkdtemp(prefix="valdrix-cli-"), "ttyValdrix")
    sim = Sim("--rate", "115200", "--link", link)
    status, out, err, frames = unplug(sim, link, 1, "show", link)
    if (status, out, err) != (4, "", "Could not write to %s\n" % link):
        fail("killed in the search: status %d, stdout %r, stderr %r" % (status, out, err))
    if frames != ["F0 F0"]:
        fail("killed in the search: frames %s" % frames)

    sim = Sim("--address", "7", "--link", link)
    status, out, err, frames = unplug(sim, link, len(QUERIES) + 1, "set", link, "--base", "33")
    # The read-back cannot open the port, nor can the close that follows.
    if (status, out, err) != (3, "", "Could not open %s\n" % link * 2):
        fail("killed in Apply: status %d, stdout %r, stderr %r" % (status, out, err))
    if frames != QUERIES + [frame(0xF2, 0x01, 7)]:
        fail("killed in Apply: frames %s" % frames)


CASES = {name[5:]: f for name, f in globals().items() if name.startswith("case_")}
if CASE not in CASES:
    fail("no case %s (cases: %s)" % (CASE, " ".join(CASES)))
CASES[CASE]()
print("ok: " + CASE)
