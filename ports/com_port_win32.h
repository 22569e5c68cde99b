// Opening a COM port on Windows, shared by the conversations' OpenPort and the port lists' probe.
#pragma once

#include <windows.h>

#include <string>

#include "base/port_error.h"

namespace valdrix {

// Opens name through the device namespace and keeps the handle only when it is a communications
// device; INVALID_HANDLE_VALUE, why in *error and GetLastError's code in *systemError otherwise.
HANDLE OpenComPort(const std::string& name, DWORD share, PortError* error,
                   unsigned long* systemError = nullptr);

// Whether name (COM5) opens as a port for this program alone right now, and why not (with
// GetLastError's code when CreateFile failed); the port list keeps the ports whose problem is None.
PortError ProbeComPort(const std::string& name, unsigned long* systemError = nullptr);

}  // namespace valdrix
