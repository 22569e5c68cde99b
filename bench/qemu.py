#!/usr/bin/env python3
"""Times the arm64 valdrix-config under qemu-aarch64 against valdrix-sim on a pseudo-terminal.

`show` at 115200, by the host's program and by the arm64 one under qemu-user, against one
valdrix-sim --reply-delay 0 (the host's): four silent reads and the drains after the open and the
close frames set the floor, 4 x 1004 + 2 x 1001 = 6018 ms. Timed as network.py times (spawn to
wait4, output checked). Prints the table rows for docs/development.md.

Usage: qemu.py --config PATH --arm64-config PATH --sim PATH --limits JSON [--runs 5]
"""
import argparse
import json
import shutil
import sys

from network import SHOW_READS, floor_ms, median_of, start_sim


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--arm64-config", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--limits", required=True)
    args = parser.parse_args()
    show_floor_ms = floor_ms(json.loads(args.limits), SHOW_READS)
    qemu = shutil.which("qemu-aarch64") or sys.exit(
        "qemu-user is not installed (scripts/install-deps.sh --arm64)")
    sim, pty = start_sim(args.sim, "--rate", "115200")
    try:
        at115200 = lambda out: "rate:                115200" in out
        host = median_of(args.runs, args.config, at115200, "show", pty)
        emulated = median_of(args.runs, qemu, at115200, args.arm64_config, "show", pty)
    finally:
        sim.terminate()
        sim.wait()
    print("| program | command | floor ms | median wall ms | ratio | target |")
    print("|---|---|---:|---:|---:|---|")
    for program, wall, limit in (("amd64", host, None), ("arm64 under qemu-aarch64", emulated, 1.05)):
        ratio = wall / show_floor_ms
        verdict = "" if limit is None else "met" if ratio <= limit else "missed"
        print(f"| {program} | show@115200 | {show_floor_ms} | {wall:.1f} | {ratio:.4f} | {verdict} |")


if __name__ == "__main__":
    main()
