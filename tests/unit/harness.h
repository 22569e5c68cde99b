// A whole configurator on the model dialog, the fake port and the interface model.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "conversations/configurator.h"
#include "protocol/frames.h"
#include "sim/fake_port.h"
#include "sim/interface_model.h"
#include "dialog/memory_dialog.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"

namespace valdrix {

using Bytes = std::vector<std::uint8_t>;
// One write on the wire: the line rate and the bytes.
using Wire = std::vector<std::pair<std::uint32_t, Bytes>>;

inline std::string Hex(const Bytes& bytes) {
  std::ostringstream out;
  out << std::hex << std::uppercase;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out << (i ? " " : "") << (bytes[i] < 16 ? "0" : "") << static_cast<int>(bytes[i]);
  }
  return out.str();
}

// Printed on a mismatch: one write a line, "rate: bytes".
inline std::string Describe(const Wire& wire) {
  std::ostringstream out;
  for (const auto& [rate, bytes] : wire)
    out << "  " << rate << ": " << Hex(bytes) << "\n";
  return out.str();
}

#define EXPECT_WIRE(actual, expected)                              \
  EXPECT_EQ(actual, expected) << "actual:\n"                       \
                              << Describe(actual) << "expected:\n" \
                              << Describe(expected)

// The frames of a search that finds the interface at rate, after silent lower rates.
inline Wire SearchWire(std::uint32_t foundAt) {
  Wire wire;
  for (const std::uint32_t rate : RATES) {
    wire.push_back({rate, {0xF0, 0xF0}});  // interface query
    if (rate == foundAt)
      break;
  }
  wire.push_back({foundAt, {0xF2, 0xFD, 0x00, 0x0F}});  // version query
  wire.push_back({foundAt, {0xF2, 0x01, 0xFF, 0x0C}});  // address query
  wire.push_back({foundAt, {0xF2, 0xF1, 0xFF, 0xFC}});  // base-address query
  wire.push_back({foundAt, {0xF2, 0xF2, 0xFF, 0xFF}});  // module-count query
  wire.push_back({foundAt, {0xF2, 0xFF, 0x01, 0x0C}});  // open interface
  return wire;
}

// An interface at rate holding address 10, base address 44 and module count 5.
inline InterfaceSettings At(std::uint32_t rate) {
  InterfaceSettings s;
  s.rate = rate;
  s.address = 10;
  s.base = 44;
  s.count = 5;
  return s;
}

const int kValueControls[] = {IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8};

struct Rig {
  explicit Rig(InterfaceSettings settings = {}, InterfaceFaults faults = {})
      : model(settings, faults), serial(&model), cfg(dialog, serial) {
    dialog.SetCommandHandler([this](int id, int code) { OnCommand(cfg, id, code); });
  }

  // Opens the dialog and chooses the port, as a user starting the program does.
  void Start(const std::string& port = "COM3") {
    OnInitDialog(cfg);
    dialog.Choose(IDC_PORT, port);
  }

  // The writes from here on.
  Wire WritesSince(std::size_t first) const {
    Wire all = serial.Writes();
    return Wire(all.begin() + static_cast<std::ptrdiff_t>(std::min(first, all.size())), all.end());
  }

  InterfaceModel model;
  FakeSerial serial;
  ModelDialog dialog;
  Configurator cfg;
};

}  // namespace valdrix
