// The frames, the numbers as the dialog reads and shows them, and the order ports are listed in.
#include "ports/port_details.h"
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
      // clang-format off
      {SUB_XN_ADDRESS, 31, {0xF2, 0x01, 0x1F, 0xEC}}, {SUB_OPEN, 0, kClose},
      {SUB_BASE_ADDRESS, 300, {0xF2, 0xF1, 0x2C, 0x2F}},  // 300 -> 44
      // the count query's bytes, from 255 and from -1
      {SUB_MODULE_COUNT, 255, {0xF2, 0xF2, 0xFF, 0xFF}}, {SUB_MODULE_COUNT, -1, {0xF2, 0xF2, 0xFF, 0xFF}},
      // clang-format on
  };
  for (const auto& c : cases) {
    FrameBuffer frame{};
    BuildSetFrame(frame, c.sub, c.value);
    EXPECT_EQ(Bytes(frame, frame + 4), c.bytes) << c.value;
  }
}

TEST(Text, ParseDecimal) {
  const struct {
    std::string text;
    std::int32_t value;
  } cases[] = {
      // clang-format off
      {"", 0}, {"abc", 0}, {"12 34", 12}, {" +12", 12}, {"-5", -5}, {"+-5", 0}, {"0x1F", 0}, {"\b7", 0},
      {"\t\n\v\f\r 12", 12},  // every white-space byte
      {"\x85 7", 0},          // a byte above 0x7F is not white space
      {"4294967296", 0},  // 2^32 wraps
      {"2147483648", INT32_MIN}, {"-2147483649", INT32_MAX}, {"99999999999999999999", 1661992959},
      // clang-format on
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

// The write loop of every backend: a try that took part of the frame is followed by one with the
// rest, until the frame went, a try took nothing (held to the time-out), the deadline (1000 ms,
// each try taking 400) passed, or a try failed.
TEST(WriteAll, PartialWritesGoOnWithTheRest) {
  // clang-format off
  const struct {
    std::vector<long> takes;  // what each try takes at most (-1: it fails)
    bool done;
    long sent;
  } cases[] = {
      {{4}, true, 4}, {{3, 9}, true, 4}, {{1, 1, 1}, true, 3}, {{2, 0}, true, 2}, {{1, -1}, false, 1}};
  // clang-format on
  for (const auto& c : cases) {
    Bytes wire;
    std::uint64_t now = 0;
    const auto write = [&, i = std::size_t{0}](const std::uint8_t* bytes, std::size_t n) mutable {
      const long took = std::min(c.takes.at(i++), static_cast<long>(n));
      wire.insert(wire.end(), bytes, bytes + std::max(took, 0L));
      now += 400;
      return took;
    };
    EXPECT_EQ(WriteAll(kClose.data(), 4, 1000, write, [&] { return now; }), c.done);
    EXPECT_EQ(wire, Bytes(kClose.begin(), kClose.begin() + c.sent));
  }
}

}  // namespace
}  // namespace valdrix
