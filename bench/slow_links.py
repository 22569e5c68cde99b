#!/usr/bin/env python3
"""Two promises on slow links, run many times (the fault campaign draws them at random; this
repeats the named cases): valdrix-config against valdrix-sim behind ser2net and
harness/delay_proxy.py, which connects upstream at once, as an ssh tunnel does.

- ctrl-c: `show` through a link DELAY ms each way, SIGINT at a random moment up to 2 s after the
  open frame reached the interface: exit 130, and the close frame reaches it. RUNS runs.
- rates: `show` and `set --base 20` through a link DELAY ms each way with JITTER ms, the interface
  at each line rate in turn: found at its rate, with its values. RUNS rounds.

Usage: slow_links.py ctrl-c|rates BUILD_DIR [--delay MS] [--jitter MS] [--runs N]
Prints one line a run and a last line "N passed, M failed"; exits 1 if any failed.
"""
import argparse
import json
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from launchers import LINE_RATES, start_ser2net, start_sim  # noqa: E402

OPEN, CLOSE = "F2 FF 01 0C", "F2 FF 00 0D"


def received(log):
    return [e["hex"] for e in map(json.loads, open(log)) if e["dir"] == "rx"]


def link(build, work, rate, delay, jitter, *sim_options):
    # The simulator, ser2net in front of it and the proxy in front of that; the URL and the log.
    log = tempfile.mktemp(dir=work, suffix=".log")
    sim, path = start_sim(build + "/sim/valdrix-sim", "--rate", str(rate), "--log", log,
                          *sim_options)
    server, (url,) = start_ser2net(work, [path])
    proxy = subprocess.Popen([sys.executable, os.path.dirname(os.path.abspath(__file__)) +
                              "/../harness/delay_proxy.py", url, log + ".proxy", str(delay),
                              "0:0", str(jitter)], stdout=subprocess.PIPE, text=True)
    return proxy.stdout.readline().strip(), log, (proxy, server, sim)


def ctrl_c(build, work, delay, jitter, rng):
    url, log, processes = link(build, work, 9600, delay, jitter)
    try:
        p = subprocess.Popen([build + "/cli/valdrix-config", "show", url],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        while OPEN not in received(log) and p.poll() is None:
            time.sleep(0.01)
        at = rng.uniform(0, 2)
        time.sleep(at)
        p.send_signal(signal.SIGINT)
        err = p.communicate(timeout=30)[1]
        time.sleep(2 * delay / 1000 + 0.3)  # for the close frame to cross the link
        frames = received(log)
        ok = p.returncode == 130 and OPEN in frames and frames[-1] == CLOSE
        return ok, "SIGINT %.2f s after the open: exit %d, last frame %s %s" % (
            at, p.returncode, frames[-1] if frames else "-", err.strip())
    finally:
        for process in processes:
            process.kill()


def rates(build, work, delay, jitter, rng):
    results = []
    for rate in LINE_RATES:
        url, log, processes = link(build, work, rate, delay, jitter, "--address", "7", "--base",
                                   "12", "--count", "5")
        try:
            for command in (["show", url], ["set", url, "--base", "20"]):
                # For the server to see the last run's connection close through the link.
                time.sleep(2 * (delay + jitter) / 1000 + 0.5)
                r = subprocess.run([build + "/cli/valdrix-config", "--json", *command],
                                   capture_output=True, text=True, timeout=120)
                base = 20 if command[0] == "set" else 12
                want = {"port": url, "rate": rate, "version": "1.02", "address": 7, "base": base,
                        "modules16": 2, "modules8": 1}
                got = json.loads(r.stdout or "null")
                results.append((r.returncode == 0 and got == want, "%s at %d: exit %d %s" % (
                    command[0], rate, r.returncode, r.stdout.strip() if got != want else "")))
        finally:
            for process in processes:
                process.kill()
    return all(ok for ok, _ in results), "; ".join(text for _, text in results)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=("ctrl-c", "rates"))
    parser.add_argument("build")
    parser.add_argument("--delay", type=int, default=300)
    parser.add_argument("--jitter", type=int, default=0)
    parser.add_argument("--runs", type=int, default=20)
    args = parser.parse_args()
    check, rng = (ctrl_c if args.check == "ctrl-c" else rates), random.Random(1)
    passed = failed = 0
    with tempfile.TemporaryDirectory() as work:
        for n in range(args.runs):
            ok, text = check(os.path.abspath(args.build), work, args.delay, args.jitter, rng)
            passed, failed = passed + ok, failed + (not ok)
            print("%d %s: %s" % (n + 1, "ok" if ok else "FAILED", text), flush=True)
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
