// The frames, the numbers as the dialog reads and shows them, the order ports are listed in, and
// the interface model's framing.
#include "protocol/text.h"
#include "serial/serial_posix.h"
#include "tests/unit/harness.h"

namespace valdrix {
namespace {

TEST(Frames, SetFramesCarryTheLowEightBitsAndTheXorOfTheFirstThree) {
  const struct {
    std::uint8_t sub;
    int value;
    Bytes bytes;
  } cases[] = {
      {SUB_XN_ADDRESS, 31, {0xF2, 0x01, 0x1F, 0xEC}},
      {SUB_BASE_ADDRESS, 300, {0xF2, 0xF1, 0x2C, 0x2F}},  // 300 -> 44
      {SUB_MODULE_COUNT, 255, {0xF2, 0xF2, 0xFF, 0xFF}},  // the count query's bytes
      {SUB_MODULE_COUNT, -1, {0xF2, 0xF2, 0xFF, 0xFF}},
      {SUB_OPEN, 0, kClose},
  };
  for (const auto& c : cases) {
    FrameBuffer frame{};
    BuildSetFrame(frame, c.sub, c.value);
    EXPECT_EQ(Bytes(frame, frame + 4), c.bytes) << c.value;
  }
  FrameBuffer query{};
  BuildInterfaceQuery(query);
  EXPECT_EQ(Bytes(query, query + 2), kQuery);
  EXPECT_EQ(VersionText(102), "1.02");
  EXPECT_EQ(VersionText(5), "0.05");
}

TEST(Frames, RepliesAreJudgedByHeaderSubCommandAndCount) {
  const FrameBuffer reply = {0xF2, 0x01, 0x0A, 0xF9};
  EXPECT_TRUE(IsReplyTo(reply, true, 4, SUB_XN_ADDRESS));
  EXPECT_FALSE(IsReplyTo(reply, true, 3, SUB_XN_ADDRESS));  // the query's own bytes behind it
  EXPECT_FALSE(IsReplyTo(reply, false, 4, SUB_XN_ADDRESS));
  EXPECT_FALSE(IsReplyTo(reply, true, 4, SUB_BASE_ADDRESS));
  EXPECT_TRUE(IsInterfaceReply({0x02, 0, 0, 0}, true));
  EXPECT_FALSE(IsInterfaceReply({0x02, 0, 0, 0}, false));
  EXPECT_FALSE(IsInterfaceReply({0xF0, 0xF0, 0, 0}, true));
}

TEST(Text, ParseDecimal) {
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      {"", 0},
      {"abc", 0},
      {"12 34", 12},
      {" +12", 12},
      {"\t\n\v\f\r 12", 12},  // every white-space byte
      {"\x85 7", 0},          // a byte above 0x7F is not white space
      {"\b7", 0},
      {"-5", -5},
      {"+-5", 0},
      {"0x1F", 0},
      {"4294967296", 0},  // 2^32 wraps
      {"2147483648", INT32_MIN},
      {"-2147483649", INT32_MAX},
      {"99999999999999999999", 1661992959},
  };
  for (const auto& c : cases)
    EXPECT_EQ(ParseDecimal(c.text), c.value) << '"' << c.text << '"';
}

TEST(Ports, ListedInNaturalOrder) {
  std::vector<std::string> names = {"/dev/ttyS10", "/dev/ttyUSB0", "/dev/ttyS2", "/dev/ttyS1"};
  std::sort(names.begin(), names.end(), NaturalLess);
  EXPECT_EQ(names,
            (std::vector<std::string>{"/dev/ttyS1", "/dev/ttyS2", "/dev/ttyS10", "/dev/ttyUSB0"}));
}

TEST(InterfaceModel, AnswersWholeFramesAtItsOwnRateOnly) {
  const struct {
    const char* name;
    Bytes in;
    std::uint32_t rate;
    Bytes out;
  } cases[] = {
      {"interface query", kQuery, 57600, {0x02, 0x10, 102, 0x02 ^ 0x10 ^ 102}},
      {"address query", kValueQueries[1], 57600, {0xF2, 0x01, 0x01, 0xF2}},
      {"another rate", kQuery, 9600, {}},
      {"bad check byte", {0xF2, 0x01, 0xFF, 0x00}, 57600, {}},
      {"noise, then a frame", {0x55, 0xF0, 0xF0}, 57600, {0x02, 0x10, 102, 0x02 ^ 0x10 ^ 102}},
      {"half a frame", {0xF2, 0x01}, 57600, {}},
  };
  for (const auto& c : cases) {
    InterfaceModel model;
    EXPECT_EQ(model.Receive(c.in.data(), c.in.size(), c.rate), c.out) << c.name;
  }
  InterfaceModel model;  // a frame split over two writes is still one frame
  model.Receive(kOpen.data(), 2, 57600);
  EXPECT_EQ(model.Receive(kOpen.data() + 2, 2, 57600), kOpen);
  EXPECT_TRUE(model.IsOpen());
}

}  // namespace
}  // namespace valdrix
