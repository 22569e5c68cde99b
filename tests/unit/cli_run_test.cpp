#include <sstream>

#include "cli/cli.h"
#include "cli/trace_port.h"
#include "tests/unit/harness.h"

namespace valdrix::cli {
namespace {

InterfaceSettings At9600(std::uint8_t address = 7, std::uint8_t base = 12, std::uint8_t count = 5) {
  InterfaceSettings s;
  s.rate = 9600;
  s.address = address;
  s.base = base;
  s.count = count;
  return s;
}

const Bytes kClose = {0xF2, 0xFF, 0x00, 0x0D};  // close interface

struct CliRig {
  explicit CliRig(InterfaceSettings settings = At9600(), InterfaceFaults faults = {})
      : model(settings, faults), serial(&model) {}

  int Run(Options options, bool withProgress = false) {
    return cli::Run(options, serial, {out, err, withProgress ? &progress : nullptr});
  }

  InterfaceModel model;
  FakeSerial serial;
  std::ostringstream out, err, progress;
};

Options Show(bool json = false) {
  Options o;
  o.command = Command::Show;
  o.port = "COM3";
  o.json = json;
  return o;
}

Options Set() {
  Options o = Show();
  o.command = Command::Set;
  return o;
}

TEST(CliRun, ShowPrintsWhatTheSearchReadAndClosesTheInterface) {
  CliRig rig;
  EXPECT_EQ(rig.Run(Show()), EXIT_OK);
  EXPECT_EQ(rig.out.str(),
            "port:                COM3\n"
            "rate:                9600\n"
            "version:             1.02\n"
            "XpressNet address:   7\n"
            "module base address: 12\n"
            "16-bit modules:      2\n"
            "8-bit modules:       1\n");
  EXPECT_EQ(rig.err.str(), "");
  Wire expected = SearchWire(9600);
  expected.push_back({9600, kClose});
  EXPECT_WIRE(rig.serial.Writes(), expected);
  EXPECT_FALSE(rig.model.IsOpen());
  EXPECT_FALSE(rig.serial.AnyPortOpen());
}

TEST(CliRun, ShowAsJsonWithMissingValuesAsNull) {
  InterfaceFaults faults;
  faults.noReplyTo = SUB_BASE_ADDRESS;
  InterfaceSettings settings = At9600();
  settings.rate = 38400;
  CliRig rig(settings, faults);
  EXPECT_EQ(rig.Run(Show(true)), EXIT_OK);
  EXPECT_EQ(rig.out.str(),
            "{\"port\":\"COM3\",\"rate\":38400,\"version\":\"1.02\",\"address\":7,\"base\":null,"
            "\"modules16\":2,\"modules8\":1}\n");
}

TEST(CliRun, JsonEscapesThePortName) {
  std::ostringstream out;
  Report r;
  r.port = "a\"b\\c\x01";
  PrintReport(r, true, out);
  EXPECT_EQ(out.str(),
            "{\"port\":\"a\\\"b\\\\c\\u0001\",\"rate\":null,\"version\":null,\"address\":null,"
            "\"base\":null,\"modules16\":null,\"modules8\":null}\n");
}

TEST(CliRun, SetWritesOnlyWhatWasGivenReadsBackAndCloses) {
  CliRig rig;
  Options o = Set();
  o.address = 9;
  o.modules16 = 3;  // the 8-bit count keeps the 1 read back: 2 x 3 + 1
  ASSERT_EQ(rig.Run(o), EXIT_OK) << rig.err.str();

  Wire expected = SearchWire(9600);
  expected.push_back({9600, {0xF2, 0x01, 0x09, 0xFA}});  // set address 9
  expected.push_back({9600, {0xF2, 0xF1, 0x0C, 0x0F}});  // base address as read: 12
  expected.push_back({9600, {0xF2, 0xF2, 0x07, 0x07}});  // module count 7
  for (const auto& w : SearchWire(9600))
    expected.push_back(w);  // read-back
  expected.push_back({9600, kClose});
  EXPECT_WIRE(rig.serial.Writes(), expected);
  EXPECT_EQ(rig.model.Settings().address, 9);
  EXPECT_EQ(rig.model.Settings().count, 7);
  EXPECT_FALSE(rig.model.IsOpen());
  EXPECT_EQ(rig.out.str(),
            "port:                COM3\n"
            "rate:                9600\n"
            "version:             1.02\n"
            "XpressNet address:   9\n"
            "module base address: 12\n"
            "16-bit modules:      3\n"
            "8-bit modules:       1\n");
  EXPECT_EQ(rig.err.str(), "");
}

TEST(CliRun, ACountThatReachesTheQueryByteWithTheReadValueIsRefusedBeforeWriting) {
  CliRig rig(At9600(7, 12, 1));  // one 8-bit module stored
  Options o = Set();
  o.modules16 = 127;  // 2 x 127 + 1 = 255
  EXPECT_EQ(rig.Run(o), EXIT_USAGE);
  EXPECT_NE(rig.err.str().find("--modules16"), std::string::npos);
  Wire expected = SearchWire(9600);
  expected.push_back({9600, kClose});  // nothing written, the interface closed again
  EXPECT_WIRE(rig.serial.Writes(), expected);
  EXPECT_EQ(rig.out.str(), "");
}

TEST(CliRun, AValueTheInterfaceDidNotReportCannotBeSet) {
  InterfaceFaults faults;
  faults.noReplyTo = SUB_XN_ADDRESS;
  CliRig rig(At9600(), faults);
  Options o = Set();
  o.base = 3;
  o.address = 4;
  EXPECT_EQ(rig.Run(o), EXIT_CANNOT_WRITE);
  EXPECT_NE(rig.err.str().find("--address"), std::string::npos);
  Wire expected = SearchWire(9600);
  expected.push_back({9600, kClose});
  EXPECT_WIRE(rig.serial.Writes(), expected);
  EXPECT_EQ(rig.model.Settings().base, 12);
}

struct Failure {
  const char* name;
  void (*arrange)(CliRig&);
  std::string error;
  int status;
  std::size_t writes;
};

TEST(CliRun, EachErrorBoxGoesToStderrWithItsStatusAndNothingIsPrinted) {
  const Failure cases[] = {
      {"busy port", [](CliRig& r) { r.serial.busy.insert("COM3"); }, "Could not open COM3\n",
       EXIT_CANNOT_OPEN, 0},
      {"write fails", [](CliRig& r) { r.serial.failWrites.insert(0); }, "Could not write to COM3\n",
       EXIT_CANNOT_WRITE, 1},
      {"silent interface", [](CliRig& r) { r.model.Faults().silent = true; },
       "No Valdrix found on COM3\n", EXIT_NOT_FOUND, 5},
  };
  for (const Failure& c : cases) {
    CliRig rig;
    c.arrange(rig);
    Options o = Set();
    o.address = 3;
    EXPECT_EQ(rig.Run(o), c.status) << c.name;
    EXPECT_EQ(rig.err.str(), c.error) << c.name;
    EXPECT_EQ(rig.out.str(), "") << c.name;
    // No set frame, and no close frame: the interface was never opened.
    EXPECT_EQ(rig.serial.Writes().size(), c.writes) << c.name;
    EXPECT_FALSE(rig.serial.AnyPortOpen()) << c.name;
  }
}

TEST(CliRun, ProgressShowsStepsAndRatesOnlyWhenAsked) {
  InterfaceSettings settings = At9600();
  settings.rate = 19200;
  CliRig quiet(settings);
  EXPECT_EQ(quiet.Run(Show()), EXIT_OK);
  EXPECT_EQ(quiet.err.str(), "");

  CliRig rig(settings);
  EXPECT_EQ(rig.Run(Show(), true), EXIT_OK);
  EXPECT_EQ(rig.progress.str(),
            "Status: Searching...\n"
            "  trying 9600\n"
            "  trying 19200\n"
            "Status: Reading...\n"
            "Status: Opening Valdrix...\n"
            "Status: Reading...\n"
            "Status: Enter values and press Apply\n"
            "Status: Closing Valdrix...\n"
            "Status: Reading...\n");
}

TEST(CliRun, ListPrintsThePortsThatOpen) {
  CliRig rig;
  rig.serial.ports = {"COM1", "COM3", "COM12"};
  rig.serial.busy = {"COM1"};
  Options o;
  o.command = Command::List;
  EXPECT_EQ(rig.Run(o), EXIT_OK);
  EXPECT_EQ(rig.out.str(), "COM3\nCOM12\n");
  std::ostringstream json;
  PrintPorts({"COM3", "/dev/ttyUSB0"}, true, json);
  EXPECT_EQ(json.str(), "[\"COM3\",\"/dev/ttyUSB0\"]\n");
}

TEST(CliTrace, LogsEveryCallWithRateAndVirtualTimeAndChangesNothing) {
  InterfaceSettings settings = At9600();
  settings.rate = 19200;
  InterfaceModel model(settings);
  FakeSerial serial(&model);
  std::ostringstream trace;
  TraceBackend traced(serial, trace, [&serial] { return serial.NowUs(); });
  std::ostringstream out, err;
  Options o = Show();
  ASSERT_EQ(cli::Run(o, traced, {out, err, nullptr}), EXIT_OK);
  Wire expected = SearchWire(19200);
  expected.push_back({19200, kClose});
  EXPECT_WIRE(serial.Writes(), expected);  // the wrapper forwards, adds nothing

  std::vector<std::string> lines;
  std::istringstream in(trace.str());
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  ASSERT_GE(lines.size(), 8u) << trace.str();
  EXPECT_EQ(lines[0], "+0.000 s   9600  open COM3");
  EXPECT_EQ(lines[1], "+0.000 s   9600  rate 9600");
  EXPECT_EQ(lines[2], "+0.000 s   9600  > F0 F0");
  // Nothing answers at 9600: the 4-byte read costs its time-out, 1004 ms.
  EXPECT_EQ(lines[3], "+1.004 s   9600  < (nothing: time-out)");
  EXPECT_EQ(lines[4], "+1.004 s  19200  rate 19200");
  EXPECT_EQ(lines[5], "+1.004 s  19200  > F0 F0");
  EXPECT_EQ(lines[6].substr(lines[6].find("<")), "< 02 10 66 74");
  EXPECT_EQ(lines.back().substr(lines.back().find("close")), "close COM3");
  // Every write appears, in order.
  std::size_t writes = 0;
  for (const auto& line : lines)
    writes += line.find("  > ") != std::string::npos;
  EXPECT_EQ(writes, expected.size());
}

TEST(CliTrace, FailuresAndShortReadsAreNamed) {
  InterfaceModel model(At9600());
  FakeSerial serial(&model);
  serial.shortReads.insert(0);
  serial.failWrites.insert(1);
  std::ostringstream trace;
  TraceBackend traced(serial, trace, [&serial] { return serial.NowUs(); });
  EXPECT_EQ(traced.OpenPort("COM9", 9600), nullptr);
  auto port = traced.OpenPort("COM3", 9600);
  ASSERT_TRUE(port);
  const std::uint8_t query[] = {0xF0, 0xF0};
  EXPECT_TRUE(port->WriteFrame(query, 2));
  std::uint8_t reply[4] = {};
  const ReadResult r = port->ReadFrame(reply, 4);
  EXPECT_EQ(r.count, 3u);
  EXPECT_FALSE(port->WriteFrame(query, 2));
  port.reset();
  const std::string text = trace.str();
  EXPECT_NE(text.find("open COM9 failed"), std::string::npos) << text;
  EXPECT_NE(text.find("< 02 10 66  (3 of 4 bytes: time-out)"), std::string::npos) << text;
  EXPECT_NE(text.find("> F0 F0  (write failed)"), std::string::npos) << text;
  EXPECT_NE(text.find("close COM3"), std::string::npos) << text;
}

}  // namespace
}  // namespace valdrix::cli
