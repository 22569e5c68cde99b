#include "serial/serial_posix.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iterator>

#include "base/clock.h"
#include "interrupt/interrupt.h"
#include "ports/port_details.h"
#include "serial/hold.h"

namespace valdrix {
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

// The line settings with the rate in them; false for a rate termios has no speed for.
bool ApplyRate(termios& tio, std::uint32_t rate) {
  const speed_t speed = SpeedForRate(rate);
  return speed != B0 && cfsetispeed(&tio, speed) == 0 && cfsetospeed(&tio, speed) == 0;
}

class PosixPort : public SerialPort {
 public:
  explicit PosixPort(posix::ExclusiveFd held) : held_(held), fd_(held.fd) {}

  ~PosixPort() override { posix::ReleaseExclusive(held_); }

  // A port whose driver refuses these settings is not used: its reads and writes would run on
  // settings nobody chose (a canonical line discipline, no handshake, another rate).
  bool Configure(std::uint32_t rate, PortError& error) {
    if (tcgetattr(fd_, &settings_) != 0) {
      error = posix::CallFailed("tcgetattr", errno);
      return false;
    }
    cfmakeraw(&settings_);
    settings_.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    settings_.c_cflag |= CS8 | CLOCAL | CREAD | CRTSCTS;
    settings_.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    // Reads never block in the driver: poll() does the waiting against our own deadline.
    settings_.c_cc[VMIN] = 0;
    settings_.c_cc[VTIME] = 0;
    if (!ApplyRate(settings_, rate)) {
      error = posix::CallFailed("cfsetspeed", EINVAL);
      return false;
    }
    if (tcsetattr(fd_, TCSANOW, &settings_) != 0) {
      error = posix::CallFailed("tcsetattr", errno);
      return false;
    }
    int dtr = TIOCM_DTR;
    // Pseudo-terminals have no modem lines (ENOTTY, EINVAL); any other refusal counts.
    if (ioctl(fd_, TIOCMBIS, &dtr) != 0 && !posix::Unsupported(errno)) {
      error = posix::CallFailed("ioctl TIOCMBIS", errno);
      return false;
    }
    return true;
  }

  // A refused rate leaves the line, and the settings kept for the next change, as they were.
  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    termios next = settings_;
    PortError local;
    PortError& e = error ? *error : local;
    if (!ApplyRate(next, rate)) {
      e = posix::CallFailed("cfsetspeed", EINVAL);
      return false;
    }
    if (tcsetattr(fd_, TCSANOW, &next) != 0) {  // TCSANOW: no flush, no waiting for output
      // A device that went away is no refused rate: the write that follows fails and says so.
      if (errno == EIO || errno == ENXIO || errno == ENODEV)
        return true;
      e = posix::CallFailed("tcsetattr", errno);
      return false;
    }
    settings_ = next;
    return true;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    const std::uint64_t deadline = MonotonicMs() + TotalTimeoutMs(length);
    PortError local;
    PortError& why = error ? *error : local;
    const auto once = [&](const std::uint8_t* from, std::size_t n) {
      return WriteOnce(from, n, deadline, why);
    };
    return WriteAll(bytes, length, deadline, once, MonotonicMs);
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
        return Failed(result, "poll", errno);  // ECANCELED: a stop, no failure
      }
      if (ready == 0)
        continue;  // the limit is checked at the top
      if (revents & (POLLERR | POLLNVAL))
        return Failed(result, "poll", EIO);  // the driver reports an error on the line
      // On a hang-up, bytes still queued are read first; the read after them fails.
      const ssize_t n = read(fd_, buffer + result.count, length - result.count);
      if (n > 0) {
        result.count += static_cast<std::size_t>(n);
        lastByte = MonotonicMs();
        continue;
      }
      if (n == 0)
        return Failed(result, "read", ENODEV);  // end of file: the device went away
      if (errno == EINTR)
        continue;
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && !(revents & POLLHUP))
        continue;
      // EIO and friends, or a hang-up with nothing left to read.
      return Failed(result, "read", errno == EAGAIN || errno == EWOULDBLOCK ? ENODEV : errno);
    }
    result.ok = true;
    return result;
  }

  std::uint64_t NowMs() override { return MonotonicMs(); }

 private:
  // One write(), waiting for room until the deadline while the handshake holds the bytes back:
  // how many went, 0 when none did by the deadline, -1 and why when the port failed.
  long WriteOnce(const std::uint8_t* bytes, std::size_t length, std::uint64_t deadline,
                 PortError& why) {
    for (;;) {
      const ssize_t n = write(fd_, bytes, length);
      if (n > 0)
        return static_cast<long>(n);
      if (n < 0 && errno == EINTR)
        continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        return WriteFailed(why, "write", errno);  // EIO, EPIPE, ...
      const std::uint64_t now = MonotonicMs();
      if (now >= deadline)
        return 0;
      short revents = 0;
      const int ready = PollPort(fd_, POLLOUT, PollTimeout(now, deadline), revents);
      if (ready < 0 && errno != EINTR)
        return WriteFailed(why, "poll", errno);
      if (ready > 0 && (revents & (POLLHUP | POLLERR | POLLNVAL)))
        return WriteFailed(why, "poll", (revents & POLLHUP) ? ENODEV : EIO);
    }
  }

  // A write that failed: -1, and which call failed and why; a stop's is no failure of the port.
  static long WriteFailed(PortError& why, const char* call, int err) {
    why = err == ECANCELED ? PortError{} : posix::CallFailed(call, err);
    return -1;
  }

  // A read that failed, saying which call failed and why; a stop's is no failure of the port.
  static ReadResult Failed(ReadResult result, const char* call, int err) {
    result.ok = false;
    if (err != ECANCELED)
      result.failed = posix::CallFailed(call, err).detail;
    return result;
  }

  posix::ExclusiveFd held_;
  int fd_;
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
  PortError local;
  auto port = std::make_unique<PosixPort>(held);
  if (!port->Configure(rate, error ? *error : local))
    return nullptr;  // and closed, its locks dropped
  return port;
}

std::unique_ptr<SerialBackend> MakePosixSerial() {
  return std::make_unique<PosixSerial>();
}

}  // namespace valdrix
