#include "tests/unit/harness.h"

namespace valdrix {
namespace {

using Kind = ModelDialog::Event::Kind;

// A found interface, ready for editing; the writes from here on are the Apply's.
struct Found : Rig {
  explicit Found(std::uint32_t rate = 57600, InterfaceFaults faults = {}) : Rig(At(rate), faults) {
    Start();
    EXPECT_TRUE(cfg.interfaceOpen);
    first = serial.Writes().size();
    firstEvent = serial.Log().size();
    dialog.ClearEvents();
  }
  // The frames the Apply wrote, without the search that follows it.
  Wire ApplyWrites() const {
    Wire w = WritesSince(first);
    const auto query = std::find(w.begin(), w.end(), Wire::value_type{9600, {0xF0, 0xF0}});
    return Wire(w.begin(), query);
  }
  std::size_t first = 0;
  std::size_t firstEvent = 0;
};

TEST(Apply, WritesTheFieldsInOrderThenReadsThemBack) {
  Found rig;
  rig.dialog.Choose(IDC_XN_ADDRESS, "12");
  rig.dialog.Type(IDC_BASE_ADDRESS, "300");
  rig.dialog.Type(IDC_MODULES16, "3");
  rig.dialog.Type(IDC_MODULES8, "1");
  ASSERT_TRUE(rig.dialog.Press(IDOK));

  Wire expected = {
      {57600, {0xF2, 0x01, 0x0C, 0xFF}},  // set address 12
      {57600, {0xF2, 0xF1, 0x2C, 0x2F}},  // set base address 300 -> 44
      {57600, {0xF2, 0xF2, 0x07, 0x07}},  // set module count 2 x 3 + 1
  };
  Wire search = SearchWire(57600);
  expected.insert(expected.end(), search.begin(), search.end());
  EXPECT_WIRE(rig.WritesSince(rig.first), expected);

  // Each set frame is drained before the next is built: write, reads until one times out.
  std::vector<WireEvent::Kind> kinds;
  for (std::size_t i = rig.firstEvent; i < rig.serial.Log().size(); ++i) {
    const WireEvent& e = rig.serial.Log()[i];
    if (e.kind == WireEvent::Kind::Write)
      kinds.push_back(e.kind);
    if (e.kind == WireEvent::Kind::Read && e.bytes.empty())
      kinds.push_back(e.kind);
    if (e.kind == WireEvent::Kind::Close)
      break;
  }
  using K = WireEvent::Kind;
  EXPECT_EQ(kinds, (std::vector<K>{K::Write, K::Read, K::Write, K::Read, K::Write, K::Read}));
  EXPECT_EQ(rig.serial.Log()[rig.firstEvent].kind, K::Open);
  EXPECT_EQ(rig.serial.Log()[rig.firstEvent].rate, 57600u);  // the rate shown in the list

  // The read-back shows what the interface now holds.
  EXPECT_EQ(rig.dialog.CurrentEntry(IDC_XN_ADDRESS), "12");
  EXPECT_EQ(rig.dialog.Text(IDC_BASE_ADDRESS), "44");
  EXPECT_EQ(rig.dialog.Text(IDC_MODULES16), "3");
  EXPECT_EQ(rig.dialog.Text(IDC_MODULES8), "1");
  EXPECT_EQ(rig.model.Settings().count, 7);
  EXPECT_FALSE(rig.dialog.Enabled(IDOK));
  EXPECT_EQ(rig.dialog.Text(IDC_STATUS), STATUS_ENTER_VALUES);

  std::vector<std::string> statuses = rig.dialog.Statuses();
  statuses.resize(7);
  EXPECT_EQ(statuses, (std::vector<std::string>{STATUS_WRITING, STATUS_READING, STATUS_WRITING,
                                                STATUS_READING, STATUS_WRITING, STATUS_READING,
                                                STATUS_ENTER_VALUES}));
}

TEST(Apply, DisablesTheFourValueControlsFirstThenRepaintsThem) {
  Found rig;
  rig.dialog.Type(IDC_BASE_ADDRESS, "7");
  rig.dialog.ClearEvents();
  rig.dialog.Press(IDOK);
  std::vector<std::pair<Kind, int>> head;
  for (const auto& e : rig.dialog.Events()) {
    head.emplace_back(e.kind, e.id);
    if (head.size() == 11)
      break;
  }
  EXPECT_EQ(head, (std::vector<std::pair<Kind, int>>{
                      {Kind::Disable, IDOK},
                      {Kind::SetText, IDC_STATUS},
                      {Kind::Repaint, IDC_STATUS},
                      {Kind::Disable, IDC_XN_ADDRESS},
                      {Kind::Disable, IDC_BASE_ADDRESS},
                      {Kind::Disable, IDC_MODULES16},
                      {Kind::Disable, IDC_MODULES8},
                      {Kind::Repaint, IDC_XN_ADDRESS},
                      {Kind::Repaint, IDC_BASE_ADDRESS},
                      {Kind::Repaint, IDC_MODULES16},
                      {Kind::Repaint, IDC_MODULES8},
                  }));
}

TEST(Apply, ModuleCountFromTheTwoFields) {
  struct Case {
    const char* m16;
    const char* m8;
    std::optional<std::uint8_t> count;  // none: no count frame
  } cases[] = {
      {"3", "1", 7},
      {"3", "", 6},
      {"", "1", 1},
      {"", "", std::nullopt},
      {"127", "1", std::nullopt},  // 255 is the count query's value: never written
      {"128", "", 0},              // 256 reduced to 8 bits
      {"", "abc", 0},              // any text counts; no digits count as 0
      {"4", "abc", 8},
      {"0", "0", 0},
      {"", "255", std::nullopt},
      {"", "-1", std::nullopt},
      {"", "256", 0},
      {"100", "100", 44},
  };
  for (const Case& c : cases) {
    Found rig;
    rig.dialog.Type(IDC_MODULES16, c.m16);
    rig.dialog.Type(IDC_MODULES8, c.m8);
    rig.dialog.Press(IDOK);
    Wire expected = {{57600, {0xF2, 0x01, 0x0A, 0xF9}}, {57600, {0xF2, 0xF1, 0x2C, 0x2F}}};
    if (c.count) {
      const std::uint8_t n = *c.count;
      expected.push_back({57600, {0xF2, 0xF2, n, static_cast<std::uint8_t>(n ^ 0xF2 ^ 0xF2)}});
    }
    EXPECT_WIRE(rig.ApplyWrites(), expected) << c.m16 << "/" << c.m8;
  }
}

TEST(Apply, ValuesGoOutAsTheirLowEightBits) {
  struct Case {
    const char* base;
    const char* address;
    Bytes baseFrame;
    Bytes addressFrame;
  } cases[] = {
      {"255", "31", {0xF2, 0xF1, 0xFF, 0xFC}, {0xF2, 0x01, 0x1F, 0xEC}},
      {"0", "1", {0xF2, 0xF1, 0x00, 0x03}, {0xF2, 0x01, 0x01, 0xF2}},
      {"256", "3", {0xF2, 0xF1, 0x00, 0x03}, {0xF2, 0x01, 0x03, 0xF0}},
  };
  for (const Case& c : cases) {
    Found rig;
    rig.dialog.Choose(IDC_XN_ADDRESS, c.address);
    rig.dialog.Type(IDC_BASE_ADDRESS, c.base);
    rig.dialog.Press(IDOK);
    const Wire w = rig.ApplyWrites();
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ(Hex(w[0].second), Hex(c.addressFrame));
    EXPECT_EQ(Hex(w[1].second), Hex(c.baseFrame));
  }
}

TEST(Apply, AnEmptyBaseFieldSendsNoBaseFrame) {
  Found rig;
  rig.dialog.Type(IDC_BASE_ADDRESS, "");
  rig.dialog.Press(IDOK);
  EXPECT_WIRE(rig.ApplyWrites(),
              (Wire{{57600, {0xF2, 0x01, 0x0A, 0xF9}}, {57600, {0xF2, 0xF2, 0x05, 0x05}}}));
}

TEST(Apply, NoAddressEntryMeansNoAddressFrame) {
  InterfaceFaults faults;
  faults.forcedValue[SUB_XN_ADDRESS] = 40;  // outside the list: nothing is selected
  Found rig(57600, faults);
  ASSERT_EQ(rig.dialog.Selection(IDC_XN_ADDRESS), -1);
  rig.dialog.Type(IDC_BASE_ADDRESS, "9");
  rig.dialog.Press(IDOK);
  EXPECT_WIRE(rig.ApplyWrites(),
              (Wire{{57600, {0xF2, 0xF1, 0x09, 0x0A}}, {57600, {0xF2, 0xF2, 0x05, 0x05}}}));
  EXPECT_EQ(rig.model.Settings().address, 10);
}

TEST(Apply, ThePortCannotBeOpened) {
  Found rig;
  rig.dialog.Type(IDC_BASE_ADDRESS, "9");
  rig.serial.busy = {"COM3"};
  std::vector<bool> valuesEnabledAtBox;
  rig.dialog.onErrorBox = [&](const std::string&) {
    for (const int id : {IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8}) {
      valuesEnabledAtBox.push_back(rig.dialog.Enabled(id));
    }
    rig.dialog.onErrorBox = nullptr;
    rig.serial.busy.clear();  // freed before the search that follows
  };
  rig.dialog.Press(IDOK);
  EXPECT_EQ(rig.dialog.ErrorBoxes(), std::vector<std::string>{"Could not open COM3"});
  EXPECT_EQ(valuesEnabledAtBox, std::vector<bool>(4, false));
  EXPECT_WIRE(rig.WritesSince(rig.first), SearchWire(57600));  // nothing but the search
  EXPECT_TRUE(rig.dialog.Enabled(IDC_BASE_ADDRESS));           // enabled again by the search
  EXPECT_EQ(rig.dialog.Text(IDC_BASE_ADDRESS), "44");
}

TEST(Apply, AFailedWriteSkipsOnlyItsDrain) {
  Found rig;
  rig.serial.failWrites = {rig.first};  // the address frame
  rig.dialog.Type(IDC_BASE_ADDRESS, "9");
  rig.dialog.Press(IDOK);
  EXPECT_WIRE(rig.ApplyWrites(), (Wire{{57600, {0xF2, 0x01, 0x0A, 0xF9}},
                                       {57600, {0xF2, 0xF1, 0x09, 0x0A}},
                                       {57600, {0xF2, 0xF2, 0x05, 0x05}}}));
  // No read between the failed write and the next one.
  const auto& log = rig.serial.Log();
  std::size_t failed = 0;
  for (std::size_t i = rig.firstEvent; i < log.size(); ++i) {
    if (log[i].kind == WireEvent::Kind::Write && !log[i].ok)
      failed = i;
  }
  ASSERT_GT(failed, 0u);
  EXPECT_EQ(log[failed + 1].kind, WireEvent::Kind::Write);
  EXPECT_TRUE(rig.dialog.ErrorBoxes().empty());
  EXPECT_EQ(rig.model.Settings().base, 9);
}

TEST(Close, SendsNothingWhenNothingWasOpened) {
  {
    Rig rig(At(57600));
    OnInitDialog(rig.cfg);
    OnClose(rig.cfg);
    EXPECT_EQ(rig.serial.OpenCount(), 0u);
    EXPECT_TRUE(rig.dialog.Ended());
    EXPECT_EQ(rig.dialog.Result(), 0);
  }
  {
    InterfaceFaults faults;
    faults.silent = true;
    Rig rig(At(57600), faults);
    rig.Start();
    const std::size_t opens = rig.serial.OpenCount();
    OnClose(rig.cfg);
    EXPECT_EQ(rig.serial.OpenCount(), opens);
    EXPECT_TRUE(rig.dialog.Ended());
  }
}

TEST(Close, SendsTheCloseFrameAtTheRateFound) {
  Found rig(57600);
  OnClose(rig.cfg);
  EXPECT_WIRE(rig.WritesSince(rig.first), (Wire{{57600, {0xF2, 0xFF, 0x00, 0x0D}}}));
  EXPECT_EQ(rig.serial.Log()[rig.firstEvent].kind, WireEvent::Kind::Open);
  EXPECT_EQ(rig.serial.Log()[rig.firstEvent].rate, 57600u);
  EXPECT_EQ(rig.serial.Log().back().kind, WireEvent::Kind::Close);
  EXPECT_EQ(rig.dialog.Statuses(), (std::vector<std::string>{STATUS_CLOSING, STATUS_READING}));
  EXPECT_FALSE(rig.model.IsOpen());
  EXPECT_TRUE(rig.dialog.Ended());
}

TEST(Close, AfterAnApplyWhoseSearchCouldNotOpenThePort) {
  Found rig(19200);
  rig.dialog.Type(IDC_BASE_ADDRESS, "9");
  const std::size_t before = rig.serial.Writes().size();
  // Apply writes; the port is taken before the search that follows it.
  WriteSettings(rig.cfg);
  rig.serial.busy = {"COM3"};
  SearchInterface(rig.cfg);
  EXPECT_EQ(rig.dialog.ErrorBoxes(), std::vector<std::string>{"Could not open COM3"});
  EXPECT_TRUE(rig.cfg.interfaceOpen);  // still set from the earlier search
  const std::size_t applied = rig.serial.Writes().size();
  EXPECT_EQ(applied - before, 3u);
  rig.serial.busy.clear();  // free again when the dialog is closed
  OnClose(rig.cfg);
  EXPECT_WIRE(rig.WritesSince(applied), (Wire{{19200, {0xF2, 0xFF, 0x00, 0x0D}}}));
}

TEST(Close, ThePortCannotBeOpened) {
  Found rig;
  rig.serial.busy = {"COM3"};
  OnClose(rig.cfg);
  EXPECT_EQ(rig.dialog.ErrorBoxes(), std::vector<std::string>{"Could not open COM3"});
  EXPECT_TRUE(rig.WritesSince(rig.first).empty());
  EXPECT_TRUE(rig.dialog.Ended());
}

TEST(Close, AFailedWriteIsNotDrained) {
  Found rig;
  rig.serial.failWrites = {rig.first};
  OnClose(rig.cfg);
  EXPECT_EQ(rig.dialog.Statuses(), std::vector<std::string>{STATUS_CLOSING});
  EXPECT_EQ(rig.serial.Log().back().kind, WireEvent::Kind::Close);
  EXPECT_EQ(rig.serial.Log()[rig.serial.Log().size() - 2].kind, WireEvent::Kind::Write);
  EXPECT_TRUE(rig.dialog.Ended());
}

}  // namespace
}  // namespace valdrix
