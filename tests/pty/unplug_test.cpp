// The interface goes away mid-conversation: valdrix-sim is killed (SIGKILL, so the terminal's
// other end simply vanishes) at a chosen frame. The POSIX backend must report the failure at
// once, and the conversation must end with what its rules say, without waiting out time-outs.
#include <gtest/gtest.h>

#include <thread>

#include "conversations/configurator.h"
#include "serial/serial_posix.h"
#include "dialog/memory_dialog.h"
#include "tests/pty/pty_support.h"
#include "conversations/config_dialog.h"
#include "dialog/controls.h"

namespace valdrix {
namespace {

using namespace valdrix::pty;

std::vector<LoggedFrame> Received(const std::string& log) {
  std::vector<LoggedFrame> rx;
  for (const LoggedFrame& f : ReadFrameLog(log)) {
    if (f.dir == "rx")
      rx.push_back(f);
  }
  return rx;
}

// A session with valdrix-sim reached through a link, as a user's port name would be.
struct Unplug {
  explicit Unplug(std::vector<std::string> options) : sim(WithLogAndLink(options)) {
    dialog.SetCommandHandler([this](int id, int code) { OnCommand(cfg, id, code); });
    FillLists(dialog, {link});
  }
  ~Unplug() {
    if (killer.joinable())
      killer.join();
  }

  std::vector<std::string> WithLogAndLink(std::vector<std::string> options) const {
    options.insert(options.end(), {"--log", log, "--link", link});
    return options;
  }

  // Kills the simulator once it has received `frames` frames. The link goes first, so that a
  // later open cannot reach a terminal that reuses the number.
  void UnplugAfter(std::size_t frames) {
    killer = std::thread([this, frames] {
      const Clock::time_point give_up = Clock::now() + std::chrono::seconds(10);
      while (Received(log).size() < frames && Clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // another process's file
      unlink(link.c_str());
      sim.Stop(SIGKILL);
      killedAt = Clock::now();
    });
  }

  // Seconds from the kill to now; joins the killer first.
  double SinceKill() {
    killer.join();
    return SecondsSince(killedAt);
  }

  TempDir dir;
  const std::string log = dir / "frames.jsonl";
  const std::string link = dir / "ttyValdrix";
  SimProcess sim;
  ModelDialog dialog;
  PosixSerial serial;
  Configurator cfg{dialog, serial};
  std::thread killer;
  Clock::time_point killedAt;
};

const LoggedFrame kQuery9600 = {"rx", "F0 F0", 9600};

TEST(Unplug, DuringASilentRateTheNextQueryCannotBeWritten) {
  Unplug u({"--rate", "115200"});
  ASSERT_FALSE(u.sim.Path().empty());
  u.UnplugAfter(1);  // during the read at 9600
  ASSERT_TRUE(u.dialog.Choose(IDC_PORT, u.link));
  // The read fails at once and the query at 19200 cannot go out: no rate waits its second.
  EXPECT_LT(u.SinceKill(), 0.5);

  EXPECT_EQ(u.dialog.ErrorBoxes(), std::vector<std::string>{"Could not write to " + u.link});
  EXPECT_EQ(u.dialog.Text(IDC_STATUS), STATUS_SELECT_PORT);
  EXPECT_TRUE(u.dialog.Enabled(IDC_PORT));
  EXPECT_FALSE(u.cfg.interfaceOpen);
  EXPECT_EQ(Received(u.log), std::vector<LoggedFrame>{kQuery9600});

  ASSERT_TRUE(u.dialog.Press(IDCANCEL));  // nothing was opened: nothing to close
  EXPECT_TRUE(u.dialog.Ended());
  EXPECT_EQ(u.dialog.ErrorBoxes().size(), 1u);
}

TEST(Unplug, BeforeAValueIsAnsweredTheRestStaysMissing) {
  // Slow answers leave room to die between the address query and its answer.
  Unplug u({"--rate", "9600", "--reply-delay", "400", "--version", "205", "--address", "7",
            "--base", "20", "--count", "5"});
  ASSERT_FALSE(u.sim.Path().empty());
  u.UnplugAfter(3);  // interface query, version query, address query
  ASSERT_TRUE(u.dialog.Choose(IDC_PORT, u.link));
  EXPECT_LT(u.SinceKill(), 0.5);

  // The interface was found; the address read fails, the later queries and the open frame
  // cannot be written, so nothing is open and only what arrived is shown.
  EXPECT_EQ(u.dialog.ErrorBoxes(), std::vector<std::string>{});
  EXPECT_EQ(u.dialog.Text(IDC_STATUS), STATUS_ENTER_VALUES);
  EXPECT_EQ(u.dialog.Text(IDC_VERSION), "2.05");
  EXPECT_EQ(u.dialog.Selection(IDC_XN_ADDRESS), -1);
  for (const int id : {IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8, IDOK})
    EXPECT_FALSE(u.dialog.Enabled(id)) << id;
  EXPECT_EQ(u.dialog.Text(IDC_BASE_ADDRESS), "");
  EXPECT_FALSE(u.cfg.interfaceOpen);
  const std::vector<LoggedFrame> expected = {
      kQuery9600,
      {"rx", "F2 FD 00 0F", 9600},  // version
      {"rx", "F2 01 FF 0C", 9600},  // address, never answered
  };
  EXPECT_EQ(Received(u.log), expected);

  ASSERT_TRUE(u.dialog.Press(IDCANCEL));
  EXPECT_TRUE(u.dialog.Ended());
  EXPECT_EQ(u.dialog.ErrorBoxes(), std::vector<std::string>{});
}

TEST(Unplug, DuringApplysDrainTheReadBackCannotOpen) {
  Unplug u({"--rate", "9600", "--address", "7", "--base", "20", "--count", "5"});
  ASSERT_FALSE(u.sim.Path().empty());
  ASSERT_TRUE(u.dialog.Choose(IDC_PORT, u.link));
  ASSERT_EQ(u.dialog.Text(IDC_STATUS), STATUS_ENTER_VALUES);
  ASSERT_TRUE(u.cfg.interfaceOpen);
  const std::size_t searched = Received(u.log).size();
  ASSERT_EQ(searched, 6u);

  ASSERT_TRUE(u.dialog.Type(IDC_BASE_ADDRESS, "33"));
  u.UnplugAfter(searched + 1);  // the address frame is in; its drain is running
  ASSERT_TRUE(u.dialog.Press(IDOK));
  // The drain's read fails, the other two frames cannot be written, the read-back cannot open.
  EXPECT_LT(u.SinceKill(), 0.5);

  const std::string cannotOpen = "Could not open " + u.link;
  EXPECT_EQ(u.dialog.ErrorBoxes(), std::vector<std::string>{cannotOpen});
  EXPECT_EQ(u.dialog.Text(IDC_STATUS), STATUS_SELECT_PORT);
  EXPECT_TRUE(u.dialog.Enabled(IDC_PORT));
  for (const int id : {IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8})
    EXPECT_FALSE(u.dialog.Enabled(id)) << id;
  const std::vector<LoggedFrame> received = Received(u.log);
  ASSERT_EQ(received.size(), searched + 1);
  EXPECT_EQ(received.back(), (LoggedFrame{"rx", "F2 01 07 F4", 9600}));  // set address 7

  // The interface was left open and Close still tries to close it; the port has gone.
  EXPECT_TRUE(u.cfg.interfaceOpen);
  const Clock::time_point closing = Clock::now();
  ASSERT_TRUE(u.dialog.Press(IDCANCEL));
  EXPECT_LT(SecondsSince(closing), 0.5);
  EXPECT_TRUE(u.dialog.Ended());
  EXPECT_EQ(u.dialog.ErrorBoxes(), (std::vector<std::string>{cannotOpen, cannotOpen}));
}

}  // namespace
}  // namespace valdrix
