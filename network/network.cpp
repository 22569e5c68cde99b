#include "network/network.h"

#include "base/clock.h"

#include <algorithm>
#include <deque>
#include <vector>

#include "network/telnet.h"

namespace valdrix {
namespace {

constexpr std::size_t NET_HELD_MAX = 4096;

bool HostChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '.' || c == '_';
}

bool Ipv6Char(char c) {
  return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
         c == '.';
}

class NetworkPort : public SerialPort {
 public:
  explicit NetworkPort(std::unique_ptr<NetSocket> socket) : socket_(std::move(socket)) {}

  // The offers and the line settings, then the server's yes; the rate's answer is awaited before
  // the first data, as after any change of rate.
  bool Negotiate(std::uint32_t rate, std::uint64_t deadline, std::string& why) {
    rateDeadline_ = NowMs() + NET_RATE_ACK_TIMEOUT_MS;
    if (!Send(client_.Hello(rate), deadline)) {
      why = "the server closed the connection";
      return false;
    }
    while (!client_.Refused() && !client_.Accepted()) {
      const NetWait waited = Pump(deadline);
      if (waited == NetWait::Failed) {
        why = "the server closed the connection (is the port in use from elsewhere?)";
        return false;
      }
      if (waited == NetWait::TimedOut) {
        why = "the server did not negotiate RFC 2217 within " +
              std::to_string(NET_OPEN_TIMEOUT_MS / 1000) + " s";
        return false;
      }
    }
    if (client_.Refused()) {
      why = "the server refuses RFC 2217 (COM-PORT)";
      return false;
    }
    return true;
  }

  void SetPortRate(std::uint32_t rate) override {
    const std::vector<std::uint8_t> out = client_.SetRate(rate);
    rateDeadline_ = NowMs() + NET_RATE_ACK_TIMEOUT_MS;
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
    const std::uint64_t deadline = NowMs() + TotalTimeoutMs(length);
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
      if (Pump(limit) == NetWait::Failed)
        break;
    }
    result.ok = !broken_ || result.count == length;
    return result;
  }

  std::uint64_t NowMs() override { return socket_->NowMs(); }

 private:
  // Waits for bytes until the deadline and takes them in: data to pending_, answers sent at once.
  NetWait Pump(std::uint64_t deadline) {
    if (broken_)
      return NetWait::Failed;
    const NetWait waited = socket_->WaitFor(false, deadline);
    if (waited != NetWait::Ready) {
      broken_ = waited == NetWait::Failed;
      return waited;
    }
    std::uint8_t chunk[1024];
    const long n = socket_->Receive(chunk, sizeof chunk);
    if (n < 0) {
      broken_ = true;  // the connection dropped: as an adapter pulled out
      return NetWait::Failed;
    }
    std::vector<std::uint8_t> data, replies;
    client_.Receive(chunk, static_cast<std::size_t>(n), data, replies);
    // Held as a local driver holds bytes nobody reads: up to a bound, the rest lost, so that a
    // server streaming without end cannot fill the memory.
    const std::size_t room = NET_HELD_MAX - std::min(NET_HELD_MAX, pending_.size());
    pending_.insert(pending_.end(), data.begin(), data.begin() + std::min(room, data.size()));
    if (!replies.empty() && !Send(replies, NowMs() + TIMEOUT_CONSTANT_MS))
      return NetWait::Failed;
    return NetWait::Ready;
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
  bool broken_ = false;
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
    const std::uint64_t deadline = MonotonicMs() + NET_OPEN_TIMEOUT_MS;
    std::string why;
    std::unique_ptr<NetSocket> socket = ConnectTcp(*address, deadline, why);
    std::unique_ptr<SerialPort> port =
        socket ? OpenNetworkPort(std::move(socket), rate, deadline, why) : nullptr;
    e = port ? PortError{} : Unreachable(why);
    return port;
  }
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
                                            std::uint64_t deadlineMs, std::string& why) {
  auto port = std::make_unique<NetworkPort>(std::move(socket));
  if (!port->Negotiate(rate, deadlineMs, why))
    return nullptr;
  return port;
}

std::unique_ptr<SerialBackend> MakeNetworkSerial() {
  return std::make_unique<NetworkSerial>();
}

std::unique_ptr<SerialBackend> MakeRoutingSerial(std::unique_ptr<SerialBackend> local) {
  return std::make_unique<RoutingSerial>(std::move(local));
}

}  // namespace valdrix
