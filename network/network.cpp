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

// What ser2net sends, before it closes, to a client that comes while another has the port, and
// to the client it drops when another takes the port (kickolduser).
constexpr char SERVER_SAYS_IN_USE[] = "in use";
constexpr char SERVER_SAYS_KICKED[] = "kicked off";
constexpr char KICKED_DETAIL[] = "another client of the server took the port";
// The round trips the port remembers: the longest of them sizes its waits, so that one fast
// answer on a link that jitters does not shorten them, and a link that slows lengthens them at
// its next answer.
constexpr std::size_t NET_RTT_SAMPLES = 4;
// What it sends, before it closes, when it cannot open its serial device.
constexpr char SERVER_SAYS_NO_DEVICE[] = "Device open failure";

class NetworkPort : public SerialPort {
 public:
  explicit NetworkPort(std::unique_ptr<NetSocket> socket) : socket_(std::move(socket)) {}

  // The offers and the line settings, then the server's yes and its confirmation of the rate.
  // A server that confirms no rate by the deadline is taken at its yes.
  bool Negotiate(std::uint32_t rate, std::uint64_t deadline, PortError& error) {
    error.problem = PortProblem::Unreachable;
    asked_ = rate;
    askedAt_.push_back(NowMs());
    if (!Send(client_.Hello(rate), deadline))
      return FailAsClosed(error);
    while (!client_.Refused() && (!client_.Accepted() || client_.RateAwaited())) {
      const NetWait waited = Pump(deadline);
      if (waited == NetWait::Failed || waited == NetWait::Interrupted)
        return FailAsClosed(error);
      if (waited == NetWait::TimedOut && client_.Accepted()) {
        client_.StopAwaitingRate();
        break;
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
    error = PortError{};
    return true;
  }

  // The server closed the connection while negotiating: busy when it said that another client
  // has the port. Decided from what it said before it closed, never from when it closed. Always
  // false, for the caller to return.
  bool FailAsClosed(PortError& error) {
    TakeIn();
    if (stopped_) {
      error.detail = "stopped";
      return false;
    }
    if (said_.find(SERVER_SAYS_IN_USE) != std::string::npos)
      error.problem = PortProblem::Busy;
    error.detail = "the server closed the connection";
    const std::size_t at = said_.find(SERVER_SAYS_NO_DEVICE);
    if (at != std::string::npos) {
      error.serverDeviceFailed = true;
      error.detail = "the server said \"" + said_.substr(at, said_.find_first_of("\r\n", at) - at) +
                     "\" and closed the connection";
    }
    return false;
  }

  // Taken up again by another conversation: what came while nobody listened is taken in, and
  // the rate asked for goes out, also when it is in force: its confirmation drops what came.
  // False when the server closed the connection meanwhile.
  bool Resume(std::uint32_t rate) {
    TakeIn();
    if (!broken_)
      Send(AskRate(rate), NowMs() + TIMEOUT_CONSTANT_MS);
    return !broken_;
  }
  bool Kicked() const { return broken_ && said_.find(SERVER_SAYS_KICKED) != std::string::npos; }
  std::uint64_t RoundTrip() const { return roundTrip_; }

  // The rate goes out and the data after it follows at once, unawaited: the server sets the line
  // before it passes on the bytes behind the request, and confirms it before it sends what the
  // line answers to them. So the confirmation separates: nothing the server sent before it
  // answers anything sent after it. It names the rate in force; a read tells when that is
  // another.
  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    stopped_ = false;
    // Nothing sent since the server confirmed this very rate: nothing can be stale.
    if (client_.ConfirmedRate() == rate && !wroteSinceRate_) {
      asked_ = rate;
      return true;
    }
    return Send(AskRate(rate), NowMs() + TIMEOUT_CONSTANT_MS) || Failed(error);
  }

  // Why a call failed: stopped, another client took the port, or the connection dropped.
  bool Failed(PortError* error) const {
    if (error && !stopped_) {
      error->problem = Kicked() ? PortProblem::Busy : PortProblem::Unreachable;
      error->detail = Kicked() ? KICKED_DETAIL : "the server closed the connection";
    }
    return false;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    stopped_ = false;
    const std::uint64_t deadline = NowMs() + TotalTimeoutMs(length);
    std::vector<std::uint8_t> out;
    telnet::AppendData(out, bytes, length);
    wroteSinceRate_ = true;
    const bool sent = Send(out, deadline);
    wroteAt_ = NowMs();
    return sent || Failed(error);
  }

  // A read after a rate the server did not take ends at its confirmation, with nothing read and
  // the rate in force named.
  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    stopped_ = false;
    ReadResult result;
    const std::uint64_t start = NowMs();
    std::uint64_t lastByte = 0;
    while (result.count < length && !RateKept()) {
      if (!pending_.empty()) {
        const std::size_t n = std::min(length - result.count, pending_.size());
        std::copy_n(pending_.begin(), n, buffer + result.count);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
        result.count += n;
        lastByte = NowMs();
        continue;
      }
      // The local time-out, and what remains of the time the link takes to bring an answer to
      // the last frame written, as measured up to now: a confirmation that comes during the read
      // measures the link as it is.
      std::uint64_t limit = start + TotalTimeoutMs(length) +
                            (wroteAt_ + roundTrip_ > start ? wroteAt_ + roundTrip_ - start : 0);
      if (result.count > 0)
        limit = std::min(limit, lastByte + READ_INTERVAL_MS);
      if (broken_ || NowMs() >= limit)
        break;
      const unsigned cuts = cuts_;
      const NetWait waited = Pump(limit);
      if (waited == NetWait::Failed || waited == NetWait::Interrupted)
        break;
      if (cuts_ != cuts)
        result.count = 0;  // a rate confirmed late: what this read had is from before it
    }
    if (RateKept()) {
      result.count = 0;
      result.rateRefused =
          "the server keeps the line at " + std::to_string(client_.ConfirmedRate()) + " baud";
    }
    result.ok = !stopped_ && (!broken_ || result.count == length);
    // A dropped connection is a port that failed, not an interface that kept silent.
    if (!result.ok) {
      PortError why;
      Failed(&why);  // says nothing for a stop
      result.failed = why.detail;
    }
    return result;
  }

  std::uint64_t NowMs() override { return socket_->NowMs(); }

 private:
  // The server confirmed another rate than the last one asked for: nothing that comes at it is
  // an answer.
  bool RateKept() const { return client_.ConfirmedRate() && client_.ConfirmedRate() != asked_; }

  // The bytes that ask for a rate, the time they go out noted for the round trip.
  std::vector<std::uint8_t> AskRate(std::uint32_t rate) {
    asked_ = rate;
    askedAt_.push_back(NowMs());
    wroteSinceRate_ = false;
    return client_.SetRate(rate);
  }

  // Waits for bytes until the deadline and takes them in. A request to stop ends the wait and
  // the call, never the connection: the close goes out over it.
  NetWait Pump(std::uint64_t deadline) {
    if (broken_)
      return NetWait::Failed;
    const NetWait waited = socket_->WaitFor(false, deadline);
    stopped_ = waited == NetWait::Interrupted;
    broken_ = waited == NetWait::Failed;
    if (waited != NetWait::Ready)
      return waited;
    TakeIn();
    return broken_ ? NetWait::Failed : NetWait::Ready;
  }

  // Takes in what has arrived, without waiting: data to pending_, answers sent at once.
  void TakeIn() {
    std::uint8_t chunk[NET_CHUNK];
    // The answers owed to the server's requests share one time-out: a server that does not take
    // them is not waited for again for each chunk.
    const std::uint64_t answerBy = NowMs() + TIMEOUT_CONSTANT_MS;
    // A bound, so that a server streaming without end cannot keep us here.
    for (std::size_t taken = 0; taken <= NET_HELD_MAX; taken += sizeof chunk) {
      const long n = socket_->Receive(chunk, sizeof chunk);
      if (n < 0)
        broken_ = true;  // the connection dropped: as an adapter pulled out
      if (n <= 0)
        return;
      std::vector<std::uint8_t> data, replies;
      const unsigned confirmations = client_.Confirmations();
      if (client_.Receive(chunk, static_cast<std::size_t>(n), data, replies)) {
        pending_.clear();  // sent before the rate now asked for was confirmed
        ++cuts_;
      }
      // Every confirmation measures the link, also one that comes after its wait ran out.
      for (unsigned c = confirmations; c < client_.Confirmations() && !askedAt_.empty(); ++c) {
        Measured(NowMs() - askedAt_.front());
        askedAt_.pop_front();
      }
      Said(data);
      // Before the rate asked for is confirmed, or at a rate the server did not take, nothing is
      // an answer.
      if (client_.Unconfirmed() || RateKept())
        data.clear();
      // Held as a local driver holds bytes nobody reads: up to a bound, the rest lost, so that a
      // server streaming without end cannot fill the memory.
      const std::size_t room = NET_HELD_MAX - std::min(NET_HELD_MAX, pending_.size());
      pending_.insert(pending_.end(), data.begin(), data.begin() + std::min(room, data.size()));
      if (!replies.empty() && !Send(replies, answerBy))
        broken_ = true;
    }
  }

  // The last bytes of data, for what the server says before it closes.
  void Said(const std::vector<std::uint8_t>& data) {
    said_.append(data.begin(), data.end());
    if (said_.size() > 2 * telnet::SUBNEGOTIATION_MAX)
      said_.erase(0, said_.size() - telnet::SUBNEGOTIATION_MAX);
  }

  void Measured(std::uint64_t sample) {
    samples_[sampled_++ % NET_RTT_SAMPLES] = std::min(sample, NET_ROUND_TRIP_MAX_MS);
    roundTrip_ = *std::max_element(std::begin(samples_), std::end(samples_));
  }

  // Sends all bytes by the deadline; what the other end does not take by then is given up, as a
  // local port's handshake gives it up. Only a dropped connection or a request to stop fails.
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
      if (waited == NetWait::Interrupted)
        return !(stopped_ = true);
      broken_ = waited == NetWait::Failed;
    }
    return !broken_;
  }

  std::unique_ptr<NetSocket> socket_;
  telnet::ComPortClient client_;
  std::deque<std::uint8_t> pending_;
  std::string said_;
  std::uint32_t asked_ = 0;
  std::deque<std::uint64_t> askedAt_;  // of the rates not yet confirmed
  std::uint64_t wroteAt_ = 0;
  std::uint64_t roundTrip_ = 0;
  std::uint64_t samples_[NET_RTT_SAMPLES] = {};
  std::size_t sampled_ = 0;
  unsigned cuts_ = 0;
  bool wroteSinceRate_ = false;
  bool broken_ = false;
  bool stopped_ = false;
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

// The connections of one backend, one for each server address; a conversation borrows its
// port's and gives it back when it ends (kept only under NetworkPolicy::PerRun). find talks to
// its ports from several threads; the lock is held only to take or give back, never while
// waiting.
struct Connections {
  struct Link {
    std::unique_ptr<NetworkPort> idle;  // none while a conversation has it
    bool held = false;                  // a connection was made: the server may still hold it
    bool kicked = false;                // the last one was taken over by another client
    std::uint64_t roundTrip = 0;
  };
  explicit Connections(NetworkPolicy p) : policy(p) {}
  NetworkPolicy policy;
  Lock lock;
  std::map<std::string, Link> links;
};

class Borrowed : public SerialPort {
 public:
  Borrowed(std::shared_ptr<Connections> all, std::string key, std::unique_ptr<NetworkPort> port)
      : all_(std::move(all)), key_(std::move(key)), port_(std::move(port)) {}
  ~Borrowed() override {
    std::unique_ptr<NetworkPort> closing;
    {
      const Held held(all_->lock);
      Connections::Link& link = all_->links[key_];
      link.kicked = port_->Kicked();
      link.roundTrip = port_->RoundTrip();
      if (all_->policy == NetworkPolicy::PerRun && !link.idle)
        link.idle = std::move(port_);
      else
        closing = std::move(port_);
    }
  }

  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    return port_->SetPortRate(rate, error);
  }
  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    return port_->WriteFrame(bytes, length, error);
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
  explicit NetworkSerial(NetworkPolicy policy) : all_(std::make_shared<Connections>(policy)) {}

  std::vector<std::string> EnumeratePorts() override { return {}; }

  // A connection kept from an earlier conversation is taken up again; one the server closed is
  // replaced by a new one, once in each conversation, unless another client took the port.
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
    bool kicked = false;
    if (port && !port->Resume(rate)) {
      kicked = port->Kicked();
      port.reset();
    }
    // Taking the port back would drop the other client in turn: this conversation fails, and
    // only a later one tries again.
    if (TakeKicked(key) || kicked) {
      e.problem = PortProblem::Busy;
      e.server = ServerText(*address);
      e.detail = KICKED_DETAIL;
      return nullptr;
    }
    if (!port && !(port = Connect(*address, key, rate, e)))
      return nullptr;
    e = PortError{};
    return std::make_unique<Borrowed>(all_, std::move(key), std::move(port));
  }

 private:
  // A new connection. After one of ours, the server may not have let the old one go yet and
  // says that the port is in use: asked again, until it lets go or the bound has passed.
  std::unique_ptr<NetworkPort> Connect(const NetAddress& address, const std::string& key,
                                       std::uint32_t rate, PortError& e) {
    std::uint64_t releaseBy = 0;
    {
      const Held held(all_->lock);
      Connections::Link& link = all_->links[key];
      if (std::exchange(link.held, true))
        releaseBy = MonotonicMs() + NET_OPEN_TIMEOUT_MS + link.roundTrip;
    }
    for (;;) {
      const std::uint64_t deadline = MonotonicMs() + NET_OPEN_TIMEOUT_MS;
      std::string why;
      std::unique_ptr<NetSocket> socket = ConnectTcp(address, deadline, why);
      if (!socket) {
        e = Unreachable(why);
        return nullptr;
      }
      std::unique_ptr<NetworkPort> port = Negotiated(std::move(socket), rate, deadline, e);
      if (port)
        return port;
      if (e.problem == PortProblem::Busy)
        e.server = ServerText(address);
      const std::uint64_t pause = MonotonicMs() + NET_RELEASE_PAUSE_MS;
      if (e.problem != PortProblem::Busy || pause >= releaseBy ||
          PauseUntil(pause) != NetWait::TimedOut)
        return nullptr;
    }
  }

  std::unique_ptr<NetworkPort> Take(const std::string& key) {
    const Held held(all_->lock);
    return std::move(all_->links[key].idle);
  }
  bool TakeKicked(const std::string& key) {
    const Held held(all_->lock);
    return std::exchange(all_->links[key].kicked, false);
  }

  std::shared_ptr<Connections> all_;
};

class RoutingSerial : public SerialBackend {
 public:
  RoutingSerial(std::unique_ptr<SerialBackend> local, NetworkPolicy policy)
      : local_(std::move(local)), network_(MakeNetworkSerial(policy)) {}

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

std::unique_ptr<SerialBackend> MakeNetworkSerial(NetworkPolicy policy) {
  return std::make_unique<NetworkSerial>(policy);
}

std::unique_ptr<SerialBackend> MakeRoutingSerial(std::unique_ptr<SerialBackend> local,
                                                 NetworkPolicy policy) {
  return std::make_unique<RoutingSerial>(std::move(local), policy);
}

}  // namespace valdrix
