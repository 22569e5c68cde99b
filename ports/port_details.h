// What the system knows about each serial port, for a long port list: where it is plugged in,
// what it is, and whether it is free right now.
#pragma once

#include <string>
#include <vector>

#include "base/port_error.h"

namespace valdrix {

struct PortDetails {
  std::string name;                 // /dev/ttyUSB0, COM5
  std::string byId;                 // /dev/serial/by-id/... link, or empty
  std::string vendorId, productId;  // "0403", "6001" (lower-case hex); empty when unknown
  std::string manufacturer, product, serialNumber;
  std::string description;  // Windows friendly name ("USB Serial Port (COM5)"), or empty
  PortError state;          // problem None: free
};

// Every serial device the system has, free or not, in natural order (ttyS2 before ttyS10, COM2
// before COM10).
#ifdef _WIN32
// Windows tells whether a COM port is free only to a program that opens it: the caller passes
// that probe (ProbeComPort, serial/hold.h), so that nothing in ports/ opens a port itself.
using PortProbe = PortError (*)(const std::string& name, unsigned long* systemError);
std::vector<PortDetails> DescribePorts(PortProbe probe);
#else
// No port is opened: the state comes from the system's tables. root is for tests only: a fake
// tree standing for /, with dev/, sys/, proc/ and run/lock/.
std::vector<PortDetails> DescribePorts(const std::string& root = {});
#endif

// The one order of port names in every list: digit runs compare as numbers (COM2 before COM10).
bool NaturalLess(const std::string& a, const std::string& b);

// What the port is, in a few words: the friendly name, else maker and product; may be empty.
std::string WhatItIs(const PortDetails& port);

// The names of the free ones, in the same order: what a short port list shows.
std::vector<std::string> FreePorts(const std::vector<PortDetails>& ports);

}  // namespace valdrix
