#include "sim/deframer.h"

#include "protocol/frames.h"

namespace valdrix {

void Deframer::Add(const std::uint8_t* bytes, std::size_t length, const Sink& sink) {
  pending_.insert(pending_.end(), bytes, bytes + length);
  std::size_t at = 0;
  while (at < pending_.size()) {
    const std::size_t left = pending_.size() - at;
    const std::uint8_t* f = &pending_[at];
    std::size_t frame = 0;
    if (f[0] == HDR_INTERFACE_QUERY) {
      if (left < INTERFACE_QUERY_LENGTH)
        break;
      if (f[1] == HDR_INTERFACE_QUERY)
        frame = INTERFACE_QUERY_LENGTH;
    } else if (f[0] == HDR_CONFIG) {
      if (left < FRAME_LENGTH)
        break;
      if (CheckByte(f, 3) == f[3])
        frame = FRAME_LENGTH;
    }
    if (frame == 0) {
      sink(f, 1, false);
      ++at;
      continue;
    }
    sink(f, frame, true);
    at += frame;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

}  // namespace valdrix
