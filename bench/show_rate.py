#!/usr/bin/env python3
"""Times `valdrix-config show PORT --rate R` against valdrix-sim answering at R.

With the rate known the search sends one interface query, which is answered: the floor is the
read-back and the drains after the open and the close frames. Run as a child with stdout and
stderr in files, as find.py does; each run's report is checked. Prints one JSON object with
every sample; report.py makes the table.

Usage: show_rate.py --config PATH --sim PATH [--rates 9600,115200] [--runs 5]
"""
import argparse
import json
import sys

from find import run_find, start_sim


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--config", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--rates", default="9600,115200")
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    rows = []
    for rate in args.rates.split(","):
        proc, path = start_sim(args.sim, "--rate", rate)
        row = {"rate": int(rate), "wall_ms": [], "cpu_ms": [], "faults": []}
        try:
            for _ in range(args.runs):
                wall, cpu, status, out = run_find(args.config, ["show", path, "--rate", rate],
                                                  command=())
                row["wall_ms"].append(round(wall, 3))
                row["cpu_ms"].append(round(cpu, 3))
                if status != 0 or f"rate:                {rate}" not in out.splitlines():
                    row["faults"].append(f"status {status}, output: {out!r}")
        finally:
            proc.terminate()
            proc.wait()
        rows.append(row)
        print(f"show --rate {rate}: {args.runs} runs", file=sys.stderr)
    json.dump({"rates": rows}, sys.stdout)
    print()


if __name__ == "__main__":
    main()
