#!/usr/bin/env python3
"""Times `valdrix-config find` over N pseudo-terminals, each with its own valdrix-sim.

One simulator answers at 57600, the others are silent; all answer at once (--reply-delay 0). The
program runs as a child with stdout and stderr in files (so no progress lines: stderr is not a
terminal). Wall time runs from the spawn to wait4's return; CPU time is the child's user + system
time from wait4. The printed report is checked: the interface found at 57600, every other port
"no answer at any rate". Prints one JSON object with every sample; report.py makes the table.

Usage: find.py --config PATH --sim PATH [--plan 1x5,8x5,32x3]   (ports x runs)
"""
import argparse
import json
import os
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import launchers  # noqa: E402

RATE = "57600"


def start_sim(sim, *options):
    # Answering at once: no device time in the figures.
    return launchers.start_sim(sim, "--reply-delay", "0", *options)


def run_find(config, ports, command=("find",)):
    # Also runs other commands (show_rate.py): command and ports make the arguments.
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        actions = [(os.POSIX_SPAWN_DUP2, out.fileno(), 1), (os.POSIX_SPAWN_DUP2, err.fileno(), 2)]
        start = time.monotonic()
        pid = os.posix_spawn(config, [config, *command, *ports], os.environ,
                             file_actions=actions)
        _, status, usage = os.wait4(pid, 0)
        wall = (time.monotonic() - start) * 1000
        out.seek(0)
        return wall, (usage.ru_utime + usage.ru_stime) * 1000, status, out.read().decode()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--plan", default="1x5,8x5,32x3")
    args = parser.parse_args()
    plan = [tuple(int(x) for x in step.split("x")) for step in args.plan.split(",")]

    # Started once for every size: the first n ports are the interface and n - 1 silent ones.
    sims = [start_sim(args.sim, "--rate", RATE)]
    sims += [start_sim(args.sim, "--silent") for _ in range(max(n for n, _ in plan) - 1)]
    paths = [path for _, path in sims]
    sizes = []
    try:
        for n, runs in plan:
            size = {"ports": n, "interface_rate": int(RATE), "silent_ports": n - 1,
                    "wall_ms": [], "cpu_ms": [], "faults": []}
            for _ in range(runs):
                wall, cpu, status, out = run_find(args.config, paths[:n])
                size["wall_ms"].append(round(wall, 3))
                size["cpu_ms"].append(round(cpu, 3))
                lines = out.splitlines()
                if (os.waitstatus_to_exitcode(status) != 0 or f"rate:                {RATE}"
                        not in lines or f"port:                {paths[0]}" not in lines
                        or any(f"{p}: no answer at any rate" not in lines for p in paths[1:n])):
                    size["faults"].append(f"status {status}, output: {out!r}")
            sizes.append(size)
            print(f"find over {n} ports: {runs} runs", file=sys.stderr)
    finally:
        for proc, _ in sims:
            proc.terminate()
            proc.wait()
    json.dump({"reply_delay_ms": 0, "sizes": sizes}, sys.stdout)
    print()


if __name__ == "__main__":
    main()
