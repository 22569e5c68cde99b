#!/usr/bin/env python3
"""Times valdrix-config on rfc2217:// ports through the real ser2net on loopback.

Each port is a valdrix-sim --reply-delay 0 on a pseudo-terminal behind one ser2net telnet(rfc2217)
accepter. `show` at 115200 is timed through ser2net and on the terminal itself; its floor is the
local one, four silent reads and the drains after the open and the close frames:
4 x 1004 + 2 x 1001 = 6018 ms. `find` over 8 remote ports (one interface at 57600, seven silent)
has the floor of its slowest port, a silent one: 5 x 1004 = 5020 ms. On a slow link (the same
show behind harness/delay_proxy.py, 300 ms each way) the figure is the round trips the run costs
above the local floor, against 1.2 x (rates tried + 6) = 13.2. Wall time runs from the
spawn to wait4's return, with stdout and stderr in files; each run's output is checked. Prints
the table rows for the README.

Usage: network.py --config PATH --sim PATH --limits JSON [--runs 5] [--find-runs 3]
(--limits: what valdrix_bench_conversations --limits prints, the floors as the code has them)
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from find import start_sim
from launchers import LINE_RATES, start_ser2net  # find put harness/ on the path

HARNESS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness")
SLOW_MS = 300  # one way
SLOW_TARGET = 1.2 * (len(LINE_RATES) + 6)  # round trips

SHOW_READS = (4, 2)  # silent reads, drains
FIND_READS = (5, 0)


def floor_ms(limits, reads):
    # limits: what valdrix_bench_conversations --limits prints, the floors as the code has them.
    silent, drains = reads
    return silent * limits["silent_read_ms"] + drains * limits["drain_ms"]


def timed(config, *args):
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        actions = [(os.POSIX_SPAWN_DUP2, out.fileno(), 1), (os.POSIX_SPAWN_DUP2, err.fileno(), 2)]
        start = time.monotonic()
        pid = os.posix_spawn(config, [config, *args], os.environ, file_actions=actions)
        _, status, _ = os.wait4(pid, 0)
        wall = (time.monotonic() - start) * 1000
        out.seek(0)
        return wall, os.waitstatus_to_exitcode(status), out.read().decode()


def median_of(runs, config, check, *args, pause=0.0):
    # pause: before each run, for the server to let the last run's connection go.
    walls = []
    for _ in range(runs):
        time.sleep(pause)
        wall, status, out = timed(config, *args)
        if status != 0 or not check(out):
            sys.exit(f"{' '.join(args)}: status {status}, output {out!r}")
        walls.append(wall)
    return statistics.median(walls)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--find-runs", type=int, default=3)
    parser.add_argument("--limits", required=True)
    args = parser.parse_args()
    limits = json.loads(args.limits)
    show_floor_ms, find_floor_ms = floor_ms(limits, SHOW_READS), floor_ms(limits, FIND_READS)
    if not shutil.which("ser2net"):
        sys.exit("ser2net is not installed (scripts/install-deps.sh)")
    work = tempfile.mkdtemp(prefix="valdrix-bench-net-")
    procs = []
    try:
        shown = start_sim(args.sim, "--rate", "115200")
        found = start_sim(args.sim, "--rate", "57600")
        silent = [start_sim(args.sim, "--silent") for _ in range(7)]
        procs += [shown[0], found[0]] + [p for p, _ in silent]
        s2n, urls = start_ser2net(work, [shown[1], found[1]] + [path for _, path in silent])
        procs.append(s2n)
        at115200 = lambda out: "rate:                115200" in out
        local = median_of(args.runs, args.config, at115200, "show", shown[1])
        remote = median_of(args.runs, args.config, at115200, "show", urls[0])
        find = median_of(args.find_runs, args.config,
                         lambda out: out.count("no answer at any rate") == 7, "find", *urls[1:])
        proxy = subprocess.Popen([sys.executable, os.path.join(HARNESS, "delay_proxy.py"), urls[0],
                                  os.path.join(work, "proxy.log"), str(SLOW_MS)],
                                 stdout=subprocess.PIPE, text=True)
        procs.append(proxy)
        slow_url = proxy.stdout.readline().strip()
        slow = median_of(args.find_runs, args.config, at115200, "show", slow_url,
                         pause=4 * SLOW_MS / 1000)
        trips = (slow - show_floor_ms) / (2 * SLOW_MS)
        print("| via | command | floor ms | median wall ms | ratio | target |")
        print("|---|---|---:|---:|---:|---|")
        for via, what, floor, wall, limit in (
                ("terminal", "show@115200", show_floor_ms, local, 1.02),
                ("ser2net", "show@115200", show_floor_ms, remote, 1.02),
                ("ser2net", "find, 8 ports", find_floor_ms, find, 1.05)):
            ratio = wall / floor
            print(f"| {via} | {what} | {floor} | {wall:.1f} | {ratio:.4f} | "
                  f"{'met' if ratio <= limit else 'missed'} |")
        print(f"| ser2net, {SLOW_MS} ms each way | show@115200 | {show_floor_ms} | {slow:.1f} | "
              f"{trips:.1f} round trips above the floor | "
              f"{'met' if trips <= SLOW_TARGET else 'missed'} (<= {SLOW_TARGET:.1f}) |")
    finally:
        for proc in procs:
            proc.terminate()
            proc.wait()
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
