#!/usr/bin/env python3
"""End-to-end scenarios of valdrixconfig.exe under Wine, run by e2e.sh inside a prepared prefix.

Each scenario is one start of the program with valdrix-sim on the COM ports it maps. The dialog
is driven by driver.exe (one "serve" process per program start) and, for one choice of the port
and one Escape, by real X input through xdotool. The checks compare the simulator's frame log
(every frame the program sent, with the line rate it went out at) and the dialog's controls.
"""
import argparse
import json
import os
import selectors
import signal
import subprocess
import sys
import time

APPLY, CLOSE = 1, 2
PORT, RATE, ADDRESS, BASE, MODULES16, MODULES8, STATUS, VERSION = (200, 201, 202, 203, 205,
                                                                    206, 207, 108)
VALUE_CONTROLS = (ADDRESS, BASE, MODULES16, MODULES8)

SELECT_PORT = "Status: Please select a COM port"
ENTER_VALUES = "Status: Enter values and press Apply"

RATES = (9600, 19200, 38400, 57600, 115200)
SILENT_READ_S = 0.9  # a read that gets nothing returns after about one second


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def search_frames(rate):
    """What a search sends to an interface answering at `rate`: the interface query at each rate
    up to that one, then the four queries and the open frame at that rate."""
    frames = [("F0 F0", r) for r in RATES[:RATES.index(rate) + 1]]  # interface query
    frames += [
        ("F2 FD 00 0F", rate),  # version query
        ("F2 01 FF 0C", rate),  # address query
        ("F2 F1 FF FC", rate),  # base-address query
        ("F2 F2 FF FF", rate),  # module-count query
        ("F2 FF 01 0C", rate),  # open the interface
    ]
    return frames


def close_frame(rate):
    return [("F2 FF 00 0D", rate)]  # close the interface


def show_frames(frames):
    return "\n".join(f"  {hex_} @ {rate}" for hex_, rate in frames) or "  (nothing)"


class Env:
    def __init__(self, args):
        self.exe = args.exe
        self.driver = args.driver
        self.sim = args.sim
        self.work = args.work
        self.no_port = args.no_port
        self.dosdevices = os.path.join(os.environ["WINEPREFIX"], "dosdevices")
        self.logs = 0
        self.running = []  # simulators and programs a scenario started, ended after it

    def end_all(self):
        for thing in reversed(self.running):
            thing.end_now()
        self.running = []

    def mask(self, port):
        link = os.path.join(self.dosdevices, port)
        # A dangling link would fall back to a host port: point it at the empty folder.
        tmp = link + ".new"
        os.symlink(self.no_port, tmp)
        os.replace(tmp, link)


class Sim:
    """valdrix-sim on a pseudo-terminal, linked as a COM port of the prefix."""

    def __init__(self, env, port, *options):
        self.env = env
        self.port = port
        env.logs += 1
        self.log = os.path.join(env.work, f"frames-{env.logs}-{port}.log")
        link = os.path.join(env.dosdevices, port)
        self.process = subprocess.Popen(
            [env.sim, "--link", link, "--log", self.log, *options], stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True)
        env.running.append(self)
        line = self.process.stdout.readline()  # the terminal's path, once the link is made
        if not line.startswith("/dev/"):
            raise Failure(f"valdrix-sim did not start: {self.process.stderr.read()}")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(10)
        self.env.mask(self.port)

    end_now = stop

    def unplug(self):
        """The device goes away without a word. The port is masked first, so that no later
        open reaches a terminal that reuses the number, nor falls back to a host port."""
        self.env.mask(self.port)
        self.process.kill()
        self.process.wait(10)

    def entries(self):
        with open(self.log) as log:
            return [json.loads(line) for line in log if line.strip()]

    def received(self):
        return [(e["hex"], e["rate"]) for e in self.entries() if e["dir"] == "rx"]

    def received_times(self):
        return [e["t"] for e in self.entries() if e["dir"] == "rx"]

    def sent_bytes(self):
        return sum(len(e["hex"].split()) for e in self.entries() if e["dir"] == "tx")

    def expect(self, frames, what):
        got = self.received()
        if got != frames:
            first = next((i for i, pair in enumerate(zip(got, frames)) if pair[0] != pair[1]),
                         min(len(got), len(frames)))
            raise Failure(f"{self.port} received ({what}), first difference at frame {first}:\n"
                          f"{show_frames(got)}\nexpected:\n{show_frames(frames)}")

    def wait_for(self, count, timeout):
        """Waits until `count` frames have arrived."""
        deadline = time.monotonic() + timeout
        while len(self.received()) < count:
            check(time.monotonic() < deadline,
                  f"{self.port}: {len(self.received())} frames after {timeout} s, "
                  f"expected {count}:\n{show_frames(self.received())}")
            time.sleep(0.1)


class Driver:
    """One driver.exe in serve mode: one command a line, one JSON answer a line."""

    def __init__(self, env):
        self.process = subprocess.Popen(["wine", env.driver, "serve"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.process.stdout, selectors.EVENT_READ)
        self.buffer = b""

    def ask(self, line, timeout=30):
        self.process.stdin.write(line.encode() + b"\n")
        self.process.stdin.flush()
        deadline = time.monotonic() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            check(left > 0 and self.selector.select(left), f"driver gave no answer to: {line}")
            chunk = os.read(self.process.stdout.fileno(), 65536)
            check(chunk, f"driver ended at: {line}")
            self.buffer += chunk
        answer, self.buffer = self.buffer.split(b"\n", 1)
        result = json.loads(answer.decode().rstrip("\r"))
        return result["code"], result["lines"]

    def do(self, line, timeout=30):
        code, lines = self.ask(line, timeout)
        check(code == 0, f"driver {line}: {' / '.join(lines)}")
        return lines

    def dump(self):
        return json.loads(self.do("dump")[0])

    def end(self):
        self.process.stdin.close()
        self.process.wait(15)


class Program:
    """One run of valdrixconfig.exe with its driver."""

    def __init__(self, env):
        self.env = env
        self.process = subprocess.Popen(["wine", env.exe], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        self.driver = Driver(env)
        env.running.append(self)
        self.driver.do("wait 30000", timeout=40)

    def expect_exit(self):
        """The dialog has gone and the program ended with 0."""
        self.driver.do("gone 15000", timeout=20)
        try:
            code = self.process.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after its dialog had gone")
        check(code == 0, f"exit code {code}")
        self.driver.end()

    def expect_controls(self, want, when):
        """want: {id: (enabled, text)}; for a list the text is its current entry (None: none)."""
        dump = self.driver.dump()
        wrong = []
        for id_, (enabled, text) in want.items():
            control = dump[str(id_)]
            got_text = control["current"] if "entries" in control else control["text"]
            if control["enabled"] != enabled or got_text != text:
                wrong.append(f"  {id_}: enabled {control['enabled']}, {got_text!r}; "
                             f"expected enabled {enabled}, {text!r}")
        check(not wrong, f"controls {when}:\n" + "\n".join(wrong))
        return dump

    def expect_error_box(self, text, timeout_ms):
        code, lines = self.driver.ask(f"errorbox {timeout_ms}", timeout_ms / 1000 + 10)
        check(code == 0, f"no error box within {timeout_ms} ms (expected {text!r})")
        check(lines == ["Error", text], f"error box {lines}, expected ['Error', {text!r}]")

    def expect_no_error_box(self):
        code, lines = self.driver.ask("errorbox 0")
        check(code != 0, f"unexpected error box {lines}")

    def wait_status(self, text, timeout_ms):
        code, lines = self.driver.ask(f"waitstatus {timeout_ms} {text}", timeout_ms / 1000 + 10)
        check(code == 0, f"status not {text!r} within {timeout_ms} ms ({' / '.join(lines)})")

    def xdotool(self, *args):
        subprocess.run(["xdotool", *args], check=True)

    def click(self, id_):
        left, top, right, bottom = map(int, self.driver.do(f"rect {id_}")[0].split())
        self.xdotool("mousemove", "--sync", str((left + right) // 2), str((top + bottom) // 2),
                     "click", "1")

    def end_now(self):
        for process in (self.process, self.driver.process):
            if process.poll() is None:
                process.kill()
                process.wait()


def found_state(port, rate, version, address, base, modules16, modules8):
    return {
        APPLY: (False, "Apply"),
        CLOSE: (True, "Close"),
        PORT: (False, port),
        RATE: (False, str(rate)),
        VERSION: (False, version),
        ADDRESS: (True, str(address)),
        BASE: (True, str(base)),
        MODULES16: (True, str(modules16)),
        MODULES8: (True, str(modules8)),
        STATUS: (True, ENTER_VALUES),
    }


OPENED_STATE = {
    APPLY: (False, "Apply"),
    CLOSE: (True, "Close"),
    PORT: (True, None),
    RATE: (False, None),
    VERSION: (False, ""),
    ADDRESS: (False, None),
    BASE: (False, ""),
    MODULES16: (False, ""),
    MODULES8: (False, ""),
    STATUS: (True, SELECT_PORT),
}


def check_silent_rates(sim, count):
    """The first `count` interface queries each waited out a silent read of about a second."""
    times = sim.received_times()
    for i in range(count):
        check(times[i + 1] - times[i] >= SILENT_READ_S,
              f"frame {i + 1} followed frame {i} after {times[i + 1] - times[i]:.3f} s")


# Scenarios of the group "session": one interface on COM3, a whole configuration.


def found_apply_close(env):
    """Found at 57600 through a keyboard choice in the port list; Apply with changed values;
    Close sends the close frame and the program exits with 0."""
    sim = Sim(env, "com3", "--rate", "57600", "--version", "102", "--address", "7", "--base",
              "20", "--count", "5")
    program = Program(env)
    program.expect_controls(OPENED_STATE, "as the dialog opens")
    entries = program.driver.dump()[str(PORT)]["entries"]
    check(entries == ["COM3"], f"port list {entries}, expected only COM3")

    # Real input: open the list with a click, take its first entry with the keyboard; the
    # list itself reports the confirmed choice.
    program.click(PORT)
    deadline = time.monotonic() + 10
    while program.driver.do(f"dropped {PORT}") != ["1"]:
        check(time.monotonic() < deadline, "the port list did not drop down")
        time.sleep(0.1)
    program.xdotool("key", "Down", "Return")
    program.wait_status(ENTER_VALUES, 20000)
    program.expect_no_error_box()
    sim.expect(search_frames(57600), "search")
    check_silent_rates(sim, 3)
    program.expect_controls(found_state("COM3", 57600, "1.02", 7, 20, 2, 1),
                            "after the search")

    # Each edit enables Apply: the user's own typing and choosing.
    program.driver.do(f"type {BASE} 33")
    check(program.driver.do(f"enabled {APPLY}") == ["1"], "Apply not enabled by an edit")
    program.driver.do(f"choose {ADDRESS} 12")
    program.driver.do(f"type {MODULES16} 3")
    program.driver.do(f"type {MODULES8} 0")
    program.driver.do(f"press {APPLY}")
    written = [
        ("F2 01 0C FF", 57600),  # set address 12
        ("F2 F1 21 22", 57600),  # set base address 33
        ("F2 F2 06 06", 57600),  # set module count 6: 2 x 3 + 0
    ]
    before = len(sim.received())
    sim.wait_for(before + len(written) + len(search_frames(57600)), 30)
    program.wait_status(ENTER_VALUES, 20000)
    sim.expect(search_frames(57600) + written + search_frames(57600), "search, Apply")
    times = sim.received_times()
    for i in range(before, before + len(written)):  # each write is drained before the next
        check(times[i + 1] - times[i] >= SILENT_READ_S, f"frame {i + 1} not drained")
    program.expect_controls(found_state("COM3", 57600, "1.02", 12, 33, 3, 0),
                            "after Apply and its read-back")

    program.driver.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect(search_frames(57600) + written + search_frames(57600) + close_frame(57600),
               "search, Apply, Close")


def escape_before_search(env):
    """Escape (a real key press) before any search ends the program and sends nothing."""
    sim = Sim(env, "com3", "--rate", "57600")
    program = Program(env)
    program.click(STATUS)  # activates the window; the focus stays on Close
    program.xdotool("key", "Escape")
    program.expect_exit()
    sim.expect([], "Escape before a search")


def close_before_search(env):
    """The Close button before any search sends nothing."""
    sim = Sim(env, "com3", "--rate", "57600")
    program = Program(env)
    program.driver.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect([], "Close before a search")


def endless_stream(env):
    """An interface that sends without end once opened: the search and the close still end."""
    sim = Sim(env, "com3", "--rate", "9600", "--address", "3", "--stream-after-open")
    program = Program(env)
    started = time.monotonic()
    program.driver.do(f"choose {PORT} COM3")
    program.wait_status(ENTER_VALUES, 30000)
    took = time.monotonic() - started
    check(took < 15, f"the search took {took:.1f} s")
    sim.expect(search_frames(9600), "search")
    check(sim.sent_bytes() > 1000, f"the stream sent only {sim.sent_bytes()} bytes")
    program.expect_controls(found_state("COM3", 9600, "1.02", 3, 0, 0, 0), "after the search")
    program.driver.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect(search_frames(9600) + close_frame(9600), "search, Close")


def parse_decimal(text):
    """A field's number as the program reads it: white space, one sign, decimal digits, in
    32-bit arithmetic that wraps; the result's low 8 bits are what a frame carries."""
    data, at, value = text.encode("latin-1"), 0, 0
    while at < len(data) and (0x09 <= data[at] <= 0x0D or data[at] == 0x20):
        at += 1
    negative = at < len(data) and data[at] == ord("-")
    if at < len(data) and data[at] in b"+-":
        at += 1
    while at < len(data) and 0x30 <= data[at] <= 0x39:
        value = (value * 10 + data[at] - 0x30) % 2**32
        at += 1
    return -value % 2**32 if negative else value


def set_frame(sub, value):
    value &= 0xFF
    return (" ".join("%02X" % b for b in (0xF2, sub, value, 0xF2 ^ sub ^ value)), 9600)


def apply_frames(address, base, modules16, modules8):
    """What Apply sends at 9600 for these field texts, each read as at most 254 characters."""
    base, modules16, modules8 = (text[:254] for text in (base, modules16, modules8))
    frames = [set_frame(0x01, address)]
    if base:
        frames.append(set_frame(0xF1, parse_decimal(base)))
    count = 0xFF  # no count to write
    if modules16:
        count = 2 * parse_decimal(modules16) & 0xFF
    if modules8:
        count = ((0 if count == 0xFF else count) + parse_decimal(modules8)) & 0xFF
    if count != 0xFF:
        frames.append(set_frame(0xF2, count))
    return frames


def bad_input(env):
    """Texts no user could type, set into the real edits (WM_SETTEXT passes the digits-only
    style, as a paste does): what Apply sends is what the rules make of the first 254
    characters, and nothing more."""
    sim = Sim(env, "com3", "--rate", "9600", "--address", "7", "--base", "20", "--count", "5")
    program = Program(env)
    program.driver.do(f"choose {PORT} COM3")
    program.wait_status(ENTER_VALUES, 20000)
    wire = search_frames(9600)
    texts = [
        # base: 300 characters, of which 254 are read (79; 795... would be 27);
        # 16-bit modules past 32 bits; 8-bit modules with a space and a minus sign
        ("0" * 252 + "79" + "5" * 46, "9" * 20, " -1"),
        ("", "", "+7"),  # empty fields: no base frame, the count from the 8-bit field alone
        # base 255 goes out as the query's bytes; 2^32 + 3 wraps to 3 (saturating would give
        # 0xFE); "abc" counts 0
        (" -1", "4294967299", "abc"),
    ]
    for base, modules16, modules8 in texts:
        for id_, text in ((BASE, base), (MODULES16, modules16), (MODULES8, modules8)):
            program.driver.do(f"type {id_} {text}")
            check(program.driver.do(f"text {id_}") == [text], f"{id_} does not hold {text!r}")
        program.driver.do(f"press {APPLY}")
        wire += apply_frames(7, base, modules16, modules8) + search_frames(9600)
        sim.wait_for(len(wire), 30)
        program.wait_status(ENTER_VALUES, 20000)
        sim.expect(wire, f"Apply of {(base[:8], modules16, modules8)}")
    program.expect_no_error_box()
    # What the interface now holds: base 79 from the first Apply, count 6 from the last.
    program.expect_controls(found_state("COM3", 9600, "1.02", 7, 79, 3, 0), "after the Applies")
    program.driver.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect(wire + close_frame(9600), "Applies, Close")


# Scenarios of the group "ports": what the port list offers and what happens when the chosen
# port holds no interface or has gone.


def not_found(env):
    """No interface answers: five interface queries, the error box, the status, the port list
    usable again; a second choice then finds an interface that has come meanwhile."""
    sim = Sim(env, "com3", "--silent")
    program = Program(env)
    program.driver.do(f"choose {PORT} COM3")
    program.expect_error_box("No Valdrix found on COM3", 20000)
    # The box runs its own modal loop, so the dialog answers while the box is shown.
    program.expect_controls({**OPENED_STATE, PORT: (True, "COM3")},
                            "with the error box shown")
    sim.expect([("F0 F0", rate) for rate in RATES], "search")  # the interface query
    check_silent_rates(sim, 4)
    program.driver.do("dismiss")
    program.expect_no_error_box()
    sim.stop()

    sim = Sim(env, "com3", "--rate", "9600", "--address", "31", "--base", "255", "--count",
              "254", "--version", "5")
    program.driver.do(f"choose {PORT} COM3")
    program.wait_status(ENTER_VALUES, 20000)
    program.expect_controls(found_state("COM3", 9600, "0.05", 31, 255, 127, 0),
                            "after the second search")
    sim.expect(search_frames(9600), "second search")
    program.driver.do("close")  # the window's close command
    program.expect_exit()
    sim.expect(search_frames(9600) + close_frame(9600), "second search, close")


def port_gone(env):
    """The port was listed but has gone when chosen: "Could not open COM3", nothing sent."""
    sim = Sim(env, "com3", "--rate", "57600")
    program = Program(env)
    entries = program.driver.dump()[str(PORT)]["entries"]
    check(entries == ["COM3"], f"port list {entries}, expected only COM3")
    sim.stop()  # the terminal goes, and COM3 with it
    program.driver.do(f"choose {PORT} COM3")
    program.expect_error_box("Could not open COM3", 10000)
    program.driver.do("dismiss")
    check(program.driver.do(f"enabled {PORT}") == ["1"], "port list disabled")
    program.driver.do(f"press {CLOSE}")
    program.expect_exit()
    sim.expect([], "the port gone")


def unplug_search(env):
    """The interface goes away during a silent rate of the search: the next interface query
    cannot be written, so "Could not write to COM3" and the port list offered again."""
    sim = Sim(env, "com3", "--rate", "115200")
    program = Program(env)
    program.driver.do(f"choose {PORT} COM3")
    sim.wait_for(2, 10)  # the query at 19200 is in; its read is waiting
    sim.unplug()
    program.expect_error_box("Could not write to COM3", 3000)
    program.expect_controls({**OPENED_STATE, PORT: (True, "COM3"), RATE: (False, "38400")},
                            "with the error box shown")
    program.driver.do("dismiss")
    program.driver.do(f"press {CLOSE}")  # nothing was opened: nothing to close
    program.expect_exit()
    sim.expect([("F0 F0", 9600), ("F0 F0", 19200)], "killed in the search")


def unplug_apply(env):
    """The interface goes away while Apply drains its first frame: the other frames cannot be
    written, the read-back cannot open COM3, and Close, which still means to close the
    interface, cannot either; the program still ends."""
    sim = Sim(env, "com3", "--rate", "9600", "--address", "7")
    program = Program(env)
    program.driver.do(f"choose {PORT} COM3")
    program.wait_status(ENTER_VALUES, 20000)
    program.driver.do(f"type {BASE} 33")
    program.driver.do(f"press {APPLY}")
    sim.wait_for(len(search_frames(9600)) + 1, 10)  # the address frame is in
    sim.unplug()
    program.expect_error_box("Could not open COM3", 3000)
    dump = program.expect_controls({PORT: (True, "COM3"), STATUS: (True, SELECT_PORT)},
                                   "with the error box shown")
    check(not any(dump[str(id_)]["enabled"] for id_ in VALUE_CONTROLS),
          "value controls enabled after the read-back could not open the port")
    program.driver.do("dismiss")
    program.driver.do(f"press {CLOSE}")
    program.expect_error_box("Could not open COM3", 3000)
    program.driver.do("dismiss")
    program.expect_exit()
    sim.expect(search_frames(9600) + [("F2 01 07 F4", 9600)], "killed in Apply")


def com12(env):
    """Interfaces on COM3 and COM12: both listed in probe order, COM12 chosen and found."""
    sim3 = Sim(env, "com3", "--rate", "57600")
    sim12 = Sim(env, "com12", "--rate", "19200", "--address", "10", "--base", "1", "--count",
                "3", "--version", "100")
    program = Program(env)
    entries = program.driver.dump()[str(PORT)]["entries"]
    check(entries == ["COM3", "COM12"], f"port list {entries}, expected COM3, COM12")
    program.driver.do(f"choose {PORT} COM12")
    program.wait_status(ENTER_VALUES, 20000)
    program.expect_controls(found_state("COM12", 19200, "1.00", 10, 1, 1, 1),
                            "after the search")
    program.driver.do(f"press {CLOSE}")
    program.expect_exit()
    sim12.expect(search_frames(19200) + close_frame(19200), "search, Close")
    sim3.expect([], "COM12 chosen")


GROUPS = {
    "session": [found_apply_close, escape_before_search, close_before_search, endless_stream,
                bad_input],
    "ports": [not_found, port_gone, com12, unplug_search, unplug_apply],
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--no-port", required=True)
    parser.add_argument("group", choices=sorted(GROUPS))
    parser.add_argument("--only", help="run one scenario of the group")
    args = parser.parse_args()
    env = Env(args)
    for scenario in GROUPS[args.group]:
        if args.only and scenario.__name__ != args.only:
            continue
        started = time.monotonic()
        try:
            scenario(env)
        except Failure as failure:
            # A failed scenario may leave the program's dialog behind, which the rest of the
            # group would find: the group stops here.
            print(f"FAIL {scenario.__name__}: {failure}", file=sys.stderr)
            return 1
        finally:
            env.end_all()
        print(f"ok   {scenario.__name__} ({time.monotonic() - started:.1f} s)")
        sys.stdout.flush()
    return 0


if __name__ == "__main__":
    sys.exit(main())
