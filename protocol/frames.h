// The command frames exchanged with the Valdrix interface: a header, two data bytes and an XOR
// check byte (the interface query alone is two bytes, header and check).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace valdrix {

constexpr std::uint8_t HDR_INTERFACE_QUERY = 0xF0;
constexpr std::uint8_t HDR_INTERFACE_REPLY = 0x02;
constexpr std::uint8_t HDR_CONFIG = 0xF2;
constexpr std::uint8_t SUB_XN_ADDRESS = 0x01;
constexpr std::uint8_t SUB_BASE_ADDRESS = 0xF1;
constexpr std::uint8_t SUB_MODULE_COUNT = 0xF2;
constexpr std::uint8_t SUB_VERSION = 0xFD;
constexpr std::uint8_t SUB_OPEN = 0xFF;
constexpr std::uint8_t VALUE_QUERY = 0xFF;

// The settings the interface keeps. A value byte of VALUE_QUERY asks for the stored value, so no
// setting can be it: the module count (2 x 16-bit modules + 8-bit modules) stays below it.
constexpr int MIN_XN_ADDRESS = 1;
constexpr int MAX_XN_ADDRESS = 31;
constexpr int MAX_BASE_ADDRESS = 254;
constexpr int MAX_MODULE_COUNT = VALUE_QUERY - 1;

constexpr std::size_t FRAME_LENGTH = 4;
constexpr std::size_t INTERFACE_QUERY_LENGTH = 2;

// One buffer holds a request and then, read over it, the reply.
using FrameBuffer = std::uint8_t[FRAME_LENGTH];

// F0 F0.
void BuildInterfaceQuery(FrameBuffer& buffer);

// F2, sub, the low 8 bits of value, check byte. Queries and the open/close frames are set frames
// with a fixed value (VALUE_QUERY, 0 for the version, 1 to open, 0 to close).
void BuildSetFrame(FrameBuffer& buffer, std::uint8_t sub, int value);

// A complete four-byte configuration reply to the query for sub. The check byte is not looked at.
bool IsReplyTo(const FrameBuffer& buffer, bool readSucceeded, std::size_t received,
               std::uint8_t sub);

// The interface answered the interface query: judged by the first byte alone.
bool IsInterfaceReply(const FrameBuffer& buffer, bool readSucceeded);

// "%d.%02d" of v / 100 and v % 100.
std::string VersionText(unsigned version);

// XOR of the given bytes.
std::uint8_t CheckByte(const std::uint8_t* bytes, std::size_t length);

}  // namespace valdrix
