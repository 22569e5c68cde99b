#include "serial/serial_port.h"

namespace valdrix {

void DrainPort(SerialPort& port) {
  const std::uint64_t start = port.NowMs();
  for (std::size_t drained = 0; drained < DRAIN_MAX_BYTES; ++drained) {
    std::uint8_t byte = 0;
    const ReadResult result = port.ReadFrame(&byte, 1);
    if (!result.ok || result.count != 1)
      return;
    if (port.NowMs() - start >= DRAIN_MAX_MS)
      return;
  }
}

}  // namespace valdrix
