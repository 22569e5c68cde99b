// What a POSIX port is, and whether this caller could use it right now, learnt from the system's
// own tables without opening the port: opening a terminal raises its modem lines, and many USB
// boards reset on that edge. The port list, the port details and the refusals of serial/hold.h
// share it; taking a port (flock, TIOCEXCL, our UUCP lock files) is serial/hold.h's alone.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/port_error.h"

namespace valdrix::posix {

// The serial device nodes below root + "/dev", in natural order (ttyS2 before ttyS10): those
// the kernel shows in sysfs with a device behind them, less the ttyS slots without a UART.
// root is empty for the running system; tests give a fake tree with dev/, sys/, proc/, run/lock/.
std::vector<std::string> CandidatePorts(const std::string& root);

// The state of one node from stat(), the consoles, its mode against the caller, the kernel's lock
// table, the open files in /proc and UUCP lock files; never opens it. NotAPort for anything not a
// character device; the caller decides whether a character device is a terminal.
PortError NodeState(const std::string& path, const std::string& root);

// Whether a process other than this one, and other than the device end of a pseudo-terminal,
// has the device open, locks it or holds a live UUCP lock file for it; if so, *busy becomes Busy
// with that process. *everyoneSeen (when given) tells whether every process's open files could
// be read: only then does false mean that nobody has the device open.
bool InUse(const std::string& path, const struct stat& node, const std::string& root,
           PortError* busy, bool* everyoneSeen = nullptr);

// Whether the device is a kernel console, as /proc/consoles or /sys/class/tty/console/active
// name them (a link such as /dev/serial0 counts as what it leads to).
bool IsConsole(const struct stat& node, const std::string& root);

// UUCP lock files as others read them, and as serial/hold.h writes ours. Where they live, in the
// order programs look:
inline constexpr const char* LOCK_DIRS[] = {"/run/lock", "/var/lock"};
// The names a lock file may use for the device at path (LCK..<name>).
std::vector<std::string> LockNames(const std::string& path, const std::string& root);
// The PID a lock file holds; 0 when there is none.
long LockFilePid(const std::string& file);
// Whether the process pid runs (under root's /proc).
bool Alive(const std::string& root, long pid);

// The sysfs directory of the USB device behind the tty kernelName ("ttyUSB0"), or empty.
std::string UsbDeviceDir(const std::string& root, const std::string& kernelName);
// A sysfs or /proc file's first line, without trailing blanks.
std::string FirstLine(const std::string& path);

// Permission: who may open the node, for the hint (owner, whether its group could, the group).
PortError AccessProblem(const std::string& path, const struct stat& node, const std::string& root);

}  // namespace valdrix::posix
