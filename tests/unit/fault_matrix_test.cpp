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

// Compared as text, so that a mismatch shows both whole.
std::string Str(const Seen& s) {
  std::ostringstream out;
  out << Describe(s.wire) << "errors:";
  for (const std::string& e : s.errors)
    out << " [" << e << "]";
  out << "\nstatus: " << s.status << "\nopen " << s.open << " values " << s.values << " port "
      << s.port << " version " << s.version << " base " << s.base;
  return out.str();
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
  // clang-format off
  Seen seen{{}, {}, rig.dialog.Text(IDC_STATUS), rig.cfg.interfaceOpen, true,
            rig.dialog.Enabled(IDC_PORT), rig.dialog.Text(IDC_VERSION), rig.dialog.Text(IDC_BASE_ADDRESS)};
  // clang-format on
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
  using F = Fault;
  const std::string open = "Could not open COM3", write = "Could not write to COM3",
                    none = "No Valdrix found on COM3", E = STATUS_ENTER_VALUES,
                    P = STATUS_SELECT_PORT;
  const Wire all = CleanWire();
  const Wire notFound = Pick({{0, 1, 0}, {0, 0, 38400}, {0, 0, 57600}, {0, 0, 115200}});
  const Wire notFound2 = Pick({{0, 11, 0}, {0, 0, 38400}, {0, 0, 57600}, {0, 0, 115200}});
  const struct {
    std::vector<std::pair<Fault, std::size_t>> at;
    Seen seen;  // wire, errors, status, open, values, port, version, base
  } rows[] = {
      // clang-format off
      // The first search ends without the interface: nothing to edit, apply or close.
      {{{F::FailOpen, 0}}, {{}, {open}, P, false, false, true, "", ""}},
      {{{F::FailWrite, 0}}, {Pick({{0, 0, 0}}), {write}, P, false, false, true, "", ""}},
      {{{F::FailWrite, 1}}, {Pick({{0, 1, 0}}), {write}, P, false, false, true, "", ""}},
      {{{F::HoldWrite, 1}}, {notFound, {none}, P, false, false, true, "", ""}},
      // A value the first search misses is not applied, or cannot be edited.
      {{{F::FailWrite, 3}, {F::HoldWrite, 3}, {F::ShortRead, 3}}, {Pick({{0, 6, 0}, {8, 17, 0}}), {}, E}},
      {{{F::FailWrite, 4}, {F::HoldWrite, 4}, {F::FailRead, 3}, {F::FailRead, 4}, {F::ShortRead, 4}},
       {Pick({{0, 6, 0}, {17, 17, 0}}), {}, E, true, false, false, "1.02", ""}},
      {{{F::FailWrite, 5}, {F::HoldWrite, 5}, {F::FailRead, 5}, {F::ShortRead, 5}},
       {Pick({{0, 8, 0}, {10, 17, 0}}), {}, E}},
      {{{F::FailOpen, 1}}, {Pick({{0, 6, 0}, {10, 17, 0}}), {open}, E, true, true, false, "1.02", "44"}},
      {{{F::FailWrite, 8}, {F::HoldWrite, 8}}, {all, {}, E, true, true, false, "1.02", "44"}},
      // The read-back cannot open: the interface stays open on its port, and Close reaches it.
      {{{F::FailOpen, 2}}, {Pick({{0, 9, 0}, {17, 17, 0}}), {open}, STATUS_SEARCHING, true, false}},
      {{{F::FailWrite, 10}}, {Pick({{0, 10, 0}}), {write}, P, false, false, true}},
      {{{F::FailWrite, 11}}, {Pick({{0, 11, 0}}), {write}, P, false, false, true}},
      {{{F::HoldWrite, 11}}, {notFound2, {none}, P, false, false, true}},
      {{{F::HoldWrite, 12}, {F::ShortRead, 28}}, {all, {}, E, true, true, false, "1.00"}},
      // A read-back value that does not come leaves its control disabled, as Apply left it.
      {{{F::FailWrite, 13}, {F::HoldWrite, 13}, {F::FailWrite, 14}, {F::HoldWrite, 14},
        {F::FailWrite, 15}, {F::HoldWrite, 15}, {F::FailRead, 29}, {F::ShortRead, 29},
        {F::FailRead, 30}, {F::ShortRead, 30}, {F::FailRead, 31}, {F::ShortRead, 31}}, {all, {}, E, true, false}},
      {{{F::FailWrite, 16}}, {Pick({{0, 16, 0}}), {}, E, false}},
      {{{F::FailOpen, 3}}, {Pick({{0, 16, 0}}), {open}, E}},
      // A failed read leaves the reply in the line for the next read: the search settles at
      // 38400, where nothing answers, or each value is read one query late.
      {{{F::FailRead, 1}}, {Pick({{0, 1, 0}, {1, 6, 38400}, {17, 17, 38400}}), {}, E, true, false, false, "1.00", ""}},
      {{{F::FailRead, 2}}, {Pick({{0, 6, 0}, {17, 17, 0}}), {}, E, true, false, false, "1.00", ""}},
      {{{F::FailRead, 27}}, {Pick({{0, 11, 0}, {1, 6, 38400}, {17, 17, 38400}}), {}, E, true, false, false, "1.00"}},
      {{{F::FailRead, 28}}, {all, {}, E, true, false, false, "1.00"}},
      // clang-format on
  };
  std::map<std::pair<Fault, std::size_t>, Seen> expected;
  for (const auto& row : rows) {
    for (const auto& at : row.at)
      expected[at] = row.seen;
  }
  for (int f = 0; f < 5; ++f) {
    for (std::size_t i = 0; i < kCount[f]; ++i) {
      const auto row = expected.find({static_cast<Fault>(f), i});
      EXPECT_EQ(Str(RunSession(static_cast<Fault>(f), i)),
                Str(row == expected.end() ? Seen{all, {}, E} : row->second))
          << "fault " << f << " at " << i;
    }
  }
}

}  // namespace
}  // namespace valdrix
