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
      {{1, IAC, SB, OPT_COM_PORT, 101, 0, 0, IAC, IAC, IAC, SE, 2}, {1, 2}, {}, false, true},
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

// A server on virtual time: agrees at once, confirms each rate after ackMs (never when
// negative), sends what is scripted at its time, and may close at closeAt.
class ScriptedServer : public NetSocket {
 public:
  explicit ScriptedServer(long ackMs) : ackMs_(ackMs) { Deliver(0, {IAC, DO, OPT_COM_PORT}); }
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
    for (std::size_t i = 0; i < length; ++i) {
      if (length - i >= 4 && bytes[i] == IAC && bytes[i + 1] == SB &&
          bytes[i + 3] == SET_BAUDRATE && ackMs_ >= 0)
        Deliver(now_ + static_cast<std::uint64_t>(ackMs_),
                {IAC, SB, OPT_COM_PORT, 101, 0, 0, 0x4B, 0x00, IAC, SE});
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
  std::uint64_t closeAt = UINT64_MAX;

 private:
  long ackMs_;
  std::uint64_t now_ = 0;
  std::map<std::uint64_t, Bytes> script_;
};

std::unique_ptr<SerialPort> Open(ScriptedServer*& server, long ackMs) {
  auto socket = std::make_unique<ScriptedServer>(ackMs);
  server = socket.get();
  std::string why;
  auto port = OpenNetworkPort(std::move(socket), 9600, NET_OPEN_TIMEOUT_MS, why);
  EXPECT_TRUE(port) << why;
  return port;
}

// A frame goes out at the new rate only once the server confirmed it, or its wait ran out; its
// 0xFF doubled.
TEST(NetworkPort, DataWaitsForTheRate) {
  for (const long ackMs : {0L, 120L, -1L}) {
    ScriptedServer* server = nullptr;
    auto port = Open(server, ackMs);
    if (!port)
      continue;
    const std::uint64_t asked = port->NowMs();
    port->SetPortRate(19200);
    const std::uint8_t close[] = {0xF2, 0xFF, 0x00, 0x0D};
    ASSERT_TRUE(port->WriteFrame(close, 4));
    const auto& [at, bytes] = server->sent.back();
    EXPECT_EQ(bytes, (Bytes{0xF2, 0xFF, 0xFF, 0x00, 0x0D}));
    EXPECT_EQ(at - asked, ackMs < 0 ? NET_RATE_ACK_TIMEOUT_MS : std::uint64_t(ackMs)) << ackMs;
  }
}

// Reads keep the local ports' time-outs, and a dropped connection fails as a pulled adapter.
TEST(NetworkPort, ReadsKeepTheLocalTimeOuts) {
  ScriptedServer* server = nullptr;
  auto port = Open(server, 0);
  ASSERT_TRUE(port);
  const std::uint64_t start = port->NowMs();
  std::uint8_t buffer[4];
  ReadResult r = port->ReadFrame(buffer, 4);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.count, 0u);
  EXPECT_EQ(port->NowMs() - start, TotalTimeoutMs(4));

  server->Deliver(port->NowMs() + 2, {0x02, IAC, 241, 0x10});
  r = port->ReadFrame(buffer, 4);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(Bytes(buffer, buffer + r.count), (Bytes{0x02, 0x10}));
  EXPECT_EQ(port->NowMs() - start, TotalTimeoutMs(4) + 2 + READ_INTERVAL_MS);

  server->closeAt = port->NowMs() + 5;
  EXPECT_FALSE(port->ReadFrame(buffer, 4).ok);
  EXPECT_FALSE(port->WriteFrame(buffer, 1));
}

}  // namespace
}  // namespace valdrix
