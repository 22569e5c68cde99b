// The serial backend on the Windows kernel's COM port calls.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"

namespace valdrix {

std::unique_ptr<SerialBackend> MakeWin32Serial();

}  // namespace valdrix
