// The POSIX backend on a real pseudo-terminal: the time-outs in real time, raw bytes, the line
// settings the other end sees, and a vanished other end.
#include "serial/serial_posix.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <thread>

#include "conversations/configurator.h"
#include "tests/pty/pty_support.h"

namespace valdrix {
namespace {

using namespace valdrix::pty;
using std::chrono::milliseconds;

// Bytes the other end sends, each group this many milliseconds after the read began.
struct Burst {
  int atMs;
  std::vector<std::uint8_t> bytes;
};

void SendLater(int master, Clock::time_point start, const std::vector<Burst>& bursts) {
  for (const Burst& b : bursts) {
    std::this_thread::sleep_until(start + milliseconds(b.atMs));
    ASSERT_EQ(write(master, b.bytes.data(), b.bytes.size()), static_cast<ssize_t>(b.bytes.size()));
  }
}

struct ReadCase {
  const char* name;
  std::size_t length;
  std::vector<Burst> bursts;
  std::size_t expectCount;
  double minSeconds;
  double maxSeconds;
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

class PosixReadTimeouts : public ::testing::TestWithParam<ReadCase> {};

TEST_P(PosixReadTimeouts, ReturnsWhenTheWin32TimeoutsWould) {
  const ReadCase& c = GetParam();
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 57600);
  ASSERT_TRUE(port);

  std::vector<std::uint8_t> expected;
  for (const Burst& b : c.bursts)
    expected.insert(expected.end(), b.bytes.begin(), b.bytes.end());
  std::vector<std::uint8_t> buffer(c.length, 0xEE);

  const Clock::time_point start = Clock::now();
  std::thread sender(SendLater, pty.master, start, c.bursts);
  const double cpuBefore = ThreadCpuMs();
  const ReadResult result = port->ReadFrame(buffer.data(), buffer.size());
  const double cpuMs = ThreadCpuMs() - cpuBefore;
  const double elapsed = SecondsSince(start);
  sender.join();

  EXPECT_TRUE(result.ok);
  EXPECT_EQ(result.count, c.expectCount);
  EXPECT_GE(elapsed, c.minSeconds);
  EXPECT_LE(elapsed, c.maxSeconds);
  // Waiting is poll()'s job: a loop that spins would burn the whole second.
  EXPECT_LT(cpuMs, 20.0);
  expected.resize(std::min(expected.size(), c.expectCount));
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + result.count), expected);
}

INSTANTIATE_TEST_SUITE_P(
    RealTime, PosixReadTimeouts,
    ::testing::Values(
        // Nothing arrives: success with no bytes after 1000 + 4 ms.
        ReadCase{"Silent", 4, {}, 0, 1.0, 1.2},
        // A whole reply is handed over as soon as it is there.
        ReadCase{"WholeReply", 4, {{100, {0xF2, 0x01, 0x07, 0xF4}}}, 4, 0.09, 0.4},
        // A reply in pieces is collected into one read.
        ReadCase{"InPieces", 4, {{0, {0x02}}, {150, {0x10, 0x66}}, {300, {0x74}}}, 4, 0.29, 0.6},
        // Gaps shorter than a second do not extend the 1004 ms the whole read may take.
        ReadCase{"TotalLimit", 4, {{0, {0xF2, 0xFD}}, {600, {0x66}}}, 3, 1.0, 1.2},
        // A long read ends one second after its only byte, well before its 1600 ms total.
        ReadCase{"GapLimit", 600, {{0, {0x55}}}, 1, 0.95, 1.3}),
    [](const ::testing::TestParamInfo<ReadCase>& info) { return info.param.name; });

TEST(PosixSerial, DrainEndsAboutASecondAfterTheLastByte) {
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 57600);
  ASSERT_TRUE(port);
  const Clock::time_point start = Clock::now();
  std::thread sender(SendLater, pty.master, start,
                     std::vector<Burst>{{0, {0xF2, 0xFF}}, {200, {0x01}}, {400, {0x0C}}});
  DrainPort(*port);
  const double elapsed = SecondsSince(start);
  sender.join();
  EXPECT_GE(elapsed, 1.38);
  EXPECT_LE(elapsed, 1.65);
}

TEST(PosixSerial, BytesPassUnchangedBothWays) {
  // Bytes a terminal's line discipline would turn into signals, flow control, newline mapping
  // or echo.
  const std::vector<std::uint8_t> bytes = {0x03, 0x0A, 0x0D, 0x11, 0x13, 0x1A,
                                           0x7F, 0xFF, 0x00, 0x04, 0x1C, 0x08};
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 9600);
  ASSERT_TRUE(port);

  ASSERT_TRUE(port->WriteFrame(bytes.data(), bytes.size()));
  EXPECT_EQ(pty.ReadMaster(bytes.size() + 1, 300), bytes);

  ASSERT_EQ(write(pty.master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  std::vector<std::uint8_t> buffer(bytes.size());
  const Clock::time_point start = Clock::now();
  const ReadResult result = port->ReadFrame(buffer.data(), buffer.size());
  EXPECT_LT(SecondsSince(start), 0.5);
  EXPECT_TRUE(result.ok);
  EXPECT_EQ(buffer, bytes);
  // Nothing was echoed back to the other end.
  EXPECT_TRUE(pty.ReadMaster(1, 100).empty());
}

TEST(PosixSerial, TheOtherEndSeesTheLineSettings) {
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 9600);
  ASSERT_TRUE(port);

  termios tio{};
  ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_EQ(tio.c_cflag & (CRTSCTS | CLOCAL | CREAD),
            static_cast<tcflag_t>(CRTSCTS | CLOCAL | CREAD));
  EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL), 0u);

  const struct {
    std::uint32_t rate;
    speed_t speed;
  } steps[] = {{19200, B19200},
               {38400, B38400},
               {57600, B57600},
               {115200, B115200},
               {12345, B115200},  // a rate the line cannot take leaves the speed
                                  // as it was
               {9600, B9600}};
  for (const auto& step : steps) {
    port->SetPortRate(step.rate);
    ASSERT_EQ(tcgetattr(pty.master, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), step.speed) << step.rate;
    EXPECT_EQ(cfgetispeed(&tio), step.speed) << step.rate;
  }
}

TEST(PosixSerial, AVanishedOtherEndFailsAtOnce) {
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 57600);
  ASSERT_TRUE(port);
  pty.CloseMaster();

  const std::uint8_t query[] = {0xF0, 0xF0};
  const Clock::time_point start = Clock::now();
  EXPECT_FALSE(port->WriteFrame(query, sizeof query));
  std::uint8_t buffer[4] = {};
  EXPECT_FALSE(port->ReadFrame(buffer, sizeof buffer).ok);
  EXPECT_LT(SecondsSince(start), 0.2);
}

TEST(PosixSerial, AReadWaitingWhenTheOtherEndGoesFailsThen) {
  PtyPair pty;
  PosixSerial serial;
  auto port = serial.OpenPort(pty.slave, 57600);
  ASSERT_TRUE(port);
  const Clock::time_point start = Clock::now();
  std::thread closer([&] {
    std::this_thread::sleep_until(start + milliseconds(200));
    pty.CloseMaster();
  });
  std::uint8_t buffer[4] = {};
  const ReadResult result = port->ReadFrame(buffer, sizeof buffer);
  const double elapsed = SecondsSince(start);
  closer.join();
  EXPECT_FALSE(result.ok);
  EXPECT_LT(elapsed, 0.6);
}

TEST(PosixSerial, OpensThroughASymlinkAndRefusesMissingPaths) {
  PtyPair pty;
  TempDir dir;
  const std::string link = dir / "ttyValdrix";
  ASSERT_EQ(symlink(pty.slave.c_str(), link.c_str()), 0);
  PosixSerial serial;

  EXPECT_FALSE(serial.OpenPort(dir / "missing", 57600));
  auto port = serial.OpenPort(link, 57600);
  ASSERT_TRUE(port);
  const std::uint8_t frame[] = {0xF2, 0x01, 0xFF, 0x0C};
  ASSERT_TRUE(port->WriteFrame(frame, sizeof frame));
  EXPECT_EQ(pty.ReadMaster(4, 300), std::vector<std::uint8_t>(frame, frame + 4));
}

TEST(PosixSerial, PortNamesSortNaturally) {
  std::vector<std::string> names = {"/dev/ttyUSB0", "/dev/ttyS10", "/dev/ttyS2",  "/dev/ttyACM1",
                                    "/dev/ttyS1",   "/dev/ttyS02", "/dev/rfcomm0"};
  std::sort(names.begin(), names.end(), NaturalLess);
  const std::vector<std::string> expected = {"/dev/rfcomm0", "/dev/ttyACM1", "/dev/ttyS1",
                                             "/dev/ttyS02",  "/dev/ttyS2",   "/dev/ttyS10",
                                             "/dev/ttyUSB0"};
  EXPECT_EQ(names, expected);
}

TEST(PosixSerial, ListingIsQuickStableAndLeavesPseudoTerminalsOut) {
  PtyPair pty;
  PosixSerial serial;
  const Clock::time_point start = Clock::now();
  const std::vector<std::string> first = serial.EnumeratePorts();
  EXPECT_LT(SecondsSince(start), 1.0);
  EXPECT_EQ(serial.EnumeratePorts(), first);
  EXPECT_TRUE(std::is_sorted(first.begin(), first.end(), NaturalLess));
  EXPECT_EQ(std::find(first.begin(), first.end(), pty.slave), first.end());
}

}  // namespace
}  // namespace valdrix
