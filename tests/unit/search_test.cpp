#include "tests/unit/harness.h"

namespace valdrix {
namespace {

using Kind = ModelDialog::Event::Kind;

InterfaceSettings Settings(std::uint32_t rate, std::uint8_t version = 102,
                           std::uint8_t address = 10, std::uint8_t base = 44,
                           std::uint8_t count = 5) {
  InterfaceSettings s;
  s.rate = rate;
  s.version = version;
  s.address = address;
  s.base = base;
  s.count = count;
  return s;
}

TEST(Search, FindsTheInterfaceReadsEveryValueAndOpensIt) {
  Rig rig(Settings(57600));
  rig.Start();

  EXPECT_WIRE(rig.serial.Writes(), SearchWire(57600));
  ModelDialog& d = rig.dialog;
  EXPECT_EQ(d.CurrentEntry(IDC_RATE), "57600");
  EXPECT_EQ(d.Text(IDC_VERSION), "1.02");
  EXPECT_EQ(d.CurrentEntry(IDC_XN_ADDRESS), "10");
  EXPECT_EQ(d.Text(IDC_BASE_ADDRESS), "44");
  EXPECT_EQ(d.Text(IDC_MODULES16), "2");
  EXPECT_EQ(d.Text(IDC_MODULES8), "1");
  for (const int id : kValueControls)
    EXPECT_TRUE(d.Enabled(id)) << id;
  EXPECT_FALSE(d.Enabled(IDC_PORT));
  EXPECT_FALSE(d.Enabled(IDC_RATE));
  EXPECT_FALSE(d.Enabled(IDC_VERSION));
  EXPECT_FALSE(d.Enabled(IDOK));
  EXPECT_TRUE(d.Enabled(IDCANCEL));
  EXPECT_EQ(d.CurrentEntry(IDC_PORT), "COM3");
  EXPECT_EQ(d.Statuses(),
            (std::vector<std::string>{STATUS_SEARCHING, STATUS_READING, STATUS_OPENING,
                                      STATUS_READING, STATUS_ENTER_VALUES}));
  EXPECT_TRUE(d.ErrorBoxes().empty());
  EXPECT_TRUE(rig.cfg.interfaceOpen);
  EXPECT_TRUE(rig.model.IsOpen());
  // One port, opened at 9600 for the whole search and closed at its end.
  EXPECT_EQ(rig.serial.OpenCount(), 1u);
  EXPECT_EQ(rig.serial.Log().front().rate, 9600u);
  EXPECT_EQ(rig.serial.Log().back().kind, WireEvent::Kind::Close);
  EXPECT_FALSE(rig.serial.AnyPortOpen());
}

TEST(Search, EachRateIsShownAndRepaintedBeforeItsQuery) {
  Rig rig(Settings(38400));
  rig.Start();
  std::vector<std::string> shown;
  for (const auto& e : rig.dialog.Events()) {
    if (e.kind == Kind::Select && e.id == IDC_RATE)
      shown.push_back(e.text);
  }
  EXPECT_EQ(shown, (std::vector<std::string>{"9600", "19200", "38400"}));
  // The wire: the rate changes before each query goes out.
  std::vector<std::uint32_t> rates;
  for (const auto& e : rig.serial.Log()) {
    if (e.kind == WireEvent::Kind::Rate)
      rates.push_back(e.rate);
  }
  EXPECT_EQ(rates, (std::vector<std::uint32_t>{9600, 19200, 38400}));
}

TEST(Search, FoundOnlyAt115200AfterFourSilentRates) {
  Rig rig(Settings(115200));
  rig.Start();
  EXPECT_WIRE(rig.serial.Writes(), SearchWire(115200));
  EXPECT_EQ(rig.dialog.CurrentEntry(IDC_RATE), "115200");
  // Four silent rates cost their 4-byte read time-outs, no more.
  for (const auto& e : rig.serial.Log()) {
    if (e.kind == WireEvent::Kind::Write && e.rate == 115200) {
      EXPECT_EQ(e.atMs, 4u * 1004u);
      break;
    }
  }
  // ...then the answers and the drain after the open frame (about one second).
  EXPECT_GE(rig.serial.NowMs(), 4u * 1004u + 1000u);
  EXPECT_LE(rig.serial.NowMs(), 4u * 1004u + 1100u);
}

TEST(Search, VersionBox) {
  struct Case {
    const char* name;
    std::optional<std::uint8_t> value;  // none: no version reply
    const char* shown;
  } cases[] = {{"102", 102, "1.02"},
               {"100", 100, "1.00"},
               {"5", 5, "0.05"},
               {"255", 255, "2.55"},
               {"no reply", std::nullopt, "1.00"}};
  for (const Case& c : cases) {
    InterfaceFaults faults;
    if (c.value) {
      faults.forcedValue[SUB_VERSION] = *c.value;
    } else {
      faults.noReplyTo = SUB_VERSION;
    }
    Rig rig(Settings(9600), faults);
    rig.Start();
    EXPECT_EQ(rig.dialog.Text(IDC_VERSION), c.shown) << c.name;
    EXPECT_FALSE(rig.dialog.Enabled(IDC_VERSION)) << c.name;
    EXPECT_WIRE(rig.serial.Writes(), SearchWire(9600));
  }
}

TEST(Search, AddressSelectsTheEqualEntryOrNone) {
  struct Case {
    std::uint8_t address;
    int selection;
  } cases[] = {{1, 0}, {10, 9}, {31, 30}, {0, -1}, {40, -1}, {255, -1}};
  for (const Case& c : cases) {
    Rig rig(Settings(19200, 102, c.address));
    rig.Start();
    EXPECT_EQ(rig.dialog.Selection(IDC_XN_ADDRESS), c.selection) << int(c.address);
    EXPECT_TRUE(rig.dialog.Enabled(IDC_XN_ADDRESS)) << int(c.address);
  }
}

TEST(Search, AnAddressOutsideTheListKeepsTheEarlierSelection) {
  Rig rig(Settings(19200, 102, 10));
  rig.Start();
  rig.model.Faults().forcedValue[SUB_XN_ADDRESS] = 40;
  SearchInterface(rig.cfg);
  EXPECT_EQ(rig.dialog.CurrentEntry(IDC_XN_ADDRESS), "10");
}

TEST(Search, ModuleCountIsSplitIntoSixteenAndEightBitModules) {
  struct Case {
    std::uint8_t count;
    const char* m16;
    const char* m8;
  } cases[] = {{5, "2", "1"}, {0, "0", "0"}, {1, "0", "1"}, {254, "127", "0"}, {255, "127", "1"}};
  for (const Case& c : cases) {
    Rig rig(Settings(9600, 102, 1, 0, c.count));
    rig.Start();
    EXPECT_EQ(rig.dialog.Text(IDC_MODULES16), c.m16) << int(c.count);
    EXPECT_EQ(rig.dialog.Text(IDC_MODULES8), c.m8) << int(c.count);
  }
}

TEST(Search, ApplyIsDisabledAfterTheFieldsAreFilled) {
  Rig rig(Settings(9600));
  rig.Start();
  // The search's own text changes enabled Apply on the way...
  const auto& events = rig.dialog.Events();
  std::size_t enabled = events.size(), lastText = 0, disabled = events.size();
  for (std::size_t i = 0; i < events.size(); ++i) {
    const auto& e = events[i];
    if (e.kind == Kind::Enable && e.id == IDOK && enabled == events.size())
      enabled = i;
    if (e.kind == Kind::SetText && e.id == IDC_MODULES8)
      lastText = i;
    if (e.kind == Kind::Disable && e.id == IDOK)
      disabled = i;
  }
  ASSERT_LT(enabled, events.size());
  // ...and it is disabled after the last of them, not before.
  EXPECT_GT(disabled, lastText);
  EXPECT_FALSE(rig.dialog.Enabled(IDOK));
}

TEST(Search, NoAnswerAtAnyRate) {
  InterfaceFaults faults;
  faults.silent = true;
  Rig rig(Settings(57600), faults);
  rig.Start();

  Wire expected;
  for (const std::uint32_t rate : RATES)
    expected.push_back({rate, {0xF0, 0xF0}});
  EXPECT_WIRE(rig.serial.Writes(), expected);
  EXPECT_EQ(rig.serial.NowMs(), 5u * 1004u);
  EXPECT_EQ(rig.dialog.Text(IDC_STATUS), STATUS_SELECT_PORT);
  EXPECT_EQ(rig.dialog.Selection(IDC_RATE), -1);
  EXPECT_EQ(rig.dialog.ErrorBoxes(), std::vector<std::string>{"No Valdrix found on COM3"});
  EXPECT_TRUE(rig.dialog.Enabled(IDC_PORT));
  EXPECT_FALSE(rig.cfg.interfaceOpen);
  for (const int id : kValueControls) {
    EXPECT_FALSE(rig.dialog.Enabled(id));
    EXPECT_EQ(rig.dialog.Text(id), "");
  }
  EXPECT_EQ(rig.dialog.Text(IDC_VERSION), "");
  EXPECT_FALSE(rig.serial.AnyPortOpen());
}

TEST(Search, TheRateListIsClearedBeforeTheBoxIsShown) {
  InterfaceFaults faults;
  faults.silent = true;
  Rig rig(Settings(57600), faults);
  std::vector<std::string> statusAtBox;
  int rateAtBox = 0;
  rig.dialog.onErrorBox = [&](const std::string&) {
    statusAtBox.push_back(rig.dialog.Text(IDC_STATUS));
    rateAtBox = rig.dialog.Selection(IDC_RATE);
  };
  rig.Start();
  EXPECT_EQ(statusAtBox, std::vector<std::string>{STATUS_SELECT_PORT});
  EXPECT_EQ(rateAtBox, -1);
}

TEST(Search, AFailedInterfaceQueryEndsTheSearchAndOffersThePortsAgain) {
  Rig rig(At(115200));
  rig.Start();                                               // finds it; the port list is disabled
  rig.serial.failWrites = {rig.serial.Writes().size() + 1};  // the query at 19200
  SearchInterface(rig.cfg);
  EXPECT_EQ(rig.serial.Writes().size(), SearchWire(115200).size() + 2);
  EXPECT_EQ(rig.dialog.ErrorBoxes(), std::vector<std::string>{"Could not write to COM3"});
  EXPECT_EQ(rig.dialog.Text(IDC_STATUS), STATUS_SELECT_PORT);
  EXPECT_TRUE(rig.dialog.Enabled(IDC_PORT));
  EXPECT_FALSE(rig.cfg.interfaceOpen);
}

TEST(Search, ThePortCannotBeOpened) {
  Rig rig(Settings(9600));
  OnInitDialog(rig.cfg);
  rig.serial.busy = {"COM3"};  // taken by another program after the list was made
  rig.dialog.Choose(IDC_PORT, "COM3");
  EXPECT_TRUE(rig.serial.Writes().empty());
  EXPECT_EQ(rig.dialog.ErrorBoxes(), std::vector<std::string>{"Could not open COM3"});
  EXPECT_EQ(rig.dialog.Text(IDC_STATUS), STATUS_SELECT_PORT);
  EXPECT_TRUE(rig.dialog.Enabled(IDC_PORT));
}

// Which value a query asks for and the control it fills.
struct ValueQuery {
  std::uint8_t sub;
  int control;
};
const ValueQuery kQueries[] = {{SUB_VERSION, IDC_VERSION},
                               {SUB_XN_ADDRESS, IDC_XN_ADDRESS},
                               {SUB_BASE_ADDRESS, IDC_BASE_ADDRESS},
                               {SUB_MODULE_COUNT, IDC_MODULES16}};

TEST(Search, AnUnansweredQueryLeavesItsControlAndStopsNothing) {
  for (const ValueQuery& q : kQueries) {
    InterfaceFaults faults;
    faults.noReplyTo = q.sub;
    Rig rig(Settings(9600), faults);
    rig.Start();
    EXPECT_WIRE(rig.serial.Writes(), SearchWire(9600));
    EXPECT_TRUE(rig.cfg.interfaceOpen);
    if (q.sub == SUB_VERSION) {
      EXPECT_EQ(rig.dialog.Text(IDC_VERSION), "1.00");
    } else {
      EXPECT_FALSE(rig.dialog.Enabled(q.control)) << int(q.sub);
      EXPECT_EQ(rig.dialog.Text(q.control), "");
      if (q.control == IDC_XN_ADDRESS) {
        EXPECT_EQ(rig.dialog.Selection(IDC_XN_ADDRESS), -1);
      }
    }
    if (q.sub == SUB_MODULE_COUNT) {
      EXPECT_FALSE(rig.dialog.Enabled(IDC_MODULES8));
    }
    for (const ValueQuery& other : kQueries) {
      if (other.sub != q.sub && other.control != IDC_VERSION) {
        EXPECT_TRUE(rig.dialog.Enabled(other.control)) << int(q.sub) << " " << other.control;
      }
    }
  }
}

TEST(Search, AFailedSearchAfterASuccessfulOneClearsTheFlag) {
  Rig rig(Settings(9600));
  rig.Start();
  ASSERT_TRUE(rig.cfg.interfaceOpen);
  rig.model.Faults().silent = true;
  SearchInterface(rig.cfg);
  EXPECT_FALSE(rig.cfg.interfaceOpen);
  EXPECT_TRUE(rig.dialog.Enabled(IDC_PORT));  // the user can choose a port again
}

TEST(Search, AnEndlessStreamAfterTheOpenFrameDoesNotHangTheSearch) {
  struct Case {
    std::uint64_t intervalUs;
    std::uint64_t maxDrainMs;
  } cases[] = {
      {1000, 4200},  // fast: stops after 4096 bytes
      {3000, 5100},  // slow: stops after five seconds
  };
  for (const Case& c : cases) {
    InterfaceFaults faults;
    faults.streamAfterOpen = true;
    Rig rig(Settings(9600), faults);
    rig.serial.streamIntervalUs = c.intervalUs;
    rig.Start();
    EXPECT_EQ(rig.dialog.Text(IDC_STATUS), STATUS_ENTER_VALUES);
    EXPECT_TRUE(rig.cfg.interfaceOpen);
    std::uint64_t openAt = 0;
    std::size_t drained = 0;
    for (const auto& e : rig.serial.Log()) {
      if (e.kind == WireEvent::Kind::Write && e.bytes == Bytes{0xF2, 0xFF, 0x01, 0x0C}) {
        openAt = e.atMs;
      }
      if (openAt && e.kind == WireEvent::Kind::Read)
        drained += e.bytes.size();
    }
    EXPECT_LE(rig.serial.NowMs() - openAt, c.maxDrainMs) << c.intervalUs;
    EXPECT_LE(drained, DRAIN_MAX_BYTES) << c.intervalUs;
  }
}

}  // namespace
}  // namespace valdrix
