#!/usr/bin/env python3
# valdrix-config against valdrix-sim at 9600 (the first rate searched) on a pseudo-terminal.
# Usage: cli_pty_test.py <valdrix-config> <valdrix-sim> <case>
import contextlib
import json
import os
import subprocess
import sys
import tempfile

CONFIG, SIM, CASE = sys.argv[1:4]


def frame(*data):
    check = 0
    for b in data:
        check ^= b
    return " ".join("%02X" % b for b in data + (check,))


QUERIES = ["F0 F0"] + [frame(0xF2, sub, value) for sub, value in
                       ((0xFD, 0), (0x01, 0xFF), (0xF1, 0xFF), (0xF2, 0xFF), (0xFF, 1))]
CLOSE = frame(0xF2, 0xFF, 0)


def check(ok, message):
    if not ok:
        sys.exit("FAIL: " + message)


@contextlib.contextmanager
def sim(*options):
    # The terminal's path, and a function giving the frames the simulator received so far.
    with tempfile.TemporaryDirectory(prefix="valdrix-cli-") as tmp:
        log = os.path.join(tmp, "frames.log")
        proc = subprocess.Popen([SIM, "--rate", "9600", "--log", log, *options],
                                stdout=subprocess.PIPE, text=True)

        def received():
            with open(log) as f:
                return [e["hex"] for e in map(json.loads, f) if e["dir"] == "rx"]
        try:
            yield proc.stdout.readline().strip(), received
        finally:
            proc.terminate()
            proc.wait(timeout=5)


def run(*args, status=0):
    # stderr is a pipe, not a terminal: no progress lines may appear on it.
    r = subprocess.run([CONFIG, *args], capture_output=True, text=True, timeout=30)
    check(r.returncode == status, "%s: exit status %d, expected %d\nstdout: %s\nstderr: %s"
          % (" ".join(args), r.returncode, status, r.stdout, r.stderr))
    return r


def case_show_text():
    with sim("--address", "7", "--base", "12", "--count", "5", "--version", "105") as (path, rx):
        r = run("show", path)
        check(rx() == QUERIES + [CLOSE], "frames %s" % rx())
    want = ("port:                %s\nrate:                9600\nversion:             1.05\n"
            "XpressNet address:   7\nmodule base address: 12\n16-bit modules:      2\n"
            "8-bit modules:       1\n" % path)
    check((r.stdout, r.stderr) == (want, ""), "show printed %r, %r" % (r.stdout, r.stderr))


def case_show_json_trace():
    with sim("--address", "31", "--base", "254", "--count", "254") as (path, rx):
        r = run("--json", "show", path, "--trace")
        frames = rx()
    want = {"port": path, "rate": 9600, "version": "1.02", "address": 31, "base": 254,
            "modules16": 127, "modules8": 0}
    check(json.loads(r.stdout) == want, "json %s" % r.stdout)
    lines = r.stderr.splitlines()
    sent = [line.split("> ", 1)[1] for line in lines if "  > " in line]
    check(sent == frames, "traced %s, simulator received %s" % (sent, frames))
    check("< F2 F2 FE " in r.stderr and all(" 9600  " in line for line in lines), r.stderr)


def case_set():
    with sim("--address", "7", "--base", "12", "--count", "5") as (path, rx):
        r = run("set", path, "--address", "9", "--base", "30", "--modules16", "3",
                "--modules8", "0")
        writes = [frame(0xF2, 0x01, 9), frame(0xF2, 0xF1, 30), frame(0xF2, 0xF2, 6)]
        check(rx() == QUERIES + writes + QUERIES + [CLOSE], "frames %s" % rx())
    check("XpressNet address:   9\nmodule base address: 30\n16-bit modules:      3\n"
          "8-bit modules:       0\n" in r.stdout, "set printed:\n" + r.stdout)


def case_refused():
    with sim() as (path, rx):
        r = run("set", path, "--address", "32", status=2)
        check("--address" in r.stderr and not r.stdout and not rx(), "%r %s" % (r.stderr, rx()))


def case_not_found():
    with sim("--silent") as (path, rx):
        r = run("set", path, "--address", "3", status=5)
        check(rx() == ["F0 F0"] * 5, "frames %s" % rx())
    check((r.stdout, r.stderr) == ("", "No Valdrix found on %s\n" % path), r.stderr)


globals()["case_" + CASE]()
print("ok: " + CASE)
