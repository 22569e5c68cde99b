// What the system knows about each serial port, for a long port list: where it is plugged in,
// what it is, and whether it is free right now.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace valdrix {

struct PortDetails {
  std::string name;                 // /dev/ttyUSB0, COM5
  std::string byId;                 // /dev/serial/by-id/... link, or empty
  std::string vendorId, productId;  // "0403", "6001" (lower-case hex); empty when unknown
  std::string manufacturer, product, serialNumber;
  std::string description;  // Windows friendly name ("USB Serial Port (COM5)"), or empty
  PortError state;          // from the same probe as OpenPort; problem None: free
};

// Every serial device the system has, free or not, in natural order (ttyS2 before ttyS10, COM2
// before COM10). Ports are opened for a moment to learn their state, never written to.
std::vector<PortDetails> DescribePorts();

}  // namespace valdrix
