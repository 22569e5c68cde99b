// The network port's Telnet layer and its time-outs, on a scripted server with virtual time.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <vector>

#include "network/network.h"
#include "network/telnet.h"

namespace valdrix {
namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace telnet;

// Whatever chunks a server's stream arrives in, the same data and answers come out of it.
TEST(Telnet, CommandsLeaveTheDataInAnyChunks) {
  Bytes longSb = {IAC, SB, OPT_COM_PORT};
  longSb.insert(longSb.end(), 2 * SUBNEGOTIATION_MAX, 'x');
  longSb.insert(longSb.end(), {IAC, SE, 7});
  const struct {
    Bytes stream, data, replies;
    bool accepted, rateAcked;
  } cases[] = {
      {{0xF2, IAC, IAC, 0x00}, {0xF2, 0xFF, 0x00}, {}, false, false},
      {{1, IAC, WILL, 1, 2, IAC, DO, 24, 3},
       {1, 2, 3},
       {IAC, DONT, 1, IAC, WONT, 24},
       false,
       false},
      {{1, IAC, DO, OPT_COM_PORT, IAC, WILL, OPT_BINARY, IAC, 241, 2}, {1, 2}, {}, true, false},
      // The rate's confirmation: what came before it is stale.
      {{1, IAC, SB, OPT_COM_PORT, 101, 0, 0, IAC, IAC, IAC, SE, 2}, {2}, {}, false, true},
      {longSb, {7}, {}, false, false},
  };
  for (const auto& c : cases) {
    for (std::size_t split = 0; split <= c.stream.size(); ++split) {
      ComPortClient client;
      client.Hello(9600);
      Bytes data, replies;
      client.Receive(c.stream.data(), split, data, replies);
      client.Receive(c.stream.data() + split, c.stream.size() - split, data, replies);
      EXPECT_EQ(data, c.data) << "split at " << split;
      EXPECT_EQ(replies, c.replies) << "split at " << split;
      EXPECT_EQ(client.Accepted(), c.accepted);
      EXPECT_EQ(client.RateAwaited(), !c.rateAcked);
    }
  }
}

// A server on virtual time: greets (agreeing to COM-PORT unless told otherwise), confirms the
// nth rate asked for acks[n] ms later (the last entry for the rest; never when negative), sends
// what is scripted at its time, and may close at closeAt.
class ScriptedServer : public NetSocket {
 public:
  explicit ScriptedServer(std::vector<long> acks, Bytes greeting = {IAC, DO, OPT_COM_PORT})
      : acks_(std::move(acks)) {
    Deliver(0, greeting);
  }
  void Deliver(std::uint64_t at, const Bytes& bytes) {
    auto& due = script_[at];
    due.insert(due.end(), bytes.begin(), bytes.end());
  }

  NetWait WaitFor(bool write, std::uint64_t deadline) override {
    if (write)
      return NetWait::Ready;
    const std::uint64_t next =
        script_.empty() ? closeAt : std::min(closeAt, script_.begin()->first);
    now_ = std::max(now_, std::min(next, deadline));
    return next <= deadline ? NetWait::Ready : NetWait::TimedOut;
  }
  long Send(const std::uint8_t* bytes, std::size_t length) override {
    if (now_ >= closeAt)
      return -1;
    for (std::size_t i = 0; i + 4 <= length; ++i) {
      if (bytes[i] != IAC || bytes[i + 1] != SB || bytes[i + 3] != SET_BAUDRATE)
        continue;
      const long ack = acks_[std::min(rates_++, acks_.size() - 1)];
      if (ack >= 0)
        Deliver(now_ + static_cast<std::uint64_t>(ack), CONFIRMED);
    }
    sent.push_back({now_, Bytes(bytes, bytes + length)});
    return static_cast<long>(length);
  }
  long Receive(std::uint8_t* buffer, std::size_t length) override {
    if (script_.empty() || script_.begin()->first > now_)
      return now_ >= closeAt ? -1 : 0;
    Bytes& due = script_.begin()->second;
    const std::size_t n = std::min(length, due.size());
    std::copy_n(due.begin(), n, buffer);
    due.erase(due.begin(), due.begin() + static_cast<long>(n));
    if (due.empty())
      script_.erase(script_.begin());
    return static_cast<long>(n);
  }
  std::uint64_t NowMs() override { return now_; }

  static inline const Bytes CONFIRMED = {IAC, SB, OPT_COM_PORT, 101, 0, 0, 0x4B, 0x00, IAC, SE};
  std::vector<std::pair<std::uint64_t, Bytes>> sent;
  std::uint64_t closeAt = UINT64_MAX;

 private:
  std::vector<long> acks_;
  std::size_t rates_ = 0;
  std::uint64_t now_ = 0;
  std::map<std::uint64_t, Bytes> script_;
};

std::unique_ptr<SerialPort> Open(ScriptedServer*& server, std::vector<long> acks) {
  auto socket = std::make_unique<ScriptedServer>(std::move(acks));
  server = socket.get();
  PortError error;
  auto port = OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, error);
  EXPECT_TRUE(port) << error.detail;
  return port;
}

// A frame goes out at the new rate only once the server confirmed it, or its wait ran out: three
// round trips as negotiating measured them, within bounds; its 0xFF doubled. Reads wait one
// round trip more than a local port's.
TEST(NetworkPort, WaitsFollowTheRoundTrip) {
  const struct {
    std::vector<long> acks;  // the negotiation's, then the rest
    std::uint64_t written, silentRead;
  } cases[] = {
      {{0}, 0, TotalTimeoutMs(4)},
      {{120}, 120, TotalTimeoutMs(4) + 120},
      {{-1}, NET_RATE_ACK_TIMEOUT_MS, TotalTimeoutMs(4)},  // confirms nothing: nothing measured
      {{100, -1}, NET_RATE_ACK_TIMEOUT_MS, TotalTimeoutMs(4) + 100},
      {{400, -1}, 3 * 400, TotalTimeoutMs(4) + 400},
      {{1400, 2000}, 2000, TotalTimeoutMs(4) + 1400},  // 700 ms each way
      {{2000, -1}, NET_RATE_ACK_MAX_MS, TotalTimeoutMs(4) + 2000},
  };
  for (const auto& c : cases) {
    ScriptedServer* server = nullptr;
    auto port = Open(server, c.acks);
    if (!port)
      continue;
    const std::uint64_t asked = port->NowMs();
    port->SetPortRate(19200);
    const std::uint8_t close[] = {0xF2, 0xFF, 0x00, 0x0D};
    ASSERT_TRUE(port->WriteFrame(close, 4));
    const auto& [at, bytes] = server->sent.back();
    EXPECT_EQ(bytes, (Bytes{0xF2, 0xFF, 0xFF, 0x00, 0x0D}));
    EXPECT_EQ(at - asked, c.written) << c.acks[0];
    const std::uint64_t start = port->NowMs();
    std::uint8_t buffer[4];
    const ReadResult r = port->ReadFrame(buffer, 4);
    EXPECT_TRUE(r.ok && r.count == 0);
    EXPECT_EQ(port->NowMs() - start, c.silentRead) << c.acks[0];
  }
}

// After a change of rate, what the server sent before confirming it is no answer, whenever the
// confirmation comes: before the query goes out, or after its wait ran out.
TEST(NetworkPort, NothingBeforeTheConfirmationIsAnAnswer) {
  const Bytes old = {0xF2, 0xFD, 0x01}, answer = {0x02, 0x01, 0x02, 0x01};
  const struct {
    long ack;  // after the change of rate
    std::uint64_t staleAt;
    bool together;  // the stale bytes, the confirmation and the answer in one chunk
  } cases[] = {
      {200, 100, false},
      {200, 200, true},
      {900, 600, false},  // the query went out at 500, unconfirmed; its answer follows 900
      {900, 900, true},
  };
  for (const auto& c : cases) {
    ScriptedServer* server = nullptr;
    auto port = Open(server, {0, c.ack});
    ASSERT_TRUE(port);
    const std::uint64_t t0 = port->NowMs();
    const std::uint64_t answered = t0 + static_cast<std::uint64_t>(c.ack) + (c.together ? 0 : 50);
    server->Deliver(t0 + c.staleAt, old);
    port->SetPortRate(19200);  // its confirmation is scripted after the stale bytes
    server->Deliver(answered, answer);
    const std::uint8_t query[] = {0xF0, 0xF0};
    ASSERT_TRUE(port->WriteFrame(query, 2));
    std::uint8_t buffer[4];
    const ReadResult r = port->ReadFrame(buffer, 4);
    EXPECT_EQ(Bytes(buffer, buffer + r.count), answer) << c.ack << " " << c.staleAt;
  }
}

// What a server says when it will not serve: each a refusal that names the reason. A streaming
// one is held to the bound.
TEST(NetworkPort, ServersThatWillNotServe) {
  const std::string inUse = "Port already in use\r\n";
  const struct {
    Bytes greeting;
    bool closes;
    PortProblem problem;
    std::string detail;
  } cases[] = {
      {{IAC, DONT, OPT_COM_PORT},
       false,
       PortProblem::Unreachable,
       "the server refuses RFC 2217 (COM-PORT)"},
      {{IAC, DO, OPT_COM_PORT}, true, PortProblem::Unreachable, "the server closed the connection"},
      {{}, false, PortProblem::Unreachable, "the server did not negotiate RFC 2217 within 3 s"},
  };
  for (const auto& c : cases) {
    for (const bool busy : {false, true}) {
      Bytes greeting = c.greeting;
      if (busy)
        greeting.insert(greeting.end(), inUse.begin(), inUse.end());
      auto socket = std::make_unique<ScriptedServer>(std::vector<long>{-1}, greeting);
      socket->closeAt = c.closes ? 1 : UINT64_MAX;
      PortError error;
      EXPECT_FALSE(OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, error));
      EXPECT_EQ(error.problem, busy && c.closes ? PortProblem::Busy : c.problem) << c.detail;
      EXPECT_EQ(error.detail, c.detail);
    }
  }
  Bytes stream = {IAC, DO, OPT_COM_PORT};
  stream.resize(3 * NET_HELD_MAX, 0x55);
  auto socket = std::make_unique<ScriptedServer>(std::vector<long>{-1}, stream);
  PortError error;
  auto port = OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, error);
  ASSERT_TRUE(port);
  std::vector<std::uint8_t> buffer(2 * NET_HELD_MAX);
  EXPECT_EQ(port->ReadFrame(buffer.data(), buffer.size()).count, NET_HELD_MAX);
}

// A dropped connection fails as a pulled adapter.
TEST(NetworkPort, ADroppedConnectionFails) {
  ScriptedServer* server = nullptr;
  auto port = Open(server, {0});
  ASSERT_TRUE(port);
  std::uint8_t buffer[4];
  server->closeAt = port->NowMs() + 5;
  EXPECT_FALSE(port->ReadFrame(buffer, 4).ok);
  EXPECT_FALSE(port->WriteFrame(buffer, 1));
}

}  // namespace
}  // namespace valdrix
