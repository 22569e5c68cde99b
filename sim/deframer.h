// Cuts the bytes the interface receives into frames by its framing rules: F0 F0, or F2 and three
// bytes whose check byte matches. Any other byte is noise and is passed on alone, so the stream
// resynchronises on the next byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace valdrix {

class Deframer {
 public:
  // Called for each complete frame (frame true) or noise byte (frame false), in order.
  using Sink = std::function<void(const std::uint8_t* bytes, std::size_t length, bool frame)>;

  // Adds received bytes; a frame not yet complete waits for the next call.
  void Add(const std::uint8_t* bytes, std::size_t length, const Sink& sink);
  // Forgets a frame begun.
  void Clear() { pending_.clear(); }
  // A frame begun and not finished.
  const std::vector<std::uint8_t>& Pending() const { return pending_; }

 private:
  std::vector<std::uint8_t> pending_;
};

}  // namespace valdrix
