#include "cli/held_port.h"

#include <algorithm>
#include <utility>

#include "protocol/frames.h"

namespace valdrix::cli {

// The held port, lent to one conversation; giving it back leaves it open.
class HeldBackend::Lent : public SerialPort {
 public:
  explicit Lent(HeldBackend& owner) : owner_(owner), port_(*owner.held_) {}

  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    const bool set = port_.SetPortRate(rate, error);
    owner_.failed_ |= !set;
    return set;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    owner_.versionQueried_ =
        length == FRAME_LENGTH && bytes[0] == HDR_CONFIG && bytes[1] == SUB_VERSION;
    const bool sent = port_.WriteFrame(bytes, length, error);
    owner_.failed_ |= !sent;
    return sent;
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    const ReadResult result = port_.ReadFrame(buffer, length);
    owner_.failed_ |= !result.ok;
    if (std::exchange(owner_.versionQueried_, false) && length == FRAME_LENGTH) {
      FrameBuffer reply{};
      std::copy_n(buffer, FRAME_LENGTH, reply);
      owner_.versionAnswered_ = IsReplyTo(reply, result.ok, result.count, SUB_VERSION);
    }
    return result;
  }

  std::uint64_t NowMs() override { return port_.NowMs(); }

 private:
  HeldBackend& owner_;
  SerialPort& port_;
};

std::vector<std::string> HeldBackend::EnumeratePorts() {
  return inner_.EnumeratePorts();
}

std::unique_ptr<SerialPort> HeldBackend::OpenPort(const std::string& name, std::uint32_t rate,
                                                  PortError* error) {
  if (held_ && failed_ && name == name_)
    held_.reset();
  if (held_ && name != name_)
    return inner_.OpenPort(name, rate, error);
  if (held_) {
    // As a port opened afresh: at the rate asked for (on a remote port the server's confirmation
    // of it also drops what came while no conversation listened).
    PortError refused;
    if (!held_->SetPortRate(rate, &refused)) {
      failed_ = true;
      if (error)
        *error = refused;
      return nullptr;
    }
    if (error)
      *error = PortError{};
  } else {
    held_ = inner_.OpenPort(name, rate, error);
    if (!held_)
      return nullptr;
    name_ = name;
    failed_ = false;
  }
  return std::make_unique<Lent>(*this);
}

}  // namespace valdrix::cli
