// The dialog logic: what each command runs, and the lists it fills when the dialog opens.
#include "tests/unit/harness.h"

namespace valdrix {
namespace {

constexpr int kWmClose = -1;  // the window's close command rather than a WM_COMMAND

TEST(Dialog, Commands) {
  const Bytes none, apply = {0xF2, 0x01, 0x0A, 0xF9};  // Apply's first frame: address 10
  const struct {
    bool found;  // the interface was found before the command
    int id, code;
    Bytes firstWrite;
    bool applyEnabled, ended;
  } cases[] = {
      // clang-format off
      {false, IDC_PORT, VALDRIX_CBN_SELENDOK, kQuery, false, false},
      {false, IDC_PORT, 1 /* CBN_SELCHANGE */, none, false, false}, {false, IDC_PORT, 10 /* CBN_SELENDCANCEL */, none, false, false},
      {true, IDC_PORT, VALDRIX_CBN_SELENDOK, kQuery, false, false},  // the same port again
      {true, IDC_XN_ADDRESS, VALDRIX_CBN_SELENDOK, none, true, false}, {true, IDC_XN_ADDRESS, 1, none, false, false},
      {true, IDC_BASE_ADDRESS, VALDRIX_EN_CHANGE, none, true, false}, {true, IDC_MODULES16, VALDRIX_EN_CHANGE, none, true, false},
      {true, IDC_MODULES8, VALDRIX_EN_CHANGE, none, true, false}, {true, IDC_MODULES8, 0x0100 /* EN_SETFOCUS */, none, false, false},
      {true, IDC_RATE, VALDRIX_CBN_SELENDOK, none, false, false},
      {true, IDOK, VALDRIX_BN_CLICKED, apply, false, false}, {true, IDOK, 1, apply, false, false},  // whatever the code
      {true, IDCANCEL, VALDRIX_BN_CLICKED, kClose, false, true}, {true, IDCANCEL, 1, kClose, false, true},
      {true, kWmClose, 0, kClose, false, true},
      {false, IDCANCEL, VALDRIX_BN_CLICKED, none, false, true},  // nothing to close
      {false, kWmClose, 0, none, false, true},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.found) + " " + std::to_string(c.id) + " " +
                 std::to_string(c.code));
    Rig rig;
    OnInitDialog(rig.cfg);
    // Not found: chosen but not confirmed.
    c.found ? void(rig.dialog.Choose(IDC_PORT, "COM3")) : rig.dialog.SelectEntry(IDC_PORT, "COM3");
    const std::size_t first = rig.serial.Writes().size();
    c.id == kWmClose ? OnClose(rig.cfg) : OnCommand(rig.cfg, c.id, c.code);
    const Wire written = rig.WritesFrom(first);
    EXPECT_EQ(written.empty() ? none : written.front().second, c.firstWrite);
    // A close at the rate the interface was found at.
    EXPECT_TRUE(c.firstWrite != kClose || written.front().first == 57600u);
    EXPECT_EQ(rig.dialog.Enabled(IDOK), c.applyEnabled);
    EXPECT_EQ(rig.dialog.Ended(), c.ended);
    EXPECT_FALSE(rig.serial.AnyPortOpen());
  }
}

TEST(Dialog, OpensWithTheListsFilledAndNothingChosen) {
  Rig rig;
  rig.serial.ports = {"COM1", "COM3", "COM12", "COM2"};
  rig.serial.busy = {"COM1"};  // held by another program
  OnInitDialog(rig.cfg);
  EXPECT_EQ(rig.dialog.Entries(IDC_PORT), (std::vector<std::string>{"COM3", "COM12", "COM2"}));
  EXPECT_EQ(rig.dialog.Entries(IDC_RATE),
            (std::vector<std::string>{"9600", "19200", "38400", "57600", "115200"}));
  const auto& addresses = rig.dialog.Entries(IDC_XN_ADDRESS);
  ASSERT_EQ(addresses.size(), 31u);
  EXPECT_EQ(addresses[0] + addresses[9] + addresses[30], "11031");
  for (const int id : {IDC_PORT, IDC_RATE, IDC_XN_ADDRESS})
    EXPECT_EQ(rig.dialog.Selection(id), -1);
  EXPECT_EQ(rig.serial.OpenCount(), 0u);
}

}  // namespace
}  // namespace valdrix
