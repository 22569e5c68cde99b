#include "serial/serial_posix.h"

#include <fcntl.h>
#include <glob.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace valdrix {
namespace {

std::uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
         static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

// Milliseconds to pass to poll() so that it wakes no earlier than the deadline; the deadline is
// counted in whole milliseconds, so rounding NowMs down means an extra millisecond at most.
int PollTimeout(std::uint64_t now, std::uint64_t deadline) {
  if (now >= deadline)
    return 0;
  return static_cast<int>(std::min<std::uint64_t>(deadline - now + 1, 60000));
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
  PosixPort(int fd, std::uint32_t rate) : fd_(fd) {
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

  ~PosixPort() override { close(fd_); }

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
      pollfd p{fd_, POLLOUT, 0};
      const int ready = poll(&p, 1, PollTimeout(now, deadline));
      if (ready < 0) {
        if (errno == EINTR)
          continue;
        return false;
      }
      if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
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

      pollfd p{fd_, POLLIN, 0};
      const int ready = poll(&p, 1, PollTimeout(now, limit));
      if (ready < 0) {
        if (errno == EINTR)
          continue;
        return Failed(result);
      }
      if (ready == 0)
        continue;  // the limit is checked at the top
      if (p.revents & (POLLERR | POLLNVAL))
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
      if ((errno == EAGAIN || errno == EWOULDBLOCK) && !(p.revents & POLLHUP))
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

  int fd_;
  bool haveSettings_ = false;
  termios settings_{};
};

// Whether a ttyS device is backed by a UART; most machines list many ttyS nodes with none.
bool IsRealUart(int fd) {
  serial_struct info{};
  if (ioctl(fd, TIOCGSERIAL, &info) != 0)
    return false;
  return info.type != PORT_UNKNOWN;
}

bool OpensExclusively(const std::string& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return false;  // missing, no permission, or held exclusively by someone else
  bool usable = ioctl(fd, TIOCEXCL) == 0;
  // Programs that hold a port usually lock it too.
  usable = usable && flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (usable && path.compare(0, 9, "/dev/ttyS") == 0)
    usable = IsRealUart(fd);
  ioctl(fd, TIOCNXCL);
  close(fd);
  return usable;
}

// The termios speed of each line rate, in the order of LINE_RATES.
constexpr speed_t SPEEDS[] = {B9600, B19200, B38400, B57600, B115200};
static_assert(std::size(SPEEDS) == std::size(LINE_RATES));

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

bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0;
  std::size_t j = 0;
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  while (i < a.size() && j < b.size()) {
    if (isDigit(a[i]) && isDigit(b[j])) {
      std::size_t ie = i;
      std::size_t je = j;
      while (ie < a.size() && isDigit(a[ie]))
        ++ie;
      while (je < b.size() && isDigit(b[je]))
        ++je;
      std::size_t is = i;
      std::size_t js = j;
      while (is + 1 < ie && a[is] == '0')
        ++is;
      while (js + 1 < je && b[js] == '0')
        ++js;
      if (ie - is != je - js)
        return ie - is < je - js;
      const int order = a.compare(is, ie - is, b, js, je - js);
      if (order != 0)
        return order < 0;
      i = ie;
      j = je;
      continue;
    }
    if (a[i] != b[j])
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    ++i;
    ++j;
  }
  if (a.size() - i != b.size() - j)
    return a.size() - i < b.size() - j;
  return a < b;  // same up to leading zeros: any fixed tie-break keeps the order stable
}

std::vector<std::string> PosixSerial::EnumeratePorts() {
  static const char* const kPatterns[] = {"/dev/ttyS*", "/dev/ttyUSB*", "/dev/ttyACM*",
                                          "/dev/ttyAMA*", "/dev/rfcomm*"};
  std::vector<std::string> candidates;
  for (const char* pattern : kPatterns) {
    glob_t found{};
    if (glob(pattern, GLOB_NOSORT, nullptr, &found) == 0) {
      for (std::size_t k = 0; k < found.gl_pathc; ++k)
        candidates.emplace_back(found.gl_pathv[k]);
    }
    globfree(&found);
  }
  std::sort(candidates.begin(), candidates.end(), NaturalLess);
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());

  std::vector<std::string> ports;
  for (const std::string& path : candidates) {
    if (OpensExclusively(path))
      ports.push_back(path);
  }
  return ports;
}

std::unique_ptr<SerialPort> PosixSerial::OpenPort(const std::string& name, std::uint32_t rate) {
  const int fd = open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0)
    return nullptr;
  return std::make_unique<PosixPort>(fd, rate);
}

std::unique_ptr<SerialBackend> MakePosixSerial() {
  return std::make_unique<PosixSerial>();
}

}  // namespace valdrix
