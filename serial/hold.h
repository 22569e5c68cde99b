// Holding a port for this program alone, for a conversation: the one place per platform that
// opens a local port (hold_posix.cpp, hold_win32.cpp). The lists in ports/ never open one on
// POSIX; on Windows only opening tells whether a COM port is free, and the list asks ProbeComPort.
#pragma once

#include <string>

#include "base/port_error.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <vector>
#endif

namespace valdrix {

#ifdef _WIN32

// Opens name through the device namespace and keeps the handle only when it is a communications
// device; INVALID_HANDLE_VALUE, why in *error and GetLastError's code in *systemError otherwise.
HANDLE OpenComPort(const std::string& name, DWORD share, PortError* error,
                   unsigned long* systemError = nullptr);

// Whether name (COM5) opens as a port for this program alone right now, and why not (with
// GetLastError's code when CreateFile failed); the port list keeps the ports whose problem is None.
PortError ProbeComPort(const std::string& name, unsigned long* systemError = nullptr);

#else

namespace posix {

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

// An ioctl the driver (or an emulator) does not have, as against one it refused.
bool Unsupported(int err);
// What the kernel said when call failed: its name, then the system's text.
PortError CallFailed(const char* call, int err);

// Our own UUCP lock files for the device, so that the programs that go by lock files leave the
// port alone while we talk: LCK..<base name> in /run/lock (or /var/lock), as cu looks for it,
// and for a device in a folder below /dev the path form too (LCK..pts_3), as minicom does. Each
// holds this process's PID as ten characters and a newline, made atomically; a stale one (its
// PID dead) is replaced. Returns the lock files taken: none when the directory is not ours to
// write (silently), or when a live lock of another process stands in the way (*otherPid: it), or
// when the system refused a step (*failed: the call, the file and why).
std::vector<std::string> TakeUucpLocks(const std::string& path, long* otherPid,
                                       std::string* failed);
// Removes the lock files TakeUucpLocks made that are still this process's.
void DropUucpLocks(const std::vector<std::string>& lockFiles);

}  // namespace posix

#endif

}  // namespace valdrix
