#include "serial/serial_port.h"

namespace valdrix {

void DrainPort(SerialPort& port, std::uint64_t maxMs) {
  const std::uint64_t start = port.NowMs();
  for (std::size_t drained = 0; drained < DRAIN_MAX_BYTES; ++drained) {
    std::uint8_t byte = 0;
    const ReadResult result = port.ReadFrame(&byte, 1);
    if (!result.ok || result.count != 1)
      return;
    if (port.NowMs() - start >= maxMs)
      return;
  }
}

bool WriteAll(const std::uint8_t* bytes, std::size_t length, std::uint64_t deadlineMs,
              const WriteTry& write, const std::function<std::uint64_t()>& nowMs) {
  for (std::size_t sent = 0; sent < length;) {
    const long n = write(bytes + sent, length - sent);
    if (n < 0)
      return false;
    sent += static_cast<std::size_t>(n);
    if (n == 0 || nowMs() >= deadlineMs)
      return true;
  }
  return true;
}

}  // namespace valdrix
