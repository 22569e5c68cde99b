#!/usr/bin/env python3
"""Turns the bench samples into medians, floors and ratios; prints the table and writes JSON.

Floor of a conversation = silent reads x 1004 ms + drains x 1001 ms. A silent read asks for four
bytes and ends at its total time-out, 1000 + 4 x 1 ms. A drain ends with a one-byte read that
gets nothing, and that read ends at its own total time-out, 1000 + 1 x 1 ms: the 1000 ms gap
limit counts only between bytes of one read, and every byte of a drain is read by its own call.
valdrix-sim answers at once (--reply-delay 0), so no device time is added.
find's floor is its slowest port's conversation: a silent port reads five rates in vain, the
interface at 57600 three, then drains after the open and after the close.
"""
import argparse
import datetime
import json
import os
import platform
import statistics

POSIX_RATIO = 1.02
WINE_RATIO = 1.05
POSIX_CPU_MS = 20.0
FIND_RATIO = {8: 1.05, 32: 1.10}  # up to so many ports
FIND_CPU_MS = 50.0
FIND_SILENT_PORT = (5, 0)  # silent reads, drains
FIND_INTERFACE_PORT = {57600: (3, 2)}
SHOW_RATE_RATIO = 1.05
SHOW_RATE_CONVERSATION = (0, 2)  # show --rate at the interface's rate: no silent read

LIMITS = {}  # silent_read_ms, drain_ms, exe_max_bytes: from the code, given by run.sh


def floor_ms(silent_reads, drains):
    return silent_reads * LIMITS["silent_read_ms"] + drains * LIMITS["drain_ms"]


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def verdict(ok):
    return "met" if ok else "MISSED"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--posix")
    parser.add_argument("--wine")
    parser.add_argument("--find")
    parser.add_argument("--show-rate")
    parser.add_argument("--out", required=True)
    parser.add_argument("--limits", required=True,
                        help="the floors and the size limit: valdrix_bench_conversations --limits")
    args = parser.parse_args()
    LIMITS.update(json.loads(args.limits))

    # A part not run keeps its figures from the last run.
    results = {}
    if os.path.exists(args.out):
        with open(args.out) as f:
            results = json.load(f)
    if args.posix:
        report_conversations(args, results)
    if args.find:
        with open(args.find) as f:
            results["find"] = find_rows(json.load(f))
    if args.show_rate:
        with open(args.show_rate) as f:
            results["show_rate"] = show_rate_rows(json.load(f))
    with open(args.out, "w") as f:
        json.dump(results, f, indent=2)
        f.write("\n")
    if args.find:
        print_find(results["find"])
    if args.show_rate:
        print_show_rate(results["show_rate"])


def machine():
    return {"cpu": cpu_model(), "nproc": os.cpu_count(), "arch": platform.machine(),
            "kernel": platform.release()}


def today():
    return datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d")


def find_rows(samples):
    rows = []
    for size in samples["sizes"]:
        ports = [FIND_INTERFACE_PORT[size["interface_rate"]]] + \
            [FIND_SILENT_PORT] * size["silent_ports"]
        floors = [floor_ms(*p) for p in ports]
        wall = statistics.median(size["wall_ms"])
        limit = min((r for n, r in FIND_RATIO.items() if size["ports"] <= n), default=1.10)
        rows.append({
            "ports": size["ports"], "runs": len(size["wall_ms"]), "floor_ms": max(floors),
            "median_wall_ms": round(wall, 1), "ratio": round(wall / max(floors), 4),
            "sequential_ms": sum(floors),
            "median_cpu_ms": round(statistics.median(size["cpu_ms"]), 2),
            "max_cpu_ms": round(max(size["cpu_ms"]), 2), "wall_ms": size["wall_ms"],
            "cpu_ms": size["cpu_ms"], "faults": size["faults"],
            "target": verdict(wall / max(floors) <= limit and max(size["cpu_ms"]) < FIND_CPU_MS
                              and not size["faults"]),
        })
    return {"date": today(), "machine": machine(),
            "targets": {"ratio_up_to_ports": FIND_RATIO, "cpu_ms": FIND_CPU_MS},
            "sizes": rows}


def print_find(find):
    m = find["machine"]
    print(f"valdrix-config find, measured {find['date']} on {m['cpu']}, {m['nproc']} CPUs:")
    print("| ports | floor ms | median wall ms | ratio | one after another ms | CPU ms | target |")
    print("|---:|---:|---:|---:|---:|---:|---|")
    for r in find["sizes"]:
        print(f"| {r['ports']} | {r['floor_ms']} | {r['median_wall_ms']} | {r['ratio']:.4f} "
              f"| {r['sequential_ms']} | {r['median_cpu_ms']} (max {r['max_cpu_ms']}) "
              f"| {r['target']} |")
    for r in find["sizes"]:
        for fault in r["faults"]:
            print(f"fault with {r['ports']} ports: {fault}")


def show_rate_rows(samples):
    floor = floor_ms(*SHOW_RATE_CONVERSATION)
    rows = []
    for r in samples["rates"]:
        wall = statistics.median(r["wall_ms"])
        rows.append({
            "rate": r["rate"], "runs": len(r["wall_ms"]), "floor_ms": floor,
            "median_wall_ms": round(wall, 1), "ratio": round(wall / floor, 4),
            "median_cpu_ms": round(statistics.median(r["cpu_ms"]), 2), "wall_ms": r["wall_ms"],
            "cpu_ms": r["cpu_ms"], "faults": r["faults"],
            "target": verdict(wall / floor <= SHOW_RATE_RATIO and not r["faults"]),
        })
    return {"date": today(), "machine": machine(), "target_ratio": SHOW_RATE_RATIO,
            "rates": rows}


def print_show_rate(show):
    m = show["machine"]
    print(f"valdrix-config show --rate R, measured {show['date']} on {m['cpu']}, "
          f"{m['nproc']} CPUs:")
    print("| R | floor ms | median wall ms | ratio | CPU ms | target |")
    print("|---:|---:|---:|---:|---:|---|")
    for r in show["rates"]:
        print(f"| {r['rate']} | {r['floor_ms']} | {r['median_wall_ms']} | {r['ratio']:.4f} "
              f"| {r['median_cpu_ms']} | {r['target']} |")
        for fault in r["faults"]:
            print(f"fault at {r['rate']}: {fault}")


def report_conversations(args, results):
    with open(args.posix) as f:
        posix = json.load(f)
    # Without wine its figures go, rather than stay from an older run.
    results.pop("wine", None)
    results.pop("exe_bytes", None)
    rows = []
    for conv in posix["conversations"]:
        floor = floor_ms(conv["silent_reads"], conv["drains"])
        wall = statistics.median(conv["wall_ms"])
        cpu = statistics.median(conv["cpu_ms"])
        rows.append({
            "via": "POSIX", "conversation": conv["name"], "runs": len(conv["wall_ms"]),
            "silent_reads": conv["silent_reads"], "drains": conv["drains"],
            "floor_ms": floor, "median_wall_ms": round(wall, 1), "ratio": round(wall / floor, 4),
            "median_cpu_ms": round(cpu, 2), "max_cpu_ms": round(max(conv["cpu_ms"]), 2),
            "faults": conv["faults"],
            "target": verdict(wall / floor <= POSIX_RATIO and max(conv["cpu_ms"]) < POSIX_CPU_MS
                              and not conv["faults"]),
        })

    wine = None
    if args.wine:
        with open(args.wine) as f:
            wine = json.load(f)
        for name, silent, drains in (("search@57600", 3, 1), ("close", 0, 1)):
            key = name.split("@")[0]
            samples = [run[key] for run in wine["runs"]]
            floor = floor_ms(silent, drains)
            wall = statistics.median(s["wall_ms"] for s in samples)
            cpus = [s["cpu_ms"] for s in samples if s["cpu_ms"] is not None]
            server = [s["wineserver_cpu_ms"] for s in samples
                      if s["wineserver_cpu_ms"] is not None]
            spans = [s["sim_span_ms"] for s in samples if s["sim_span_ms"] is not None]
            rows.append({
                "via": "Wine", "conversation": name, "runs": len(samples),
                "silent_reads": silent, "drains": drains, "floor_ms": floor,
                "median_wall_ms": round(wall, 1), "ratio": round(wall / floor, 4),
                "median_cpu_ms": round(statistics.median(cpus), 2) if cpus else None,
                "median_wineserver_cpu_ms":
                    round(statistics.median(server), 2) if server else None,
                "median_sim_span_ms": round(statistics.median(spans), 1) if spans else None,
                "target": verdict(wall / floor <= WINE_RATIO),
            })

    results.update({
        "date": today(),
        "machine": machine(),
        "floors": {"silent_read_ms": LIMITS["silent_read_ms"], "drain_ms": LIMITS["drain_ms"],
                   "sim_reply_delay_ms": posix["reply_delay_ms"]},
        "targets": {"posix_ratio": POSIX_RATIO, "wine_ratio": WINE_RATIO,
                    "posix_cpu_ms": POSIX_CPU_MS, "exe_bytes": LIMITS["exe_max_bytes"]},
        "conversations": rows,
    })
    if wine:
        startup = [run["startup_ms"] for run in wine["runs"]]
        results["wine"] = {
            "startup_median_ms": round(statistics.median(startup), 1),
            "startup_ms": [round(s, 1) for s in startup],
            "exit_codes": [run["exit_code"] for run in wine["runs"]],
        }
        results["exe_bytes"] = wine["exe_bytes"]

    m = results["machine"]
    print(f"Measured {results['date']} on {m['cpu']}, {m['nproc']} CPUs, {m['arch']}.")
    print("| via | conversation | silent reads | drains | floor ms | median wall ms | ratio "
          "| CPU ms | target |")
    print("|---|---|---:|---:|---:|---:|---:|---:|---|")
    for r in rows:
        cpu = "-" if r["median_cpu_ms"] is None else str(r["median_cpu_ms"])
        if r.get("median_wineserver_cpu_ms") is not None:
            cpu += f" (+{r['median_wineserver_cpu_ms']} wineserver)"
        print(f"| {r['via']} | {r['conversation']} | {r['silent_reads']} | {r['drains']} "
              f"| {r['floor_ms']} | {r['median_wall_ms']} | {r['ratio']:.4f} | {cpu} "
              f"| {r['target']} |")
    if wine:
        w = results["wine"]
        size = results["exe_bytes"]
        print(f"| Wine | start-up to dialog shown | | | | {w['startup_median_ms']} | | | |")
        print(f"| - | valdrixconfig.exe size | | | | {size} bytes | | | "
              f"{verdict(size < LIMITS['exe_max_bytes'])} |")
    print(f"Floors: silent 4-byte read {LIMITS['silent_read_ms']} ms, drain {LIMITS['drain_ms']} ms; "
          f"valdrix-sim reply delay {posix['reply_delay_ms']} ms. Medians of "
          f"{posix['runs']} POSIX runs" + (f" and {len(wine['runs'])} Wine runs" if wine else "")
          + f"; figures in {os.path.relpath(args.out)}.")


if __name__ == "__main__":
    main()
