// The POSIX backend on a real pseudo-terminal: the time-outs in real time, the line settings the
// other end sees, which ports are listed, a second open in this process, and a vanished other end.
// What it refuses to open and why is seen through valdrix-config (tests/cli).
#include "serial/serial_posix.h"

#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>

#include <algorithm>
#include <ctime>
#include <thread>

#include "tests/pty/pty_support.h"

namespace valdrix {
namespace {

using namespace valdrix::pty;

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

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

class PosixRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(PosixRead, EndsWhenTheTimeoutsSay) {
  const ReadCase& c = GetParam();
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 57600);
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
  const double elapsedMs = SecondsSince(start) * 1000;
  sender.join();

  EXPECT_TRUE(result.ok);
  ASSERT_EQ(result.count, c.count);
  EXPECT_GE(elapsedMs, c.endsAtMs - 2.0);
  EXPECT_LE(elapsedMs, c.endsAtMs + 150.0);
  EXPECT_LT(cpuMs, 20.0);  // poll() waits; a spinning loop would burn the whole second
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + c.count),
            (c.first + c.later).substr(0, c.count));
}

INSTANTIATE_TEST_SUITE_P(
    RealTime, PosixRead,
    ::testing::Values(
        ReadCase{"Silent4", 4, "", 0, "", 0, TotalTimeoutMs(4)},
        ReadCase{"Silent300", 300, "", 0, "", 0, TotalTimeoutMs(300)},
        // Line-discipline bytes (interrupt, XON, CR, erase) arrive as they were sent.
        ReadCase{"FullInPieces", 4, "\x03\x11", 150, "\x0D\x7F", 4, 150},
        ReadCase{"PartialEndsAfterLastByte", 600, "\x55", 300, "\x66", 2, 300 + READ_INTERVAL_MS},
        ReadCase{"GapsDoNotExtendTheTotal", 4, "\xF2\xFD", 600, "\x66", 3, TotalTimeoutMs(4)}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(PosixSerial, TheOtherEndSeesRaw8N1WithHandshakeAndEachRate) {
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 9600);
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

TEST(PosixSerial, ListsOnlyPortsThatOpenExclusively) {
  PtyPair pty;
  PosixSerial serial;
  const Clock::time_point start = Clock::now();
  const std::vector<std::string> ports = serial.EnumeratePorts();
  EXPECT_LT(SecondsSince(start), 1.0);  // no port may block the listing
  EXPECT_EQ(std::find(ports.begin(), ports.end(), pty.slave), ports.end());
  if (ports.empty())
    GTEST_SKIP() << "no serial port on this machine to hold";
  const int held = open(ports[0].c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
  const std::vector<std::string> whileHeld = serial.EnumeratePorts();
  close(held);
  EXPECT_EQ(std::find(whileHeld.begin(), whileHeld.end(), ports[0]), whileHeld.end());
  EXPECT_EQ(serial.EnumeratePorts(), ports);
}

TEST(PosixSerial, APortOpenHereIsBusyUntilClosed) {
  PtyPair pty;
  PosixSerial serial;
  auto first = serial.OpenPort(pty.slave, 9600);
  ASSERT_TRUE(first);
  PortError error;
  EXPECT_EQ(serial.OpenPort(pty.slave, 9600, &error), nullptr);
  EXPECT_EQ(error.problem, PortProblem::Busy);
  EXPECT_EQ(error.holder, "");                           // never this program itself
  EXPECT_EQ(serial.OpenPort(pty.slave, 9600), nullptr);  // the refused open left the hold
  first.reset();
  EXPECT_TRUE(serial.OpenPort(pty.slave, 9600));
}

TEST(PosixSerial, AVanishedOtherEndFailsReadsAndWritesAtOnce) {
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 57600);
  ASSERT_TRUE(port);
  const Clock::time_point start = Clock::now();
  std::thread closer([&] {
    std::this_thread::sleep_until(start + std::chrono::milliseconds(200));
    pty.CloseMaster();
  });
  std::uint8_t buffer[4] = {};
  EXPECT_FALSE(port->ReadFrame(buffer, sizeof buffer).ok);  // waiting when it goes
  closer.join();
  EXPECT_FALSE(port->WriteFrame(buffer, sizeof buffer));
  EXPECT_FALSE(port->ReadFrame(buffer, sizeof buffer).ok);
  EXPECT_LT(SecondsSince(start), 0.5);
}

}  // namespace
}  // namespace valdrix
