// The interface goes away mid-conversation: valdrix-sim is killed (SIGKILL, so the terminal's other
// end simply vanishes) once it has received a given number of frames. Through the POSIX backend
// the conversation must end at once with its outcome, not wait out time-outs, and close its port.
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

struct UnplugCase {
  const char* name;
  std::vector<std::string> sim;
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
  std::vector<std::string> options = c.sim;
  options.insert(options.end(), {"--log", log, "--link", link});
  SimProcess sim(options);
  ASSERT_FALSE(sim.Path().empty());
  MemoryDialog dialog;
  PosixSerial serial;
  Configurator cfg(dialog, serial);
  FillLists(dialog, {link});
  dialog.SelectEntry(IDC_PORT, link);
  const int openFiles = OpenFiles();
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
        UnplugCase{"DuringASilentRate",
                   {"--rate", "115200"},
                   false,
                   1,
                   SearchInterface,
                   Outcome::Kind::CouldNotWrite},
        // Killed between the address query and its slow answer: found, the rest stays unread.
        UnplugCase{"BeforeAValuesAnswer",
                   {"--rate", "9600", "--reply-delay", "400"},
                   false,
                   3,
                   SearchInterface,
                   Outcome::Kind::Found},
        // Killed while draining after the address frame: the base frame cannot be written.
        UnplugCase{"DuringApplysDrain",
                   {"--rate", "9600"},
                   true,
                   1,
                   WriteSettings,
                   Outcome::Kind::CouldNotWrite}),
    [](const ::testing::TestParamInfo<UnplugCase>& info) { return info.param.name; });

}  // namespace
}  // namespace valdrix
