#include <io.h>
#include <stdio.h>

#include "cli/platform.h"
#include "serial/serial_win32.h"

namespace valdrix::cli {

// COM names go to the backend as given; it opens them through the device namespace itself.
std::unique_ptr<SerialBackend> MakePlatformSerial() {
  return MakeWin32Serial();
}

bool StderrIsTerminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace valdrix::cli
