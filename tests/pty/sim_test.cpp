// valdrix-sim on a pseudo-terminal: the simulator itself, then the interface it plays going away
// mid-conversation. There it is killed (SIGKILL, so the terminal's other end simply vanishes)
// once it has received a given number of frames; through the POSIX backend the conversation must
// end at once with its outcome, not wait out time-outs, and close its port.
#include <gtest/gtest.h>

#include <thread>

#include "conversations/config_dialog.h"
#include "conversations/configurator.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
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

struct UnplugCase {
  const char* name;
  int rate;
  int replyDelayMs;
  bool searchFirst;       // the interface is found and opened before the conversation
  std::size_t killAfter;  // frames received within the conversation
  Outcome (*conversation)(Configurator&);
  Outcome::Kind outcome;
};

void PrintTo(const UnplugCase& c, std::ostream* os) {
  *os << c.name;
}

class Unplug : public ::testing::TestWithParam<UnplugCase> {};

TEST_P(Unplug, TheConversationEndsAtOnceAndClosesThePort) {
  const UnplugCase& c = GetParam();
  TempDir dir;
  const std::string log = dir / "frames.jsonl";
  const std::string link = dir / "ttyValdrix";
  SimProcess sim({"--rate", std::to_string(c.rate), "--reply-delay", std::to_string(c.replyDelayMs),
                  "--log", log, "--link", link});
  ASSERT_FALSE(sim.Path().empty());
  MemoryDialog dialog;
  PosixSerial serial;
  Configurator cfg(dialog, serial);
  FillLists(dialog, {link});
  dialog.SelectEntry(IDC_PORT, link);
  const long openFiles = OpenFiles();
  if (c.searchFirst) {
    ASSERT_EQ(SearchInterface(cfg).kind, Outcome::Kind::Found);
  }
  const std::size_t before = ReadFrameLog(log, "rx").size();

  Clock::time_point killedAt;
  std::thread killer([&] {
    const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
    while (ReadFrameLog(log, "rx").size() < before + c.killAfter && Clock::now() < giveUp)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // another process's file
    unlink(link.c_str());  // first: no later open may reach a terminal that reuses the number
    sim.Stop(SIGKILL);
    killedAt = Clock::now();
  });
  const Outcome outcome = c.conversation(cfg);
  const Clock::time_point ended = Clock::now();
  killer.join();

  EXPECT_LT(std::chrono::duration<double>(ended - killedAt).count(), 0.5);
  EXPECT_EQ(outcome.kind, c.outcome);
  EXPECT_EQ(ReadFrameLog(log, "rx").size(), before + c.killAfter);
  EXPECT_EQ(OpenFiles(), openFiles);
}

INSTANTIATE_TEST_SUITE_P(
    KillPoints, Unplug,
    ::testing::Values(
        // Killed during the read at 9600: the query at 19200 cannot be written.
        UnplugCase{"DuringASilentRate", 115200, 2, false, 1, SearchInterface,
                   Outcome::Kind::CouldNotWrite},
        // Killed between the address query and its slow answer: found, the rest stays unread.
        UnplugCase{"BeforeAValuesAnswer", 9600, 400, false, 3, SearchInterface,
                   Outcome::Kind::Found},
        // Killed while draining after the address frame: the base frame cannot be written.
        UnplugCase{"DuringApplysDrain", 9600, 2, true, 1, WriteSettings,
                   Outcome::Kind::CouldNotWrite}),
    [](const ::testing::TestParamInfo<UnplugCase>& info) { return info.param.name; });

}  // namespace
}  // namespace valdrix
