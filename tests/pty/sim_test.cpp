// valdrix-sim reached through the POSIX backend: it answers only at its own rate, logs every frame
// as a JSON line, makes and removes its link, and exits cleanly on SIGTERM.
#include <gtest/gtest.h>

#include "serial/serial_posix.h"
#include "tests/pty/pty_support.h"

namespace valdrix {
namespace {

using namespace valdrix::pty;

TEST(ValdrixSim, AnswersOnlyAtItsRateLogsEveryFrameAndLeavesNoLink) {
  TempDir dir;
  const std::string log = dir / "frames.jsonl";
  const std::string link = dir / "ttyValdrix";
  SimProcess sim({"--rate", "57600", "--version", "102", "--log", log, "--link", link});
  ASSERT_FALSE(sim.Path().empty());
  EXPECT_EQ(std::filesystem::read_symlink(link), sim.Path());

  PosixSerial serial;
  auto port = serial.OpenPort(link, 9600);
  ASSERT_TRUE(port);
  const std::uint8_t query[] = {0xF0, 0xF0};
  for (const std::uint32_t rate : {9600u, 57600u}) {
    std::uint8_t reply[4] = {};
    port->SetPortRate(rate);
    ASSERT_TRUE(port->WriteFrame(query, sizeof query));
    EXPECT_EQ(port->ReadFrame(reply, sizeof reply).count, rate == 57600 ? 4u : 0u) << rate;
  }
  port.reset();

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  const std::vector<std::string> expected = {"rx F0 F0 @9600", "rx F0 F0 @57600",
                                             "tx 02 10 66 74 @57600"};  // 0x66: version 102
  EXPECT_EQ(ReadFrameLog(log), expected);
}

}  // namespace
}  // namespace valdrix
