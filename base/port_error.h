// Why a port cannot be used. Below every folder that opens, lists or advises on ports, so that
// none of them has to include another for it.
#pragma once

#include <string>

namespace valdrix {

enum class PortProblem { None, Permission, Busy, Console, Missing, NotAPort, Unreachable, Other };

struct PortError {
  PortProblem problem = PortProblem::None;
  std::string group;  // Permission (POSIX): the group that owns the device node, e.g. "dialout"
  // Busy: the program holding it, when known: its pid, and its name ("minicom") where /proc says.
  std::string holderName;
  long holderPid = 0;
  std::string detail;  // the system's own message (strerror / FormatMessage), for Other; what
                       // went wrong, for Unreachable
  // Permission (POSIX), for a fix that works: whether the group has read and write access and is
  // not root, the node's owner, its kernel name ("ttyUSB0") and USB ids ("0403") where known.
  bool groupMayOpen = false;
  std::string owner;
  std::string kernelName;
  std::string vendorId, productId;
  // Busy (POSIX): the port is marked exclusive, yet no program but its device end has it open:
  // whoever marked it has ended.
  bool exclusiveLeft = false;
  // Busy, a network port: the server (HOST:PORT) another client of which has the port.
  std::string server;
  // Unreachable, a network port: the server could not open its own serial device and said so
  // ("Device open failure: ..."); detail then holds its words.
  bool serverDeviceFailed = false;
};

}  // namespace valdrix
