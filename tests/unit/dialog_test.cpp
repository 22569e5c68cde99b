#include "tests/unit/harness.h"

namespace valdrix {
namespace {

// The enabled state of the controls the phases of the dialog's life differ in.
struct State {
  bool port, apply, values;
  std::string status;
  int rate;  // selection of the rate list
};

State StateOf(ModelDialog& d) {
  bool values = true;
  for (const int id : kValueControls)
    values = values && d.Enabled(id);
  EXPECT_FALSE(d.Enabled(IDC_RATE));
  EXPECT_FALSE(d.Enabled(IDC_VERSION));
  EXPECT_TRUE(d.Enabled(IDCANCEL));
  return {d.Enabled(IDC_PORT), d.Enabled(IDOK), values, d.Text(IDC_STATUS), d.Selection(IDC_RATE)};
}

void ExpectState(ModelDialog& d, const State& want, const char* phase) {
  const State got = StateOf(d);
  EXPECT_EQ(got.port, want.port) << phase;
  EXPECT_EQ(got.apply, want.apply) << phase;
  EXPECT_EQ(got.values, want.values) << phase;
  EXPECT_EQ(got.status, want.status) << phase;
  EXPECT_EQ(got.rate, want.rate) << phase;
}

TEST(Dialog, FillsTheListsAtStart) {
  Rig rig(At(57600));
  rig.serial.ports = {"COM1", "COM3", "COM12", "COM2"};
  rig.serial.busy = {"COM1"};  // held by another program
  OnInitDialog(rig.cfg);
  EXPECT_EQ(rig.dialog.Entries(IDC_PORT), (std::vector<std::string>{"COM3", "COM12", "COM2"}));
  EXPECT_EQ(rig.dialog.Entries(IDC_RATE),
            (std::vector<std::string>{"9600", "19200", "38400", "57600", "115200"}));
  std::vector<std::string> addresses;
  for (int a = 1; a <= 31; ++a)
    addresses.push_back(std::to_string(a));
  EXPECT_EQ(rig.dialog.Entries(IDC_XN_ADDRESS), addresses);
  for (const int id : {IDC_PORT, IDC_RATE, IDC_XN_ADDRESS}) {
    EXPECT_EQ(rig.dialog.Selection(id), -1);
  }
  ExpectState(rig.dialog, {true, false, false, STATUS_SELECT_PORT, -1}, "opened");
  EXPECT_EQ(rig.serial.OpenCount(), 0u);
}

TEST(Dialog, ControlStatesAcrossTheDialogsLife) {
  InterfaceFaults faults;
  faults.silent = true;
  Rig rig(At(38400), faults);
  rig.serial.ports = {"COM1", "COM3"};
  OnInitDialog(rig.cfg);
  ExpectState(rig.dialog, {true, false, false, STATUS_SELECT_PORT, -1}, "opened");

  rig.dialog.Choose(IDC_PORT, "COM1");
  ExpectState(rig.dialog, {true, false, false, STATUS_SELECT_PORT, -1}, "nothing found");

  rig.model.Faults().silent = false;
  rig.dialog.Choose(IDC_PORT, "COM3");
  ExpectState(rig.dialog, {false, false, true, STATUS_ENTER_VALUES, 2}, "found");

  rig.dialog.Type(IDC_MODULES16, "4");
  ExpectState(rig.dialog, {false, true, true, STATUS_ENTER_VALUES, 2}, "edited");

  rig.dialog.Press(IDOK);
  ExpectState(rig.dialog, {false, false, true, STATUS_ENTER_VALUES, 2}, "after Apply");
  EXPECT_EQ(rig.dialog.Text(IDC_MODULES16), "4");

  // An Apply whose read-back finds nothing: the port list is usable again, the values stay
  // disabled, and Close has nothing to close.
  rig.dialog.Type(IDC_BASE_ADDRESS, "1");
  rig.model.Faults().silent = true;
  rig.dialog.Press(IDOK);
  ExpectState(rig.dialog, {true, false, false, STATUS_SELECT_PORT, -1}, "Apply, then nothing");
  const std::size_t writes = rig.serial.Writes().size();
  rig.dialog.Press(IDCANCEL);
  EXPECT_EQ(rig.serial.Writes().size(), writes);
  EXPECT_TRUE(rig.dialog.Ended());
}

TEST(Dialog, EveryConfirmedPortChoiceSearchesOnlyOnSelEndOk) {
  InterfaceFaults faults;
  faults.silent = true;
  Rig rig(At(57600), faults);
  OnInitDialog(rig.cfg);
  rig.dialog.Choose(IDC_PORT, "COM3");
  EXPECT_EQ(rig.serial.OpenCount(), 1u);
  rig.dialog.Choose(IDC_PORT, "COM3");  // the same port again
  EXPECT_EQ(rig.serial.OpenCount(), 2u);
  OnCommand(rig.cfg, IDC_PORT, 1);   // CBN_SELCHANGE
  OnCommand(rig.cfg, IDC_PORT, 10);  // CBN_SELENDCANCEL
  EXPECT_EQ(rig.serial.OpenCount(), 2u);
}

TEST(Dialog, WhatEnablesApply) {
  struct Case {
    int id;
    int code;
    bool enables;
  } cases[] = {
      {IDC_XN_ADDRESS, VALDRIX_CBN_SELENDOK, true}, {IDC_XN_ADDRESS, 1, false},
      {IDC_BASE_ADDRESS, VALDRIX_EN_CHANGE, true},  {IDC_MODULES16, VALDRIX_EN_CHANGE, true},
      {IDC_MODULES8, VALDRIX_EN_CHANGE, true},      {IDC_MODULES8, 0x0100, false},  // EN_SETFOCUS
      {IDC_PORT, VALDRIX_EN_CHANGE, false},         {IDC_VERSION, VALDRIX_EN_CHANGE, false},
  };
  for (const Case& c : cases) {
    Rig rig(At(57600));
    rig.Start();
    ASSERT_FALSE(rig.dialog.Enabled(IDOK));
    OnCommand(rig.cfg, c.id, c.code);
    EXPECT_EQ(rig.dialog.Enabled(IDOK), c.enables) << c.id << " " << c.code;
  }
}

TEST(Dialog, TypingIntoTheFields) {
  Rig rig(At(57600));
  rig.Start();
  // The 8-bit field takes any text and still enables Apply.
  rig.dialog.Type(IDC_MODULES8, "x");
  EXPECT_EQ(rig.dialog.Text(IDC_MODULES8), "x");
  EXPECT_TRUE(rig.dialog.Enabled(IDOK));
  // The others take digits only.
  rig.dialog.Type(IDC_BASE_ADDRESS, "1a2-");
  EXPECT_EQ(rig.dialog.Text(IDC_BASE_ADDRESS), "12");
  rig.dialog.Choose(IDC_XN_ADDRESS, "31");
  rig.dialog.Press(IDOK);
  // "x" counts as 0 but still makes the count go out: 2 x 2 + 0.
  EXPECT_EQ(rig.model.Settings().count, 4);
  EXPECT_EQ(rig.model.Settings().base, 12);
  EXPECT_EQ(rig.model.Settings().address, 31);
}

TEST(Dialog, ApplyAndCloseActWhateverTheNotificationCode) {
  Rig rig(At(57600));
  rig.Start();
  rig.dialog.Type(IDC_BASE_ADDRESS, "3");
  const std::size_t writes = rig.serial.Writes().size();
  OnCommand(rig.cfg, IDOK, 0x1234);
  EXPECT_EQ(rig.model.Settings().base, 3);
  EXPECT_GT(rig.serial.Writes().size(), writes);
  OnCommand(rig.cfg, IDCANCEL, 0x4321);
  EXPECT_TRUE(rig.dialog.Ended());
  EXPECT_EQ(rig.dialog.Result(), 0);
  EXPECT_EQ(Hex(rig.serial.Writes().back().second), "F2 FF 00 0D");
}

TEST(Dialog, EscapeAndTheWindowsCloseCommandCloseTheInterface) {
  for (const bool escape : {true, false}) {
    Rig rig(At(115200));
    rig.Start();
    if (escape) {
      OnCommand(rig.cfg, IDCANCEL, VALDRIX_BN_CLICKED);
    } else {
      OnClose(rig.cfg);
    }
    EXPECT_TRUE(rig.dialog.Ended());
    EXPECT_EQ(rig.dialog.Result(), 0);
    EXPECT_EQ(rig.serial.Writes().back(), (Wire::value_type{115200, {0xF2, 0xFF, 0x00, 0x0D}}));
  }
}

TEST(Dialog, NoOpenablePort) {
  Rig rig(At(57600));
  rig.serial.ports.clear();
  OnInitDialog(rig.cfg);
  EXPECT_TRUE(rig.dialog.Entries(IDC_PORT).empty());
  EXPECT_FALSE(rig.dialog.Choose(IDC_PORT, "COM3"));
  EXPECT_FALSE(rig.dialog.Press(IDOK));
  EXPECT_TRUE(rig.dialog.Press(IDCANCEL));
  EXPECT_TRUE(rig.dialog.Ended());
  EXPECT_TRUE(rig.serial.Log().empty());
}

}  // namespace
}  // namespace valdrix
