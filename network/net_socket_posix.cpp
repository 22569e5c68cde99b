// The network port's TCP socket on POSIX: non-blocking, waited on with poll() alone.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "base/clock.h"
#include "interrupt/interrupt.h"
#include "network/network.h"

namespace valdrix {
namespace {

std::atomic<std::uint64_t> g_lookupPauseMs{0};

// Every wait of the network port goes through here: one place to add another descriptor to
// wake up for. fd -1: the deadline and the request to stop alone.
NetWait WaitFd(int fd, bool write, std::uint64_t deadline) {
  for (;;) {
    const std::uint64_t now = MonotonicMs();
    if (now >= deadline)
      return NetWait::TimedOut;
    // The interrupt's wake-up descriptor ends the wait at once, as on a local port.
    pollfd p[2] = {{fd, static_cast<short>(write ? POLLOUT : POLLIN), 0},
                   {interrupt::WakeFd(), POLLIN, 0}};
    // One millisecond more, so that poll never wakes before the deadline it was given.
    const int ms = static_cast<int>(std::min<std::uint64_t>(deadline - now + 1, 60000));
    const int ready = poll(p, p[1].fd >= 0 ? 2 : 1, ms);
    if (ready < 0 && errno != EINTR)
      return NetWait::Failed;
    if (ready > 0 && (p[0].revents & POLLNVAL)) {
      errno = EBADF;  // poll succeeded: its errno is stale, and the reason is the descriptor
      return NetWait::Failed;
    }
    if (ready > 0)
      return p[1].revents ? NetWait::Interrupted : NetWait::Ready;
  }
}

class PosixSocket : public NetSocket {
 public:
  explicit PosixSocket(int fd) : fd_(fd) {}
  ~PosixSocket() override { close(fd_); }

  NetWait WaitFor(bool write, std::uint64_t deadlineMs) override {
    return WaitFd(fd_, write, deadlineMs);
  }

  long Send(const std::uint8_t* bytes, std::size_t length) override {
    for (;;) {
      const ssize_t n = send(fd_, bytes, length, MSG_NOSIGNAL);
      if (n >= 0)
        return static_cast<long>(n);
      if (errno != EINTR)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
  }

  long Receive(std::uint8_t* buffer, std::size_t length) override {
    for (;;) {
      const ssize_t n = recv(fd_, buffer, length, 0);
      if (n > 0)
        return static_cast<long>(n);
      if (n == 0)
        return -1;  // the server closed the connection
      if (errno != EINTR)
        return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1;
    }
  }

  std::uint64_t NowMs() override { return MonotonicMs(); }

 private:
  int fd_;
};

// One address tried until the deadline; the socket, or -1 with why.
int ConnectOne(const addrinfo& a, std::uint64_t deadline, std::string& why) {
  const int fd = socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a.ai_protocol);
  if (fd < 0) {
    why = std::strerror(errno);
    return -1;
  }
  int err = 0;
  if (connect(fd, a.ai_addr, a.ai_addrlen) != 0) {
    err = errno;
    if (err == EINPROGRESS) {
      const NetWait waited = WaitFd(fd, true, deadline);
      socklen_t size = sizeof err;
      if (waited == NetWait::TimedOut)
        err = ETIMEDOUT;
      else if (waited == NetWait::Interrupted)
        err = EINTR;
      else if (waited == NetWait::Failed || getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &size) != 0)
        err = errno ? errno : EIO;
    }
  }
  if (err != 0) {
    why = err == ETIMEDOUT ? "no answer from the server within " +
                                 std::to_string(NET_OPEN_TIMEOUT_MS / 1000) + " s"
                           : std::strerror(err);
    close(fd);
    return -1;
  }
  // Frames are a few bytes each and wait for their answer: no batching delay. A refusal only
  // costs time.
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// One name lookup, shared by the worker that makes it and the caller, who may leave first; the
// last of them frees it. The worker writes to the pipe once the result is in.
struct Lookup {
  addrinfo* found = nullptr;
  int status = EAI_AGAIN;
  std::atomic<bool> done{false};
  int pipe[2] = {-1, -1};
  ~Lookup() {
    if (found)
      freeaddrinfo(found);
    for (const int fd : pipe)
      if (fd >= 0)
        close(fd);
  }
};

// The addresses of host, or nullptr and why, by the deadline and never past a request to stop.
std::shared_ptr<Lookup> LookUp(const NetAddress& address, std::uint64_t deadline,
                               std::string& why) {
  auto lookup = std::make_shared<Lookup>();
  if (pipe2(lookup->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    why = std::strerror(errno);
    return nullptr;
  }
  std::thread([lookup, host = address.host, service = std::to_string(address.port)] {
    if (const std::uint64_t pause = g_lookupPauseMs.load())
      WaitFd(-1, false, MonotonicMs() + pause);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    lookup->status = getaddrinfo(host.c_str(), service.c_str(), &hints, &lookup->found);
    lookup->done.store(true, std::memory_order_release);
    const char one = 1;
    if (write(lookup->pipe[1], &one, 1) < 0) {
      // The pipe holds a byte already or is gone: the caller is not waiting for it.
    }
  }).detach();
  const NetWait waited = WaitFd(lookup->pipe[0], false, deadline);
  if (waited != NetWait::Ready || !lookup->done.load(std::memory_order_acquire)) {
    why = waited == NetWait::Interrupted ? "stopped"
                                         : "no address for " + address.host + " within " +
                                               std::to_string(NET_OPEN_TIMEOUT_MS / 1000) + " s";
    return nullptr;
  }
  if (lookup->status != 0) {
    why = "unknown host " + address.host + " (" + gai_strerror(lookup->status) + ")";
    return nullptr;
  }
  return lookup;
}

}  // namespace

std::unique_ptr<NetSocket> ConnectTcp(const NetAddress& address, std::uint64_t deadlineMs,
                                      std::string& why) {
  const std::shared_ptr<Lookup> lookup = LookUp(address, deadlineMs, why);
  if (!lookup)
    return nullptr;
  int fd = -1;
  for (const addrinfo* a = lookup->found; a && fd < 0; a = a->ai_next)
    fd = ConnectOne(*a, deadlineMs, why);
  if (fd < 0)
    return nullptr;
  return std::make_unique<PosixSocket>(fd);
}

NetWait PauseUntil(std::uint64_t deadlineMs) {
  return WaitFd(-1, false, deadlineMs);
}

void SlowLookupsForTests(std::uint64_t ms) {
  g_lookupPauseMs.store(ms);
}

}  // namespace valdrix
