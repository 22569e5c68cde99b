// Holding a POSIX terminal for this program alone: refusals from stat() and the system's tables
// before anything is opened, then open(), flock(), TIOCEXCL and our UUCP lock files.
#include "serial/hold.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ports/port_state_posix.h"

namespace valdrix {
namespace posix {
namespace {

namespace fs = std::filesystem;

// The kernel refused the port as taken (TIOCEXCL, flock). Its device end is never the one that
// took it; with no other program holding it, whoever marked it exclusive has ended.
PortError Busy(const std::string& path, const struct stat& node) {
  PortError e;
  bool everyoneSeen = false;
  if (!InUse(path, node, "", &e, &everyoneSeen)) {
    e.problem = PortProblem::Busy;
    e.exclusiveLeft = everyoneSeen;
  }
  return e;
}

PortError FromErrno(int err, const std::string& path, const struct stat* node) {
  PortError e;
  switch (err) {
    case EACCES:
    case EPERM:
      if (node)
        return AccessProblem(path, *node, "");
      e.problem = PortProblem::Permission;
      break;
    case EBUSY:
      if (node)
        return Busy(path, *node);
      e.problem = PortProblem::Busy;
      break;
    case ENOENT:
    case ENOTDIR:
    case ENODEV:
    case ENXIO:
      e.problem = PortProblem::Missing;
      break;
    default:
      e.problem = PortProblem::Other;
      e.detail = std::strerror(err);
  }
  return e;
}

enum class DriverKind { Port, NotAPort, Unknown };

// What the kernel's table of terminal drivers says about a character device: a serial or
// pseudo-terminal driver's, another terminal's (a console), or no terminal's at all. Some
// devices act when merely opened (a watchdog starts counting), so this is asked before open().
// Unknown when the table cannot be read; tcgetattr() after opening then decides alone.
DriverKind DriverOf(dev_t device) {
  std::ifstream in("/proc/tty/drivers");
  std::string line;
  bool any = false;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string name, node, minors, type;
    unsigned major = 0;
    if (!(fields >> name >> node >> major >> minors >> type))
      continue;
    any = true;
    unsigned first = 0;
    unsigned last = 0;
    const int parsed = std::sscanf(minors.c_str(), "%u-%u", &first, &last);
    if (parsed < 1)
      continue;
    if (parsed == 1)
      last = first;
    const unsigned index = minor(device);
    if (major == major(device) && index >= first && index <= last)
      return type == "serial" || type == "pty:slave" ? DriverKind::Port : DriverKind::NotAPort;
  }
  return any ? DriverKind::NotAPort : DriverKind::Unknown;
}

// Where this process's lock files go: the first lock directory there is.
std::string LockDir() {
  std::error_code ignored;
  for (const char* dir : LOCK_DIRS) {
    if (fs::is_directory(dir, ignored))
      return dir;
  }
  return {};
}

}  // namespace

bool Unsupported(int err) {
  return err == ENOTTY || err == EINVAL || err == ENOSYS;
}

PortError CallFailed(const char* call, int err) {
  PortError e;
  e.problem = PortProblem::Other;
  e.detail = std::string(call) + ": " + std::strerror(err);
  return e;
}

// What is refused from stat() and the system's tables alone, before anything is opened: true,
// and why in e, when path is no port to open.
bool RefusedUnopened(const std::string& path, struct stat& node, PortError& e) {
  e = PortError{};
  e.problem = PortProblem::NotAPort;
  if (stat(path.c_str(), &node) != 0) {
    e = FromErrno(errno, path, nullptr);
    return true;
  }
  // A regular file, a directory, a FIFO (opening one wakes its reader), a socket, or a device
  // that is no terminal: never opened.
  if (!S_ISCHR(node.st_mode) || DriverOf(node.st_rdev) == DriverKind::NotAPort)
    return true;
  // The kernel's console: whatever we sent would go to its login prompt or be mixed with its
  // messages.
  if (IsConsole(node, "")) {
    e.problem = PortProblem::Console;
    return true;
  }
  // Another program using it, though it took no lock: not opened at all.
  return InUse(path, node, "", &e);
}

ExclusiveFd OpenExclusive(const std::string& path, PortError* error) {
  PortError local;
  PortError& e = error ? *error : local;
  struct stat node {};
  if (RefusedUnopened(path, node, e))
    return {};

  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    e = FromErrno(errno, path, &node);
    return {};
  }
  // The path may have been replaced after stat(): what counts is what was opened.
  struct stat opened {};
  termios tio{};
  if (fstat(fd, &opened) != 0 || !S_ISCHR(opened.st_mode) || tcgetattr(fd, &tio) != 0) {
    const int err = errno;
    close(fd);
    // /dev/null, /dev/zero and the like say ENOTTY; a terminal's driver failing says otherwise.
    if (S_ISCHR(opened.st_mode) && !Unsupported(err))
      e = CallFailed("tcgetattr", err);
    return {};
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    e = err == EWOULDBLOCK ? Busy(path, opened) : FromErrno(err, path, &opened);
    return {};
  }
  // Root opens past another program's TIOCEXCL; it must not take the port all the same.
  int taken = 0;
  const int asked = ioctl(fd, TIOCGEXCL, &taken) == 0 ? 0 : errno;
  if (taken || (asked && !Unsupported(asked))) {
    close(fd);
    e = taken ? Busy(path, opened) : CallFailed("ioctl TIOCGEXCL", asked);
    return {};
  }
  const int marked = ioctl(fd, TIOCEXCL) == 0 ? 0 : errno;
  if (marked && !Unsupported(marked)) {
    close(fd);
    e = CallFailed("ioctl TIOCEXCL", marked);
    return {};
  }
  const bool exclusiveSet = marked == 0;
  // For the programs that go by UUCP lock files (they open past flock() and, as root, past
  // TIOCEXCL). A live lock taken since InUse() looked means another program won the race.
  long lockHolder = 0;
  std::string lockFailed;
  std::vector<std::string> lockFiles = TakeUucpLocks(path, &lockHolder, &lockFailed);
  if (lockHolder || !lockFailed.empty()) {
    if (exclusiveSet)
      ioctl(fd, TIOCNXCL);
    close(fd);
    if (lockHolder) {
      e = Busy(path, opened);
    } else {
      e.problem = PortProblem::Other;
      e.detail = lockFailed;
    }
    return {};
  }
  e = PortError{};
  return ExclusiveFd{fd, exclusiveSet, std::move(lockFiles)};
}

void ReleaseExclusive(ExclusiveFd& port) {
  if (port.fd < 0)
    return;
  if (port.exclusiveSet)
    ioctl(port.fd, TIOCNXCL);
  close(port.fd);  // and with it the flock()
  DropUucpLocks(port.lockFiles);
  port = ExclusiveFd{};
}

std::vector<std::string> TakeUucpLocks(const std::string& path, long* otherPid,
                                       std::string* failed) {
  *otherPid = 0;
  const std::string dir = LockDir();
  std::error_code ignored;
  const std::string device = fs::canonical(path, ignored).string();
  if (dir.empty() || ignored || access(dir.c_str(), W_OK) != 0)
    return {};
  // Written whole under a name of its own, then linked to each lock's name: link() fails when
  // the lock exists, so no reader ever sees one half written.
  std::string temp = dir + "/LTMP.XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0)
    return {};
  const auto fail = [failed](const char* call, const std::string& file) {
    *failed = std::string(call) + " " + file + ": " + std::strerror(errno);
  };
  char pid[16];
  const int length = std::snprintf(pid, sizeof pid, "%10ld\n", static_cast<long>(getpid()));
  if (fchmod(fd, 0644) != 0 || write(fd, pid, length) != length)
    fail("write", temp);
  close(fd);
  std::vector<std::string> taken;
  const std::string aside = temp + ".stale";
  for (const std::string& name : LockNames(device, "")) {
    const std::string lock = dir + "/LCK.." + name;
    for (int attempt = 0; failed->empty() && attempt < 2 && !*otherPid; ++attempt) {
      if (link(temp.c_str(), lock.c_str()) == 0) {
        taken.push_back(lock);
        break;
      }
      if (errno != EEXIST) {
        fail("link", lock);
        break;
      }
      if (const long holder = LockFilePid(lock); Alive("", holder) && holder != getpid()) {
        *otherPid = holder;
        break;
      }
      // Stale. Another program may replace it with its own between the look and the removal:
      // moved aside in one step and looked at again there, only a stale lock is removed.
      if (rename(lock.c_str(), aside.c_str()) != 0) {
        if (errno != ENOENT)
          fail("rename", lock);
        continue;
      }
      if (const long holder = LockFilePid(aside); Alive("", holder) && holder != getpid()) {
        *otherPid = holder;
        if (link(aside.c_str(), lock.c_str()) != 0 && errno != EEXIST)
          fail("link", lock);
      }
      unlink(aside.c_str());
    }
  }
  unlink(temp.c_str());
  if (*otherPid || !failed->empty()) {
    DropUucpLocks(taken);
    taken.clear();
  }
  return taken;
}

void DropUucpLocks(const std::vector<std::string>& lockFiles) {
  for (const std::string& lock : lockFiles) {
    if (LockFilePid(lock) == static_cast<long>(getpid()))
      unlink(lock.c_str());
  }
}

}  // namespace posix

}  // namespace valdrix
