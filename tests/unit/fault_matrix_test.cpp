// What the user sees after a failure: every open, write and read of a full session failing, and
// every write held back and every read short. The session: the interface answers at 19200
// (address 10, base 44, count 5); the search finds it, the user types base address 77, presses
// Apply (write, then read-back search) and closes.
#include <map>

#include "tests/unit/harness.h"

namespace valdrix {
namespace {

struct Seen {
  Wire wire;
  std::vector<std::string> errors;
  std::string status;
  bool open = true;    // the interface-open flag before closing
  bool values = true;  // the four value controls enabled
  bool port = false;   // the port list enabled
  std::string version = "1.02", base = "77";
};

bool operator==(const Seen& a, const Seen& b) {
  return a.wire == b.wire && a.errors == b.errors && a.status == b.status && a.open == b.open &&
         a.values == b.values && a.port == b.port && a.version == b.version && a.base == b.base;
}
std::ostream& operator<<(std::ostream& out, const Seen& s) {
  out << "\n" << Describe(s.wire) << "errors:";
  for (const std::string& e : s.errors)
    out << " [" << e << "]";
  return out << "\nstatus: " << s.status << "\nopen " << s.open << " values " << s.values
             << " port " << s.port << " version " << s.version << " base " << s.base;
}

enum class Fault { FailOpen, FailWrite, HoldWrite, FailRead, ShortRead };

Seen RunSession(Fault fault, std::size_t index) {
  Rig rig(At(19200));
  std::set<std::size_t>* sets[] = {&rig.serial.failOpens, &rig.serial.failWrites,
                                   &rig.serial.blockedWrites, &rig.serial.failReads,
                                   &rig.serial.shortReads};
  sets[static_cast<int>(fault)]->insert(index);
  rig.Start();
  rig.dialog.Type(IDC_BASE_ADDRESS, "77");
  rig.dialog.Press(IDOK);
  Seen seen{{},
            {},
            rig.dialog.Text(IDC_STATUS),
            rig.cfg.interfaceOpen,
            true,
            rig.dialog.Enabled(IDC_PORT),
            rig.dialog.Text(IDC_VERSION),
            rig.dialog.Text(IDC_BASE_ADDRESS)};
  for (const int id : kValueControls)
    seen.values = seen.values && rig.dialog.Enabled(id);
  rig.dialog.Press(IDCANCEL);
  seen.errors = rig.dialog.ErrorBoxes();
  seen.wire = rig.serial.Writes();
  EXPECT_TRUE(rig.dialog.Ended());
  EXPECT_FALSE(rig.serial.AnyPortOpen());
  EXPECT_LT(rig.serial.NowMs(), 60'000u);  // every wait is bounded
  return seen;
}

// The clean session's writes: 0-6 search (F0 F0 at 9600 and 19200, four queries, open), 7-9
// Apply (address 10, base 77, count 5), 10-16 read-back search, 17 close. Reads: 0-10 search,
// 11-25 Apply's three drains, 26-36 read-back, 37-41 close's drain.
Wire CleanWire() {
  Wire wire = SearchWire(19200);
  wire.push_back({19200, {0xF2, 0x01, 0x0A, 0xF9}});
  wire.push_back({19200, {0xF2, 0xF1, 0x4D, 0x4E}});
  wire.push_back({19200, {0xF2, 0xF2, 0x05, 0x05}});
  const Wire again = SearchWire(19200);
  wire.insert(wire.end(), again.begin(), again.end());
  wire.push_back({19200, kClose});
  return wire;
}
constexpr std::size_t kCount[] = {4, 18, 18, 42, 42};  // opens, writes, writes, reads, reads

// The clean wire's writes in the inclusive index ranges, each at the rate given (0: as it was).
Wire Pick(std::initializer_list<std::tuple<std::size_t, std::size_t, std::uint32_t>> ranges) {
  const Wire clean = CleanWire();
  Wire wire;
  for (const auto& [from, to, rate] : ranges) {
    for (std::size_t i = from; i <= to; ++i)
      wire.push_back({rate ? rate : clean[i].first, clean[i].second});
  }
  return wire;
}

TEST(FaultMatrix, WhatTheUserSeesAfterEachFailure) {
  const std::string open = "Could not open COM3", write = "Could not write to COM3",
                    none = "No Valdrix found on COM3";
  const Seen clean{CleanWire(), {}, STATUS_ENTER_VALUES};
  const auto with = [&](Wire wire, auto change) {
    Seen s = clean;
    s.wire = std::move(wire);
    change(s);
    return s;
  };
  // The first search ends without the interface: nothing to edit, apply or close.
  const auto firstEnded = [&](Wire wire, const std::string& error) {
    return Seen{std::move(wire), {error}, STATUS_SELECT_PORT, false, false, true, "", ""};
  };
  // The read-back ends without it: the values stay disabled, the ports are offered again.
  const auto secondEnded = [&](Wire wire, const std::string& error) {
    return with(std::move(wire), [&](Seen& s) {
      s = {s.wire, {error}, STATUS_SELECT_PORT, false, false, true, "1.02", "77"};
    });
  };
  const Wire notFound = Pick({{0, 1, 0}, {0, 0, 38400}, {0, 0, 57600}, {0, 0, 115200}});
  const Wire notFound2 = Pick({{0, 11, 0}, {0, 0, 38400}, {0, 0, 57600}, {0, 0, 115200}});
  const Seen noAddress = with(Pick({{0, 6, 0}, {8, 17, 0}}), [](Seen&) {});
  const Seen noBase = with(Pick({{0, 6, 0}, {17, 17, 0}}), [](Seen& s) {
    s.values = false;
    s.base = "";
  });
  const Seen noCount = with(Pick({{0, 8, 0}, {10, 17, 0}}), [](Seen&) {});
  const Seen baseKept = with(CleanWire(), [](Seen& s) { s.base = "44"; });
  const Seen noVersion2 = with(CleanWire(), [](Seen& s) { s.version = "1.00"; });
  // A read-back value that does not come leaves its control disabled, as Apply left it.
  const Seen valueMissing2 = with(CleanWire(), [](Seen& s) { s.values = false; });
  // A failed read leaves the interface's reply in the line for the next read: the search
  // settles at 38400, where nothing answers its queries.
  const Seen tooLate = with(Pick({{0, 1, 0}, {1, 6, 38400}, {17, 17, 38400}}), [](Seen& s) {
    s = {s.wire, {}, STATUS_ENTER_VALUES, true, false, false, "1.00", ""};
  });
  const Seen tooLate2 = with(Pick({{0, 11, 0}, {1, 6, 38400}, {17, 17, 38400}}), [](Seen& s) {
    s.values = false;
    s.version = "1.00";
  });
  const Seen shiftedReplies = with(Pick({{0, 6, 0}, {17, 17, 0}}), [](Seen& s) {
    s = {s.wire, {}, STATUS_ENTER_VALUES, true, false, false, "1.00", ""};
  });
  std::map<std::pair<Fault, std::size_t>, Seen> rows = {
      {{Fault::FailOpen, 0}, firstEnded({}, open)},
      {{Fault::FailOpen, 1},
       with(Pick({{0, 6, 0}, {10, 17, 0}}),
            [&](Seen& s) {
              s.errors = {open};
              s.base = "44";
            })},
      // The read-back cannot open: the interface stays open on its port, and Close reaches it.
      {{Fault::FailOpen, 2},
       with(Pick({{0, 9, 0}, {17, 17, 0}}),
            [&](Seen& s) {
              s = {s.wire, {open}, STATUS_SEARCHING, true, false, false, "1.02", "77"};
            })},
      {{Fault::FailOpen, 3}, with(Pick({{0, 16, 0}}), [&](Seen& s) { s.errors = {open}; })},
      {{Fault::FailWrite, 0}, firstEnded(Pick({{0, 0, 0}}), write)},
      {{Fault::FailWrite, 1}, firstEnded(Pick({{0, 1, 0}}), write)},
      {{Fault::HoldWrite, 1}, firstEnded(notFound, none)},
      {{Fault::FailWrite, 3}, noAddress},
      {{Fault::HoldWrite, 3}, noAddress},
      {{Fault::FailWrite, 4}, noBase},
      {{Fault::HoldWrite, 4}, noBase},
      {{Fault::FailWrite, 5}, noCount},
      {{Fault::HoldWrite, 5}, noCount},
      {{Fault::FailWrite, 8}, baseKept},
      {{Fault::HoldWrite, 8}, baseKept},
      {{Fault::FailWrite, 10}, secondEnded(Pick({{0, 10, 0}}), write)},
      {{Fault::FailWrite, 11}, secondEnded(Pick({{0, 11, 0}}), write)},
      {{Fault::HoldWrite, 11}, secondEnded(notFound2, none)},
      {{Fault::HoldWrite, 12}, noVersion2},  // a failed write keeps the version shown
      {{Fault::FailWrite, 16}, with(Pick({{0, 16, 0}}), [](Seen& s) { s.open = false; })},
      {{Fault::FailRead, 1}, tooLate},
      {{Fault::FailRead, 2}, shiftedReplies},
      {{Fault::FailRead, 3},
       with(Pick({{0, 6, 0}, {17, 17, 0}}),
            [](Seen& s) {
              s.values = false;
              s.base = "";
            })},
      {{Fault::ShortRead, 3}, noAddress},
      {{Fault::FailRead, 4}, noBase},
      {{Fault::ShortRead, 4}, noBase},
      {{Fault::FailRead, 5}, noCount},
      {{Fault::ShortRead, 5}, noCount},
      {{Fault::FailRead, 27}, tooLate2},
      {{Fault::FailRead, 28},
       with(CleanWire(),
            [](Seen& s) {
              s.version = "1.00";  // and every later reply is read one query late
              s.values = false;
            })},
      {{Fault::ShortRead, 28}, noVersion2},
  };
  for (const std::size_t i : {13, 14, 15}) {
    rows[{Fault::FailWrite, i}] = rows[{Fault::HoldWrite, i}] = valueMissing2;
    rows[{Fault::FailRead, i + 16}] = rows[{Fault::ShortRead, i + 16}] = valueMissing2;
  }
  for (int f = 0; f < 5; ++f) {
    for (std::size_t i = 0; i < kCount[f]; ++i) {
      const auto row = rows.find({static_cast<Fault>(f), i});
      EXPECT_EQ(RunSession(static_cast<Fault>(f), i), row == rows.end() ? clean : row->second)
          << "fault " << f << " at " << i;
    }
  }
}

}  // namespace
}  // namespace valdrix
