#!/usr/bin/env python3
"""Times valdrixconfig.exe under Wine against valdrix-sim, driven by the Wine test driver.

Per run: the start-up (from launching `wine valdrixconfig.exe` until the dialog answers with its
first status line), the search at 57600 (from choosing the port until the status line reads
"Status: Enter values and press Apply") and the close (from the Close command until the dialog is
gone). The dialog answers no message while a conversation runs, so each status read blocks
until the conversation has ended (up to the driver's 200 ms per try) and is asked again at once:
the end is seen within one driver round trip. valdrix-sim's frame log gives the device side of
each conversation as a cross-check.

Expects WINEPREFIX and DISPLAY set up (tools/wine/lib.sh) and the port mapped to the simulator.
Prints one JSON object.
"""
import argparse
import json
import os
import subprocess
import sys
import time

ID = {}  # control ids by name, from the template (--template)
STATUS = {}  # the status texts by name ("ENTER_VALUES"), from the template
TICK_MS = 1000.0 / os.sysconf("SC_CLK_TCK")


class Driver:
    """One `driver.exe serve`: one Wine start for every command of the bench."""

    def __init__(self, exe):
        self.proc = subprocess.Popen(["wine", exe, "serve"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)

    def ask(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        answer = json.loads(self.proc.stdout.readline())
        return answer["code"], answer["lines"]

    def status(self):
        code, lines = self.ask(f"text {ID['IDC_STATUS']}")
        return code, lines[0] if lines else ""

    def stop(self):
        self.proc.stdin.close()
        self.proc.wait(timeout=10)


def cpu_ms(pid):
    """CPU time of a process: the scheduler's nanosecond figure summed over its threads, or
    user + system time in clock ticks where the kernel does not give it."""
    total = 0.0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/sched") as f:
                runtime = [line for line in f if line.startswith("se.sum_exec_runtime")]
            if not runtime:
                raise OSError("no sum_exec_runtime")
            total += float(runtime[0].split(":")[1])
        return total
    except OSError:
        pass
    try:
        with open(f"/proc/{pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) * TICK_MS


def find_pid(name):
    """Our own process whose command line names the program (the Wine loader execs into it)."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                argv = f.read().split(b"\0")
        except OSError:
            continue
        if any(arg.endswith(name.encode()) for arg in argv[:2]):
            return int(entry)
    return None


def wineserver_pid():
    prefix = os.environ["WINEPREFIX"].encode()
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm", "rb") as f:
                if not f.read().startswith(b"wineserver"):
                    continue
            with open(f"/proc/{entry}/environ", "rb") as f:
                if b"WINEPREFIX=" + prefix in f.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def wait_until(predicate, timeout_s, pause_s=0.0):
    end = time.monotonic() + timeout_s
    while time.monotonic() < end:
        if predicate():
            return time.monotonic()
        if pause_s:
            time.sleep(pause_s)
    raise RuntimeError("timed out")


def log_lines(path):
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def sim_span_ms(frames):
    """First frame received to last frame sent, on the simulator's clock."""
    rx = [f["t"] for f in frames if f["dir"] == "rx"]
    tx = [f["t"] for f in frames if f["dir"] == "tx"]
    if not rx or not tx:
        return None
    return (max(tx) - min(rx)) * 1000.0


def one_run(driver, exe, port, sim_log, server):
    result = {}
    start = time.monotonic()
    program = subprocess.Popen(["wine", exe], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Asked every 5 ms: until the dialog exists the driver answers at once.
    shown = wait_until(lambda: driver.status() == (0, STATUS["SELECT_PORT"]), 30, 0.005)
    result["startup_ms"] = (shown - start) * 1000.0
    pid = find_pid(os.path.basename(exe)) or program.pid

    def conversation(name, command, done):
        before = len(log_lines(sim_log))
        cpu0, server0 = cpu_ms(pid), cpu_ms(server) if server else None
        t0 = time.monotonic()
        code, lines = driver.ask(command)
        if code != 0:
            raise RuntimeError(f"driver {command}: {lines}")
        t1 = wait_until(done, 30)
        cpu1, server1 = cpu_ms(pid), cpu_ms(server) if server else None
        result[name] = {
            "wall_ms": (t1 - t0) * 1000.0,
            "cpu_ms": cpu1 - cpu0 if cpu0 is not None and cpu1 is not None else None,
            "wineserver_cpu_ms": server1 - server0 if server0 is not None else None,
            "sim_span_ms": sim_span_ms(log_lines(sim_log)[before:]),
        }

    conversation("search", f"choose {ID['IDC_PORT']} {port}",
                 lambda: driver.status() == (0, STATUS["ENTER_VALUES"]))
    rate = driver.ask(f"current {ID['IDC_RATE']}")[1]
    if rate != ["57600"]:
        raise RuntimeError(f"found at {rate}, not 57600")
    conversation("close", f"command {ID['IDCANCEL']} 0",
                 lambda: driver.status()[0] == 1)  # 1: no dialog
    result["exit_code"] = program.wait(timeout=30)
    return result


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--template", required=True, help="dialog/template.json of a native build")
    parser.add_argument("--driver", required=True)
    parser.add_argument("--sim-log", required=True)
    parser.add_argument("--port", default="COM3")
    parser.add_argument("--runs", type=int, default=3)
    args = parser.parse_args()
    template = json.load(open(args.template))
    ID.update((c["name"], c["id"]) for c in template["controls"])
    STATUS.update(template["status"])

    driver = Driver(args.driver)
    server = wineserver_pid()
    try:
        # A first, unmeasured run warms the Wine server and the file caches.
        one_run(driver, args.exe, args.port, args.sim_log, server)
        runs = [one_run(driver, args.exe, args.port, args.sim_log, server)
                for _ in range(args.runs)]
    finally:
        driver.stop()
    json.dump({"runs": runs,
               "exe_bytes": os.path.getsize(args.exe)}, sys.stdout)
    print()


if __name__ == "__main__":
    main()
