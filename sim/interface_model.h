// A software model of the Valdrix interface: it keeps a version and three stored settings,
// answers at its own line rate only, and can misbehave in the ways real devices and wrong
// devices on a port do. It sees the line as a byte stream and knows nothing about time: the fake
// port (virtual time) and valdrix-sim (a pseudo-terminal, real time) deliver bytes and carry the
// answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "sim/deframer.h"

namespace valdrix {

struct InterfaceSettings {
  std::uint8_t version = 102;
  std::uint8_t address = 1;
  std::uint8_t base = 0;
  std::uint8_t count = 0;  // 2 x 16-bit modules + 8-bit modules
  std::uint32_t rate = 57600;
};

struct InterfaceFaults {
  bool silent = false;                               // answers nothing at all
  std::optional<std::uint8_t> noReplyTo;             // a sub-command whose query gets no answer
  std::map<std::uint8_t, std::uint8_t> forcedValue;  // sub-command -> value sent instead
  bool badCheck = false;                             // every answer carries a wrong check byte
  bool streamAfterOpen = false;                      // sends bytes without end once opened
};

class InterfaceModel {
 public:
  explicit InterfaceModel(InterfaceSettings settings = {}, InterfaceFaults faults = {});

  // Bytes that reached the interface while the line ran at lineRate; returns what it sends back.
  // Bytes at another rate than its own are noise to it: they are dropped with any frame begun.
  std::vector<std::uint8_t> Receive(const std::uint8_t* bytes, std::size_t length,
                                    std::uint32_t lineRate);

  // After the open frame, with streamAfterOpen: the interface sends without end.
  bool Streaming() const { return streaming_; }
  std::uint8_t NextStreamByte() { return static_cast<std::uint8_t>(streamCounter_++); }

  const InterfaceSettings& Settings() const { return settings_; }
  InterfaceFaults& Faults() { return faults_; }
  bool IsOpen() const { return open_; }

 private:
  void Answer(std::uint8_t sub, std::uint8_t value, std::vector<std::uint8_t>& out);
  void Reply(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::vector<std::uint8_t>& out);

  InterfaceSettings settings_;
  InterfaceFaults faults_;
  Deframer deframer_;
  bool open_ = false;
  bool streaming_ = false;
  std::uint32_t streamCounter_ = 0;
};

}  // namespace valdrix
