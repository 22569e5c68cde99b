// Whole sessions against a device and a user that the fuzzer plays. After every user action the
// fake port's log is held to rules that any correct session obeys, whatever the conversations
// do in detail: known frames at line rates, time within the time-outs of what was done, no port
// left open, and an interface-open flag that matches the open and close frames on the wire.
//
// Input, read from the front (0 once used up): a fault count, a kind and an index per fault;
// then per action an op byte, an operand byte and, for an edit, a text. Each write that goes out
// draws the device's answer from the same stream: a mode byte, then delays and bytes.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "conversations/config_dialog.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "tests/fakes/fake_port.h"

namespace valdrix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Kind = WireEvent::Kind;
const char* const PORTS[] = {"COM3", "COM4"};
const int FIELDS[] = {IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8};
const FakeSerial* gSerial = nullptr;  // for the report of a broken rule

struct Input {
  const std::uint8_t* data;
  std::size_t size, pos = 0;
  bool Empty() const { return pos >= size; }
  std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
  // Up to 127 bytes exactly, longer ones in steps of 8; cut at a NUL as a C string would be.
  std::string Text() {
    const std::size_t b = Byte(), n = b < 128 ? b : (b - 127) * 8;
    std::string text;
    while (text.size() < n && !Empty() && data[pos] != 0)
      text += static_cast<char>(Byte());
    return text;
  }
};

// Modes: silence, an answer, an answer with noise behind it, noise alone, a long stream.
std::vector<FakeSerial::DeviceByte> DeviceAnswer(Input& in, const Bytes& w) {
  const int mode = in.Byte() % 5;
  if (mode == 0)
    return {};
  // Delays from 16 us to about a second, fine-grained at the short end.
  const std::uint64_t first = in.Byte(), gap = in.Byte();
  const std::uint8_t v = in.Byte();
  Bytes bytes;
  if (mode == 1 || mode == 2) {
    bytes = w.size() == 2 ? Bytes{0x02, 0x10, v, static_cast<std::uint8_t>(0x12 ^ v)}
                          : Bytes{0xF2, w[1], v, static_cast<std::uint8_t>(0xF2 ^ w[1] ^ v)};
  }
  for (int n = mode == 2 || mode == 3 ? in.Byte() % 16 : 0; n > 0; --n)
    bytes.push_back(in.Byte());
  if (mode == 4)
    bytes.assign(in.Byte() * 32u, v);
  std::vector<FakeSerial::DeviceByte> out;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    out.push_back({(i ? gap * gap : first * first) * 16, bytes[i]});
  return out;
}

struct EndingDialog : MemoryDialog {
  int result = -1;
  void End(int r) override {
    result = r;
    MemoryDialog::End(r);
  }
};

void Expect(bool holds, const char* rule) {
  if (holds)
    return;
  for (const WireEvent& e : gSerial->Log()) {
    std::fprintf(stderr, "%8llu ms  %d %s %6u %s", static_cast<unsigned long long>(e.atMs),
                 static_cast<int>(e.kind), e.port.c_str(), e.rate, e.ok ? "" : "FAILED ");
    for (std::size_t k = 0; k < e.bytes.size() && k < 8; ++k)
      std::fprintf(stderr, "%02X ", e.bytes[k]);
    std::fprintf(stderr, "\n");
  }
  std::fprintf(stderr, "session rule broken: %s\n", rule);
  std::abort();
}

bool IsLineRate(std::uint32_t rate) {
  return std::find(std::begin(LINE_RATES), std::end(LINE_RATES), rate) != std::end(LINE_RATES);
}

void RunSession(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  FakeSerial serial;
  gSerial = &serial;
  serial.ports = {PORTS[0], PORTS[1]};
  std::set<std::size_t>* faults[] = {&serial.failWrites, &serial.blockedWrites, &serial.failReads,
                                     &serial.shortReads};
  for (int n = in.Byte() % 8; n > 0; --n) {
    const std::uint8_t kind = in.Byte();
    faults[kind % 4]->insert(in.Byte());
  }
  serial.device = [&in](const Bytes& written, std::uint32_t) { return DeviceAnswer(in, written); };
  EndingDialog dialog;
  Configurator cfg(dialog, serial);
  dialog.SetCommandHandler([&cfg](int id, int code) { OnCommand(cfg, id, code); });
  OnInitDialog(cfg);
  // Where the open frame went out (port, rate), until a search starts again.
  std::optional<std::pair<std::string, std::uint32_t>> openAt;

  for (int step = 0; !dialog.Ended(); ++step) {
    // Op: bits 0-2 the action, bit 3 which port or which way to close; bits 4-5 both set: the
    // port of bit 6 is held by another program meanwhile. Out of input: Escape.
    const std::uint8_t op = in.Empty() || step == 40 ? 7 : in.Byte(), arg = in.Byte();
    const int action = op & 7, way = op >> 3 & 1, id = FIELDS[arg % 3];
    const std::string text = action == 1 || action == 2 ? in.Text() : "";
    serial.busy.clear();
    if ((op & 0x30) == 0x30)
      serial.busy.insert(PORTS[op >> 6 & 1]);
    const bool flagBefore = cfg.interfaceOpen, closing = action >= 6;
    const std::uint64_t startUs = serial.NowUs();
    const std::size_t first = serial.Log().size();

    if (action == 0)
      dialog.Choose(IDC_PORT, PORTS[way]);
    else if (action == 1)  // digit-only fields drop the other characters
      dialog.Type(id, text);
    else if (action == 2 && dialog.Enabled(id))  // pasted, or set by another program
      dialog.SetText(id, text);
    else if (action == 3 || action == 4)
      dialog.Choose(IDC_XN_ADDRESS, std::to_string(1 + arg % 31));
    else if (action == 5)
      dialog.Press(IDOK);
    else if (action == 6)
      way ? void(OnClose(cfg)) : void(dialog.Press(IDCANCEL));  // WM_CLOSE or the button
    else if (action == 7)
      OnCommand(cfg, IDCANCEL, 0);  // Escape

    const auto& log = serial.Log();
    std::uint64_t budgetMs = 0;
    int closeFrames = 0;
    bool openFailed = false;
    std::string port;  // the one open now
    for (std::size_t i = first; i < log.size(); ++i) {
      const WireEvent& e = log[i];
      const Bytes& b = e.bytes;
      if (e.kind == Kind::Open || e.kind == Kind::Close)
        port = e.kind == Kind::Open ? e.port : "";
      openFailed |= e.kind == Kind::OpenFailed;
      if (e.kind == Kind::Write) {
        Expect(e.port == port && IsLineRate(e.rate), "a write off the open port or a line rate");
        Expect(b == Bytes{0xF0, 0xF0} ||
                   (b.size() == 4 && b[0] == 0xF2 && b[3] == (0xF2 ^ b[1] ^ b[2]) &&
                    std::string("\x01\xF1\xF2\xFD\xFF").find(static_cast<char>(b[1])) !=
                        std::string::npos),
               "an unknown frame or a wrong check byte");
        budgetMs += TotalTimeoutMs(b.size());
        const std::pair<std::string, std::uint32_t> here{port, e.rate};
        if (b.size() == 2) {
          openAt.reset();
        } else if (b[1] == 0xFF && b[2] == 1 && e.ok) {
          openAt = here;
        } else if (b[1] == 0xFF && b[2] == 0) {
          ++closeFrames;
          Expect(closing && flagBefore && openAt == here,
                 "a close frame without the flag, or not where the open frame went");
        }
      } else if (e.kind == Kind::Read) {
        // A read alone is a reply of at most four bytes; a run of reads is a drain.
        std::size_t end = i;
        while (end + 1 < log.size() && log[end + 1].kind == Kind::Read)
          ++end;
        budgetMs += end == i ? TotalTimeoutMs(4) : DRAIN_MAX_MS + TotalTimeoutMs(1);
        Expect(end - i < DRAIN_MAX_BYTES, "a drain past its byte limit");
        for (std::size_t k = i; end > i && k <= end; ++k) {
          Expect(log[k].bytes.size() <= 1 && (k == end || (log[k].ok && log[k].bytes.size())),
                 "a drain read of more than one byte, or on after a quiet read");
        }
        i = end;
      }
    }
    Expect(!serial.AnyPortOpen(), "a port left open");
    Expect(serial.NowUs() - startUs <= budgetMs * 1000, "took longer than its time-outs allow");
    Expect(cfg.interfaceOpen == openAt.has_value(), "the flag and the open frame disagree");
    Expect(dialog.Ended() == closing && dialog.result == (closing ? 0 : -1), "did not end with 0");
    Expect(!closing || flagBefore || first == log.size(), "closing touched a port, flag clear");
    Expect(!closing || closeFrames == (flagBefore && !openFailed), "not exactly one close frame");
  }
}

}  // namespace
}  // namespace valdrix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  valdrix::RunSession(data, size);
  return 0;
}
