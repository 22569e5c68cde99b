// Opening a POSIX terminal for this program alone, for a conversation; the lists never open one.
#pragma once

#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace valdrix::posix {

struct ExclusiveFd {
  int fd = -1;
  bool exclusiveSet = false;           // TIOCEXCL is ours to clear on release
  std::vector<std::string> lockFiles;  // our UUCP lock files, removed on release
};

// Opens path only when it is a serial device and no console (anything else is refused from
// stat() alone, never opened), and holds it with flock(), TIOCEXCL and a UUCP lock file until
// ReleaseExclusive. On failure fd is -1 and *error (when given) says why.
ExclusiveFd OpenExclusive(const std::string& path, PortError* error);
void ReleaseExclusive(ExclusiveFd& port);

}  // namespace valdrix::posix
