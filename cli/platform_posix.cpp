#include <unistd.h>

#include "cli/platform.h"
#include "serial/serial_posix.h"

namespace valdrix::cli {

std::unique_ptr<SerialBackend> MakePlatformSerial() {
  return MakePosixSerial();
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace valdrix::cli
