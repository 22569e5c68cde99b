#include "network/network.h"

#include <algorithm>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/lock.h"
#include "network/telnet.h"

namespace valdrix {
namespace {

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool Ipv6Char(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

// The bytes of one chunk taken from the server at a time.
constexpr std::size_t NET_CHUNK = 1024;

// What ser2net sends, before it closes, to a client that comes while another has the port.
constexpr char SERVER_SAYS_IN_USE[] = "in use";

class NetworkPort : public SerialPort {
 public:
  explicit NetworkPort(std::unique_ptr<NetSocket> socket) : socket_(std::move(socket)) {}

  // The offers and the line settings, then the server's yes and its confirmation of the rate,
  // which also gives the round trip the waits below add. A server that confirms no rate is
  // taken at its yes, with no round trip measured.
  bool Negotiate(std::uint32_t rate, std::uint64_t deadline, PortError& error) {
    const std::uint64_t asked = NowMs();
    error.problem = PortProblem::Unreachable;
    if (!Send(client_.Hello(rate), deadline))
      return FailAsClosed(error);
    while (!client_.Refused() && (!client_.Accepted() || client_.RateAwaited())) {
      const NetWait waited = Pump(deadline);
      if (waited == NetWait::Failed)
        return FailAsClosed(error);
      if (waited == NetWait::TimedOut && client_.Accepted()) {
        client_.StopAwaitingRate();
        error = PortError{};
        return true;
      }
      if (waited == NetWait::TimedOut) {
        error.detail = "the server did not negotiate RFC 2217 within " +
                       std::to_string(NET_OPEN_TIMEOUT_MS / 1000) + " s";
        return false;
      }
    }
    if (client_.Refused()) {
      error.detail = "the server refuses RFC 2217 (COM-PORT)";
      return false;
    }
    roundTrip_ = NowMs() - asked;
    error = PortError{};
    return true;
  }

  // The server closed the connection while negotiating: busy when it said that another client
  // has the port. Decided from what it said before it closed, never from when it closed. Always
  // false, for the caller to return.
  bool FailAsClosed(PortError& error) {
    TakeIn();
    const std::string said(pending_.begin(), pending_.end());
    if (said.find(SERVER_SAYS_IN_USE) != std::string::npos)
      error.problem = PortProblem::Busy;
    error.detail = "the server closed the connection";
    return false;
  }

  // Taken up again by another conversation: what came while nobody listened is taken in (the
  // rate's confirmation will drop it), and the line goes to the rate asked for. False when the
  // server closed the connection meanwhile.
  bool Resume(std::uint32_t rate) {
    TakeIn();
    if (!broken_)
      SetPortRate(rate);
    return !broken_;
  }

  void SetPortRate(std::uint32_t rate) override {
    const std::vector<std::uint8_t> out = client_.SetRate(rate);
    rateDeadline_ = NowMs() + std::clamp(NET_RATE_ACK_RTTS * roundTrip_, NET_RATE_ACK_TIMEOUT_MS,
                                         NET_RATE_ACK_MAX_MS);
    if (!Send(out, rateDeadline_))
      broken_ = true;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length) override {
    const std::uint64_t deadline = NowMs() + TotalTimeoutMs(length);
    // Every byte goes out at the rate the search set: none before the server confirmed it.
    while (!broken_ && client_.RateAwaited()) {
      const NetWait waited = Pump(rateDeadline_);
      if (waited == NetWait::TimedOut)
        client_.StopAwaitingRate();
    }
    std::vector<std::uint8_t> out;
    telnet::AppendData(out, bytes, length);
    return !broken_ && Send(out, deadline);
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    ReadResult result;
    // The local time-out, and the time the link takes to bring the answer.
    const std::uint64_t deadline = NowMs() + TotalTimeoutMs(length) + roundTrip_;
    std::uint64_t lastByte = 0;
    while (result.count < length) {
      if (!pending_.empty()) {
        const std::size_t n = std::min(length - result.count, pending_.size());
        std::copy_n(pending_.begin(), n, buffer + result.count);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        result.count += n;
        lastByte = NowMs();
        continue;
      }
      std::uint64_t limit = deadline;
      if (result.count > 0)
        limit = std::min(limit, lastByte + READ_INTERVAL_MS);
      if (broken_ || NowMs() >= limit)
        break;
      const unsigned cuts = cuts_;
      if (Pump(limit) == NetWait::Failed)
        break;
      if (cuts_ != cuts)
        result.count = 0;  // a rate confirmed late: what this read had is from before it
    }
    result.ok = !broken_ || result.count == length;
    return result;
  }

  std::uint64_t NowMs() override { return socket_->NowMs(); }

 private:
  // Waits for bytes until the deadline and takes them in.
  NetWait Pump(std::uint64_t deadline) {
    if (broken_)
      return NetWait::Failed;
    const NetWait waited = socket_->WaitFor(false, deadline);
    if (waited != NetWait::Ready) {
      broken_ = waited == NetWait::Failed;
      return waited;
    }
    TakeIn();
    return broken_ ? NetWait::Failed : NetWait::Ready;
  }

  // Takes in what has arrived, without waiting: data to pending_, answers sent at once.
  void TakeIn() {
    std::uint8_t chunk[NET_CHUNK];
    // A bound, so that a server streaming without end cannot keep us here.
    for (std::size_t taken = 0; taken <= NET_HELD_MAX; taken += sizeof chunk) {
      const long n = socket_->Receive(chunk, sizeof chunk);
      if (n < 0)
        broken_ = true;  // the connection dropped: as an adapter pulled out
      if (n <= 0)
        return;
      std::vector<std::uint8_t> data, replies;
      if (client_.Receive(chunk, static_cast<std::size_t>(n), data, replies)) {
        pending_.clear();  // sent before the rate now asked for was confirmed
        ++cuts_;
      }
      // Held as a local driver holds bytes nobody reads: up to a bound, the rest lost, so that a
      // server streaming without end cannot fill the memory.
      const std::size_t room = NET_HELD_MAX - std::min(NET_HELD_MAX, pending_.size());
      pending_.insert(pending_.end(), data.begin(), data.begin() + std::min(room, data.size()));
      if (!replies.empty() && !Send(replies, NowMs() + TIMEOUT_CONSTANT_MS))
        broken_ = true;
    }
  }

  // Sends all bytes by the deadline; what the other end does not take by then is given up, as a
  // local port's handshake gives it up. Only a dropped connection fails.
  bool Send(const std::vector<std::uint8_t>& bytes, std::uint64_t deadline) {
    std::size_t sent = 0;
    while (!broken_ && sent < bytes.size()) {
      const long n = socket_->Send(bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        continue;
      }
      const NetWait waited = n < 0 ? NetWait::Failed : socket_->WaitFor(true, deadline);
      if (waited == NetWait::TimedOut)
        return true;
      broken_ = waited == NetWait::Failed;
    }
    return !broken_;
  }

  std::unique_ptr<NetSocket> socket_;
  telnet::ComPortClient client_;
  std::deque<std::uint8_t> pending_;
  std::uint64_t rateDeadline_ = 0;
  std::uint64_t roundTrip_ = 0;
  unsigned cuts_ = 0;
  bool broken_ = false;
};

std::unique_ptr<NetworkPort> Negotiated(std::unique_ptr<NetSocket> socket, std::uint32_t rate,
                                        std::uint64_t deadlineMs, PortError& error) {
  auto port = std::make_unique<NetworkPort>(std::move(socket));
  if (!port->Negotiate(rate, deadlineMs, error))
    return nullptr;
  return port;
}

std::string ServerText(const NetAddress& address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

// The connections of one run, one for each server address; a conversation borrows its port's
// and gives it back when it ends. find talks to its ports from several threads; the lock is held
// only to take or give back, never while waiting.
struct Connections {
  struct Link {
    std::unique_ptr<NetworkPort> idle;  // none while a conversation has it
    bool reopened = false;
  };
  Lock lock;
  std::map<std::string, Link> links;
};

class Borrowed : public SerialPort {
 public:
  Borrowed(std::shared_ptr<Connections> all, std::string key, std::unique_ptr<NetworkPort> port)
      : all_(std::move(all)), key_(std::move(key)), port_(std::move(port)) {}
  ~Borrowed() override {
    const Held held(all_->lock);
    std::unique_ptr<NetworkPort>& idle = all_->links[key_].idle;
    if (!idle)
      idle = std::move(port_);
  }

  void SetPortRate(std::uint32_t rate) override { port_->SetPortRate(rate); }
  bool WriteFrame(const std::uint8_t* bytes, std::size_t length) override {
    return port_->WriteFrame(bytes, length);
  }
  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    return port_->ReadFrame(buffer, length);
  }
  std::uint64_t NowMs() override { return port_->NowMs(); }

 private:
  std::shared_ptr<Connections> all_;
  std::string key_;
  std::unique_ptr<NetworkPort> port_;
};

PortError Unreachable(std::string why) {
  PortError e;
  e.problem = PortProblem::Unreachable;
  e.detail = std::move(why);
  return e;
}

class NetworkSerial : public SerialBackend {
 public:
  std::vector<std::string> EnumeratePorts() override { return {}; }

  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error) override {
    PortError local;
    PortError& e = error ? *error : local;
    const std::optional<NetAddress> address = ParseNetworkPortName(name);
    if (!address) {
      e = Unreachable(std::string("not an address of the form ") + NETWORK_FORM);
      return nullptr;
    }
    std::string key = ServerText(*address);
    std::transform(key.begin(), key.end(), key.begin(), [](char c) {
      return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    std::unique_ptr<NetworkPort> port = Take(key);
    if (port && !port->Resume(rate)) {
      port.reset();
      if (!ReopenOnce(key)) {
        e = Unreachable("the server closed the connection again");
        return nullptr;
      }
    }
    if (!port) {
      const std::uint64_t deadline = MonotonicMs() + NET_OPEN_TIMEOUT_MS;
      std::string why;
      std::unique_ptr<NetSocket> socket = ConnectTcp(*address, deadline, why);
      if (!socket) {
        e = Unreachable(why);
        return nullptr;
      }
      port = Negotiated(std::move(socket), rate, deadline, e);
      if (!port) {
        if (e.problem == PortProblem::Busy)
          e.server = ServerText(*address);
        return nullptr;
      }
    }
    e = PortError{};
    return std::make_unique<Borrowed>(all_, std::move(key), std::move(port));
  }

 private:
  std::unique_ptr<NetworkPort> Take(const std::string& key) {
    const Held held(all_->lock);
    return std::move(all_->links[key].idle);
  }

  // Whether this connection may be opened again: once in a run.
  bool ReopenOnce(const std::string& key) {
    const Held held(all_->lock);
    return !std::exchange(all_->links[key].reopened, true);
  }

  std::shared_ptr<Connections> all_ = std::make_shared<Connections>();
};

class RoutingSerial : public SerialBackend {
 public:
  explicit RoutingSerial(std::unique_ptr<SerialBackend> local)
      : local_(std::move(local)), network_(MakeNetworkSerial()) {}

  std::vector<std::string> EnumeratePorts() override { return local_->EnumeratePorts(); }

  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error) override {
    return (IsNetworkPortName(name) ? network_ : local_)->OpenPort(name, rate, error);
  }

 private:
  std::unique_ptr<SerialBackend> local_;
  std::unique_ptr<SerialBackend> network_;
};

}  // namespace

bool IsNetworkPortName(const std::string& name) {
  const std::string scheme = NETWORK_SCHEME;
  if (name.size() < scheme.size())
    return false;
  for (std::size_t i = 0; i < scheme.size(); ++i) {
    const char c =
        name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] - 'A' + 'a') : name[i];
    if (c != scheme[i])
      return false;
  }
  return true;
}

std::string RefusedPortName(const std::string& name) {
  if (!IsNetworkPortName(name) || ParseNetworkPortName(name))
    return {};
  return name + ": not a valid network address; write " + NETWORK_FORM +
         " (an IPv6 address in brackets, the port from 1 to 65535)";
}

std::optional<NetAddress> ParseNetworkPortName(const std::string& name) {
  if (!IsNetworkPortName(name))
    return std::nullopt;
  const std::string rest = name.substr(sizeof NETWORK_SCHEME - 1);
  NetAddress address;
  std::size_t colon;
  if (!rest.empty() && rest[0] == '[') {
    const std::size_t close = rest.find(']');
    if (close == std::string::npos || close < 3)
      return std::nullopt;
    address.host = rest.substr(1, close - 1);
    if (!std::all_of(address.host.begin(), address.host.end(), Ipv6Char) ||
        address.host.find(':') == std::string::npos)
      return std::nullopt;
    colon = close + 1;
  } else {
    colon = rest.find(':');
    if (colon == std::string::npos)
      return std::nullopt;
    address.host = rest.substr(0, colon);
    if (!std::all_of(address.host.begin(), address.host.end(), HostChar))
      return std::nullopt;
  }
  if (address.host.empty() || colon >= rest.size() || rest[colon] != ':')
    return std::nullopt;
  const std::string digits = rest.substr(colon + 1);
  unsigned long port = 0;
  if (digits.empty() || digits.size() > 5)
    return std::nullopt;
  for (const char c : digits) {
    if (c < '0' || c > '9')
      return std::nullopt;
    port = port * 10 + static_cast<unsigned long>(c - '0');
  }
  if (port == 0 || port > 65535)
    return std::nullopt;
  address.port = static_cast<std::uint16_t>(port);
  return address;
}

std::unique_ptr<SerialPort> OpenNetworkPort(std::unique_ptr<NetSocket> socket, std::uint32_t rate,
                                            std::uint64_t deadlineMs, PortError& error) {
  return Negotiated(std::move(socket), rate, deadlineMs, error);
}

std::unique_ptr<SerialBackend> MakeNetworkSerial() {
  return std::make_unique<NetworkSerial>();
}

std::unique_ptr<SerialBackend> MakeRoutingSerial(std::unique_ptr<SerialBackend> local) {
  return std::make_unique<RoutingSerial>(std::move(local));
}

}  // namespace valdrix
