// Windows: the system's own text for an error code (GetLastError, WSAGetLastError), without the
// trailing full stop and line break, for messages that add their own.
#pragma once

#include <string>

namespace valdrix {

std::string SystemMessage(unsigned long code);

}  // namespace valdrix
