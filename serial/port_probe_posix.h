// Opening a POSIX terminal for this program alone: shared by OpenPort, the port list and the
// port details, so that all three agree on what is a port and who holds it.
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

// Whether a ttyS device is backed by a UART; most machines list many ttyS nodes with none.
bool IsRealUart(int fd);

}  // namespace valdrix::posix
