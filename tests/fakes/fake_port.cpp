#include "tests/fakes/fake_port.h"

#include <algorithm>
#include <utility>

namespace valdrix {
namespace {

// Ten bit times (start, eight data, stop) per byte.
std::uint64_t ByteTimeUs(std::uint32_t rate) {
  return rate ? 10'000'000ull / rate : 1000;
}

}  // namespace

class FakeSerial::Port : public SerialPort {
 public:
  Port(FakeSerial& owner, std::string name, std::uint32_t rate)
      : owner_(owner), name_(std::move(name)), rate_(rate) {
    ++owner_.openPorts_;
  }
  ~Port() override {
    owner_.log_.push_back({WireEvent::Kind::Close, name_, rate_, {}, true, owner_.NowMs()});
    // What the interface sends while no one listens is lost.
    owner_.incoming_.clear();
    --owner_.openPorts_;
  }

  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    const bool ok = !owner_.refusedRates.count(rate);
    kept_ = !ok && owner_.refusedAtRead;
    if (ok) {
      rate_ = rate;
    } else if (error) {
      *error = PortError{};
      error->problem = PortProblem::Other;
      error->detail = "refused by the driver";
    }
    owner_.log_.push_back({WireEvent::Kind::Rate, name_, rate, {}, ok, owner_.NowMs()});
    return ok || kept_;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    const std::size_t index = owner_.writes_++;
    const bool ok = !owner_.failWrites.count(index);
    owner_.log_.push_back(
        {WireEvent::Kind::Write, name_, rate_, {bytes, bytes + length}, ok, owner_.NowMs()});
    if (!ok && error)
      error->detail = "write: Input/output error";
    if (!ok)
      return false;
    if (owner_.blockedWrites.count(index)) {
      owner_.nowUs_ += TotalTimeoutMs(length) * 1000;
      return true;
    }
    const std::uint64_t byteUs = ByteTimeUs(rate_);
    const std::uint64_t sentUs = owner_.nowUs_ + length * byteUs;
    if (owner_.device) {
      std::uint64_t at =
          owner_.incoming_.empty() ? sentUs : std::max(sentUs, owner_.incoming_.back().first);
      for (const DeviceByte& b : owner_.device({bytes, bytes + length}, rate_)) {
        at += b.delayUs;
        owner_.incoming_.emplace_back(at, b.byte);
      }
    } else if (IsInterface()) {
      const std::vector<std::uint8_t> reply = owner_.model_->Receive(bytes, length, rate_);
      std::uint64_t at = sentUs + owner_.replyLatencyUs;
      for (const std::uint8_t b : reply) {
        at += byteUs;
        owner_.incoming_.emplace_back(at, b);
      }
      if (owner_.model_->Streaming() && owner_.nextStreamUs_ == 0)
        owner_.nextStreamUs_ = at + owner_.streamIntervalUs;
    }
    return true;
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    const std::size_t index = owner_.reads_++;
    const std::uint64_t startMs = owner_.NowMs();
    if (owner_.failReads.count(index)) {
      owner_.log_.push_back({WireEvent::Kind::Read, name_, rate_, {}, false, startMs});
      return {};
    }
    if (std::exchange(kept_, false))  // what comes at the rate kept is no answer
      return {true, 0, "refused by the driver"};
    const bool shortRead = owner_.shortReads.count(index) != 0;
    const std::size_t wanted = shortRead ? length - 1 : length;
    const std::uint64_t deadline = owner_.nowUs_ + TotalTimeoutMs(length) * 1000;
    std::size_t got = 0;
    std::uint64_t lastByteUs = 0;
    const auto limit = [&] {
      return got ? std::min(deadline, lastByteUs + READ_INTERVAL_MS * 1000) : deadline;
    };
    while (got < wanted) {
      const std::uint64_t next = NextArrival();
      if (next > limit()) {
        owner_.nowUs_ = std::max(owner_.nowUs_, limit());
        break;
      }
      owner_.nowUs_ = std::max(owner_.nowUs_, next);
      buffer[got++] = owner_.incoming_.front().second;
      owner_.incoming_.pop_front();
      lastByteUs = owner_.nowUs_;
    }
    if (shortRead && got == wanted) {
      // The missing byte is lost on the line; the read waits out its time-out for it.
      if (!owner_.incoming_.empty())
        owner_.incoming_.pop_front();
      owner_.nowUs_ = std::max(owner_.nowUs_, limit());
    }
    owner_.log_.push_back(
        {WireEvent::Kind::Read, name_, rate_, {buffer, buffer + got}, true, startMs});
    return {true, got, {}};
  }

  std::uint64_t NowMs() override { return owner_.NowMs(); }

 private:
  bool IsInterface() const { return owner_.model_ && name_ == owner_.interfacePort_; }

  // The arrival time of the next byte, making the stream's next byte when it is due.
  std::uint64_t NextArrival() {
    if (owner_.incoming_.empty() && IsInterface() && owner_.model_->Streaming()) {
      const std::uint64_t at = std::max(owner_.nextStreamUs_, owner_.nowUs_);
      owner_.incoming_.emplace_back(at, owner_.model_->NextStreamByte());
      owner_.nextStreamUs_ = at + owner_.streamIntervalUs;
    }
    return owner_.incoming_.empty() ? UINT64_MAX : owner_.incoming_.front().first;
  }

  FakeSerial& owner_;
  std::string name_;
  std::uint32_t rate_;
  bool kept_ = false;
};

FakeSerial::FakeSerial(InterfaceModel* model, std::string interfacePort)
    : ports{interfacePort}, model_(model), interfacePort_(std::move(interfacePort)) {}

FakeSerial::~FakeSerial() = default;

std::vector<std::string> FakeSerial::EnumeratePorts() {
  std::vector<std::string> names;
  for (const std::string& name : ports)
    if (!busy.count(name))
      names.push_back(name);
  return names;
}

std::unique_ptr<SerialPort> FakeSerial::OpenPort(const std::string& name, std::uint32_t rate,
                                                 PortError* error) {
  const bool exists = std::find(ports.begin(), ports.end(), name) != ports.end();
  if (!exists || busy.count(name) || openPorts_ != 0 || failOpens.count(opens_++)) {
    if (error) {
      *error = PortError{};
      error->problem = exists ? PortProblem::Busy : PortProblem::Missing;
    }
    log_.push_back({WireEvent::Kind::OpenFailed, name, rate, {}, false, NowMs()});
    return nullptr;
  }
  log_.push_back({WireEvent::Kind::Open, name, rate, {}, true, NowMs()});
  return std::make_unique<Port>(*this, name, rate);
}

std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> FakeSerial::Writes() const {
  std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> writes;
  for (const WireEvent& e : log_)
    if (e.kind == WireEvent::Kind::Write)
      writes.emplace_back(e.rate, e.bytes);
  return writes;
}

std::size_t FakeSerial::OpenCount() const {
  return static_cast<std::size_t>(std::count_if(log_.begin(), log_.end(), [](const WireEvent& e) {
    return e.kind == WireEvent::Kind::Open;
  }));
}

}  // namespace valdrix
