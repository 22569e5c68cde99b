#include "serial/serial_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/clock.h"
#include "interrupt/interrupt.h"
#include "ports/port_details.h"
#include "ports/port_state_posix.h"
#include "serial/port_probe_posix.h"

namespace valdrix {
namespace posix {
namespace {

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

}  // namespace

ExclusiveFd OpenExclusive(const std::string& path, PortError* error) {
  PortError local;
  PortError& e = error ? *error : local;
  e = PortError{};
  e.problem = PortProblem::NotAPort;

  struct stat node {};
  if (stat(path.c_str(), &node) != 0) {
    e = FromErrno(errno, path, nullptr);
    return {};
  }
  // A regular file, a directory, a FIFO (opening one wakes its reader), a socket, or a device
  // that is no terminal: never opened.
  if (!S_ISCHR(node.st_mode) || DriverOf(node.st_rdev) == DriverKind::NotAPort)
    return {};
  // The kernel's console: whatever we sent would go to its login prompt or be mixed with its
  // messages.
  if (IsConsole(node, "")) {
    e.problem = PortProblem::Console;
    return {};
  }
  // Another program using it, though it took no lock: not opened at all.
  if (InUse(path, node, "", &e))
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
    close(fd);
    return {};  // /dev/null, /dev/zero and the like
  }
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    close(fd);
    e = err == EWOULDBLOCK ? Busy(path, opened) : FromErrno(err, path, &opened);
    return {};
  }
  // Root opens past another program's TIOCEXCL; it must not take the port all the same.
  int taken = 0;
  if (ioctl(fd, TIOCGEXCL, &taken) == 0 && taken) {
    close(fd);
    e = Busy(path, opened);
    return {};
  }
  const bool exclusiveSet = ioctl(fd, TIOCEXCL) == 0;
  // For the programs that go by UUCP lock files (they open past flock() and, as root, past
  // TIOCEXCL). A live lock taken since InUse() looked means another program won the race.
  long lockHolder = 0;
  std::vector<std::string> lockFiles = TakeUucpLocks(path, &lockHolder);
  if (lockHolder) {
    if (exclusiveSet)
      ioctl(fd, TIOCNXCL);
    close(fd);
    e = Busy(path, opened);
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

}  // namespace posix

namespace {

// Milliseconds to pass to poll() so that it wakes no earlier than the deadline; the deadline is
// counted in whole milliseconds, so rounding NowMs down means an extra millisecond at most.
int PollTimeout(std::uint64_t now, std::uint64_t deadline) {
  if (now >= deadline)
    return 0;
  return static_cast<int>(std::min<std::uint64_t>(deadline - now + 1, 60000));
}

// poll() on the port and on the interrupt's wake-up descriptor; -1 (as a failed poll) once the
// interrupt was raised, so that the running read or write ends at once.
int PollPort(int fd, short events, int timeoutMs, short& revents) {
  pollfd p[2] = {{fd, events, 0}, {interrupt::WakeFd(), POLLIN, 0}};
  const int ready = poll(p, p[1].fd >= 0 ? 2 : 1, timeoutMs);
  revents = p[0].revents;
  if (ready > 0 && p[1].revents) {
    errno = ECANCELED;
    return -1;
  }
  return ready;
}

void ApplyRate(termios& tio, std::uint32_t rate) {
  const speed_t speed = SpeedForRate(rate);
  if (speed == B0)
    return;  // an unknown rate leaves the line as it is
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
}

class PosixPort : public SerialPort {
 public:
  PosixPort(posix::ExclusiveFd held, std::uint32_t rate) : held_(held), fd_(held.fd) {
    haveSettings_ = tcgetattr(fd_, &settings_) == 0;
    if (haveSettings_) {
      cfmakeraw(&settings_);
      settings_.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
      settings_.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
      settings_.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
      // Reads never block in the driver: poll() does the waiting against our own deadline.
      settings_.c_cc[VMIN] = 0;
      settings_.c_cc[VTIME] = 0;
      ApplyRate(settings_, rate);
      // A pseudo-terminal refuses some of this; the port is used with whatever it accepted.
      tcsetattr(fd_, TCSANOW, &settings_);
    }
    int dtr = TIOCM_DTR;
    ioctl(fd_, TIOCMBIS, &dtr);  // fails on pseudo-terminals, which have no modem lines
  }

  ~PosixPort() override { posix::ReleaseExclusive(held_); }

  void SetPortRate(std::uint32_t rate) override {
    if (!haveSettings_)
      return;
    ApplyRate(settings_, rate);
    tcsetattr(fd_, TCSANOW, &settings_);  // TCSANOW: no flush, no waiting for output
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length) override {
    const std::uint64_t deadline = MonotonicMs() + TotalTimeoutMs(length);
    std::size_t sent = 0;
    while (sent < length) {
      const ssize_t n = write(fd_, bytes + sent, length - sent);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return false;  // EIO, EPIPE, ...
      // The handshake holds the bytes back: wait for room until the deadline. What is still
      // unsent then is given up, and the write counts as done, as on Windows.
      const std::uint64_t now = MonotonicMs();
      if (now >= deadline)
        return true;
      short revents = 0;
      const int ready = PollPort(fd_, POLLOUT, PollTimeout(now, deadline), revents);
      if (ready < 0) {
        if (errno == EINTR)
          continue;
        return false;
      }
      if (ready > 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)))
        return false;
    }
    return true;
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    ReadResult result;
    const std::uint64_t deadline = MonotonicMs() + TotalTimeoutMs(length);
    std::uint64_t lastByte = 0;
    while (result.count < length) {
      const std::uint64_t now = MonotonicMs();
      std::uint64_t limit = deadline;
      if (result.count > 0)
        limit = std::min(limit, lastByte + READ_INTERVAL_MS);
      if (now >= limit)
        break;

      short revents = 0;
      const int ready = PollPort(fd_, POLLIN, PollTimeout(now, limit), revents);
      if (ready < 0) {
        if (errno == EINTR)
          continue;
        return Failed(result);
      }
      if (ready == 0)
        continue;  // the limit is checked at the top
      if (revents & (POLLERR | POLLNVAL))
        return Failed(result);
      // On a hang-up, bytes still queued are read first; the read after them fails.
      const ssize_t n = read(fd_, buffer + result.count, length - result.count);
      if (n > 0) {
        result.count += static_cast<std::size_t>(n);
        lastByte = MonotonicMs();
        continue;
      }
      if (n == 0)
        return Failed(result);  // end of file: the device went away
      if (errno == EINTR)
        continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && !(revents & POLLHUP))
        continue;
      return Failed(result);  // EIO and friends, or a hang-up with nothing left to read
    }
    result.ok = true;
    return result;
  }

  std::uint64_t NowMs() override { return MonotonicMs(); }

 private:
  static ReadResult Failed(ReadResult result) {
    result.ok = false;
    return result;
  }

  posix::ExclusiveFd held_;
  int fd_;
  bool haveSettings_ = false;
  termios settings_{};
};

// The termios speed of each line rate, in the order of LINE_RATES: B9600 for 9600, ...
#define VALDRIX_RATE_SPEED(rate) B##rate,
constexpr speed_t SPEEDS[] = {VALDRIX_LINE_RATES(VALDRIX_RATE_SPEED)};
#undef VALDRIX_RATE_SPEED

}  // namespace

speed_t SpeedForRate(std::uint32_t rate) {
  for (std::size_t i = 0; i < std::size(LINE_RATES); ++i) {
    if (LINE_RATES[i] == rate)
      return SPEEDS[i];
  }
  return B0;
}

std::uint32_t RateForSpeed(speed_t speed) {
  for (std::size_t i = 0; i < std::size(SPEEDS); ++i) {
    if (SPEEDS[i] == speed)
      return LINE_RATES[i];
  }
  return 0;
}

std::vector<std::string> PosixSerial::EnumeratePorts() {
  return FreePorts(DescribePorts());
}

std::unique_ptr<SerialPort> PosixSerial::OpenPort(const std::string& name, std::uint32_t rate,
                                                  PortError* error) {
  const posix::ExclusiveFd held = posix::OpenExclusive(name, error);
  if (held.fd < 0)
    return nullptr;
  return std::make_unique<PosixPort>(held, rate);
}

std::unique_ptr<SerialBackend> MakePosixSerial() {
  return std::make_unique<PosixSerial>();
}

}  // namespace valdrix
