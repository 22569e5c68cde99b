// The serial seam: one open port and the backend that lists and opens ports. Reads follow one
// contract on every backend: up to n bytes within the time-outs; a short count is a time-out,
// failure is a port error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/port_error.h"

namespace valdrix {

// The line rates a port is run at, in the order the search tries them: the one list, which each
// platform's own rate constants are made from as X(9600), X(19200), ...
#define VALDRIX_LINE_RATES(X) X(9600) X(19200) X(38400) X(57600) X(115200)
#define VALDRIX_RATE_NUMBER(rate) rate,
constexpr std::uint32_t LINE_RATES[] = {VALDRIX_LINE_RATES(VALDRIX_RATE_NUMBER)};
#undef VALDRIX_RATE_NUMBER

// Every backend's time-outs: a read or a write may take TIMEOUT_CONSTANT_MS plus
// TIMEOUT_PER_BYTE_MS for each byte asked for; a read also ends READ_INTERVAL_MS after the last
// byte once one has arrived.
constexpr std::uint32_t TIMEOUT_CONSTANT_MS = 1000;
constexpr std::uint32_t TIMEOUT_PER_BYTE_MS = 1;
constexpr std::uint32_t READ_INTERVAL_MS = 1000;

// The whole time a read or write of length bytes may take.
constexpr std::uint64_t TotalTimeoutMs(std::size_t length) {
  return TIMEOUT_CONSTANT_MS + TIMEOUT_PER_BYTE_MS * static_cast<std::uint64_t>(length);
}

struct ReadResult {
  ReadResult() = default;
  ReadResult(bool succeeded, std::size_t got, std::string refused = {})
      : ok(succeeded), count(got), rateRefused(std::move(refused)) {}
  bool ok = false;
  std::size_t count = 0;
  // A failed read: the call that failed and the system's text ("read: Input/output error"),
  // where the backend knows; empty for a read a stop cut short.
  std::string failed;
  // Why the line is not at the rate last set, when a port learns that only at a read (a network
  // server confirms a rate when the data sent behind it is on its way); nothing is read then.
  std::string rateRefused;
};

// An open port; destroying it closes it.
class SerialPort {
 public:
  virtual ~SerialPort() = default;
  SerialPort() = default;
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Changes the line rate; false, and why in *error when given, when the driver does not take
  // it (a network server's refusal comes with the next read). The port is neither closed nor
  // purged.
  virtual bool SetPortRate(std::uint32_t rate, PortError* error = nullptr) = 0;
  // Sends all bytes, waiting at most TotalTimeoutMs(length) for the handshake. Only a port error
  // fails: why in *error when given (the call and the system's text; empty for a stop).
  virtual bool WriteFrame(const std::uint8_t* bytes, std::size_t length,
                          PortError* error = nullptr) = 0;
  // Returns once length bytes arrived, or after TotalTimeoutMs(length) in all, or
  // READ_INTERVAL_MS after the last byte once one arrived; success with a short count then.
  virtual ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) = 0;
  // A monotonic clock in milliseconds (virtual in tests), for bounding the drain.
  virtual std::uint64_t NowMs() = 0;
};

class SerialBackend {
 public:
  virtual ~SerialBackend() = default;
  // The names of the ports free right now, in a stable order.
  virtual std::vector<std::string> EnumeratePorts() = 0;
  // Opens a serial port for this program alone, with 8N1, hardware handshake and the time-outs
  // above; nullptr, and why in *error when given, when it cannot be opened. Anything that is not
  // a serial port is refused before a byte is written to it.
  virtual std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                               PortError* error = nullptr) = 0;
};

// The drain does not go on for ever while the other end keeps sending.
constexpr std::size_t DRAIN_MAX_BYTES = 4096;
constexpr std::uint64_t DRAIN_MAX_MS = 5000;

// Reads and discards one byte at a time until a read fails or times out, or a bound is reached
// (DRAIN_MAX_BYTES, and maxMs).
void DrainPort(SerialPort& port, std::uint64_t maxMs = DRAIN_MAX_MS);

// One try at sending bytes: how many went (0: none in the time the try may take), or -1 when the
// port failed.
using WriteTry = std::function<long(const std::uint8_t* bytes, std::size_t length)>;
// Sends length bytes by tries until every byte went, a try sent none, or the deadline passed:
// what the handshake still holds back then is given up, and the write counts as done. False only
// when a try failed.
bool WriteAll(const std::uint8_t* bytes, std::size_t length, std::uint64_t deadlineMs,
              const WriteTry& write, const std::function<std::uint64_t()>& nowMs);

}  // namespace valdrix
