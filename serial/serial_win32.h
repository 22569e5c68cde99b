// The serial backend on the Windows kernel's COM port calls.
#pragma once

#include <memory>
#include <string>

#include "serial/serial_port.h"

namespace valdrix {

std::unique_ptr<SerialBackend> MakeWin32Serial();

// Whether name (COM5) opens as a port for this program alone right now, and why not (with
// GetLastError's code when CreateFile failed); the port list keeps the ports whose problem is None.
PortError ProbeComPort(const std::string& name, unsigned long* systemError = nullptr);

}  // namespace valdrix
