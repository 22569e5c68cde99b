// Whatever text ends up in the fields (pasted, or set by another program, which a digits-only edit
// does not stop), Apply sends exactly the frames their rules make of it and nothing more.
#include <optional>

#include "tests/unit/harness.h"

namespace valdrix {
namespace {

// Found at 57600 holding address 10, base 44, count 5; the texts are put in place as they are.
struct Applied {
  Applied(const std::string& base, const std::string& m16, const std::string& m8) {
    rig.Start();
    rig.dialog.SetText(IDC_BASE_ADDRESS, base);
    rig.dialog.SetText(IDC_MODULES16, m16);
    rig.dialog.SetText(IDC_MODULES8, m8);
    const std::size_t before = rig.serial.Writes().size();
    rig.dialog.Press(IDOK);
    // Apply's frames are those before the read-back's first interface query.
    for (const auto& write : rig.WritesSince(before)) {
      if (write.second == Bytes{0xF0, 0xF0})
        break;
      wire.push_back(write);
    }
  }
  Rig rig{At(57600)};
  Wire wire;
};

const std::pair<std::uint32_t, Bytes> kAddress10 = {57600, {0xF2, 0x01, 0x0A, 0xF9}};

std::pair<std::uint32_t, Bytes> Set(std::uint8_t sub, std::uint8_t value) {
  return {57600, {0xF2, sub, value, static_cast<std::uint8_t>(0xF2 ^ sub ^ value)}};
}

TEST(BadInput, BaseAddressTexts) {
  struct Case {
    std::string text;
    std::uint8_t sent;
  } cases[] = {
      {"4294967296", 0},      // 2^32 wraps to 0
      {"4294967297", 1},      //
      {"4294967596", 44},     // 2^32 + 300
      {"2147483648", 0},      // one past the largest int
      {"2147483647", 255},    // goes out as the base-address query's bytes
      {"-2147483649", 255},   // one below the smallest int
      {"99999999999", 255},   //
      {" +12", 12},           // leading space and a plus sign
      {"\t\n\v\f\r 12", 12},  // every white-space byte
      {"-1", 255},            //
      {"+-5", 0},             // a sign not followed by a digit
      {"- 5", 0},             //
      {"12 34", 12},          // digits up to the first non-digit
      {"\xA0"
       "12",
       0},                                 // a byte above 0x7F is not white space
      {"0x1F", 0},                         // no hexadecimal
      {"  ", 0},                           // not empty, so the frame goes out, with 0
      {"\xE0\xA5\xA7", 0},                 // a digit of another script
      {std::string(253, '0') + "79", 7},   // the 255th character never arrives
      {std::string(254, ' ') + "5", 0},    // ...nor one after 254 spaces
      {std::string(252, ' ') + "42", 42},  // exactly 254 characters
      {"1" + std::string(299, '0'), 0},    // 10^253 has eight factors of 2
  };
  for (const Case& c : cases) {
    Applied a(c.text, "", "");
    EXPECT_WIRE(a.wire, (Wire{kAddress10, Set(SUB_BASE_ADDRESS, c.sent)}))
        << "\"" << c.text.substr(0, 20) << "\"";
  }
}

TEST(BadInput, ModuleCountTexts) {
  struct Case {
    std::string m16, m8;
    std::optional<std::uint8_t> sent;  // none: no count frame
  } cases[] = {
      {"2147483648", "", 0},                 // twice 2^31 wraps to 0
      {"-1", "", 0xFE},                      //
      {"-1", "1", std::nullopt},             // 0xFE + 1 is the query's value: not written
      {"4294967295", "abc", 0xFE},           // -1 again; the 8-bit text counts 0
      {"", "3x", 3},                         //
      {"1", "-1", 1},                        // 2 + 255 wraps to 1
      {"", " ", 0},                          // not empty: the frame goes out
      {"", "\xFF", 0},                       //
      {"", "-0", 0},                         //
      {std::string(254, '9'), "", 0xFE},     // 254 nines
      {std::string(300, '9'), "", 0xFE},     // the same once cut to 254
      {"", "1" + std::string(299, '0'), 0},  // 10^253, cut to 254 characters
      {"  +7", "\t1", 15},                   //
  };
  for (const Case& c : cases) {
    Applied a("", c.m16, c.m8);
    Wire expected = {kAddress10};
    if (c.sent)
      expected.push_back(Set(SUB_MODULE_COUNT, *c.sent));
    EXPECT_WIRE(a.wire, expected) << "\"" << c.m16.substr(0, 20) << "\" / \"" << c.m8 << "\"";
  }
}

TEST(BadInput, EmptyFieldsSendOnlyTheAddress) {
  Applied a("", "", "");
  EXPECT_WIRE(a.wire, Wire{kAddress10});
  // The read-back still finds the interface and shows what it holds.
  EXPECT_EQ(a.rig.dialog.Text(IDC_BASE_ADDRESS), "44");
  EXPECT_EQ(a.rig.dialog.Text(IDC_STATUS), STATUS_ENTER_VALUES);
  EXPECT_TRUE(a.rig.dialog.ErrorBoxes().empty());
}

TEST(BadInput, TypingKeepsOnlyWhatEachFieldAccepts) {
  Rig rig(At(57600));
  rig.Start();
  const std::size_t before = rig.serial.Writes().size();
  rig.dialog.Type(IDC_BASE_ADDRESS, " -1 2x");  // digits only: "12"
  rig.dialog.Type(IDC_MODULES16, "+3");         // digits only: "3"
  rig.dialog.Type(IDC_MODULES8, " -1");         // any text: 2 * 3 - 1
  EXPECT_EQ(rig.dialog.Text(IDC_BASE_ADDRESS), "12");
  EXPECT_EQ(rig.dialog.Text(IDC_MODULES16), "3");
  EXPECT_EQ(rig.dialog.Text(IDC_MODULES8), " -1");
  rig.dialog.Press(IDOK);
  const Wire all = rig.WritesSince(before);
  ASSERT_GE(all.size(), 3u);
  EXPECT_WIRE(Wire(all.begin(), all.begin() + 3),
              (Wire{kAddress10, Set(SUB_BASE_ADDRESS, 12), Set(SUB_MODULE_COUNT, 5)}));
}

}  // namespace
}  // namespace valdrix
