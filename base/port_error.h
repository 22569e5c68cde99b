// Why a port cannot be used. Below every folder that opens, lists or advises on ports, so that
// none of them has to include another for it.
#pragma once

#include <string>

namespace valdrix {

enum class PortProblem { None, Permission, Busy, Missing, NotAPort, Unreachable, Other };

struct PortError {
  PortProblem problem = PortProblem::None;
  std::string group;   // Permission (POSIX): the group that owns the device node, e.g. "dialout"
  std::string holder;  // Busy: the program holding it, e.g. "minicom (pid 1234)", when known
  std::string detail;  // the system's own message (strerror / FormatMessage), for Other; what
                       // went wrong, for Unreachable
  // Permission (POSIX), for a fix that works: whether the group has read and write access and is
  // not root, the node's owner, its kernel name ("ttyUSB0") and USB ids ("0403") where known.
  bool groupMayOpen = false;
  std::string owner;
  std::string kernelName;
  std::string vendorId, productId;
  // Busy, a network port: the server (HOST:PORT) another client of which has the port.
  std::string server;
};

}  // namespace valdrix
