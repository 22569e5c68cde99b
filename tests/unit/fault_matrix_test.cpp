// Every write and every read of a full session, once failing and once short, and what the user
// sees and what goes out on the wire because of it.
//
// The session: the interface answers at 19200 (address 10, base 44, count 5); the search finds
// it, the user types base address 77, presses Apply (write, then read-back search) and closes.
#include <functional>
#include <map>

#include "tests/unit/harness.h"

namespace valdrix {
namespace {

// What the user saw before closing, and everything that went out.
struct Seen {
  Wire wire;
  std::vector<std::string> errors;
  std::string status;
  bool open = false;  // the interface-open flag
  std::string version, base;
};

Seen RunSession(const std::function<void(FakeSerial&)>& fault) {
  Rig rig(At(19200));
  fault(rig.serial);
  rig.Start();
  rig.dialog.Type(IDC_BASE_ADDRESS, "77");
  rig.dialog.Press(IDOK);
  Seen seen;
  seen.status = rig.dialog.Text(IDC_STATUS);
  seen.open = rig.cfg.interfaceOpen;
  seen.version = rig.dialog.Text(IDC_VERSION);
  seen.base = rig.dialog.Text(IDC_BASE_ADDRESS);
  rig.dialog.Press(IDCANCEL);
  seen.errors = rig.dialog.ErrorBoxes();
  seen.wire = rig.serial.Writes();
  EXPECT_TRUE(rig.dialog.Ended());
  EXPECT_FALSE(rig.serial.AnyPortOpen());
  EXPECT_LT(rig.serial.NowMs(), 60'000u);  // every wait is bounded
  return seen;
}

// The clean session's wire, by write index:
//   0-6   search: F0 F0 at 9600 (no answer) and 19200, four queries, open
//   7-9   Apply: address 10, base 77, count 5
//   10-16 read-back search, as 0-6
//   17    close
Wire CleanWire() {
  Wire wire = SearchWire(19200);
  wire.push_back({19200, {0xF2, 0x01, 0x0A, 0xF9}});  // set address 10
  wire.push_back({19200, {0xF2, 0xF1, 0x4D, 0x4E}});  // set base address 77
  wire.push_back({19200, {0xF2, 0xF2, 0x05, 0x05}});  // set module count 5
  const Wire again = SearchWire(19200);
  wire.insert(wire.end(), again.begin(), again.end());
  wire.push_back({19200, {0xF2, 0xFF, 0x00, 0x0D}});  // close interface
  return wire;
}
constexpr std::size_t kWrites = 18;
// Reads: 0-10 search (two interface replies, four values, drain of five), 11-25 three drains
// of Apply, 26-36 read-back search, 37-41 drain after close.
constexpr std::size_t kReads = 42;

// The clean wire's writes in the given inclusive index ranges, then what follows.
Wire Pick(std::initializer_list<std::pair<std::size_t, std::size_t>> ranges, Wire tail = {}) {
  const Wire clean = CleanWire();
  Wire wire;
  for (const auto& [from, to] : ranges)
    wire.insert(wire.end(), clean.begin() + from, clean.begin() + to + 1);
  wire.insert(wire.end(), tail.begin(), tail.end());
  return wire;
}

// The rates above 19200 tried in vain.
const Wire kNotFoundTail = {{38400, {0xF0, 0xF0}}, {57600, {0xF0, 0xF0}}, {115200, {0xF0, 0xF0}}};

// The same frames at another rate.
Wire AtRate(std::uint32_t rate, Wire wire) {
  for (auto& write : wire)
    write.first = rate;
  return wire;
}

enum class Outcome {
  Clean,
  FirstWriteError0,    // the first search ends at its query at 9600
  FirstWriteError1,    // ...at 19200
  FirstNotFound,       // the first search finds nothing
  FirstNoAddress,      // the first search gets no address: Apply sends no address frame
  FirstNoBase,         // ...no base address: the field stays disabled, nothing to apply
  FirstNoCount,        // ...no count: Apply sends no count frame
  BaseNotWritten,      // the read-back shows the old base address
  SecondWriteError10,  // the read-back search ends at its query at 9600
  SecondWriteError11,  // ...at 19200
  SecondNotFound,      // the read-back finds nothing: nothing to close
  SecondNotOpened,     // the read-back's open frame failed: nothing to close
  SecondNoVersion,     // the read-back's version got no reply
  // A failed read leaves what the interface sent in the line, and the next read takes it:
  FirstFoundTooLate,   // its reply at 19200 is read at 38400, where the search settles
  FirstNoValues,       // the version reply is read for the address, and so on: nothing shown
  FirstOnlyVersion,    // the address reply is read for the base address, and so on
  SecondFoundTooLate,  // as FirstFoundTooLate, in the read-back; the close goes out at 38400
};

Seen Expected(Outcome outcome) {
  Seen e{CleanWire(), {}, STATUS_ENTER_VALUES, true, "1.02", "77"};
  const auto firstEnded = [&e](Wire wire, const char* error) {
    e = {std::move(wire), {error}, STATUS_SELECT_PORT, false, "", ""};
  };
  const auto secondEnded = [&e](Wire wire, const char* error) {
    e.wire = std::move(wire);
    e.errors = {error};
    e.status = STATUS_SELECT_PORT;
    e.open = false;
  };
  switch (outcome) {
    case Outcome::Clean:
      break;
    case Outcome::FirstWriteError0:
      firstEnded(Pick({{0, 0}}), "Could not write to COM3");
      break;
    case Outcome::FirstWriteError1:
      firstEnded(Pick({{0, 1}}), "Could not write to COM3");
      break;
    case Outcome::FirstNotFound:
      firstEnded(Pick({{0, 1}}, kNotFoundTail), "No Valdrix found on COM3");
      break;
    case Outcome::FirstNoAddress:
      e.wire = Pick({{0, 6}, {8, 17}});
      break;
    case Outcome::FirstNoBase:
      e.wire = Pick({{0, 6}, {17, 17}});
      e.base = "";
      break;
    case Outcome::FirstNoCount:
      e.wire = Pick({{0, 8}, {10, 17}});
      break;
    case Outcome::BaseNotWritten:
      e.base = "44";
      break;
    case Outcome::SecondWriteError10:
      secondEnded(Pick({{0, 10}}), "Could not write to COM3");
      break;
    case Outcome::SecondWriteError11:
      secondEnded(Pick({{0, 11}}), "Could not write to COM3");
      break;
    case Outcome::SecondNotFound:
      secondEnded(Pick({{0, 11}}, kNotFoundTail), "No Valdrix found on COM3");
      break;
    case Outcome::SecondNotOpened:
      e.wire = Pick({{0, 16}});
      e.open = false;
      break;
    case Outcome::SecondNoVersion:
      e.version = "1.00";
      break;
    case Outcome::FirstFoundTooLate:
      // Nothing answers the queries at 38400, so no field opens for editing.
      e.wire = Pick({{0, 1}}, AtRate(38400, Pick({{1, 6}, {17, 17}})));
      e.version = "1.00";
      e.base = "";
      break;
    case Outcome::FirstNoValues:
      e.wire = Pick({{0, 6}, {17, 17}});
      e.version = "1.00";
      e.base = "";
      break;
    case Outcome::FirstOnlyVersion:
      e.wire = Pick({{0, 6}, {17, 17}});
      e.base = "";
      break;
    case Outcome::SecondFoundTooLate:
      e.wire = Pick({{0, 11}}, AtRate(38400, Pick({{1, 6}, {17, 17}})));
      e.version = "1.00";
      break;
  }
  return e;
}

void ExpectSeen(const Seen& seen, const Seen& expected, const std::string& what) {
  SCOPED_TRACE(what);
  EXPECT_WIRE(seen.wire, expected.wire);
  EXPECT_EQ(seen.errors, expected.errors);
  EXPECT_EQ(seen.status, expected.status);
  EXPECT_EQ(seen.open, expected.open);
  EXPECT_EQ(seen.version, expected.version);
  EXPECT_EQ(seen.base, expected.base);
}

// Per index, the outcome of a failing and of a short transfer; unlisted indexes are clean.
struct Faults {
  Outcome failing, shortened;
};

TEST(FaultMatrix, TheCleanSessionIsWhatTheTablesAssume) {
  Rig rig(At(19200));
  rig.Start();
  rig.dialog.Type(IDC_BASE_ADDRESS, "77");
  rig.dialog.Press(IDOK);
  rig.dialog.Press(IDCANCEL);
  std::size_t reads = 0;
  for (const WireEvent& e : rig.serial.Log())
    reads += e.kind == WireEvent::Kind::Read;
  EXPECT_WIRE(rig.serial.Writes(), CleanWire());
  EXPECT_EQ(reads, kReads);
  ExpectSeen(RunSession([](FakeSerial&) {}), Expected(Outcome::Clean), "clean");
}

TEST(FaultMatrix, EveryWriteFailingOrHeldBackByTheHandshake) {
  using O = Outcome;
  const std::map<std::size_t, Faults> table = {
      {0, {O::FirstWriteError0, O::Clean}},  // nothing answers at 9600 anyway
      {1, {O::FirstWriteError1, O::FirstNotFound}},
      {2, {O::Clean, O::Clean}},  // the read-back shows the version again
      {3, {O::FirstNoAddress, O::FirstNoAddress}},
      {4, {O::FirstNoBase, O::FirstNoBase}},
      {5, {O::FirstNoCount, O::FirstNoCount}},
      {8, {O::BaseNotWritten, O::BaseNotWritten}},
      {10, {O::SecondWriteError10, O::Clean}},
      {11, {O::SecondWriteError11, O::SecondNotFound}},
      {12, {O::Clean, O::SecondNoVersion}},  // a failed write keeps the version shown
      {16, {O::SecondNotOpened, O::Clean}},  // a held-back open frame still counts as sent
  };
  for (std::size_t i = 0; i < kWrites; ++i) {
    const auto row = table.find(i);
    const Faults f = row == table.end() ? Faults{O::Clean, O::Clean} : row->second;
    ExpectSeen(RunSession([i](FakeSerial& s) { s.failWrites = {i}; }), Expected(f.failing),
               "write " + std::to_string(i) + " fails");
    ExpectSeen(RunSession([i](FakeSerial& s) { s.blockedWrites = {i}; }), Expected(f.shortened),
               "write " + std::to_string(i) + " held back");
  }
}

TEST(FaultMatrix, EveryReadFailingOrShort) {
  using O = Outcome;
  // A short interface reply still counts by its first byte; a short value reply is no reply
  // (its last byte is lost); a drain that ends early changes nothing on the wire.
  const std::map<std::size_t, Faults> table = {
      {1, {O::FirstFoundTooLate, O::Clean}},          {2, {O::FirstNoValues, O::Clean}},
      {3, {O::FirstOnlyVersion, O::FirstNoAddress}},  {4, {O::FirstNoBase, O::FirstNoBase}},
      {5, {O::FirstNoCount, O::FirstNoCount}},        {27, {O::SecondFoundTooLate, O::Clean}},
      {28, {O::SecondNoVersion, O::SecondNoVersion}},
  };
  for (std::size_t i = 0; i < kReads; ++i) {
    const auto row = table.find(i);
    const Faults f = row == table.end() ? Faults{O::Clean, O::Clean} : row->second;
    ExpectSeen(RunSession([i](FakeSerial& s) { s.failReads = {i}; }), Expected(f.failing),
               "read " + std::to_string(i) + " fails");
    ExpectSeen(RunSession([i](FakeSerial& s) { s.shortReads = {i}; }), Expected(f.shortened),
               "read " + std::to_string(i) + " short");
  }
}

}  // namespace
}  // namespace valdrix
