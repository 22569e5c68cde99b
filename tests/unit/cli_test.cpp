// valdrix-config over the fake port: the command line, what each ending prints and returns.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sstream>

#include "cli/cli.h"
#include "cli/trace_port.h"
#include "interrupt/interrupt.h"
#include "tests/unit/harness.h"

namespace valdrix::cli {
namespace {

TEST(CliOptions, RefusalsNameTheirOptionBeforeAnythingRuns) {
  const struct {
    std::vector<std::string> args;
    const char* said;  // on stderr; nullptr: accepted
  } cases[] = {
      // clang-format off
      {{"set", "COM3", "--address", "0"}, "--address"}, {{"set", "COM3", "--address", "32"}, "--address"},
      {{"set", "COM3", "--address", "+5"}, "--address"}, {{"set", "COM3", "--base", "255"}, "--base"},
      {{"set", "COM3", "--base", "4294967340"}, "--base"},  // would be 44 in a field
      {{"set", "COM3", "--base", " 7"}, "--base"}, {{"set", "COM3", "--modules16", "128"}, "--modules16"},
      {{"set", "COM3", "--modules8", ""}, "--modules8"},
      {{"set", "COM3", "--modules16", "127", "--modules8", "1"}, "--modules8"},
      {{"set", "COM3", "--base", "-1"}, "--base: -1 is outside 0 to 254"},
      {{"set", "COM3"}, "--address"}, {{"show"}, "show: give a PORT"}, {{"show", ""}, "an empty name"},
      {{"show", "COM3", "--address", "3"}, "unknown option --address"}, {{"show", "COM3", "COM4"}, "show: COM4 was not expected"},
      {{"--json"}, "give a command: list, show, set or find"},
      {{"set", "COM3", "--address"}, "--address: no value given; give --address N"},
      {{"set", "COM3", "--base", "1", "--base", "2", "--json"}, "--base: given more than once"},
      {{"set", "COM3", "--address", "31", "--base", "254", "--modules16", "127"}, nullptr},
      {{"--json", "find"}, nullptr}, {{"list", "-l", "--trace"}, nullptr},
      {{"show", "COM3", "--rate", "57600"}, nullptr}, {{"--rate", "115200", "find"}, nullptr},
      {{"--json", "--rate", "4800", "show", "COM3"}, "'4800' is not a line rate; give one of 9600, 19200, 38400, 57600 or 115200"},
      {{"--rate", "9600", "list"}, "--rate is for"}, {{"--json", "shwo", "COM3"}, "unknown command shwo; did you mean show?"},
      {{"set", "COM3", "--adress", "5"}, "unknown option --adress; did you mean --address?"},
      {{"set", "COM3", "--from", "-", "--json"}, "standard input: not JSON"},
      // clang-format on
  };
  for (const auto& c : cases) {
    std::ostringstream out, err;
    std::istringstream in;
    const Parsed parsed = ParseArguments(c.args, out, err, &in);
    EXPECT_EQ(parsed.exitStatus, c.said ? EXIT_USAGE : EXIT_OK) << err.str();
    EXPECT_NE(err.str().find(c.said ? c.said : ""), std::string::npos) << err.str();
    EXPECT_EQ(parsed.options.has_value(), !c.said);
    // With --json a refusal is also a JSON object on stdout; nothing else is printed there.
    const bool json = std::find(c.args.begin(), c.args.end(), "--json") != c.args.end();
    // The program's name starts the line on stderr only.
    const std::string said = err.str().substr(0, err.str().find('\n'));
    EXPECT_EQ(said.rfind("valdrix-config: ", 0), c.said ? 0 : std::string::npos);
    EXPECT_EQ(out.str(), c.said && json
                             ? "{\"error\":\"" + said.substr(16) + "\",\"reason\":\"usage\"}\n"
                             : "");
  }
}

struct CliRig {
  explicit CliRig(InterfaceSettings s = At(57600)) : model(s), serial(&model) {
    serial.ports = {"COM1", "COM2", "COM3"};
  }
  int Run(std::vector<std::string> args) {
    const Options options = *ParseArguments(args, out, err, &in).options;
    System system{serial, [this] { return details; },
                  [](std::size_t n, const std::function<void(std::size_t)>& work) {
                    for (std::size_t i = 0; i < n; ++i)
                      work(i);
                  }};
    return cli::Run(options, system, {out, err, &progress});
  }
  InterfaceModel model;
  FakeSerial serial;
  std::vector<PortDetails> details;
  std::istringstream in;
  std::ostringstream out, err, progress;
};

TEST(CliRun, EachEndingPrintsAndReturns) {
  const auto silent = [](CliRig& r) { r.model.Faults().silent = true; };
  const auto busy = [](CliRig& r) { r.serial.busy = {"COM3"}; };
  const auto busy2 = [](CliRig& r) { r.serial.busy = {"COM2"}; };
  const auto noBase = [](CliRig& r) { r.model.Faults().noReplyTo = SUB_BASE_ADDRESS; };
  const auto count1 = [](CliRig& r) { r.model.Faults().forcedValue[SUB_MODULE_COUNT] = 1; };
  const auto keeps3 = [](CliRig& r) { r.model.Faults().forcedValue[SUB_XN_ADDRESS] = 3; };
  const auto keepsNothing = [](CliRig& r) {
    r.model.Faults().forcedValue = {{SUB_XN_ADDRESS, 3}, {SUB_BASE_ADDRESS, 44}};
  };
  const auto holds40 = [](CliRig& r) { r.model.Faults().forcedValue[SUB_XN_ADDRESS] = 40; };
  const auto holds255 = [](CliRig& r) { r.model.Faults().forcedValue[SUB_MODULE_COUNT] = 255; };
  const auto file = [](CliRig& r) { r.in.str(R"({"address":3,"base":50,"modules16":null})"); };
  const auto noVersion = [=](CliRig& r) { holds40(r), r.model.Faults().noReplyTo = SUB_VERSION; };
  // The writes that fail, by index: the search makes nine (four rates, four values, open).
  const auto failing = [](std::set<std::size_t> w) {
    return [w](CliRig& r) { r.serial.failWrites = w; };
  };
  const struct {
    const char* name;
    std::function<void(CliRig&)> setUp;
    std::vector<std::string> args;
    int status;
    const char *out, *err;
  } cases[] = {
      // clang-format off
      {"show", {}, {"show", "COM3"}, EXIT_OK, "rate:                57600\nversion:             1.02\n", ""},
      {"show --json", {}, {"--json", "show", "COM3"}, EXIT_OK, "{\"port\":\"COM3\",\"rate\":57600,"
       "\"version\":\"1.02\",\"address\":10,\"base\":44,\"modules16\":2,\"modules8\":1}\n", ""},
      {"set", {}, {"set", "COM3", "--base", "77", "--address", "3"}, EXIT_OK,
       "XpressNet address:   3\nmodule base address: 77\n", ""},
      {"not found", silent, {"show", "COM3"}, EXIT_NOT_FOUND, "", "No Valdrix found on COM3\nCheck that "
       "the interface has power and that its cable is plugged in; no answer at 9600, 19200, 38400, 57600 or 115200.\n"},
      {"not at the rate given", {}, {"show", "COM3", "--rate", "19200"}, EXIT_NOT_FOUND, "",
       "; no answer at 19200 (without --rate every rate is tried).\n"},
      {"set from a file, an option wins", file, {"set", "COM3", "--from", "-", "--base", "77"}, EXIT_OK,
       "XpressNet address:   3\nmodule base address: 77\n16-bit modules:      2\n", ""},
      {"not kept", keeps3, {"set", "COM3", "--address", "9"}, EXIT_NOT_KEPT, "XpressNet address:   3\n",
       "The interface on COM3 did not keep a value: XpressNet address: asked 9, the interface holds 3\n"},
      {"several not kept --json", keepsNothing, {"--json", "set", "COM3", "--address", "9", "--base", "20"},
       EXIT_NOT_KEPT, "keep a value: XpressNet address: asked 9, the interface holds 3; module base address: "
       "asked 20, the interface holds 44\",\"reason\":\"mismatch\",\"asked\":{\"address\":9,\"base\":20},"
       "\"read\":{\"address\":3,\"base\":44}}\n", ""},
      // An address the dialog's list lacks is still what the interface holds.
      {"outside the range", holds40, {"set", "COM3", "--base", "7"}, EXIT_OK,
       "XpressNet address:   40 (outside 1 to 31)\nmodule base address: 7\n", ""},
      {"a count of 255", holds255, {"show", "COM3"}, EXIT_OK,
       "16-bit modules:      127\n8-bit modules:       1 (2 x 127 + 1 makes a module count of 255 or more)\n", ""},
      {"count stored as one byte", {}, {"set", "COM3", "--modules16", "4", "--modules8", "3"}, EXIT_OK,
       "16-bit modules:      5\n8-bit modules:       1\n", "The interface stores one module count"},
      {"busy", busy, {"show", "COM3"}, EXIT_CANNOT_OPEN, "",
       "Could not open COM3: in use by another program\nClose the program"},
      {"the read-back cannot write", failing({10}), {"set", "COM3", "--address", "3"}, EXIT_CANNOT_WRITE, "", "XpressNet address 3; not written: none.\n"},
      {"first failure decides", failing({9, 19}), {"set", "COM3", "--address", "3"}, EXIT_CANNOT_WRITE, "",
       "may still be open for configuration: run valdrix-config show COM3 to close it\nWritten to the interface before the failure: none; not written: XpressNet address 3.\n"},
      {"the second set frame fails --json", failing({10}), {"--json", "set", "COM3", "--address", "3", "--base", "20"},
       EXIT_CANNOT_WRITE, "{\"port\":\"COM3\",\"error\":\"Could not write to COM3: write: Input/output error\",\"reason\":\"write\","
       "\"written\":{\"address\":3},\"not_written\":{\"base\":20}}\n", ""},
      {"the close fails --json", failing({9}), {"--json", "show", "COM3"}, EXIT_CANNOT_WRITE,
       "\"modules8\":1,\"error\":\"Could not write to COM3: write: Input/output error; the interface may still be open", ""},
      {"no version, outside the range --json", noVersion, {"--json", "show", "COM3"}, EXIT_OK, "\"version\":null,\"address\":40,", ""},
      {"value not reported", noBase, {"set", "COM3", "--base", "7"}, EXIT_CANNOT_WRITE, "",
       "--base: the interface did not report"},
      {"count 255 with the one read", count1, {"set", "COM3", "--modules16", "127"}, EXIT_USAGE, "",
       "with the other count as read, 2 x 127 + 1 makes a module count of 255 or more; nothing"},
      {"find", busy2, {"find", "COM3", "COM2", "COM1", "COM1"}, EXIT_OK,
       "modules:       1\nCOM2: in use by another program\nCOM1: no answer at any rate\n", ""},
      {"find, the close fails", failing({9}), {"find", "COM3"}, EXIT_CANNOT_WRITE, "1\nCOM3: could not write; the interface may still be open", ""},
      {"find --json", silent, {"--json", "find", "COM3"}, EXIT_NOT_FOUND,
       "[{\"port\":\"COM3\",\"error\":\"No Valdrix found on COM3\",\"reason\":\"not-found\"}]\n", ""},
      {"find --json, one found", busy2, {"--json", "find", "COM3", "COM2", "COM3"}, EXIT_OK,
       "[{\"port\":\"COM3\",\"rate\":57600,\"version\":\"1.02\",\"address\":10,\"base\":44,"
       "\"modules16\":2,\"modules8\":1},{\"port\":\"COM2\",\"error\":\"Could not open COM2: in use "
       "by another program\",\"reason\":\"busy\",\"holder\":null},{\"port\":\"COM3\",\"same_as\":\"COM3\"}]\n", ""},
      {"odd name --json", {}, {"--json", "show", "C\"O\\M\x01"}, EXIT_CANNOT_OPEN,
       "{\"port\":\"C\\\"O\\\\M\\u0001\",\"error\":\"Could not open C\\\"O\\\\M\\u0001: no such port\",\"reason\":\"missing\"}\n", ""},
      {"not reported --json", noBase, {"--json", "set", "COM3", "--base", "7"}, EXIT_CANNOT_WRITE,
       "{\"port\":\"COM3\",\"error\":\"--base: the interface did not report this value, so it cannot "
       "be set\",\"reason\":\"not-reported\"}\n", ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CliRig rig;
    if (c.setUp)
      c.setUp(rig);
    EXPECT_EQ(rig.Run(c.args), c.status);
    // "" : the stream stays empty.
    EXPECT_TRUE(*c.out ? rig.out.str().find(c.out) != std::string::npos : rig.out.str().empty())
        << rig.out.str();
    EXPECT_TRUE(*c.err ? rig.err.str().find(c.err) != std::string::npos : rig.err.str().empty())
        << rig.err.str();
    // Closed again on every path but those where the close could not be written.
    EXPECT_EQ(rig.model.IsOpen(), rig.err.str().find("may still be open") != std::string::npos ||
                                      rig.out.str().find("may still be open") != std::string::npos);
    EXPECT_FALSE(rig.serial.AnyPortOpen());
  }
}

TEST(CliRun, SetWritesOnlyTheFramesAskedOnOnePortOpenedOnce) {
  // A count given alone goes out with the other as read back: 2 x 2 + 0.
  const std::pair<std::vector<std::string>, Bytes> cases[] = {
      {{"set", "COM3", "--address", "6"}, {0xF2, 0x01, 0x06, 0xF5}},
      {{"set", "COM3", "--modules8", "0"}, {0xF2, 0xF2, 0x04, 0x04}}};
  for (const auto& [args, frame] : cases) {
    CliRig rig;
    EXPECT_EQ(rig.Run(args), EXIT_OK);
    Wire want = SearchWire(57600), again = want;
    want.push_back({57600, frame});
    want.insert(want.end(), again.begin(), again.end());
    want.push_back({57600, kClose});
    EXPECT_WIRE(rig.serial.Writes(), want);
    EXPECT_EQ(rig.serial.OpenCount(), 1u);
  }
}

TEST(CliRun, ProgressInTheCommandLinesOwnWords) {
  CliRig rig(At(19200));
  rig.Run({"set", "COM3", "--base", "7"});
  const std::string search = "trying 9600\ntrying 19200\nfound at 19200\nreading the values\n";
  EXPECT_EQ(rig.progress.str(),
            search + "writing the values\n" + search + "closing the interface\n");
}

TEST(CliRun, ListsPortsWithTheirDetailsAndWhyNoneOpens) {
  CliRig rig;
  // clang-format off
  rig.details = {
      {"/dev/ttyUSB0", "/dev/serial/by-id/usb-X", "0403", "6001", "FTDI", "FT232R", "A1", "",
       {PortProblem::Permission, "dialout", "", 0, "", true, "root", "ttyUSB0", "0403", "6001", false, ""}},
      {"/dev/ttyS0", "", "", "", "", "", "", "", {PortProblem::Busy, "", "minicom", 7, "", false, "", "", "", "", false, ""}}};
  // clang-format on
  EXPECT_EQ(rig.Run({"--json", "list", "-l"}), EXIT_OK);
  EXPECT_EQ(rig.out.str(),
            "[{\"port\":\"/dev/ttyUSB0\",\"by_id\":\"/dev/serial/by-id/usb-X\",\"vendor_id\":"
            "\"0403\",\"product_id\":\"6001\",\"manufacturer\":\"FTDI\",\"product\":\"FT232R\","
            "\"serial\":\"A1\",\"description\":null,\"state\":\"permission denied (group dialout)"
            "\",\"holder\":null,\"group\":\"dialout\"},{\"port\":\"/dev/ttyS0\",\"by_id\":null,"
            "\"vendor_id\":null,\"product_id\":null,\"manufacturer\":null,\"product\":null,"
            "\"serial\":null,\"description\":null,\"state\":\"in use by minicom (pid 7)\","
            "\"holder\":{\"name\":\"minicom\",\"pid\":7},\"group\":null}]\n");
  rig.out.str("");
  EXPECT_EQ(rig.Run({"list"}), EXIT_OK);
  EXPECT_EQ(rig.out.str(), "");
  EXPECT_EQ(rig.err.str(),
            "valdrix-config: no serial port can be opened:\n  /dev/ttyUSB0: permission denied "
            "(group dialout)\n"
            "  /dev/ttyS0: in use by minicom (pid 7)\n"
            "Add your user to the group dialout: sudo usermod -aG dialout $USER, then log out "
            "and in again.\nClose the program that uses the port, or choose another port.\n");
  rig.err.str("");
  rig.details.resize(1);
  rig.details[0].state.problem = PortProblem::Console;
  EXPECT_EQ(rig.Run({"list"}), EXIT_OK);
  EXPECT_NE(rig.err.str().find("console\nPlug in the adapter"), std::string::npos) << rig.err.str();
}

TEST(CliTrace, EveryCallWithItsPortRateAndTime) {
  CliRig rig;
  std::ostringstream trace;
  TraceBackend traced(
      rig.serial, trace, [&rig] { return rig.serial.NowUs(); }, true);
  auto port = traced.OpenPort("COM3", 9600);
  port->SetPortRate(19200);
  port->WriteFrame(kQuery.data(), 2);
  std::uint8_t reply[4];
  port->ReadFrame(reply, 4);
  port.reset();
  EXPECT_FALSE(traced.OpenPort("COM9", 9600));
  EXPECT_EQ(trace.str(),
            "COM3: +0.000 s   9600  open COM3\nCOM3: +0.000 s  19200  rate 19200\n"
            "COM3: +0.000 s  19200  > F0 F0\nCOM3: +1.004 s  19200  < (nothing: time-out)\n"
            "COM3: +1.004 s  19200  close COM3\nCOM9: +1.004 s   9600  open COM9 failed\n");
}

#ifndef _WIN32
// A signal handler's call keeps errno for the code it cut into, also once the wake-up pipes are
// full and their writes fail.
TEST(Interrupt, RaisingKeepsErrno) {
  interrupt::Install();
  for (int n = 0; n < 70000; ++n) {  // past a pipe's 64 KiB
    errno = EDOM;
    interrupt::Raise(SIGTERM);
    ASSERT_EQ(errno, EDOM) << n;
  }
}
#endif

}  // namespace
}  // namespace valdrix::cli
