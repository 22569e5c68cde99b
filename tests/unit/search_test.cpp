// The search: device settings and faults -> the wire, what the dialog shows, virtual time.
#include <functional>

#include "tests/unit/harness.h"

namespace valdrix {
namespace {

using Kind = RecordingDialog::Kind;
using Outcomes = Outcome::Kind;

InterfaceFaults NoReplyTo(std::uint8_t sub) {
  InterfaceFaults f;
  f.noReplyTo = sub;
  return f;
}

// A port that does not open: the fault matrix.
TEST(Search, Outcomes) {
  using O = Outcomes;
  constexpr std::uint64_t R = TotalTimeoutMs(FRAME_LENGTH);  // a read that gets no answer
  InterfaceFaults ok, silent, stream;
  silent.silent = true;
  stream.streamAfterOpen = true;
  const auto failSecondWrite = [](FakeSerial& s) { s.failWrites = {1}; };
  const auto slowStream = [](FakeSerial& s) { s.streamIntervalUs = 3000; };  // the time bound
  const struct {
    const char* name;
    InterfaceSettings settings;
    InterfaceFaults faults;
    std::function<void(FakeSerial&)> setUp;
    Outcome outcome;
    std::uint64_t lastQueryAtMs;
    const char* shown;    // rate, version, address, base, 16-bit, 8-bit ('-': empty)
    const char* enabled;  // port list, address, base, 16-bit, 8-bit
    const char* error;
  } cases[] = {
      // clang-format off
      {"found", At(57600), ok, {}, {O::Found, 57600}, 3 * R, "57600 1.02 10 44 2 1", "nyyyy", ""},
      {"found at the last rate", InterfaceSettings{100, 1, 44, 0, 115200}, ok, {}, {O::Found, 115200}, 4 * R,
       "115200 1.00 1 44 0 0", "nyyyy", ""},
      {"no version reply", InterfaceSettings{5, 31, 44, 255, 9600}, NoReplyTo(SUB_VERSION), {}, {O::Found, 9600}, 0,
       "9600 1.00 31 44 127 1", "nyyyy", ""},
      {"address outside the list", InterfaceSettings{5, 40, 44, 5, 9600}, ok, {}, {O::Found, 9600}, 0,
       "9600 0.05 - 44 2 1", "nyyyy", ""},
      {"no base reply", At(19200), NoReplyTo(SUB_BASE_ADDRESS), {}, {O::Found, 19200}, R,
       "19200 1.02 10 - 2 1", "nynyy", ""},
      {"no count reply", At(19200), NoReplyTo(SUB_MODULE_COUNT), {}, {O::Found, 19200}, R,
       "19200 1.02 10 44 - -", "nyynn", ""},
      {"endless stream after the open frame", At(9600), stream, {}, {O::Found, 9600}, 0,
       "9600 1.02 10 44 2 1", "nyyyy", ""},
      {"slow endless stream", At(9600), stream, slowStream, {O::Found, 9600}, 0,
       "9600 1.02 10 44 2 1", "nyyyy", ""},
      {"nothing answers", At(57600), silent, {}, {O::NothingAnswered}, 4 * R, "- - - - - -",
       "ynnnn", "No Valdrix found on COM3"},
      {"query cannot be written", At(57600), ok, failSecondWrite, {O::CouldNotWrite}, R,
       "19200 - - - - -", "ynnnn", "Could not write to COM3"},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Rig rig(c.settings, c.faults);
    OnInitDialog(rig.cfg);
    if (c.setUp)
      c.setUp(rig.serial);
    // What the user sees while the box is up: the box is modal.
    std::string statusAtBox;
    bool portOpenAtBox = false;
    rig.dialog.onErrorBox = [&](const std::string&) {
      statusAtBox = rig.dialog.Text(IDC_STATUS);
      portOpenAtBox = rig.serial.AnyPortOpen();
    };
    rig.dialog.Choose(IDC_PORT, "COM3");
    RecordingDialog& d = rig.dialog;

    const bool found = c.outcome.kind == O::Found;
    const Wire wire = c.outcome.kind == O::CouldNotWrite ? SearchWire(19200, false)
                                                         : SearchWire(c.outcome.rate, found);
    EXPECT_WIRE(rig.serial.Writes(), wire);
    EXPECT_EQ(rig.last.kind, c.outcome.kind);
    EXPECT_EQ(rig.last.rate, c.outcome.rate);
    std::string shown;
    for (const std::string& text :
         {d.CurrentEntry(IDC_RATE), d.Text(IDC_VERSION), d.CurrentEntry(IDC_XN_ADDRESS),
          d.Text(IDC_BASE_ADDRESS), d.Text(IDC_MODULES16), d.Text(IDC_MODULES8)})
      shown += (shown.empty() ? "" : " ") + (text.empty() ? "-" : text);
    EXPECT_EQ(shown, c.shown);
    std::string enabled;
    for (const int id : {IDC_PORT, IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8})
      enabled += d.Enabled(id) ? 'y' : 'n';
    EXPECT_EQ(enabled, c.enabled);
    for (const int id : {IDOK, IDC_RATE, IDC_VERSION})
      EXPECT_FALSE(d.Enabled(id)) << id;
    EXPECT_EQ(d.Text(IDC_STATUS), found ? STATUS_ENTER_VALUES : STATUS_SELECT_PORT);
    EXPECT_EQ(d.ErrorBoxes(),
              found ? std::vector<std::string>{} : std::vector<std::string>{c.error});
    if (!found) {
      EXPECT_EQ(statusAtBox, STATUS_SELECT_PORT);
    }
    EXPECT_EQ(portOpenAtBox, c.outcome.kind == O::CouldNotWrite);
    EXPECT_EQ(rig.cfg.interfaceOpen, found);
    EXPECT_EQ(rig.model.IsOpen(), found);
    EXPECT_FALSE(rig.serial.AnyPortOpen());

    // Each rate is shown before its query goes out, and a silent rate costs one read time-out.
    std::vector<std::string> queried;
    std::uint64_t lastQueryAt = 0;
    for (const WireEvent& e : rig.serial.Log()) {
      if (e.kind == WireEvent::Kind::Write && e.bytes == kQuery) {
        queried.push_back(std::to_string(e.rate));
        lastQueryAt = e.atMs;
      }
    }
    EXPECT_EQ(d.Texts(Kind::Select, IDC_RATE), queried);
    EXPECT_EQ(lastQueryAt, c.lastQueryAtMs);
    // Bounded even with an endless stream: the last query's read and four value reads at most,
    // then the drain's own bounds.
    EXPECT_LE(rig.serial.NowMs() - lastQueryAt, 5 * R + DRAIN_MAX_MS + R);
  }
}

// A rate the driver refuses is never tried nor reported: the line would still be at the last one.
// A refusal that only the read after the rate tells (a network server's) is named alike.
TEST(Search, RatesThePortDoesNotTakeAreSkippedAndNamed) {
  for (const bool atRead : {false, true}) {
    Rig rig(At(57600));
    rig.serial.refusedRates = {19200, 57600};
    rig.serial.refusedAtRead = atRead;
    rig.Start();
    std::vector<std::uint32_t> queriedAt;
    for (const auto& [rate, bytes] : rig.serial.Writes())
      queriedAt.push_back(rate);
    EXPECT_EQ(queriedAt, (atRead ? std::vector<std::uint32_t>{9600, 9600, 38400, 38400, 115200}
                                 : std::vector<std::uint32_t>{9600, 38400, 115200}));
    EXPECT_EQ(rig.last.ratesNotSet, (std::vector<std::string>{"19200: refused by the driver",
                                                              "57600: refused by the driver"}));
  }
}

TEST(Search, StatusStepsAndApplyDisabledOnlyAfterTheFieldsAreFilled) {
  Rig rig;
  rig.Start();
  EXPECT_EQ(rig.dialog.Texts(Kind::SetText, IDC_STATUS),
            (std::vector<std::string>{STATUS_SEARCHING, STATUS_READING, STATUS_OPENING,
                                      STATUS_READING, STATUS_ENTER_VALUES}));
  // The search's own text changes enable Apply; it is disabled after the last of them.
  const auto& events = rig.dialog.Events();
  std::size_t lastText = 0, lastDisable = 0;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].kind == Kind::SetText && events[i].id == IDC_MODULES8)
      lastText = i;
    if (events[i].kind == Kind::Disable && events[i].id == IDOK)
      lastDisable = i;
  }
  EXPECT_GT(lastDisable, lastText);
}

TEST(Search, AnAddressOutsideTheListKeepsTheEarlierSelection) {
  Rig rig(At(19200));
  rig.Start();
  rig.model.Faults().forcedValue[SUB_XN_ADDRESS] = 40;  // outside the list
  SearchInterface(rig.cfg);
  EXPECT_EQ(rig.dialog.CurrentEntry(IDC_XN_ADDRESS), "10");
}

}  // namespace
}  // namespace valdrix
