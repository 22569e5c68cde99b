#!/usr/bin/env python3
"""The real valdrixconfig.exe and valdrix-config.exe against valdrix-sim, in the Wine prefix e2e.sh
prepared: real input, the Win32 serial port and COM names, the real message box, the exit code.
Usage: e2e.py <valdrixconfig.exe> <valdrix-config.exe> <driver.exe> <valdrix-sim> <template.json>
       <work dir>"""
import json
import os
import signal
import socket
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "harness"))
from launchers import LINE_RATES as RATES, start_ser2net, start_sim  # noqa: E402
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import po_catalogue  # noqa: E402

EXE, CONSOLE, DRIVER, SIM, TEMPLATE, WORK = sys.argv[1:7]
ID = {c["name"]: c["id"] for c in json.load(open(TEMPLATE))["controls"]}
APPLY, CLOSE, PORT, RATE, VERSION, ADDRESS, BASE, MODULES16, MODULES8, STATUS = (
    ID[name] for name in ("IDOK", "IDCANCEL", "IDC_PORT", "IDC_RATE", "IDC_VERSION",
                          "IDC_XN_ADDRESS", "IDC_BASE_ADDRESS", "IDC_MODULES16", "IDC_MODULES8",
                          "IDC_STATUS"))
SELECT_PORT, ENTER_VALUES = (json.load(open(TEMPLATE))["status"][n] for n in ("SELECT_PORT", "ENTER_VALUES"))
running = []  # processes to end when a scenario is over


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def search_frames(rate):
    # The query at each rate up to the answering one, the reads and the open frame at that one.
    return ([("F0 F0", r) for r in RATES[:RATES.index(rate) + 1]] +
            [(f, rate) for f in ("F2 FD 00 0F", "F2 01 FF 0C", "F2 F1 FF FC", "F2 F2 FF FF",
                                 "F2 FF 01 0C")])


class Sim:
    def __init__(self, port, *options):
        self.log = f"{WORK}/{port}-{len(running)}.log"
        self.process, self.path = start_sim(
            SIM, "--link", f"{os.environ['WINEPREFIX']}/dosdevices/{port}", "--log", self.log,
            *options)
        running.append(self.process)

    def received(self):
        with open(self.log) as log:
            return [(e["hex"], e["rate"], e["t"]) for e in map(json.loads, log) if e["dir"] == "rx"]

    def expect(self, frames, count_timeout=0):
        deadline = time.monotonic() + count_timeout
        while len(self.received()) < len(frames) and time.monotonic() < deadline:
            time.sleep(0.1)
        got = [frame[:2] for frame in self.received()]
        check(got == frames, f"{self.log}: received\n{got}\nexpected\n{frames}")


class Program:
    def __init__(self, env=None):
        self.process = subprocess.Popen(["wine", EXE], stderr=subprocess.DEVNULL, env=env)
        self.driver = subprocess.Popen(["wine", DRIVER, "serve"], stdin=subprocess.PIPE,
                                       stdout=subprocess.PIPE, text=True, bufsize=1)
        running.extend((self.process, self.driver))
        self.do("wait 30000")

    def do(self, line):
        self.driver.stdin.write(line + "\n")
        answer = json.loads(self.driver.stdout.readline())
        check(answer["code"] == 0, f"driver {line}: {answer['lines']}")
        return answer["lines"]

    def expect(self, enabled, values):
        # enabled: the ids of the enabled controls; values: the texts that are not empty
        dump = {int(i): c for i, c in json.loads(self.do("dump")[0]).items()}
        for id_ in (APPLY, CLOSE, PORT, RATE, VERSION, ADDRESS, BASE, MODULES16, MODULES8, STATUS):
            got = (dump[id_]["enabled"], dump[id_].get("current", dump[id_]["text"]) or "")
            want = (id_ in enabled, values.get(id_, {APPLY: "Apply", CLOSE: "Close"}.get(id_, "")))
            check(got == want, f"control {id_}: (enabled, text) {got}, expected {want}")
        return dump

    def click(self, id_):
        left, top, right, bottom = map(int, self.do(f"rect {id_}")[0].split())
        subprocess.run(["xdotool", "mousemove", "--sync", str((left + right) // 2),
                        str((top + bottom) // 2), "click", "1"], check=True)

    def expect_exit(self):
        self.do("gone 15000")
        check(self.process.wait(20) == 0, f"exit code {self.process.returncode}")


def found(*values):  # port, rate, version, address, base, 16-bit and 8-bit modules
    return dict(zip((PORT, RATE, VERSION, ADDRESS, BASE, MODULES16, MODULES8, STATUS),
                    map(str, values + (ENTER_VALUES,))))


FOUND_ENABLED = {CLOSE, ADDRESS, BASE, MODULES16, MODULES8, STATUS}


def escape_before_search():
    sim = Sim("com3")
    program = Program()
    program.click(STATUS)  # activates the window; the focus stays on Close
    subprocess.run(["xdotool", "key", "Escape"], check=True)
    program.expect_exit()
    sim.expect([])


def found_apply_close():
    sim = Sim("com3", "--rate", "57600", "--address", "7", "--base", "20", "--count", "5")
    program = Program()
    dump = program.expect({CLOSE, PORT, STATUS}, {STATUS: SELECT_PORT})
    check([dump[i]["entries"] for i in (PORT, RATE, ADDRESS)] ==
          [["COM3"], [str(r) for r in RATES], [str(a) for a in range(1, 32)]], "lists")
    # Real input: a click opens the port list, the keyboard takes its first entry.
    program.click(PORT)
    deadline = time.monotonic() + 10
    while program.do(f"dropped {PORT}") != ["1"]:
        check(time.monotonic() < deadline, "the port list did not drop down")
        time.sleep(0.1)
    subprocess.run(["xdotool", "key", "Down", "Return"], check=True)
    program.do(f"waitstatus 30000 {ENTER_VALUES}")
    sim.expect(search_frames(57600))
    times = [frame[2] for frame in sim.received()]
    check(all(b - a >= 0.9 for a, b in zip(times[:3], times[1:4])), f"silent rates {times[:4]}")
    program.expect(FOUND_ENABLED, found("COM3", 57600, "1.02", 7, 20, 2, 1))

    # EN_CHANGE from the real edit; 255 characters, of which the program reads 254: base 33.
    long_base = "0" * 252 + "337"
    program.do(f"settext {BASE} {long_base}")
    program.expect(FOUND_ENABLED | {APPLY}, found("COM3", 57600, "1.02", 7, long_base, 2, 1))
    program.do(f"press {APPLY}")
    wire = search_frames(57600) + [("F2 01 07 F4", 57600), ("F2 F1 21 22", 57600),
                                   ("F2 F2 05 05", 57600)] + search_frames(57600)
    sim.expect(wire, 30)
    program.do(f"waitstatus 30000 {ENTER_VALUES}")
    program.expect(FOUND_ENABLED, found("COM3", 57600, "1.02", 7, 33, 2, 1))
    program.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect(wire + [("F2 FF 00 0D", 57600)])


def not_found_then_com12():
    sim3 = Sim("com3", "--silent")
    sim12 = Sim("com12", "--rate", "9600", "--address", "10", "--base", "1", "--count", "3",
                "--version", "100")
    program = Program()
    entries = program.do(f"entries {PORT}")
    check(entries == ["COM3", "COM12"], f"port list {entries}")
    program.do(f"choose {PORT} COM3")
    check(program.do("errorbox 20000") == ["Error", "No Valdrix found on COM3"], "error box")
    program.do("dismiss")
    program.expect({CLOSE, PORT, STATUS}, {PORT: "COM3", STATUS: SELECT_PORT})
    sim3.expect([("F0 F0", rate) for rate in RATES])
    program.do(f"choose {PORT} COM12")  # opened as \\.\COM12
    program.do(f"waitstatus 30000 {ENTER_VALUES}")
    program.expect(FOUND_ENABLED, found("COM12", 9600, "1.00", 10, 1, 1, 1))
    program.do("close")  # WM_CLOSE, as from the window's close box
    program.expect_exit()
    sim12.expect(search_frames(9600) + [("F2 FF 00 0D", 9600)])


PO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "po")


def catalogue(language):
    return {e["msgid"]: e["msgstr"] for e in po_catalogue.read(os.path.join(PO, language + ".po"))}


def german_dialog_and_fit():
    # Under a German UI language the German dialog finds the interface. Then every label, button
    # and status line of each language is measured in its control at the dialog's font.
    sim = Sim("com3", "--rate", "19200", "--address", "4", "--base", "40", "--count", "7")
    program = Program(dict(os.environ, LANG="de_DE.UTF-8", LC_ALL="", LANGUAGE=""))
    de = catalogue("de")
    buttons = {APPLY: de["Apply"], CLOSE: de["Close"]}
    program.expect({CLOSE, PORT, STATUS}, {**buttons, STATUS: de[SELECT_PORT]})
    program.do(f"choose {PORT} COM3")
    program.do(f"waitstatus 30000 {de[ENTER_VALUES]}")
    program.expect(FOUND_ENABLED, {**found("COM3", 19200, "1.02", 4, 40, 3, 1), **buttons,
                                   STATUS: de[ENTER_VALUES]})
    controls = json.load(open(TEMPLATE))["controls"]
    for language in open(os.path.join(PO, "LINGUAS")).read().split():
        texts = catalogue(language)
        shown = [(c["id"], texts[c["text"]]) for c in controls if c["text"]]
        shown += [(STATUS, texts[t]) for t in texts if t.startswith("Status: ")]
        for id_, text in shown:
            width, room = map(int, program.do(f"measure {id_} {text}")[0].split())
            check(width <= room, f"{language}: {text!r} is {width} pixels wide, {room} fit")
    program.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect(search_frames(19200) + [("F2 FF 00 0D", 19200)])


def console(*args):
    return subprocess.run(["wine", CONSOLE, *args], capture_output=True, text=True, timeout=60)


def console_find_and_a_file():
    # valdrix-config.exe: find on two ports at once (COM3 named twice, once with the device
    # namespace's prefix: talked to once), and a file given as the port.
    sim3 = Sim("com3", "--rate", "9600", "--address", "12", "--base", "40", "--count", "7",
               "--version", "103")
    sim4 = Sim("com4", "--silent")
    r = console("find", "\\\\.\\COM3", "COM4", "com3")
    check((r.returncode, r.stdout.replace("\r", "")) == (0, (
        "port:                \\\\.\\COM3\nrate:                9600\nversion:             1.03\n"
        "XpressNet address:   12\nmodule base address: 40\n16-bit modules:      3\n"
        "8-bit modules:       1\nCOM4: no answer at any rate\ncom3: the same port as \\\\.\\COM3\n")),
          f"find: {r}")
    sim3.expect(search_frames(9600) + [("F2 FF 00 0D", 9600)])
    sim4.expect([("F0 F0", rate) for rate in RATES])
    notes = f"{os.environ['WINEPREFIX']}/drive_c/valdrix notes.txt"
    with open(notes, "w") as f:
        f.write("keep me\n")
    os.utime(notes, (981173106, 981173106))
    for name in ("C:\\valdrix notes.txt", "NUL"):  # NUL: a device whose GetCommState fails
        r = console("show", name)
        check(r.returncode == 3 and f"{name}: not a serial port" in r.stderr and open(notes).read()
              == "keep me\n" and os.stat(notes).st_mtime == 981173106, f"{name} as the port: {r}")
    r = console("list")  # the free ports in natural order, found without SetupAPI under Wine
    check((r.returncode, r.stdout.replace("\r", "")) == (0, "COM3\nCOM4\n"), f"list: {r}")


def console_unplugged():
    # The adapter pulled out while the search reads: the search ends naming the failed call.
    sim = Sim("com6", "--silent")
    running.append(subprocess.Popen(["wine", CONSOLE, "show", "COM6"], stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, text=True))
    sim.expect([("F0 F0", RATES[0])], count_timeout=20)
    sim.process.terminate()
    out, err = running[-1].communicate(timeout=30)
    r = (running[-1].returncode, err.replace("\r", ""))
    check(r[0] == 4 and "Could not write to COM6: " in r[1], f"unplugged: {r}")


def console_over_ser2net():
    # valdrix-config.exe on Winsock: show through the real ser2net on loopback.
    sim = Sim("com5", "--rate", "19200", "--address", "9")
    process, (url,) = start_ser2net(WORK, [sim.path])
    running.append(process)
    r = console("--json", "show", url)
    check(r.returncode == 0 and json.loads(r.stdout)["address"] == 9, f"show {url}: {r}")
    sim.expect(search_frames(19200) + [("F2 FF 00 0D", 19200)])


def console_ctrl_c_over_network():
    # Wine hands a SIGINT to the console program as Ctrl-C. It comes while the server has not
    # agreed to COM-PORT yet: the wait ends at once, not at the 3 s negotiation time-out.
    with socket.create_server(("127.0.0.1", 0)) as server:
        running.append(subprocess.Popen(
            ["wine", CONSOLE, "show", f"rfc2217://127.0.0.1:{server.getsockname()[1]}"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True))
        with server.accept()[0]:
            time.sleep(0.3)
            running[-1].send_signal(signal.SIGINT)
            stopped = time.monotonic()
            out, err = running[-1].communicate(timeout=10)
    r = (running[-1].returncode, out, err.replace("\r", ""), round(time.monotonic() - stopped, 1))
    check(r[:3] == (130, "", "valdrix-config: stopped by Ctrl-C\n") and r[3] < 1, f"Ctrl-C: {r}")


def main():
    for scenario in (escape_before_search, found_apply_close, not_found_then_com12,
                     german_dialog_and_fit, console_find_and_a_file, console_unplugged,
                     console_over_ser2net, console_ctrl_c_over_network):
        started = time.monotonic()
        try:
            scenario()
        except (AssertionError, RuntimeError, subprocess.TimeoutExpired, ValueError) as failure:
            print(f"FAIL {scenario.__name__}: {failure}")
            return 1
        finally:
            for process in running:
                process.terminate()  # valdrix-sim then removes its link
                process.wait(10)
            running.clear()
        print(f"ok   {scenario.__name__} ({time.monotonic() - started:.1f} s)", flush=True)
    return 0


sys.exit(main())
