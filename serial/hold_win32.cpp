// Holding a COM port for this program alone: Windows gives a port to one program at a time.
#include "serial/hold.h"

#include "base/system_message.h"

namespace valdrix {
namespace {

// Ports are opened through the device namespace: plain "COM10" and above do not open. A name
// given with the prefix already keeps it.
std::string DevicePath(const std::string& name) {
  const std::string prefix = "\\\\.\\";
  return name.compare(0, prefix.size(), prefix) == 0 ? name : prefix + name;
}

PortError FromLastError(DWORD code) {
  PortError e;
  switch (code) {
    case ERROR_ACCESS_DENIED:  // a COM port another program has open
    case ERROR_SHARING_VIOLATION:
      e.problem = PortProblem::Busy;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      e.problem = PortProblem::Missing;
      break;
    default:
      e.problem = PortProblem::Other;
      e.detail = SystemMessage(code);
  }
  return e;
}

}  // namespace

// Opens name and keeps the handle only when it is a communications device: a file, NUL or the
// console is closed again before anything is written to it. Windows gives a COM port to one
// program at a time whatever the share mode; the probe asks for none, the conversations for
// FILE_SHARE_READ, as the window always has.
HANDLE OpenComPort(const std::string& name, DWORD share, PortError* error,
                   unsigned long* systemError) {
  PortError local;
  PortError& e = error ? *error : local;
  e = PortError{};
  const HANDLE handle = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, share,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (systemError)
      *systemError = code;
    e = FromLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &dcb)) {
    CloseHandle(handle);
    e.problem = PortProblem::NotAPort;
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

PortError ProbeComPort(const std::string& name, unsigned long* systemError) {
  PortError error;
  const HANDLE handle = OpenComPort(name, 0, &error, systemError);
  if (handle != INVALID_HANDLE_VALUE)
    CloseHandle(handle);
  return error;
}

}  // namespace valdrix
