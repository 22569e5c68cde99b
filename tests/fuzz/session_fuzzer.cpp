// A whole session (search, edits, Apply with its read-back, close) against a device and a user
// that the fuzzer plays: what the device answers to each frame and when, which writes and reads
// fail or come up short, whether the port can be opened, and what the user types or pastes.
//
// The oracle walks the fake port's log and holds each event to the rules of the conversations,
// with its own model of what the dialog must show; it shares no code with what it checks beyond
// the seams (fake port, model dialog). Any broken rule aborts with a description.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "conversations/configurator.h"
#include "sim/fake_port.h"
#include "dialog/memory_dialog.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"

namespace valdrix {
namespace {

constexpr char PORT[] = "COM3";
constexpr std::uint32_t kRates[] = {9600, 19200, 38400, 57600, 115200};
using Bytes = std::vector<std::uint8_t>;
using Kind = WireEvent::Kind;

std::string HexText(const Bytes& bytes) {
  std::string text;
  char part[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(part, sizeof part, "%02X ", b);
    text += part;
  }
  return text;
}

// Set by the session so that a failure can show the wire.
const FakeSerial* gSerial = nullptr;

[[noreturn]] void Fail(const char* format, ...) {
  if (gSerial) {
    for (const WireEvent& e : gSerial->Log()) {
      std::fprintf(stderr, "  %6llu ms  kind %d  %6u  %s%s\n",
                   static_cast<unsigned long long>(e.atMs), static_cast<int>(e.kind), e.rate,
                   e.ok ? "" : "FAILED ",
                   e.bytes.size() > 16 ? "(long)" : HexText(e.bytes).c_str());
    }
  }
  va_list args;
  va_start(args, format);
  std::fprintf(stderr, "session invariant broken: ");
  std::vfprintf(stderr, format, args);
  std::fprintf(stderr, "\n");
  va_end(args);
  std::abort();
}

// --- reference rules, kept apart from the code under test

// A frame only ever carries the low 8 bits, and those of a sum or product depend only on the
// low 8 bits of its terms, so the reference works modulo 256 from the start.
unsigned Low8OfDecimal(std::string text) {
  if (text.size() > 254)
    text.resize(254);  // what a 256-byte buffer read with a limit of 255 receives
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
    ++i;
  bool minus = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    minus = text[i++] == '-';
  unsigned v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
    v = (v * 10 + (text[i] - '0')) % 256;
  return minus ? (256 - v) % 256 : v;
}

Bytes Frame(std::uint8_t sub, unsigned value) {
  const auto v = static_cast<std::uint8_t>(value);
  return {0xF2, sub, v, static_cast<std::uint8_t>(0xF2 ^ sub ^ v)};
}

std::string Dec(unsigned v) {
  return std::to_string(v);
}

// What the dialog must show, tracked from the inputs and the log alone.
struct Ui {
  std::string version, base, m16, m8;
  int address = -1;  // selected entry of the address list
  int rate = -1;     // selected entry of the rate list
  bool enAddress = false, enBase = false, en16 = false, en8 = false;
  bool portEnabled = true, apply = false;
  bool flag = false;  // the interface-open flag
  std::string status = "Status: Please select a COM port";
  std::vector<std::string> errors;
};

struct Fuzzed {
  std::set<std::size_t> failWrites, blockedWrites, failReads, shortReads;
  bool busy[3] = {};  // the port cannot be opened: first search, Apply with its read-back, close
  struct Edit {
    int action = 0;  // 0 none, 1 typed, 2 pasted
    std::string text;
  } edits[3];
  int address = 0;  // 1..31 chosen, else none
  bool pressApply = false;
};

class Oracle {
 public:
  Oracle(const FakeSerial& serial, Ui& ui) : serial_(serial), ui_(ui) {}

  void Search(bool busy) {
    const std::uint64_t start = Now();
    std::uint64_t bound = 0;
    ui_.status = "Status: Searching...";
    if (busy) {
      Next(Kind::OpenFailed, "search open");
      ui_.portEnabled = true;
      ui_.status = "Status: Please select a COM port";
      ui_.errors.push_back(std::string("Could not open ") + PORT);
      return;
    }
    Expect(Next(Kind::Open, "search open").rate == 9600, "search opens at 9600");
    bool found = false, writeFailed = false;
    for (int i = 0; i < 5; ++i) {
      const std::uint32_t rate = kRates[i];
      ui_.flag = false;
      Expect(Next(Kind::Rate, "rate").rate == rate, "rates in order");
      ui_.rate = i;
      bound += 1002;
      if (!Write(rate, {0xF0, 0xF0}, "interface query")) {
        writeFailed = true;
        break;
      }
      const WireEvent& reply = Next(Kind::Read, "interface reply");
      bound += 1004;
      if (!reply.ok || reply.bytes.empty() || reply.bytes[0] != 0x02)
        continue;
      found = true;
      ui_.portEnabled = false;
      ReadValues(rate, bound);
      ui_.apply = false;
      bound += 1004 + kDrainMs;
      if (Write(rate, Frame(0xFF, 1), "open frame")) {
        Drain();
        ui_.flag = true;
      }
      break;
    }
    Next(Kind::Close, "search close");
    if (found) {
      ui_.status = "Status: Enter values and press Apply";
    } else {
      ui_.portEnabled = true;
      ui_.status = "Status: Please select a COM port";
      if (!writeFailed)
        ui_.rate = -1;
      ui_.errors.push_back(
          std::string(writeFailed ? "Could not write to " : "No Valdrix found on ") + PORT);
    }
    Expect(Now() - start <= bound, "search took %llu ms, bound %llu", Ms(Now() - start), Ms(bound));
  }

  void Apply(bool busy, const Ui& before) {
    const std::uint64_t start = Now();
    std::uint64_t bound = 0;
    ui_.status = "Status: Writing...";
    ui_.enAddress = ui_.enBase = ui_.en16 = ui_.en8 = false;
    const std::uint32_t rate = before.rate < 0 ? 0 : kRates[before.rate];
    if (busy) {
      Next(Kind::OpenFailed, "apply open");
      ui_.errors.push_back(std::string("Could not open ") + PORT);
      return;
    }
    Expect(Next(Kind::Open, "apply open").rate == rate, "Apply opens at the rate shown");
    std::vector<Bytes> frames;
    if (before.address >= 0)
      frames.push_back(Frame(0x01, static_cast<unsigned>(before.address + 1)));
    if (!before.base.empty())
      frames.push_back(Frame(0xF1, Low8OfDecimal(before.base)));
    int count = -1;
    if (!before.m16.empty())
      count = static_cast<int>(2 * Low8OfDecimal(before.m16) % 256);
    if (!before.m8.empty())
      count = static_cast<int>(((count == -1 ? 0 : count) + Low8OfDecimal(before.m8)) % 256);
    if (count != -1 && count != 0xFF)
      frames.push_back(Frame(0xF2, static_cast<unsigned>(count)));
    for (const Bytes& frame : frames) {
      bound += 1004 + kDrainMs;
      if (Write(rate, frame, "set frame"))
        Drain();
    }
    Next(Kind::Close, "apply close");
    ui_.status = "Status: Enter values and press Apply";
    Expect(Now() - start <= bound, "Apply took %llu ms, bound %llu", Ms(Now() - start), Ms(bound));
  }

  void Close(bool busy) {
    if (!ui_.flag)
      return;  // nothing opened: the port is not even touched
    const std::uint32_t rate = kRates[ui_.rate];
    if (busy) {
      Next(Kind::OpenFailed, "close open");
      ui_.errors.push_back(std::string("Could not open ") + PORT);
      return;
    }
    const std::uint64_t start = Now();
    Expect(Next(Kind::Open, "close open").rate == rate, "close opens at the rate shown");
    ui_.status = "Status: Closing Valdrix...";
    if (Write(rate, Frame(0xFF, 0), "close frame")) {
      ui_.status = "Status: Reading...";
      Drain();
    }
    Next(Kind::Close, "close close");
    Expect(Now() - start <= 1004 + kDrainMs, "close took %llu ms", Ms(Now() - start));
  }

  void AtEnd() const {
    Expect(pos_ == serial_.Log().size(), "%zu unexpected events after the last expected one",
           serial_.Log().size() - pos_);
  }

 private:
  // A drain ends within five seconds plus one read time-out of its start.
  static constexpr std::uint64_t kDrainMs = 5000 + 1001;

  static void Expect(bool holds, const char* format, ...) {
    if (holds)
      return;
    va_list args;
    va_start(args, format);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Fail("%s", text);
  }
  static unsigned long long Ms(std::uint64_t v) { return v; }

  std::uint64_t Now() const {
    return pos_ < serial_.Log().size() ? serial_.Log()[pos_].atMs : serial_.NowMs();
  }

  const WireEvent& Next(Kind kind, const char* what) {
    const auto& log = serial_.Log();
    if (pos_ >= log.size())
      Fail("expected %s (event kind %d), log ended at %zu", what, static_cast<int>(kind), pos_);
    const WireEvent& e = log[pos_];
    if (e.kind != kind) {
      Fail("expected %s (event kind %d) at %zu, got kind %d bytes %s", what, static_cast<int>(kind),
           pos_, static_cast<int>(e.kind), HexText(e.bytes).c_str());
    }
    ++pos_;
    return e;
  }

  bool Write(std::uint32_t rate, const Bytes& bytes, const char* what) {
    const WireEvent& e = Next(Kind::Write, what);
    if (e.bytes != bytes || e.rate != rate) {
      Fail("%s at event %zu: expected %s at %u, wire has %s at %u", what, pos_ - 1,
           HexText(bytes).c_str(), rate, HexText(e.bytes).c_str(), e.rate);
    }
    return e.ok;
  }

  // Reads one byte at a time until a read fails or times out, at most 4096 bytes and until five
  // seconds have passed.
  void Drain() {
    const std::uint64_t start = Now();
    for (std::size_t n = 1;; ++n) {
      const WireEvent& r = Next(Kind::Read, "drain read");
      const bool more = r.ok && r.bytes.size() == 1;
      const bool anotherRead =
          pos_ < serial_.Log().size() && serial_.Log()[pos_].kind == Kind::Read;
      const bool mustStop = !more || n == DRAIN_MAX_BYTES || Now() - start >= 5000;
      Expect(anotherRead != mustStop, "drain read %zu: %s", n,
             mustStop ? "read on past its end" : "stopped early");
      if (mustStop)
        return;
    }
  }

  bool Query(std::uint32_t rate, std::uint8_t sub, unsigned value, std::uint64_t& bound,
             bool& answered, std::uint8_t& got) {
    bound += 1004 + 1004;
    answered = false;
    if (!Write(rate, Frame(sub, value), "value query"))
      return false;
    const WireEvent& r = Next(Kind::Read, "value reply");
    answered = r.ok && r.bytes.size() == 4 && r.bytes[0] == 0xF2 && r.bytes[1] == sub;
    got = answered ? r.bytes[2] : 0;
    return true;
  }

  void ReadValues(std::uint32_t rate, std::uint64_t& bound) {
    bool answered = false;
    std::uint8_t v = 0;
    if (Query(rate, 0xFD, 0, bound, answered, v)) {
      char text[16];
      std::snprintf(text, sizeof text, "%u.%02u", v / 100u, v % 100u);
      ui_.version = answered ? text : "1.00";
    }
    if (Query(rate, 0x01, 0xFF, bound, answered, v) && answered) {
      if (v >= 1 && v <= 31)
        ui_.address = v - 1;
      ui_.enAddress = true;
    }
    if (Query(rate, 0xF1, 0xFF, bound, answered, v) && answered) {
      ui_.base = Dec(v);
      ui_.enBase = true;
    }
    if (Query(rate, 0xF2, 0xFF, bound, answered, v) && answered) {
      ui_.m16 = Dec(v >> 1);
      ui_.m8 = Dec(v & 1);
      ui_.en16 = ui_.en8 = true;
    }
  }

  const FakeSerial& serial_;
  Ui& ui_;
  std::size_t pos_ = 0;
};

void CheckDialog(const ModelDialog& d, const Configurator& cfg, const Ui& ui, const char* when) {
  const auto expect = [when](bool holds, const char* what) {
    if (!holds)
      Fail("after %s: %s", when, what);
  };
  expect(d.Text(IDC_STATUS) == ui.status, ("status " + d.Text(IDC_STATUS)).c_str());
  expect(d.ErrorBoxes() == ui.errors, "error boxes");
  expect(cfg.interfaceOpen == ui.flag, "interface-open flag");
  expect(d.Text(IDC_VERSION) == ui.version, "version text");
  expect(d.Text(IDC_BASE_ADDRESS) == ui.base, "base text");
  expect(d.Text(IDC_MODULES16) == ui.m16, "16-bit text");
  expect(d.Text(IDC_MODULES8) == ui.m8, "8-bit text");
  expect(d.Selection(IDC_XN_ADDRESS) == ui.address, "address selection");
  expect(d.Selection(IDC_RATE) == ui.rate, "rate selection");
  expect(d.Enabled(IDC_XN_ADDRESS) == ui.enAddress, "address list enabled");
  expect(d.Enabled(IDC_BASE_ADDRESS) == ui.enBase, "base enabled");
  expect(d.Enabled(IDC_MODULES16) == ui.en16, "16-bit enabled");
  expect(d.Enabled(IDC_MODULES8) == ui.en8, "8-bit enabled");
  expect(d.Enabled(IDC_PORT) == ui.portEnabled, "port list enabled");
  expect(d.Enabled(IDOK) == ui.apply, "Apply enabled");
  expect(!d.Enabled(IDC_RATE) && !d.Enabled(IDC_VERSION) && d.Enabled(IDCANCEL), "fixed states");
}

// The device: per frame, silence, a well-formed answer, one with noise behind it, noise alone or
// a long stream; the first byte after a delay, the others spaced alike.
std::vector<FakeSerial::DeviceByte> DeviceAnswer(FuzzedDataProvider& in, const Bytes& written) {
  std::vector<FakeSerial::DeviceByte> out;
  if (in.remaining_bytes() == 0)
    return out;
  const int mode = in.ConsumeIntegralInRange(0, 4);
  const std::uint64_t firstUs = in.ConsumeIntegral<std::uint8_t>() * 10'000ull;
  const std::uint64_t gapUs = in.ConsumeIntegral<std::uint8_t>() * 5'000ull;
  Bytes bytes;
  if (mode == 1 || mode == 2) {
    const std::uint8_t value = in.ConsumeIntegral<std::uint8_t>();
    if (written.size() == 2) {
      bytes = {0x02, 0x10, value, static_cast<std::uint8_t>(0x12 ^ value)};
    } else {
      bytes = Frame(written[1], value);
    }
  }
  if (mode == 2 || mode == 3) {
    const Bytes noise = in.ConsumeBytes<std::uint8_t>(in.ConsumeIntegralInRange(0, 12));
    bytes.insert(bytes.end(), noise.begin(), noise.end());
  }
  if (mode == 4) {
    bytes.assign(in.ConsumeIntegralInRange(0, 6000), 0x55);
  }
  for (std::size_t i = 0; i < bytes.size(); ++i)
    out.push_back({i ? gapUs : firstUs, bytes[i]});
  return out;
}

Fuzzed ReadUser(FuzzedDataProvider& in) {
  Fuzzed f;
  const std::uint8_t faults = in.ConsumeIntegral<std::uint8_t>();
  for (int i = 0; i < (faults & 3); ++i) {
    const auto index = in.ConsumeIntegralInRange<std::size_t>(0, 40);
    (in.ConsumeBool() ? f.failWrites : f.blockedWrites).insert(index);
  }
  for (int i = 0; i < ((faults >> 2) & 3); ++i) {
    const auto index = in.ConsumeIntegralInRange<std::size_t>(0, 80);
    (in.ConsumeBool() ? f.failReads : f.shortReads).insert(index);
  }
  const std::uint8_t busy = in.ConsumeIntegral<std::uint8_t>();
  for (int i = 0; i < 3; ++i)
    f.busy[i] = (busy >> (2 * i) & 3) == 3;  // rarely
  for (auto& edit : f.edits) {
    edit.action = in.ConsumeIntegralInRange(0, 2);
    edit.text = in.ConsumeRandomLengthString(300);
    edit.text.resize(std::min(edit.text.size(), edit.text.find('\0')));  // a C string's end
  }
  f.address = in.ConsumeIntegralInRange(0, 32);
  f.pressApply = in.ConsumeBool();
  return f;
}

void RunSession(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  const Fuzzed f = ReadUser(in);

  FakeSerial serial(nullptr, PORT);
  gSerial = &serial;
  serial.failWrites = f.failWrites;
  serial.blockedWrites = f.blockedWrites;
  serial.failReads = f.failReads;
  serial.shortReads = f.shortReads;
  serial.device = [&in](const Bytes& written, std::uint32_t) { return DeviceAnswer(in, written); };
  ModelDialog dialog;
  Configurator cfg(dialog, serial);
  dialog.SetCommandHandler([&cfg](int id, int code) { OnCommand(cfg, id, code); });

  Ui ui;
  Oracle oracle(serial, ui);
  const auto busyFor = [&serial](bool busy) {
    serial.busy.clear();
    if (busy)
      serial.busy.insert(PORT);
  };

  OnInitDialog(cfg);
  busyFor(f.busy[0]);
  if (!dialog.Choose(IDC_PORT, PORT))
    Fail("the port list does not offer %s", PORT);
  oracle.Search(f.busy[0]);
  CheckDialog(dialog, cfg, ui, "the first search");

  // The user edits: typed text loses what a digits-only field refuses; pasted text arrives as it
  // is, as it does through the clipboard or another program's WM_SETTEXT.
  const int ids[3] = {IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8};
  std::string* texts[3] = {&ui.base, &ui.m16, &ui.m8};
  const bool enabled[3] = {ui.enBase, ui.en16, ui.en8};
  for (int i = 0; i < 3; ++i) {
    const Fuzzed::Edit& edit = f.edits[i];
    if (edit.action == 1) {
      if (dialog.Type(ids[i], edit.text) != enabled[i])
        Fail("typing into %d", ids[i]);
      if (enabled[i]) {
        std::string kept;
        for (const char c : edit.text) {
          if (ids[i] == IDC_MODULES8 || (c >= '0' && c <= '9'))
            kept += c;
        }
        *texts[i] = kept;
        ui.apply = true;
      }
    } else if (edit.action == 2 && enabled[i]) {
      dialog.SetText(ids[i], edit.text);
      *texts[i] = edit.text;
      ui.apply = true;
    }
  }
  if (f.address >= 1 && f.address <= 31) {
    if (dialog.Choose(IDC_XN_ADDRESS, Dec(static_cast<unsigned>(f.address))) != ui.enAddress)
      Fail("choosing an address");
    if (ui.enAddress) {
      ui.address = f.address - 1;
      ui.apply = true;
    }
  }
  CheckDialog(dialog, cfg, ui, "the edits");

  if (f.pressApply) {
    busyFor(f.busy[1]);
    const Ui before = ui;
    if (dialog.Press(IDOK) != before.apply)
      Fail("Apply pressed while %s", before.apply ? "enabled" : "disabled");
    if (before.apply) {
      ui.apply = false;
      // The read-back runs inside the same command, so it meets the port as Apply did.
      oracle.Apply(f.busy[1], before);
      oracle.Search(f.busy[1]);
      CheckDialog(dialog, cfg, ui, "Apply and the read-back");
    }
  }

  busyFor(f.busy[2]);
  dialog.Press(IDCANCEL);
  oracle.Close(f.busy[2]);
  oracle.AtEnd();
  CheckDialog(dialog, cfg, ui, "close");
  if (!dialog.Ended() || dialog.Result() != 0)
    Fail("the dialog did not end with 0");
  if (serial.AnyPortOpen())
    Fail("a port was left open");
  // Every wait is bounded: the slowest session has two searches, three set frames and a close.
  if (serial.NowMs() > 90'000)
    Fail("the session took %llu ms of virtual time",
         static_cast<unsigned long long>(serial.NowMs()));
}

}  // namespace
}  // namespace valdrix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  valdrix::RunSession(data, size);
  return 0;
}
