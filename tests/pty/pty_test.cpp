// The POSIX backend on real pseudo-terminals: the time-outs in real time, the line settings the
// other end sees, which ports are listed, a second open in this process, and the other end
// vanishing under the conversations. What it refuses to open, and why, is seen through
// valdrix-config (tests/cli).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "conversations/config_dialog.h"
#include "conversations/configurator.h"
#include "dialog/controls.h"
#include "dialog/memory_dialog.h"
#include "harness/sim_process.h"
#include "ports/port_advice.h"
#include "ports/port_details.h"
#include "serial/serial_posix.h"

namespace valdrix {
namespace {

using Clock = std::chrono::steady_clock;

// A pseudo-terminal whose master the test holds; the code under test opens the slave by path.
struct PtyPair {
  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  std::string slave =
      master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0 ? ptsname(master) : "";
  ~PtyPair() { close(master); }
};

// How many frames valdrix-sim logged as received.
std::size_t ReceivedFrames(const std::string& log) {
  std::ifstream in(log);
  std::size_t count = 0;
  for (std::string line; std::getline(in, line);)
    count += line.find("\"dir\":\"rx\"") != std::string::npos;
  return count;
}

// How many files this process has open, to tell that nothing was left open.
long OpenFiles() {
  return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

// The other end sends `first` before the read begins and `later` this many milliseconds after.
struct ReadCase {
  const char* name;
  std::size_t length;
  std::string first;
  int laterAtMs;
  std::string later;
  std::size_t count;
  std::uint64_t endsAtMs;
};

TEST(PosixRead, EndsWhenTheTimeoutsSay) {
  const ReadCase cases[] = {
      {"Silent4", 4, "", 0, "", 0, TotalTimeoutMs(4)},
      {"Silent300", 300, "", 0, "", 0, TotalTimeoutMs(300)},
      // Line-discipline bytes (interrupt, XON, CR, erase) arrive as they were sent.
      {"FullInPieces", 4, "\x03\x11", 150, "\x0D\x7F", 4, 150},
      {"PartialEndsAfterLastByte", 600, "\x55", 300, "\x66", 2, 300 + READ_INTERVAL_MS},
      {"GapsDoNotExtendTheTotal", 4, "\xF2\xFD", 600, "\x66", 3, TotalTimeoutMs(4)}};
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.name);
    PtyPair pty;
    auto port = PosixSerial().OpenPort(pty.slave, 57600);
    ASSERT_TRUE(port);
    std::vector<std::uint8_t> buffer(c.length);
    ASSERT_EQ(write(pty.master, c.first.data(), c.first.size()), ssize_t(c.first.size()));
    const Clock::time_point start = Clock::now();
    std::thread sender([&] {
      std::this_thread::sleep_until(start + std::chrono::milliseconds(c.laterAtMs));
      EXPECT_EQ(write(pty.master, c.later.data(), c.later.size()), ssize_t(c.later.size()));
    });
    const std::clock_t cpuBefore = std::clock();
    const ReadResult result = port->ReadFrame(buffer.data(), buffer.size());
    const double cpuMs = (std::clock() - cpuBefore) * 1000.0 / CLOCKS_PER_SEC;
    const double elapsedMs =
        std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    sender.join();

    EXPECT_TRUE(result.ok);
    ASSERT_EQ(result.count, c.count);
    EXPECT_GE(elapsedMs, c.endsAtMs - 2.0);
    EXPECT_LE(elapsedMs, c.endsAtMs + 150.0);
    EXPECT_LT(cpuMs, 20.0);  // poll() waits; a spinning loop would burn the whole second
    EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + c.count),
              (c.first + c.later).substr(0, c.count));
  }
}

TEST(PosixSerial, TheOtherEndSeesRaw8N1WithHandshakeAndEachRate) {
  PtyPair pty;
  auto port = PosixSerial().OpenPort(pty.slave, 9600);
  ASSERT_TRUE(port);
  termios tio{};
  ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
  EXPECT_EQ(tio.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS | CLOCAL | CREAD),
            tcflag_t(CS8 | CRTSCTS | CLOCAL | CREAD));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | ISTRIP), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);

  const std::pair<std::uint32_t, speed_t> steps[] = {
      {9600, B9600},     {19200, B19200},  {38400, B38400}, {57600, B57600},
      {115200, B115200}, {12345, B115200},  // a rate the line cannot take leaves it as it was
      {9600, B9600}};
  for (const auto& [rate, speed] : steps) {
    port->SetPortRate(rate);
    ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), speed) << rate;
    EXPECT_EQ(cfgetispeed(&tio), speed) << rate;
  }
}

// Any open of a terminal while a list is made fails the test: opening one raises its modem lines.
bool gListing = false;
std::vector<std::string> gTerminalsOpened;

}  // namespace
}  // namespace valdrix

extern "C" int open(const char* path, int flags, ...) {
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(rest, mode_t) : 0;
  va_end(rest);
  struct stat st {};
  if (valdrix::gListing && stat(path, &st) == 0 && S_ISCHR(st.st_mode)) {
    valdrix::gTerminalsOpened.push_back(path);
    errno = EPERM;
    return -1;
  }
  return static_cast<int>(syscall(SYS_openat, AT_FDCWD, path, flags, mode));
}

namespace valdrix {
namespace {

// A fake system tree: six serial nodes (links to pseudo-terminals), sysfs and /proc as the
// kernel shows them, and the users each node has; then the same without /sys/class/tty, as in
// some containers.
TEST(PortList, OpensNothingAndAgreesWithTheLongList) {
  namespace fs = std::filesystem;
  char dir[] = "/tmp/valdrix-list-XXXXXX";
  ASSERT_TRUE(mkdtemp(dir));
  const std::string root = dir;
  const auto put = [&](const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(root + path).parent_path());
    std::ofstream(root + path) << text;
  };
  const auto link = [&](const std::string& target, const std::string& path) {
    fs::create_directories(fs::path(root + path).parent_path());
    fs::create_symlink(target, root + path);
  };
  PtyPair ptys[7];
  const char* const names[] = {"ttySC0", "ttyS4",   "ttyUSB0", "ttyACM0",
                               "ttyS10", "ttyAMA0", "ttyUSB1"};
  for (int i = 0; i < 7; ++i) {
    link(ptys[i].slave, "/dev/" + std::string(names[i]));
    put("/sys/devices/port" + std::to_string(i) + "/tty/" + names[i] + "/dev", "");
    link(root + "/sys/devices/port" + std::to_string(i),
         "/sys/class/tty/" + std::string(names[i]) + "/device");
  }
  put("/sys/class/tty/ttyS4/type", "0\n");  // an 8250 slot without a UART
  put("/sys/class/tty/ttyS10/type", "4\n");
  link("../../ttyUSB0", "/dev/serial/by-id/usb-Acme-if00");
  put("/sys/devices/port2/idVendor", "0403\n");
  put("/sys/devices/port2/idProduct", "6001\n");
  fs::create_directories(root + "/sys/class/tty/tty1");  // a console: no device behind it
  const auto index = [&](int i) { return ptys[i].slave.substr(ptys[i].slave.rfind('/') + 1); };
  // minicom (pid 100) has ttyUSB0 open; the simulator (pid 200) holds ttyACM0's master and slave;
  // a live UUCP lock (pid 300) names ttySC0's terminal; a dead one (pid 400) ttyS10.
  put("/proc/100/comm", "minicom\n");
  link(root + "/dev/ttyUSB0", "/proc/100/fd/3");
  put("/proc/200/comm", "valdrix-sim\n");
  link(ptys[3].slave, "/proc/200/fd/4");
  link("/dev/ptmx", "/proc/200/fd/5");
  put("/proc/200/fdinfo/5", "pos:\t0\nflags:\t02\ntty-index:\t" + index(3) + "\n");
  put("/proc/300/comm", "cu\n");
  put("/run/lock/LCK..pts_" + index(0), "       300\n");
  put("/var/lock/LCK..ttyS10", "       400\n");
  // ttyAMA0 is the kernel's console; cu (pid 500) locks ttyUSB1's terminal by its base name, with
  // the PID as a 4-byte binary number.
  put("/proc/consoles", "ttyAMA0              -W- (EC p a)  204:64\n");
  put("/proc/500/comm", "cu\n");
  put("/run/lock/LCK.." + index(6), std::string("\xF4\x01\0\0", 4));

  gListing = true;
  const std::vector<PortDetails> ports = DescribePorts(root);
  gListing = false;
  EXPECT_EQ(gTerminalsOpened, std::vector<std::string>());
  std::vector<std::string> seen;
  for (const PortDetails& p : ports)
    seen.push_back(p.name.substr(root.size()) + " " + StateText(p.state) + " " + p.vendorId +
                   p.byId);
  EXPECT_EQ(seen,
            (std::vector<std::string>{"/dev/ttyACM0 free ", "/dev/ttyAMA0 console ",
                                      "/dev/ttyS10 free ", "/dev/ttySC0 in use by cu (pid 300) ",
                                      "/dev/ttyUSB0 in use by minicom (pid 100) 0403" + root +
                                          "/dev/serial/by-id/usb-Acme-if00",
                                      "/dev/ttyUSB1 in use by cu (pid 500) "}));
  EXPECT_EQ(FreePorts(ports),
            (std::vector<std::string>{root + "/dev/ttyACM0", root + "/dev/ttyS10"}));
  // Without sysfs the usual names in /dev are the candidates, the empty slot among them.
  fs::remove_all(root + "/sys/class/tty");
  EXPECT_EQ(DescribePorts(root).size(), 6u);
  fs::remove_all(root);
}

TEST(PosixSerial, APortOpenHereIsBusyUntilClosed) {
  PtyPair pty;
  PosixSerial serial;
  auto first = serial.OpenPort(pty.slave, 9600);
  ASSERT_TRUE(first);
  PortError error;
  EXPECT_EQ(serial.OpenPort(pty.slave, 9600, &error), nullptr);
  EXPECT_EQ(error.problem, PortProblem::Busy);
  EXPECT_EQ(error.holderPid, 0);                         // never this program itself
  EXPECT_EQ(serial.OpenPort(pty.slave, 9600), nullptr);  // the refused open left the hold
  // Held for the programs that go by flock() too (root opens past TIOCEXCL).
  const int other = open(pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
  close(other);
  first.reset();
  EXPECT_TRUE(serial.OpenPort(pty.slave, 9600));
}

// The interface going away mid-conversation: valdrix-sim is killed (SIGKILL, so the terminal's
// other end simply vanishes) once it has received a given number of frames; the conversation must
// end at once with its outcome, not wait out time-outs, and close its port.
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
      // Killed during the read at 9600: the read fails, and the search with it.
      {"DuringASilentRate", 115200, 2, false, 1, SearchInterface, Outcome::Kind::CouldNotWrite},
      // Killed between the address query and its slow answer: found, the rest stays unread.
      {"BeforeAValuesAnswer", 9600, 400, false, 3, SearchInterface, Outcome::Kind::Found},
      // Killed while draining after the address frame: the base frame cannot be written.
      {"DuringApplysDrain", 9600, 2, true, 1, WriteSettings, Outcome::Kind::CouldNotWrite}};
  for (const UnplugCase& c : cases) {
    SCOPED_TRACE(c.name);
    SimProcess sim(
        {"--rate", std::to_string(c.rate), "--reply-delay", std::to_string(c.replyDelayMs)});
    ASSERT_FALSE(sim.Path().empty());
    MemoryDialog dialog;
    PosixSerial serial;
    Configurator cfg(dialog, serial);
    FillLists(dialog, {sim.Link()});
    dialog.SelectEntry(IDC_PORT, sim.Link());
    const long openFiles = OpenFiles();
    if (c.searchFirst) {
      ASSERT_EQ(SearchInterface(cfg).kind, Outcome::Kind::Found);
    }
    const std::size_t before = ReceivedFrames(sim.Log());

    Clock::time_point killedAt;
    std::thread killer([&] {
      const Clock::time_point giveUp = Clock::now() + std::chrono::seconds(10);
      while (ReceivedFrames(sim.Log()) < before + c.killAfter && Clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));  // another process's file
      // First: no later open may reach a terminal that reuses the number.
      unlink(sim.Link().c_str());
      sim.Kill();
      killedAt = Clock::now();
    });
    const Outcome outcome = c.conversation(cfg);
    const Clock::time_point ended = Clock::now();
    killer.join();

    EXPECT_LT(std::chrono::duration<double>(ended - killedAt).count(), 0.5);
    EXPECT_EQ(outcome.kind, c.outcome);
    EXPECT_EQ(ReceivedFrames(sim.Log()), before + c.killAfter);
    EXPECT_EQ(OpenFiles(), openFiles);
  }
}

}  // namespace
}  // namespace valdrix
