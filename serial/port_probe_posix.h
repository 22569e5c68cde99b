// Opening a POSIX terminal for this program alone, for a conversation; the lists never open one.
#pragma once

#include <string>

#include "serial/serial_port.h"

namespace valdrix::posix {

struct ExclusiveFd {
  int fd = -1;
  bool exclusiveSet = false;  // TIOCEXCL is ours to clear on release
};

// Opens path only when it is a serial device (anything else is refused from stat() alone, never
// opened), and holds it with flock() and TIOCEXCL until ReleaseExclusive. On failure fd is -1
// and *error (when given) says why.
ExclusiveFd OpenExclusive(const std::string& path, PortError* error);
void ReleaseExclusive(ExclusiveFd& port);

}  // namespace valdrix::posix
