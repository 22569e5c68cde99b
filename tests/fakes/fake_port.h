// A serial backend for tests: virtual time, the interface model on one port, and faults on
// demand. A read that gets nothing costs its full time-out of virtual time (TotalTimeoutMs),
// exactly as on a real port, but no real time passes.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "serial/serial_port.h"
#include "sim/interface_model.h"

namespace valdrix {

struct WireEvent {
  enum class Kind { Open, OpenFailed, Rate, Write, Read, Close };
  Kind kind;
  std::string port;
  std::uint32_t rate = 0;           // the line rate at the time of the event
  std::vector<std::uint8_t> bytes;  // written, or read
  bool ok = true;                   // the write's or read's result
  std::uint64_t atMs = 0;           // virtual time at its start
};

class FakeSerial : public SerialBackend {
 public:
  // With a model, the interface sits on interfacePort; every other listed port is silent.
  explicit FakeSerial(InterfaceModel* model = nullptr, std::string interfacePort = "COM3");
  ~FakeSerial() override;

  std::vector<std::string> EnumeratePorts() override;
  // A listed port that is busy (or already open) fails as Busy, any other name as Missing.
  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error = nullptr) override;

  // --- set-up
  // The ports that exist, in probe order (default: the interface's port alone).
  std::vector<std::string> ports;
  // Ports held by another program (not listed, not opened) or gone.
  std::set<std::string> busy;
  // Faults by the 0-based index among all writes (or reads) since the start.
  std::set<std::size_t> failOpens;       // by index among all opens: the port does not open
  std::set<std::size_t> failWrites;      // WriteFile fails: a port error
  std::set<std::size_t> blockedWrites;   // the handshake holds: nothing goes out, success after
                                         // the write time-out
  std::set<std::size_t> failReads;       // ReadFile fails
  std::set<std::size_t> shortReads;      // the last byte wanted never comes
  std::set<std::uint32_t> refusedRates;  // the driver does not take these line rates
  bool refusedAtRead = false;  // as a network server: the read after the rate tells, ok and empty
  // The interface's answer starts this long after the request (then one byte a byte-time).
  std::uint64_t replyLatencyUs = 2000;
  // An endless stream sends one byte this often.
  std::uint64_t streamIntervalUs = 1000;
  // A scripted device in place of the model, on every port: given each write that goes out and
  // the line rate, it returns what it sends back, each byte with its delay after the one before
  // (the first after the write has gone out). Bytes queue behind those still on their way.
  struct DeviceByte {
    std::uint64_t delayUs;
    std::uint8_t byte;
  };
  std::function<std::vector<DeviceByte>(const std::vector<std::uint8_t>&, std::uint32_t)> device;

  // --- results
  const std::vector<WireEvent>& Log() const { return log_; }
  // The bytes of every write attempted, in order (failed ones included), with the rate.
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> Writes() const;
  std::uint64_t NowMs() const { return nowUs_ / 1000; }
  std::uint64_t NowUs() const { return nowUs_; }
  std::size_t OpenCount() const;
  bool AnyPortOpen() const { return openPorts_ != 0; }

 private:
  class Port;
  friend class Port;

  InterfaceModel* model_;
  std::string interfacePort_;
  std::uint64_t nowUs_ = 0;
  std::size_t opens_ = 0;
  std::size_t writes_ = 0;
  std::size_t reads_ = 0;
  int openPorts_ = 0;
  std::vector<WireEvent> log_;
  // Bytes on their way to the open port: arrival time (virtual us), byte.
  std::deque<std::pair<std::uint64_t, std::uint8_t>> incoming_;
  std::uint64_t nextStreamUs_ = 0;
};

}  // namespace valdrix
