// What a user recognises a serial port by, and whether it can be used now.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace valdrix {

struct PortDetails {
  std::string name;                 // /dev/ttyUSB0, COM5
  std::string byId;                 // /dev/serial/by-id/... link, or empty
  std::string vendorId, productId;  // "0403", "6001"; empty when unknown
  std::string manufacturer, product, serialNumber;
  std::string description;  // Windows friendly name ("USB Serial Port (COM5)"), or empty
  PortError state;          // problem None: free
};

// Every serial device the system has, in natural order.
std::vector<PortDetails> DescribePorts();

}  // namespace valdrix
