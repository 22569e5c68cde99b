// Apply: the field texts -> the frames written, then the read-back. That each frame is drained
// before the next goes out shows in the fault matrix, where every read has its place.
#include "tests/unit/harness.h"

namespace valdrix {
namespace {

Bytes Set(std::uint8_t sub, int value) {
  FrameBuffer frame{};
  BuildSetFrame(frame, sub, value);
  return Bytes(frame, frame + 4);
}

TEST(Apply, FieldTextsToFrames) {
  const std::string longZeros = std::string(253, '0') + "79";  // the 255th character is cut
  const struct {
    const char* address;  // the entry chosen; nullptr: the list has no current entry
    std::string base, m16, m8;
    std::vector<Bytes> frames;
  } cases[] = {
      {"12", "300", "3", "1", {Set(0x01, 12), Set(0xF1, 44), Set(0xF2, 7)}},
      {"31", "", "3", "", {Set(0x01, 31), Set(0xF2, 6)}},
      {"31", "", "1", "3", {Set(0x01, 31), Set(0xF2, 5)}},  // a sum: 2 | 3 would be 3
      {"1", "255", "", "1", {Set(0x01, 1), {0xF2, 0xF1, 0xFF, 0xFC}, Set(0xF2, 1)}},
      {"10", "0", "", "", {Set(0x01, 10), Set(0xF1, 0)}},
      {"10", longZeros, "127", "1", {Set(0x01, 10), Set(0xF1, 7)}},  // 255: no count frame
      {"10", " 7x", "128", "", {Set(0x01, 10), Set(0xF1, 7), Set(0xF2, 0)}},
      {"10", "4294967340", "", "abc", {Set(0x01, 10), Set(0xF1, 44), Set(0xF2, 0)}},
      {"10", "-1", "2", "x", {Set(0x01, 10), Set(0xF1, 255), Set(0xF2, 4)}},
      {nullptr, "9", "1", "1", {Set(0xF1, 9), Set(0xF2, 3)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.base + "|" + c.m16 + "|" + c.m8);
    InterfaceFaults faults;
    if (!c.address)
      faults.forcedValue[SUB_XN_ADDRESS] = 40;  // matches no entry
    Rig rig(At(57600), faults);
    rig.Start();
    if (c.address)
      rig.dialog.Choose(IDC_XN_ADDRESS, c.address);
    // Set as they are, as a paste or another program could: digits-only edits do not stop that.
    rig.dialog.SetText(IDC_BASE_ADDRESS, c.base);
    rig.dialog.SetText(IDC_MODULES16, c.m16);
    rig.dialog.SetText(IDC_MODULES8, c.m8);
    const std::size_t first = rig.serial.Writes().size();
    ASSERT_TRUE(rig.dialog.Press(IDOK));

    Wire expected;
    for (const Bytes& f : c.frames)
      expected.push_back({57600, f});
    const Wire readBack = SearchWire(57600);
    expected.insert(expected.end(), readBack.begin(), readBack.end());
    EXPECT_WIRE(rig.WritesFrom(first), expected);
    EXPECT_EQ(rig.last.kind, Outcome::Kind::Found);
    EXPECT_FALSE(rig.dialog.Enabled(IDOK));
  }
}

TEST(Apply, AReadBackThatFindsNothingLeavesApplyDisabled) {
  Rig rig(At(57600));
  rig.Start();
  rig.dialog.Type(IDC_BASE_ADDRESS, "7");
  ASSERT_TRUE(rig.dialog.Enabled(IDOK));
  rig.model.Faults().silent = true;  // the interface is gone: the writes go out, nothing answers
  ASSERT_TRUE(rig.dialog.Press(IDOK));
  EXPECT_EQ(rig.last.kind, Outcome::Kind::NothingAnswered);
  EXPECT_FALSE(rig.dialog.Enabled(IDOK));
}

}  // namespace
}  // namespace valdrix
