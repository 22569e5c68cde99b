// The interface going away mid-conversation: valdrix-sim is killed (SIGKILL, so the terminal's
// other end simply vanishes) once it has received a given number of frames; through the POSIX
// backend the conversation must end at once with its outcome, not wait out time-outs, and close
// its port.
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
  int rate;
  int replyDelayMs;
  bool searchFirst;       // the interface is found and opened before the conversation
  std::size_t killAfter;  // frames received within the conversation
  Outcome (*conversation)(Configurator&);
  Outcome::Kind outcome;
};

TEST(Unplug, TheConversationEndsAtOnceAndClosesThePort) {
  const UnplugCase cases[] = {
      // Killed during the read at 9600: the query at 19200 cannot be written.
      {"DuringASilentRate", 115200, 2, false, 1, SearchInterface, Outcome::Kind::CouldNotWrite},
      // Killed between the address query and its slow answer: found, the rest stays unread.
      {"BeforeAValuesAnswer", 9600, 400, false, 3, SearchInterface, Outcome::Kind::Found},
      // Killed while draining after the address frame: the base frame cannot be written.
      {"DuringApplysDrain", 9600, 2, true, 1, WriteSettings, Outcome::Kind::CouldNotWrite}};
  for (const UnplugCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string log = dir / "frames.jsonl";
    const std::string link = dir / "ttyValdrix";
    SimProcess sim({"--rate", std::to_string(c.rate), "--reply-delay",
                    std::to_string(c.replyDelayMs), "--log", log, "--link", link});
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
    const std::size_t before = ReceivedFrames(log);

    Clock::time_point killedAt;
    std::thread killer([&] {
      const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
      while (ReceivedFrames(log) < before + c.killAfter && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // another process's file
      unlink(link.c_str());  // first: no later open may reach a terminal that reuses the number
      sim.Kill();
      killedAt = Clock::now();
    });
    const Outcome outcome = c.conversation(cfg);
    const Clock::time_point ended = Clock::now();
    killer.join();

    EXPECT_LT(std::chrono::duration<double>(ended - killedAt).count(), 0.5);
    EXPECT_EQ(outcome.kind, c.outcome);
    EXPECT_EQ(ReceivedFrames(log), before + c.killAfter);
    EXPECT_EQ(OpenFiles(), openFiles);
  }
}

}  // namespace
}  // namespace valdrix
