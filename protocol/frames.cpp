#include "protocol/frames.h"

#include <cstdio>

namespace valdrix {

std::uint8_t CheckByte(const std::uint8_t* bytes, std::size_t length) {
  std::uint8_t check = 0;
  for (std::size_t i = 0; i < length; ++i)
    check ^= bytes[i];
  return check;
}

void BuildInterfaceQuery(FrameBuffer& buffer) {
  buffer[0] = HDR_INTERFACE_QUERY;
  buffer[1] = HDR_INTERFACE_QUERY;  // the check byte of a frame without data
}

void BuildSetFrame(FrameBuffer& buffer, std::uint8_t sub, int value) {
  buffer[0] = HDR_CONFIG;
  buffer[1] = sub;
  buffer[2] = static_cast<std::uint8_t>(static_cast<unsigned>(value) & 0xFFu);
  buffer[3] = CheckByte(buffer, 3);
}

bool IsReplyTo(const FrameBuffer& buffer, bool readSucceeded, std::size_t received,
               std::uint8_t sub) {
  // A short read leaves the query behind the bytes that arrived, and the query starts like its
  // reply: only the count tells whether the interface answered.
  return readSucceeded && received == FRAME_LENGTH && buffer[0] == HDR_CONFIG && buffer[1] == sub;
}

bool IsInterfaceReply(const FrameBuffer& buffer, bool readSucceeded) {
  return readSucceeded && buffer[0] == HDR_INTERFACE_REPLY;
}

std::string VersionText(unsigned version) {
  char text[32];
  std::snprintf(text, sizeof text, "%u.%02u", version / 100, version % 100);
  return text;
}

}  // namespace valdrix
