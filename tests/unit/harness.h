// A whole configurator on the recording dialog, the fake port and the interface model.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "conversations/config_dialog.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "protocol/frames.h"
#include "sim/interface_model.h"
#include "tests/fakes/fake_port.h"

namespace valdrix {

// The in-memory dialog, recording what the conversations did to it, in order.
class RecordingDialog : public MemoryDialog {
 public:
  enum class Kind { SetText, Disable, Select, ErrorBox };
  struct Event {
    Kind kind;
    int id;
    std::string text;
  };

  void SetText(int id, const std::string& text) override {
    events_.push_back({Kind::SetText, id, text});
    MemoryDialog::SetText(id, text);
  }
  void Enable(int id, bool on) override {
    if (!on)
      events_.push_back({Kind::Disable, id, {}});
    MemoryDialog::Enable(id, on);
  }
  void SelectEntry(int id, const std::string& text) override {
    events_.push_back({Kind::Select, id, text});
    MemoryDialog::SelectEntry(id, text);
  }
  void ErrorBox(const std::string& text) override {
    events_.push_back({Kind::ErrorBox, 0, text});
    MemoryDialog::ErrorBox(text);
  }

  const std::vector<Event>& Events() const { return events_; }
  // The texts of one kind of event for one control (0: any).
  std::vector<std::string> Texts(Kind kind, int id = 0) const {
    std::vector<std::string> texts;
    for (const Event& e : events_) {
      if (e.kind == kind && (id == 0 || e.id == id))
        texts.push_back(e.text);
    }
    return texts;
  }
  std::vector<std::string> ErrorBoxes() const { return Texts(Kind::ErrorBox); }

 private:
  std::vector<Event> events_;
};

using Bytes = std::vector<std::uint8_t>;
// The writes on the wire: line rate and bytes.
using Wire = std::vector<std::pair<std::uint32_t, Bytes>>;

inline std::string Describe(const Wire& wire) {
  std::ostringstream out;
  for (const auto& [rate, bytes] : wire) {
    out << "  " << rate << ":" << std::hex << std::uppercase;
    for (const std::uint8_t b : bytes)
      out << " " << (b < 16 ? "0" : "") << int(b);
    out << std::dec << "\n";
  }
  return out.str();
}

#define EXPECT_WIRE(actual, expected)                              \
  EXPECT_EQ(actual, expected) << "actual:\n"                       \
                              << Describe(actual) << "expected:\n" \
                              << Describe(expected)

const Bytes kQuery = {0xF0, 0xF0};                         // interface query
const Bytes kOpen = {0xF2, 0xFF, 0x01, 0x0C};              // open the interface
const Bytes kClose = {0xF2, 0xFF, 0x00, 0x0D};             // close the interface
const Bytes kValueQueries[] = {{0xF2, 0xFD, 0x00, 0x0F},   // version
                               {0xF2, 0x01, 0xFF, 0x0C},   // address
                               {0xF2, 0xF1, 0xFF, 0xFC},   // base address
                               {0xF2, 0xF2, 0xFF, 0xFF}};  // module count

// The interface query at each rate up to foundAt; then, when found, the four value queries and
// the open frame at that rate.
inline Wire SearchWire(std::uint32_t foundAt, bool found = true) {
  Wire wire;
  for (const std::uint32_t rate : LINE_RATES) {
    wire.push_back({rate, kQuery});
    if (rate == foundAt)
      break;
  }
  if (found) {
    for (const Bytes& q : kValueQueries)
      wire.push_back({foundAt, q});
    wire.push_back({foundAt, kOpen});
  }
  return wire;
}

// An interface at rate holding address 10, base address 44 and module count 5.
inline InterfaceSettings At(std::uint32_t rate) {
  return {102, 10, 44, 5, rate};
}

constexpr int kValueControls[] = {IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8};

struct Rig {
  explicit Rig(InterfaceSettings settings = At(57600), InterfaceFaults faults = {})
      : model(settings, faults), serial(&model), cfg(dialog, serial) {
    dialog.SetCommandHandler([this](int id, int code) { last = OnCommand(cfg, id, code); });
  }

  // Opens the dialog and chooses the port, as a user starting the program does.
  void Start(const std::string& port = "COM3") {
    OnInitDialog(cfg);
    dialog.Choose(IDC_PORT, port);
  }

  // The writes from the index on.
  Wire WritesFrom(std::size_t first) const {
    const Wire all = serial.Writes();
    return Wire(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end());
  }

  InterfaceModel model;
  FakeSerial serial;
  RecordingDialog dialog;
  Configurator cfg;
  Outcome last;  // of the last command handled
};

}  // namespace valdrix
