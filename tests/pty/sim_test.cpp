// valdrix-sim on a pseudo-terminal, reached through the POSIX backend: it answers only at its
// own rate, logs every frame, and carries a whole configuration session of the dialog logic.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "conversations/configurator.h"
#include "serial/serial_posix.h"
#include "dialog/memory_dialog.h"
#include "tests/pty/pty_support.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"

namespace valdrix {
namespace {

using namespace valdrix::pty;

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

TEST(ValdrixSim, IgnoresQueriesAtAnotherRateAndLogsEveryFrame) {
  TempDir dir;
  const std::string log = dir / "frames.jsonl";
  SimProcess sim({"--rate", "57600", "--version", "102", "--log", log});
  ASSERT_FALSE(sim.Path().empty());

  PosixSerial serial;
  auto port = serial.OpenPort(sim.Path(), 9600);
  ASSERT_TRUE(port);
  const std::uint8_t query[] = {0xF0, 0xF0};
  std::uint8_t reply[4] = {0xF0, 0xF0, 0, 0};

  ASSERT_TRUE(port->WriteFrame(query, sizeof query));
  ReadResult result = port->ReadFrame(reply, sizeof reply);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.count, 0u);

  port->SetPortRate(57600);
  ASSERT_TRUE(port->WriteFrame(query, sizeof query));
  result = port->ReadFrame(reply, sizeof reply);
  EXPECT_TRUE(result.ok);
  ASSERT_EQ(result.count, 4u);
  EXPECT_EQ(reply[0], 0x02);
  EXPECT_EQ(reply[0] ^ reply[1] ^ reply[2], reply[3]);
  port.reset();

  EXPECT_EQ(sim.Stop(), 0);
  const std::vector<LoggedFrame> expected = {
      {"rx", "F0 F0", 9600},
      {"rx", "F0 F0", 57600},
      {"tx", "02 10 66 74", 57600},  // 0x66: version 102
  };
  EXPECT_EQ(ReadFrameLog(log), expected);
}

// A session as a user has it: choose the port, read the values, change one, apply, close.
TEST(ValdrixSim, CarriesAWholeSessionThroughThePosixBackend) {
  TempDir dir;
  const std::string log = dir / "frames.jsonl";
  const std::string link = dir / "ttyValdrix";
  SimProcess sim({"--rate", "57600", "--version", "205", "--address", "7", "--base", "20",
                  "--count", "5", "--log", log, "--link", link});
  ASSERT_FALSE(sim.Path().empty());
  ASSERT_TRUE(Exists(link));

  ModelDialog dialog;
  PosixSerial serial;
  Configurator cfg(dialog, serial);
  dialog.SetCommandHandler([&](int id, int code) { OnCommand(cfg, id, code); });
  FillLists(dialog, {link});

  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(dialog.Choose(IDC_PORT, link));
  // Three silent rates, the reads, and the drain after the open frame.
  EXPECT_LT(SecondsSince(start), 6.0);
  EXPECT_EQ(dialog.ErrorBoxes(), std::vector<std::string>{});
  EXPECT_EQ(dialog.Text(IDC_STATUS), "Status: Enter values and press Apply");
  EXPECT_EQ(dialog.Text(IDC_VERSION), "2.05");
  EXPECT_EQ(dialog.CurrentEntry(IDC_RATE), "57600");
  EXPECT_EQ(dialog.CurrentEntry(IDC_XN_ADDRESS), "7");
  EXPECT_EQ(dialog.Text(IDC_BASE_ADDRESS), "20");
  EXPECT_EQ(dialog.Text(IDC_MODULES16), "2");
  EXPECT_EQ(dialog.Text(IDC_MODULES8), "1");
  EXPECT_FALSE(dialog.Enabled(IDC_PORT));
  EXPECT_TRUE(cfg.interfaceOpen);

  ASSERT_TRUE(dialog.Type(IDC_BASE_ADDRESS, "33"));
  ASSERT_TRUE(dialog.Press(IDOK));
  EXPECT_EQ(dialog.ErrorBoxes(), std::vector<std::string>{});
  EXPECT_EQ(dialog.Text(IDC_BASE_ADDRESS), "33");  // read back from the interface
  ASSERT_TRUE(dialog.Press(IDCANCEL));
  EXPECT_TRUE(dialog.Ended());

  EXPECT_EQ(sim.Stop(), 0);
  EXPECT_FALSE(Exists(link));

  const std::vector<LoggedFrame> search = {
      {"rx", "F0 F0", 9600},        {"rx", "F0 F0", 19200},
      {"rx", "F0 F0", 38400},       {"rx", "F0 F0", 57600},
      {"tx", "02 10 CD DF", 57600}, {"rx", "F2 FD 00 0F", 57600},  // version
      {"tx", "F2 FD CD C2", 57600}, {"rx", "F2 01 FF 0C", 57600},  // address
      {"tx", "F2 01 07 F4", 57600},
  };
  std::vector<LoggedFrame> expected = search;
  expected.insert(expected.end(), {
                                      {"rx", "F2 F1 FF FC", 57600},  // base address
                                      {"tx", "F2 F1 14 17", 57600},
                                      {"rx", "F2 F2 FF FF", 57600},  // module count
                                      {"tx", "F2 F2 05 05", 57600},
                                      {"rx", "F2 FF 01 0C", 57600},  // open
                                      {"tx", "F2 FF 01 0C", 57600},
                                      // Apply, at the rate that answered
                                      {"rx", "F2 01 07 F4", 57600},
                                      {"tx", "F2 01 07 F4", 57600},
                                      {"rx", "F2 F1 21 22", 57600},
                                      {"tx", "F2 F1 21 22", 57600},
                                      {"rx", "F2 F2 05 05", 57600},
                                      {"tx", "F2 F2 05 05", 57600},
                                  });
  expected.insert(expected.end(), search.begin(), search.end());
  expected.insert(expected.end(), {
                                      {"rx", "F2 F1 FF FC", 57600},
                                      {"tx", "F2 F1 21 22", 57600},
                                      {"rx", "F2 F2 FF FF", 57600},
                                      {"tx", "F2 F2 05 05", 57600},
                                      {"rx", "F2 FF 01 0C", 57600},
                                      {"tx", "F2 FF 01 0C", 57600},
                                      {"rx", "F2 FF 00 0D", 57600},  // close
                                      {"tx", "F2 FF 00 0D", 57600},
                                  });
  EXPECT_EQ(ReadFrameLog(log), expected);
}

}  // namespace
}  // namespace valdrix
