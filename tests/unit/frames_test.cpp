#include <gtest/gtest.h>

#include "protocol/frames.h"
#include "protocol/text.h"
#include "tests/unit/harness.h"

namespace valdrix {
namespace {

Bytes Built(std::uint8_t sub, int value) {
  FrameBuffer frame{};
  BuildSetFrame(frame, sub, value);
  return Bytes(frame, frame + FRAME_LENGTH);
}

TEST(Frames, EveryFrameTheToolSends) {
  struct Case {
    std::uint8_t sub;
    int value;
    Bytes bytes;
  } cases[] = {
      {SUB_VERSION, 0, {0xF2, 0xFD, 0x00, 0x0F}},               // version query
      {SUB_XN_ADDRESS, VALUE_QUERY, {0xF2, 0x01, 0xFF, 0x0C}},  // address query
      {SUB_BASE_ADDRESS, VALUE_QUERY, {0xF2, 0xF1, 0xFF, 0xFC}},
      {SUB_MODULE_COUNT, VALUE_QUERY, {0xF2, 0xF2, 0xFF, 0xFF}},
      {SUB_OPEN, 1, {0xF2, 0xFF, 0x01, 0x0C}},  // open interface
      {SUB_OPEN, 0, {0xF2, 0xFF, 0x00, 0x0D}},  // close interface
      {SUB_XN_ADDRESS, 3, {0xF2, 0x01, 0x03, 0xF0}},
      {SUB_XN_ADDRESS, 31, {0xF2, 0x01, 0x1F, 0xEC}},
      {SUB_BASE_ADDRESS, 0, {0xF2, 0xF1, 0x00, 0x03}},
      {SUB_BASE_ADDRESS, 255, {0xF2, 0xF1, 0xFF, 0xFC}},  // the same bytes as the query
      {SUB_MODULE_COUNT, 5, {0xF2, 0xF2, 0x05, 0x05}},
      // Only the low 8 bits of a value go out.
      {SUB_BASE_ADDRESS, 256, {0xF2, 0xF1, 0x00, 0x03}},
      {SUB_BASE_ADDRESS, 300, {0xF2, 0xF1, 0x2C, 0x2F}},
      {SUB_BASE_ADDRESS, -1, {0xF2, 0xF1, 0xFF, 0xFC}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Hex(Built(c.sub, c.value)), Hex(c.bytes)) << "sub " << int(c.sub) << " " << c.value;
  }
  FrameBuffer query{};
  BuildInterfaceQuery(query);
  EXPECT_EQ(Hex(Bytes(query, query + INTERFACE_QUERY_LENGTH)), "F0 F0");
}

TEST(Frames, RecognisingAConfigurationReply) {
  struct Case {
    Bytes buffer;
    bool ok;
    std::size_t received;
    bool answer;
  } cases[] = {
      {{0xF2, 0x01, 0x07, 0xF4}, true, 4, true},
      {{0xF2, 0x01, 0x07, 0x00}, true, 4, true},    // a wrong check byte is accepted
      {{0xF2, 0x01, 0xFF, 0x0C}, true, 0, false},   // nothing came: the query is still there
      {{0xF2, 0x01, 0x07, 0x0C}, true, 3, false},   // short
      {{0xF2, 0x01, 0x07, 0xF4}, false, 4, false},  // the read failed
      {{0xF2, 0xF1, 0x07, 0x04}, true, 4, false},   // the reply to another query
      {{0x02, 0x01, 0x07, 0xF4}, true, 4, false},
  };
  for (const Case& c : cases) {
    FrameBuffer frame{};
    std::copy(c.buffer.begin(), c.buffer.end(), frame);
    EXPECT_EQ(IsReplyTo(frame, c.ok, c.received, SUB_XN_ADDRESS), c.answer)
        << Hex(c.buffer) << " ok=" << c.ok << " n=" << c.received;
  }
}

TEST(Frames, RecognisingTheInterfaceByItsFirstByte) {
  FrameBuffer frame = {0x02, 0x00, 0x00, 0x00};
  EXPECT_TRUE(IsInterfaceReply(frame, true));
  EXPECT_FALSE(IsInterfaceReply(frame, false));
  FrameBuffer nothing = {0xF0, 0xF0, 0x00, 0x00};  // the query left behind by an empty read
  EXPECT_FALSE(IsInterfaceReply(nothing, true));
}

TEST(Frames, VersionText) {
  EXPECT_EQ(VersionText(102), "1.02");
  EXPECT_EQ(VersionText(100), "1.00");
  EXPECT_EQ(VersionText(7), "0.07");
  EXPECT_EQ(VersionText(5), "0.05");
  EXPECT_EQ(VersionText(255), "2.55");
}

TEST(ParseDecimal, Rules) {
  struct Case {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+", 0},
      {"- 1", 0},  // the sign must be followed by a digit
      {" 12x", 12},
      {"-1", -1},
      {"+7", 7},
      {"007", 7},
      {"\t\n\v\f\r 42", 42},  // exactly 0x09-0x0D and 0x20 are white space
      {"\xA0"
       "5",
       0},  // a byte above 0x7F is not white space
      {"\x85"
       "5",
       0},
      {"\x08"
       "5",
       0},
      {"1 2", 1},
      {"--1", 0},
      {"2147483647", 2147483647},
      {"2147483648", INT32_MIN},  // wraps modulo 2^32
      {"4294967296", 0},
      {"4294967297", 1},
      {"-2147483648", INT32_MIN},
      {"99999999999999999999", static_cast<std::int32_t>(0x630FFFFFu)},
  };
  for (const Case& c : cases)
    EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseDecimal, StopsAtTheEndOfTheView) {
  const std::string text = "12345";
  EXPECT_EQ(ParseDecimal(std::string_view(text).substr(0, 2)), 12);
}

}  // namespace
}  // namespace valdrix
