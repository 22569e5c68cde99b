// What differs between the command line on POSIX and on Windows; one source file per platform.
#pragma once

#include <memory>

#include "serial/serial_port.h"

namespace valdrix::cli {

std::unique_ptr<SerialBackend> MakePlatformSerial();
bool StderrIsTerminal();

}  // namespace valdrix::cli
