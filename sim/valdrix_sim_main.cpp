// valdrix-sim: the interface model on a pseudo-terminal, so that the real programs can talk to
// it as to a device on a serial port. It answers only at its own line rate, which it learns from
// the terminal settings the other side applied, and can log every frame it sees.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "base/clock.h"
#include "protocol/frames.h"
#include "serial/serial_posix.h"
#include "sim/deframer.h"
#include "sim/interface_model.h"

namespace valdrix {
namespace {

constexpr char kUsage[] =
    "Usage: valdrix-sim [options]\n"
    "Runs a simulated Valdrix interface on a pseudo-terminal and prints the terminal's path.\n"
    "\n"
    "Options:\n"
    "  --rate N             line rate the interface answers at (default 57600)\n"
    "  --version V          version byte (default 102, shown as 1.02)\n"
    "  --address A          stored XpressNet address (default 1)\n"
    "  --base B             stored module base address (default 0)\n"
    "  --count N            stored module count, 2 x 16-bit + 8-bit modules (default 0)\n"
    "  --link PATH          also make PATH a symlink to the terminal (removed on exit)\n"
    "  --log FILE           write one JSON line per frame received (rx) and sent (tx)\n"
    "  --reply-delay MS     wait this long before answering (default 2); an answer due once\n"
    "                       the line runs at another rate is lost\n"
    "Faults:\n"
    "  --silent             answer nothing\n"
    "  --no-reply-to SUB    leave queries of SUB unanswered (version, address, base, count or "
    "hex)\n"
    "  --force SUB=VALUE    answer queries of SUB with VALUE (repeatable)\n"
    "  --bad-check          send every answer with a wrong check byte\n"
    "  --stream-after-open  send bytes without end once the interface is opened\n"
    "  --help               show this text\n";

struct Options {
  InterfaceSettings settings;
  InterfaceFaults faults;
  std::string link;
  std::string logPath;
  long replyDelayMs = 2;
};

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "valdrix-sim: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

long ParseNumber(const std::string& text, long low, long high, const char* what) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || errno != 0 || value < low || value > high) {
    Fail(std::string("bad ") + what + ": " + text);
  }
  return value;
}

std::uint8_t ParseSub(const std::string& text) {
  if (text == "version")
    return SUB_VERSION;
  if (text == "address")
    return SUB_XN_ADDRESS;
  if (text == "base")
    return SUB_BASE_ADDRESS;
  if (text == "count")
    return SUB_MODULE_COUNT;
  if (text == "open")
    return SUB_OPEN;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text.c_str(), &end, 16);
  if (text.empty() || *end != '\0' || value > 0xFF)
    Fail("bad sub-command: " + text);
  return static_cast<std::uint8_t>(value);
}

Options ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    const std::size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
      hasValue = true;
    }
    auto next = [&]() -> std::string {
      if (hasValue)
        return value;
      if (i + 1 >= argc)
        Fail("missing value for " + arg);
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      std::exit(0);
    } else if (arg == "--rate") {
      options.settings.rate = static_cast<std::uint32_t>(ParseNumber(next(), 1, 4000000, "rate"));
    } else if (arg == "--version") {
      options.settings.version = static_cast<std::uint8_t>(ParseNumber(next(), 0, 255, "version"));
    } else if (arg == "--address") {
      options.settings.address = static_cast<std::uint8_t>(ParseNumber(next(), 0, 255, "address"));
    } else if (arg == "--base") {
      options.settings.base = static_cast<std::uint8_t>(ParseNumber(next(), 0, 255, "base"));
    } else if (arg == "--count") {
      options.settings.count = static_cast<std::uint8_t>(ParseNumber(next(), 0, 255, "count"));
    } else if (arg == "--link") {
      options.link = next();
    } else if (arg == "--log") {
      options.logPath = next();
    } else if (arg == "--reply-delay") {
      options.replyDelayMs = ParseNumber(next(), 0, 60000, "reply delay");
    } else if (arg == "--silent") {
      options.faults.silent = true;
    } else if (arg == "--no-reply-to") {
      options.faults.noReplyTo = ParseSub(next());
    } else if (arg == "--force") {
      const std::string pair = next();
      const std::size_t at = pair.find('=');
      if (at == std::string::npos)
        Fail("--force wants SUB=VALUE: " + pair);
      options.faults.forcedValue[ParseSub(pair.substr(0, at))] =
          static_cast<std::uint8_t>(ParseNumber(pair.substr(at + 1), 0, 255, "forced value"));
    } else if (arg == "--bad-check") {
      options.faults.badCheck = true;
    } else if (arg == "--stream-after-open") {
      options.faults.streamAfterOpen = true;
    } else {
      Fail("unknown option " + arg);
    }
  }
  return options;
}

// The rate the other side set on the terminal; 0 for one the interface cannot run at.
std::uint32_t LineRate(int master) {
  termios tio{};
  if (tcgetattr(master, &tio) != 0)
    return 0;
  return RateForSpeed(cfgetospeed(&tio));
}

// The frame log: one JSON object a line, written at once so that a reader sees it live.
class FrameLog {
 public:
  explicit FrameLog(const std::string& path) {
    if (path.empty())
      return;
    file_ = std::fopen(path.c_str(), "w");
    if (!file_)
      Fail("cannot write the log " + path + ": " + std::strerror(errno));
    startMs_ = MonotonicMs();
  }
  ~FrameLog() {
    if (file_)
      std::fclose(file_);
  }
  FrameLog(const FrameLog&) = delete;
  FrameLog& operator=(const FrameLog&) = delete;

  void Line(const char* dir, const std::uint8_t* bytes, std::size_t length, std::uint32_t rate) {
    if (!file_ || length == 0)
      return;
    std::string hex;
    for (std::size_t i = 0; i < length; ++i) {
      char two[4];
      std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", bytes[i]);
      hex += two;
    }
    std::fprintf(file_, "{\"dir\":\"%s\",\"hex\":\"%s\",\"rate\":%u,\"t\":%.3f}\n", dir,
                 hex.c_str(), rate, static_cast<double>(MonotonicMs() - startMs_) / 1000.0);
    std::fflush(file_);
  }

 private:
  std::FILE* file_ = nullptr;
  std::uint64_t startMs_ = 0;
};

// Logs what the interface receives cut into frames by its own framing rules; noise between
// frames is logged as it comes, and bytes at another rate than its own are all noise.
class RxFramer {
 public:
  RxFramer(FrameLog& log, std::uint32_t ownRate) : log_(log), ownRate_(ownRate) {}

  void Add(const std::uint8_t* bytes, std::size_t length, std::uint32_t rate) {
    if (rate != rate_)
      Flush();
    rate_ = rate;
    if (rate != ownRate_) {
      log_.Line("rx", bytes, length, rate);
      return;
    }
    std::vector<std::uint8_t> noise;
    deframer_.Add(bytes, length, [&](const std::uint8_t* f, std::size_t n, bool frame) {
      if (!frame) {
        noise.push_back(f[0]);
        return;
      }
      log_.Line("rx", noise.data(), noise.size(), rate_);
      noise.clear();
      log_.Line("rx", f, n, rate_);
    });
    log_.Line("rx", noise.data(), noise.size(), rate_);
  }

  // A frame begun and never finished is logged as far as it came.
  void Flush() {
    log_.Line("rx", deframer_.Pending().data(), deframer_.Pending().size(), rate_);
    deframer_.Clear();
  }

 private:
  FrameLog& log_;
  std::uint32_t ownRate_;
  std::uint32_t rate_ = 0;
  Deframer deframer_;
};

struct Pty {
  int master = -1;
  int slave = -1;  // held open so the master never sees a hang-up between the client's opens
  std::string path;
};

Pty OpenPty() {
  Pty pty;
  pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
    Fail(std::string("cannot create a pseudo-terminal: ") + std::strerror(errno));
  }
  const char* name = ptsname(pty.master);
  if (!name)
    Fail("ptsname failed");
  pty.path = name;
  pty.slave = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (pty.slave < 0)
    Fail("cannot open " + pty.path + ": " + std::strerror(errno));
  // Raw from the start: no echo and no line discipline may touch the frames.
  termios tio{};
  if (tcgetattr(pty.slave, &tio) == 0) {
    cfmakeraw(&tio);
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(pty.slave, TCSANOW, &tio);
  }
  fcntl(pty.master, F_SETFL, fcntl(pty.master, F_GETFL) | O_NONBLOCK);
  return pty;
}

void MakeLink(const std::string& link, const std::string& target) {
  // A symlink left behind by an earlier run is replaced; anything else at that path is not.
  char old[4096];
  if (readlink(link.c_str(), old, sizeof old) >= 0)
    unlink(link.c_str());
  if (symlink(target.c_str(), link.c_str()) != 0) {
    Fail("cannot link " + link + ": " + std::strerror(errno));
  }
}

void RemoveLink(const std::string& link, const std::string& target) {
  char old[4096];
  const ssize_t n = readlink(link.c_str(), old, sizeof old - 1);
  if (n < 0)
    return;
  old[n] = '\0';
  if (target == old)
    unlink(link.c_str());  // only our own link
}

struct Outgoing {
  std::uint64_t due;
  std::vector<std::uint8_t> bytes;
};

// While streaming: ten bytes every ten milliseconds, about a byte a millisecond.
constexpr std::uint64_t kStreamPeriodMs = 10;
constexpr std::size_t kStreamBurst = 10;

// SIGINT, SIGTERM and SIGHUP, blocked, as a descriptor that the main loop polls: each ends it.
int EndingSignalsFd() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  const int sigfd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
  if (sigfd < 0)
    Fail(std::string("signalfd: ") + std::strerror(errno));
  return sigfd;
}

// The answers whose reply delay is over, logged frame by frame and queued for the terminal.
void QueueDueReplies(std::deque<Outgoing>& replies, std::vector<std::uint8_t>& wire, FrameLog& log,
                     int master, std::uint32_t ownRate, std::uint64_t now) {
  while (!replies.empty() && replies.front().due <= now) {
    const std::vector<std::uint8_t>& bytes = replies.front().bytes;
    const std::uint32_t rate = LineRate(master);
    // An answer due after the other side moved the line to another rate would reach it as
    // noise; a terminal carries any byte at any rate, so it is not sent at all.
    if (rate == ownRate) {
      for (std::size_t at = 0; at < bytes.size(); at += FRAME_LENGTH) {
        log.Line("tx", &bytes[at], std::min(FRAME_LENGTH, bytes.size() - at), rate);
      }
      wire.insert(wire.end(), bytes.begin(), bytes.end());
    }
    replies.pop_front();
  }
}

int Run(const Options& options) {
  const int sigfd = EndingSignalsFd();
  FrameLog log(options.logPath);
  Pty pty = OpenPty();
  if (!options.link.empty())
    MakeLink(options.link, pty.path);
  std::printf("%s\n", pty.path.c_str());
  std::fflush(stdout);

  InterfaceModel model(options.settings, options.faults);
  RxFramer framer(log, options.settings.rate);
  std::deque<Outgoing> replies;    // answers waiting out the reply delay
  std::vector<std::uint8_t> wire;  // bytes due, not yet taken by the terminal
  std::uint64_t nextStream = 0;    // when the next stream burst is due

  for (;;) {
    const std::uint64_t now = MonotonicMs();
    QueueDueReplies(replies, wire, log, pty.master, options.settings.rate, now);
    // The stream begins behind the answer to the open frame.
    if (model.Streaming() && replies.empty() && wire.empty() && now >= nextStream) {
      for (std::size_t k = 0; k < kStreamBurst; ++k)
        wire.push_back(model.NextStreamByte());
      log.Line("tx", wire.data(), wire.size(), LineRate(pty.master));
      nextStream = now + kStreamPeriodMs;
    }
    if (!wire.empty()) {
      const ssize_t n = write(pty.master, wire.data(), wire.size());
      if (n > 0)
        wire.erase(wire.begin(), wire.begin() + n);
    }

    int timeout = -1;
    if (!replies.empty())
      timeout = static_cast<int>(replies.front().due - now) + 1;
    if (model.Streaming() && replies.empty() && wire.empty()) {
      const int untilStream = nextStream > now ? static_cast<int>(nextStream - now) : 0;
      timeout = timeout < 0 ? untilStream : std::min(timeout, untilStream);
    }
    pollfd fds[2] = {{sigfd, POLLIN, 0},
                     {pty.master, static_cast<short>(POLLIN | (wire.empty() ? 0 : POLLOUT)), 0}};
    if (poll(fds, 2, timeout) < 0) {
      if (errno == EINTR)
        continue;
      break;
    }
    if (fds[0].revents & POLLIN)
      break;
    if (fds[1].revents & POLLIN) {
      std::uint8_t chunk[256];
      const ssize_t n = read(pty.master, chunk, sizeof chunk);
      if (n > 0) {
        const std::uint32_t rate = LineRate(pty.master);
        const auto length = static_cast<std::size_t>(n);
        framer.Add(chunk, length, rate);
        std::vector<std::uint8_t> answer = model.Receive(chunk, length, rate);
        if (!answer.empty()) {
          replies.push_back({MonotonicMs() + static_cast<std::uint64_t>(options.replyDelayMs),
                             std::move(answer)});
        }
      }
    }
  }
  framer.Flush();
  if (!options.link.empty())
    RemoveLink(options.link, pty.path);
  close(pty.slave);
  close(pty.master);
  close(sigfd);
  return 0;
}

}  // namespace
}  // namespace valdrix

int main(int argc, char** argv) {
  return valdrix::Run(valdrix::ParseOptions(argc, argv));
}
