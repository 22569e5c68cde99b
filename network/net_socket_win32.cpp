// The network port's TCP socket on Windows (Winsock): non-blocking, waited on with select() alone.
// Linked into the command-line program only; the window opens COM ports alone.
#include <winsock2.h>
// After <winsock2.h>.
#include <windows.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <atomic>
#include <memory>

#include "base/clock.h"
#include "base/system_message.h"
#include "interrupt/interrupt.h"
#include "network/network.h"

namespace valdrix {
namespace {

// select() cannot wait for the console handler's request to stop, so a wait looks at it this
// often: Ctrl-C ends a connection, a negotiation or a read as soon as a local port's would.
constexpr std::uint64_t kRequestCheckMs = 50;

std::atomic<std::uint64_t> g_lookupPauseMs{0};

// Waits by steps of at most kRequestCheckMs until a step ends the wait (Ready, Failed), the
// deadline passes or a stop is requested. step(ms) waits up to ms, and is TimedOut when nothing
// came; ms is one more than the time left, so that no wait wakes before the deadline.
template <typename Step>
NetWait WaitInSteps(std::uint64_t deadline, Step step) {
  for (;;) {
    if (interrupt::Requested())
      return NetWait::Interrupted;
    const std::uint64_t now = MonotonicMs();
    if (now >= deadline)
      return NetWait::TimedOut;
    const NetWait waited = step(std::min<std::uint64_t>(deadline - now + 1, kRequestCheckMs));
    if (waited != NetWait::TimedOut)
      return waited;
  }
}

// Every wait of the network port goes through here. A connection that fails shows as an
// exception, not as writable; once connected, exceptions (urgent data) are no one's business.
NetWait WaitSocket(SOCKET s, bool write, std::uint64_t deadline, bool connecting = false) {
  return WaitInSteps(deadline, [&](std::uint64_t ms) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{0, static_cast<long>(ms) * 1000};
    const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr,
                         connecting ? &failed : nullptr, &tv);
    return n < 0 ? NetWait::Failed : n > 0 ? NetWait::Ready : NetWait::TimedOut;
  });
}

class WinsockSocket : public NetSocket {
 public:
  explicit WinsockSocket(SOCKET s) : s_(s) {}
  ~WinsockSocket() override { closesocket(s_); }

  NetWait WaitFor(bool write, std::uint64_t deadlineMs) override {
    return WaitSocket(s_, write, deadlineMs);
  }

  long Send(const std::uint8_t* bytes, std::size_t length) override {
    const int n = send(s_, reinterpret_cast<const char*>(bytes), static_cast<int>(length), 0);
    if (n >= 0)
      return n;
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
  }

  long Receive(std::uint8_t* buffer, std::size_t length) override {
    const int n = recv(s_, reinterpret_cast<char*>(buffer), static_cast<int>(length), 0);
    if (n > 0)
      return n;
    if (n == 0)
      return -1;  // the server closed the connection
    return WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1;
  }

  std::uint64_t NowMs() override { return MonotonicMs(); }

 private:
  SOCKET s_;
};

SOCKET ConnectOne(const addrinfo& a, std::uint64_t deadline, std::string& why) {
  const SOCKET s = socket(a.ai_family, a.ai_socktype, a.ai_protocol);
  if (s == INVALID_SOCKET) {
    why = SystemMessage(WSAGetLastError());
    return s;
  }
  // A blocking socket would wait in connect() past the deadline and past a stop.
  u_long nonBlocking = 1;
  if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
    why = "ioctlsocket: " + SystemMessage(WSAGetLastError());
    closesocket(s);
    return INVALID_SOCKET;
  }
  int err = 0;
  if (connect(s, a.ai_addr, static_cast<int>(a.ai_addrlen)) != 0) {
    err = WSAGetLastError();
    if (err == WSAEWOULDBLOCK) {
      const NetWait waited = WaitSocket(s, true, deadline, true);
      int size = sizeof err;
      if (waited == NetWait::TimedOut)
        err = WSAETIMEDOUT;
      else if (waited != NetWait::Ready)
        err = WSAEINTR;  // stopped by a request, or select() failed
      else if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &size) != 0)
        err = WSAGetLastError();
    }
  }
  if (err != 0) {
    why = err == WSAETIMEDOUT ? "no answer from the server within " +
                                    std::to_string(NET_OPEN_TIMEOUT_MS / 1000) + " s"
                              : SystemMessage(err);
    closesocket(s);
    return INVALID_SOCKET;
  }
  // Frames are a few bytes each and wait for their answer: no batching delay. A refusal only
  // costs time.
  const BOOL one = TRUE;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
  return s;
}

// One name lookup, shared by the worker thread that makes it and the caller, who may leave
// first; the last of them frees it. The event is set once the result is in.
struct Lookup {
  addrinfo* found = nullptr;
  int status = WSAHOST_NOT_FOUND;
  HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::string host, service;
  ~Lookup() {
    if (found)
      freeaddrinfo(found);
    if (done)
      CloseHandle(done);
  }
};

DWORD WINAPI LookUpOnWorker(void* param) {
  const std::unique_ptr<std::shared_ptr<Lookup>> owned(
      static_cast<std::shared_ptr<Lookup>*>(param));
  Lookup& lookup = **owned;
  if (const std::uint64_t pause = g_lookupPauseMs.load())
    Sleep(static_cast<DWORD>(pause));
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  lookup.status = getaddrinfo(lookup.host.c_str(), lookup.service.c_str(), &hints, &lookup.found);
  SetEvent(lookup.done);
  return 0;
}

// Waits for the event until the deadline (none: the deadline alone), as WaitSocket does.
NetWait WaitEvent(HANDLE event, std::uint64_t deadline) {
  return WaitInSteps(deadline, [&](std::uint64_t ms) {
    if (!event)
      Sleep(static_cast<DWORD>(ms));
    else if (WaitForSingleObject(event, static_cast<DWORD>(ms)) == WAIT_OBJECT_0)
      return NetWait::Ready;
    return NetWait::TimedOut;
  });
}

// The addresses of host, or nullptr and why, by the deadline and never past a request to stop.
std::shared_ptr<Lookup> LookUp(const NetAddress& address, std::uint64_t deadline,
                               std::string& why) {
  auto lookup = std::make_shared<Lookup>();
  lookup->host = address.host;
  lookup->service = std::to_string(address.port);
  auto* shared = new std::shared_ptr<Lookup>(lookup);
  const HANDLE worker =
      lookup->done ? CreateThread(nullptr, 0, LookUpOnWorker, shared, 0, nullptr) : nullptr;
  if (!worker) {
    delete shared;
    why = SystemMessage(GetLastError());
    return nullptr;
  }
  CloseHandle(worker);
  const NetWait waited = WaitEvent(lookup->done, deadline);
  if (waited != NetWait::Ready) {
    why = waited == NetWait::Interrupted ? "stopped"
                                         : "no address for " + address.host + " within " +
                                               std::to_string(NET_OPEN_TIMEOUT_MS / 1000) + " s";
    return nullptr;
  }
  if (lookup->status != 0) {
    why = "unknown host " + address.host + " (" + SystemMessage(lookup->status) + ")";
    return nullptr;
  }
  return lookup;
}

}  // namespace

std::unique_ptr<NetSocket> ConnectTcp(const NetAddress& address, std::uint64_t deadlineMs,
                                      std::string& why) {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) {
    why = "Winsock did not start";
    return nullptr;
  }
  const std::shared_ptr<Lookup> lookup = LookUp(address, deadlineMs, why);
  if (!lookup)
    return nullptr;
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* a = lookup->found; a && s == INVALID_SOCKET; a = a->ai_next)
    s = ConnectOne(*a, deadlineMs, why);
  if (s == INVALID_SOCKET)
    return nullptr;
  return std::make_unique<WinsockSocket>(s);
}

NetWait PauseUntil(std::uint64_t deadlineMs) {
  return WaitEvent(nullptr, deadlineMs);
}

void SlowLookupsForTests(std::uint64_t ms) {
  g_lookupPauseMs.store(ms);
}

}  // namespace valdrix
