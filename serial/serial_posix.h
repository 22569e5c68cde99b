// The serial backend on POSIX terminals (termios and poll). Opens serial and pseudo-terminal
// devices, by symlinks to them too, for this program alone, and keeps the read and write
// time-outs of the Windows program: one monotonic deadline per call, never a sleep loop.
#pragma once

#include <termios.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace valdrix {

class PosixSerial : public SerialBackend {
 public:
  // The free ports of DescribePorts(), found without opening any.
  std::vector<std::string> EnumeratePorts() override;
  // Raw 8N1, RTS/CTS, DTR on, the given rate; settings the device refuses are left as they are.
  // Only terminal devices open, each held with flock() and TIOCEXCL while open.
  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error = nullptr) override;
};

std::unique_ptr<SerialBackend> MakePosixSerial();

// The termios speed of one of LINE_RATES; B0 for any other rate.
speed_t SpeedForRate(std::uint32_t rate);
// The line rate of a termios speed; 0 for a speed not in LINE_RATES.
std::uint32_t RateForSpeed(speed_t speed);

}  // namespace valdrix
