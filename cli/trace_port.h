// A serial backend that forwards every call to another one and writes each open, rate change,
// frame sent and reply received to a stream: hex bytes, the line rate and the time since start.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace valdrix::cli {

class TraceBackend : public SerialBackend {
 public:
  // nowUs: a monotonic clock in microseconds; the trace counts from its value at construction.
  // With namePorts, each line starts with the port's name.
  TraceBackend(SerialBackend& inner, std::ostream& out, std::function<std::uint64_t()> nowUs,
               bool namePorts = false);

  std::vector<std::string> EnumeratePorts() override;
  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error = nullptr) override;

  // One trace line: "[PORT: ]+S.mmm s  RATE  what", written whole with one insertion, so that
  // lines from several threads stay whole on a standard stream.
  void Line(const std::string& port, std::uint32_t rate, const std::string& what);

 private:
  SerialBackend& inner_;
  std::ostream& out_;
  std::function<std::uint64_t()> nowUs_;
  std::uint64_t startUs_;
  bool namePorts_;
};

// "F2 01 FF 0C".
std::string HexBytes(const std::uint8_t* bytes, std::size_t length);

// The host's monotonic clock in microseconds.
std::uint64_t SteadyNowUs();

}  // namespace valdrix::cli
