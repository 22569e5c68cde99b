// The network port's Telnet layer and its time-outs, on a scripted server with virtual time.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "base/clock.h"
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
      // clang-format off
      {{0xF2, IAC, IAC, 0x00}, {0xF2, 0xFF, 0x00}, {}, false, false},
      {{1, IAC, WILL, 1, 2, IAC, DO, 24, 3}, {1, 2, 3}, {IAC, DONT, 1, IAC, WONT, 24}, false, false},
      {{1, IAC, DO, OPT_COM_PORT, IAC, WILL, OPT_BINARY, IAC, 241, 2}, {1, 2}, {}, true, false},
      // The rate's confirmation: what came before it is stale.
      {{1, IAC, SB, OPT_COM_PORT, 101, 0, 0, IAC, IAC, IAC, SE, 2}, {2}, {}, false, true},
      {longSb, {7}, {}, false, false},
      // clang-format on
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
// nth rate asked for acks[n] ms later (the last entry for the rest; never when negative) naming
// it, or kept when set, sends what is scripted at its time, may close at closeAt, and a request
// to stop comes at stopAt.
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
    if (stopAt <= deadline && script_.empty()) {
      now_ = std::max(now_, std::exchange(stopAt, UINT64_MAX));
      return NetWait::Interrupted;
    }
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
      Bytes confirmed = {IAC, SB, OPT_COM_PORT, 101, 0, 0, 0, 0, IAC, SE};
      for (std::size_t b = 4; b < 8; ++b)  // the rate asked for, or the one kept
        confirmed[b] = kept ? static_cast<std::uint8_t>(kept >> (8 * (7 - b))) : bytes[i + b];
      if (ack >= 0)
        Deliver(now_ + static_cast<std::uint64_t>(ack), confirmed);
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

  std::vector<std::pair<std::uint64_t, Bytes>> sent;
  std::uint64_t closeAt = UINT64_MAX, stopAt = UINT64_MAX;
  std::uint32_t kept = 0;

 private:
  std::vector<long> acks_;
  std::size_t rates_ = 0;
  std::uint64_t now_ = 0;
  std::map<std::uint64_t, Bytes> script_;
};

// After a change of rate (or two): the frame goes out right behind the rate, unawaited, its 0xFF
// doubled; what the server sent before the last rate's confirmation is no answer, whenever that
// comes; a read right after a write waits one round trip more than a local port's, the longest
// of those measured, also by a confirmation that comes while it waits.
TEST(NetworkPort, AChangeOfRateOnTheLink) {
  const Bytes stale = {0xF2, 0xFD, 0x01}, answer = {0x02, 0x01, 0x02, 0x01};
  const std::uint64_t silent = TotalTimeoutMs(4);
  const struct {
    std::vector<long> acks;  // the negotiation's, each change's (two: 38400, then 19200)
    long staleAt, answerAt;  // after the change; -1: none
    std::uint64_t readFor;
  } cases[] = {
      {{120}, -1, -1, silent + 120},
      {{-1}, -1, -1, silent},  // confirms nothing: nothing measured
      {{100, -1}, -1, -1, silent + 100},
      {{1400, 2000}, -1, -1, silent + 2000},  // 700 ms each way, then 1000
      {{0, 200}, 100, 250, 250},
      {{0, 200}, 200, 200, 200},       // stale bytes, confirmation, answer: one chunk
      {{0, 900}, 600, 950, 950},       // confirmed after stale bytes came
      {{0, 300, 600}, 400, 700, 700},  // between the two confirmations
  };
  for (const auto& c : cases) {
    auto socket = std::make_unique<ScriptedServer>(c.acks);
    ScriptedServer& server = *socket;
    PortError error;
    auto port = OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, error);
    ASSERT_TRUE(port) << error.detail;
    const std::uint64_t t0 = port->NowMs();
    if (c.staleAt >= 0)
      server.Deliver(t0 + static_cast<std::uint64_t>(c.staleAt), stale);
    ASSERT_TRUE(c.acks.size() < 3 || port->SetPortRate(38400));
    ASSERT_TRUE(port->SetPortRate(19200));  // its confirmation is scripted after the stale bytes
    if (c.answerAt >= 0)
      server.Deliver(t0 + static_cast<std::uint64_t>(c.answerAt), answer);
    const std::uint8_t close[] = {0xF2, 0xFF, 0x00, 0x0D};
    ASSERT_TRUE(port->WriteFrame(close, 4));
    const decltype(server.sent) wire = {
        {t0, {IAC, SB, OPT_COM_PORT, SET_BAUDRATE, 0, 0, 0x4B, 0x00, IAC, SE}},
        {t0, {0xF2, 0xFF, 0xFF, 0x00, 0x0D}}};
    EXPECT_EQ(decltype(wire)(server.sent.end() - 2, server.sent.end()), wire) << c.acks[0];
    std::uint8_t buffer[4];
    const ReadResult r = port->ReadFrame(buffer, 4);
    EXPECT_EQ(Bytes(buffer, buffer + r.count), c.answerAt >= 0 ? answer : Bytes{}) << c.staleAt;
    EXPECT_EQ(port->NowMs() - t0, c.readFor) << c.acks[0] << " " << c.staleAt;
  }
}

// Servers that will not serve, each refused with its reason; busy only from what the server
// said. One that streams is held to the bound.
TEST(NetworkPort, ServersThatWillNotServe) {
  const std::string inUse = "\xFF\xFD,Port already in use\r\n";  // after DO COM-PORT
  const std::string closed = "the server closed the connection";
  const struct {
    std::string greeting;
    bool closes;
    PortProblem problem;
    std::string detail;
  } cases[] = {
      {"\xFF\xFE,", false, PortProblem::Unreachable, "the server refuses RFC 2217 (COM-PORT)"},
      {"\xFF\xFD,", true, PortProblem::Unreachable, closed},
      {inUse, true, PortProblem::Busy, closed},
      {"Device open failure: Permission denied\r\n", true, PortProblem::Unreachable,
       "the server said \"Device open failure: Permission denied\" and closed the connection"},
      {inUse, false, PortProblem::None, ""},  // never closes: taken at its yes
      {"", false, PortProblem::Unreachable, "the server did not negotiate RFC 2217 within 3 s"},
  };
  for (const auto& c : cases) {
    auto socket = std::make_unique<ScriptedServer>(std::vector<long>{-1},
                                                   Bytes(c.greeting.begin(), c.greeting.end()));
    socket->closeAt = c.closes ? 1 : UINT64_MAX;
    PortError error;
    EXPECT_EQ(!OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, error),
              c.problem != PortProblem::None);
    EXPECT_EQ(error.problem, c.problem) << c.detail;
    EXPECT_EQ(error.detail, c.detail);
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

// A rate the server keeps another one for is named by the read after it, which ends at its
// confirmation: nothing that comes at the rate kept is an answer. A request to stop ends the read
// that runs, and the connection serves on until another client takes the port over.
TEST(NetworkPort, ARateKeptAndAStopLeaveTheLinkUp) {
  const Bytes answer = {0x02, 0x01, 0x02, 0x01};
  auto socket = std::make_unique<ScriptedServer>(std::vector<long>{100});
  ScriptedServer& server = *socket;
  PortError error;
  auto port = OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, error);
  ASSERT_TRUE(port);
  server.kept = 9600;
  const std::uint64_t kept = port->NowMs() + 100;
  ASSERT_TRUE(port->SetPortRate(19200));
  server.Deliver(kept, answer);  // right behind the confirmation
  std::uint8_t buffer[4];
  const ReadResult r = port->ReadFrame(buffer, 4);
  EXPECT_EQ(std::make_tuple(r.ok, r.count, r.rateRefused, port->NowMs()),
            std::make_tuple(true, 0u, "the server keeps the line at 9600 baud", kept));
  ASSERT_TRUE(port->SetPortRate(9600));
  const std::uint64_t t0 = port->NowMs();
  server.stopAt = t0 + 30;
  const ReadResult stopped = port->ReadFrame(buffer, 4);  // no failure of the port
  EXPECT_EQ(std::make_tuple(stopped.ok, stopped.failed, port->NowMs()),
            std::make_tuple(false, "", t0 + 30));
  ASSERT_TRUE(port->WriteFrame(answer.data(), 4));
  server.Deliver(port->NowMs() + 100, answer);
  EXPECT_EQ(Bytes(buffer, buffer + port->ReadFrame(buffer, 4).count), answer);
  // Another client takes the port over: the server says so (ser2net 3) and hangs up; the read
  // fails as on a pulled adapter, and says why.
  const std::string kicked = "kicked off, new user is coming\r\n";
  const std::string took = "another client of the server took the port";
  server.Deliver(port->NowMs() + 10, Bytes(kicked.begin(), kicked.end()));
  server.closeAt = port->NowMs() + 20;
  EXPECT_TRUE(port->SetPortRate(19200));  // the read after it learns
  const ReadResult lost = port->ReadFrame(buffer, 4);
  EXPECT_EQ(std::make_pair(lost.ok, lost.failed), std::make_pair(false, took));
  EXPECT_FALSE(port->WriteFrame(answer.data(), 4, &error));
  EXPECT_EQ(error.detail, took);
  error = {};
  EXPECT_FALSE(port->SetPortRate(38400, &error) || error.detail != took);
}

// A name lookup that does not end is left behind at the deadline (real time, 100 ms).
TEST(NetworkPort, ASlowLookupEndsAtTheDeadline) {
  SlowLookupsForTests(60000);
  const std::uint64_t start = MonotonicMs();
  std::string why;
  EXPECT_FALSE(ConnectTcp({"localhost", 9}, start + 100, why));
  EXPECT_LT(MonotonicMs() - start, 1000u);
  EXPECT_EQ(why, "no address for localhost within 3 s");
  SlowLookupsForTests(0);
}

}  // namespace
}  // namespace valdrix
