// The network port against a server played from the fuzzer's bytes, in virtual time: what it
// sends and when (negotiation, rate confirmations, IAC escapes, data), a pause, a socket that
// would block, a close in the middle. Each byte pair is a step: what, then how much. No crash, no
// endless wait, no read returning more than asked (nothing with a rate refused), and every wait
// bounded by its time-outs.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "network/network.h"

namespace {

class PlayedServer : public valdrix::NetSocket {
 public:
  PlayedServer(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  valdrix::NetWait WaitFor(bool write, std::uint64_t deadlineMs) override {
    while (!closed_ && (write ? blocked_ : chunk_.empty())) {
      if (at_ + 1 >= size_) {  // the script is over: the server says nothing more
        now_ = std::max(now_, deadlineMs);
        return valdrix::NetWait::TimedOut;
      }
      const std::uint8_t what = data_[at_], much = data_[at_ + 1];
      at_ += 2;
      if (what % 4 == 0) {  // the next much % 64 + 1 bytes arrive
        const std::size_t n = std::min<std::size_t>(much % 64 + 1, size_ - at_);
        chunk_.assign(data_ + at_, data_ + at_ + n);
        at_ += n;
      } else if (what % 4 == 1) {  // a pause
        now_ += much * 10u;
      } else if (what % 4 == 2) {
        closed_ = true;
      } else {
        blocked_ = !blocked_;  // sends would block, or no longer
      }
      if (now_ >= deadlineMs)
        return valdrix::NetWait::TimedOut;
    }
    return valdrix::NetWait::Ready;
  }
  long Send(const std::uint8_t*, std::size_t length) override {
    return closed_ ? -1 : blocked_ ? 0 : static_cast<long>(length);
  }
  long Receive(std::uint8_t* buffer, std::size_t length) override {
    if (chunk_.empty())
      return closed_ ? -1 : 0;
    const std::size_t n = std::min(length, chunk_.size());
    std::copy_n(chunk_.begin(), n, buffer);
    chunk_.erase(chunk_.begin(), chunk_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<long>(n);
  }
  std::uint64_t NowMs() override { return now_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  std::vector<std::uint8_t> chunk_;
  std::uint64_t now_ = 0;
  bool closed_ = false;
  bool blocked_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdrix;
  auto owned = std::make_unique<PlayedServer>(data, size);
  PlayedServer& server = *owned;
  PortError error;
  std::unique_ptr<SerialPort> port =
      OpenNetworkPort(std::move(owned), 9600, NET_OPEN_TIMEOUT_MS, error);
  if (!port)
    return error.problem == PortProblem::None ? (std::abort(), 0) : 0;  // refused says why
  const std::uint8_t query[2] = {0xF0, 0xFF};                           // 0xFF goes out doubled
  for (const std::uint32_t rate : LINE_RATES) {
    const std::uint64_t start = server.NowMs();
    port->SetPortRate(rate);
    port->WriteFrame(query, sizeof query);
    std::uint8_t reply[4];
    const ReadResult got = port->ReadFrame(reply, sizeof reply);
    // The sends of the rate and the frame, the read's time-out and the round trip (at most
    // NET_ROUND_TRIP_MAX_MS), the answers the read owes the server's requests, and a pause each
    // wait may end in.
    const std::uint64_t bound = 2 * TIMEOUT_CONSTANT_MS + TotalTimeoutMs(sizeof query) +
                                TotalTimeoutMs(sizeof reply) + NET_ROUND_TRIP_MAX_MS + 5 * 2550;
    if (got.count > (got.rateRefused.empty() ? sizeof reply : 0) || server.NowMs() - start > bound)
      std::abort();
  }
  return 0;
}
