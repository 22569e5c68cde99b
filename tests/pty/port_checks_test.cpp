// What the POSIX backend refuses to open, and why: things that are not ports are never touched,
// a port someone holds is not shared.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <fstream>
#include <functional>

#include "serial/port_details.h"
#include "serial/serial_posix.h"
#include "tests/pty/pty_support.h"

namespace valdrix {
namespace {

using namespace valdrix::pty;

TEST(PosixSerial, WhatIsNoPortIsRefusedUntouched) {
  TempDir dir;
  std::ofstream(dir / "notes.txt") << "keep\n";
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
  // The FIFO's reader would see anything written to it.
  const int reader = open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  const std::pair<std::string, PortProblem> cases[] = {{dir / "notes.txt", PortProblem::NotAPort},
                                                       {dir / "fifo", PortProblem::NotAPort},
                                                       {dir / "", PortProblem::NotAPort},
                                                       {"/dev/null", PortProblem::NotAPort},
                                                       {dir / "ttyUSB9", PortProblem::Missing}};
  for (const auto& [path, problem] : cases) {
    SCOPED_TRACE(path);
    struct stat before {
    }, after{};
    stat(path.c_str(), &before);
    PortError error;
    EXPECT_EQ(PosixSerial().OpenPort(path, 9600, &error), nullptr);
    EXPECT_EQ(error.problem, problem);
    stat(path.c_str(), &after);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(std::make_pair(after.st_mtim.tv_sec, after.st_mtim.tv_nsec),
              std::make_pair(before.st_mtim.tv_sec, before.st_mtim.tv_nsec));
  }
  std::ifstream in(dir / "notes.txt");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "keep\n");
  char c;
  EXPECT_LE(read(reader, &c, 1), 0);
  close(reader);
}

// Runs body in a child process named "valdrix-holder", which then waits until the Child is
// destroyed; body's result comes back to the parent.
class Child {
 public:
  explicit Child(const std::function<std::string()>& body) {
    int up[2], down[2];
    if (pipe(up) != 0 || pipe(down) != 0)
      return;
    pid_ = fork();
    if (pid_ == 0) {
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      prctl(PR_SET_NAME, "valdrix-holder");
      close(up[0]);
      close(down[1]);
      const std::string result = body() + "\n";
      char c;
      if (write(up[1], result.data(), result.size()) > 0)
        (void)!read(down[0], &c, 1);  // until the parent lets go
      _exit(0);
    }
    close(up[1]);
    close(down[0]);
    release_ = down[1];
    char text[256];
    const ssize_t n = read(up[0], text, sizeof text);
    result_.assign(text, n > 0 ? n - 1 : 0);
    close(up[0]);
  }
  ~Child() {
    close(release_);
    waitpid(pid_, nullptr, 0);
  }
  std::string Name() const { return "valdrix-holder (pid " + std::to_string(pid_) + ")"; }
  const std::string& result() const { return result_; }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  std::string result_;
};

TEST(PosixSerial, APortAnotherProgramHoldsIsBusyNamingIt) {
  // Through this backend, and the two ways other programs take a port.
  for (const char* how : {"backend", "flock", "TIOCEXCL"}) {
    SCOPED_TRACE(how);
    PtyPair pty;
    Child child([&] {
      if (how[0] == 'b')
        return PosixSerial().OpenPort(pty.slave, 9600).release() ? "held" : "";  // kept open
      const int fd = open(pty.slave.c_str(), O_RDWR | O_NOCTTY);
      return (how[0] == 'f' ? flock(fd, LOCK_EX | LOCK_NB) : ioctl(fd, TIOCEXCL)) == 0 ? "held"
                                                                                       : "";
    });
    ASSERT_EQ(child.result(), "held");
    PortError error;
    EXPECT_EQ(PosixSerial().OpenPort(pty.slave, 9600, &error), nullptr);
    EXPECT_EQ(error.problem, PortProblem::Busy);
    EXPECT_EQ(error.holder, child.Name());
  }
}

TEST(PosixSerial, APortOpenHereIsBusyUntilClosed) {
  PtyPair pty;
  PosixSerial serial;
  auto first = serial.OpenPort(pty.slave, 9600);
  ASSERT_TRUE(first);
  PortError error;
  EXPECT_EQ(serial.OpenPort(pty.slave, 9600, &error), nullptr);
  EXPECT_EQ(error.problem, PortProblem::Busy);
  EXPECT_EQ(error.holder, "");  // never this program itself
  // The refused open left the first one's hold in place.
  EXPECT_EQ(serial.OpenPort(pty.slave, 9600), nullptr);
  first.reset();
  EXPECT_TRUE(serial.OpenPort(pty.slave, 9600, &error));
  EXPECT_EQ(error.problem, PortProblem::None);
}

TEST(PosixSerial, APortThisUserMayNotOpenNamesItsGroup) {
  const group* dialout = getgrnam("dialout");
  if (geteuid() != 0 || !dialout)
    GTEST_SKIP() << "needs root, to drop to another user, and a dialout group";
  PtyPair pty;
  ASSERT_EQ(chown(pty.slave.c_str(), 0, dialout->gr_gid), 0);
  ASSERT_EQ(chmod(pty.slave.c_str(), 0600), 0);
  Child child([&] {
    if (setgid(65534) != 0 || setuid(65534) != 0)
      return std::string("still root");
    PortError error;
    PosixSerial().OpenPort(pty.slave, 9600, &error);
    return std::to_string(static_cast<int>(error.problem)) + " " + error.group;
  });
  EXPECT_EQ(child.result(), std::to_string(static_cast<int>(PortProblem::Permission)) + " dialout");
}

TEST(PortDetails, FromAFakeSystemTree) {
  PtyPair pty;
  TempDir root;
  const std::string usb = "sys/devices/pci0000:00/usb1/1-2";
  std::filesystem::create_directories(root / usb + "/1-2:1.0/ttyUSB0");
  std::filesystem::create_directories(root / "sys/class/tty/ttyUSB0");
  std::filesystem::create_directories(root / "dev/serial/by-id");
  const std::pair<const char*, const char*> attributes[] = {{"idVendor", "1a86"},
                                                            {"idProduct", "7523"},
                                                            {"manufacturer", "Acme Works"},
                                                            {"product", "USB Serial Bridge"},
                                                            {"serial", "AW-0042"}};
  for (const auto& [name, value] : attributes)
    std::ofstream(root / usb + "/" + name) << value << "\n";
  ASSERT_EQ(symlink(("../../../" + usb.substr(4) + "/1-2:1.0/ttyUSB0").c_str(),
                    (root / "sys/class/tty/ttyUSB0/device").c_str()),
            0);
  ASSERT_EQ(symlink(pty.slave.c_str(), (root / "dev/ttyUSB0").c_str()), 0);
  const std::string byId = root / "dev/serial/by-id/usb-Acme_Works_USB_Serial_Bridge_AW-0042-port0";
  ASSERT_EQ(symlink("../../ttyUSB0", byId.c_str()), 0);
  std::ofstream(root / "dev/ttyUSB1") << "not a port\n";  // left out

  std::string sysroot = root / "";
  sysroot.pop_back();
  setenv("VALDRIX_SYSROOT", sysroot.c_str(), 1);
  const std::vector<PortDetails> ports = DescribePorts();
  unsetenv("VALDRIX_SYSROOT");
  ASSERT_EQ(ports.size(), 1u);
  const PortDetails& port = ports[0];
  EXPECT_EQ(port.name, root / "dev/ttyUSB0");
  EXPECT_EQ(port.byId, byId);
  EXPECT_EQ(port.vendorId + ":" + port.productId, "1a86:7523");
  EXPECT_EQ(port.manufacturer + "|" + port.product + "|" + port.serialNumber,
            "Acme Works|USB Serial Bridge|AW-0042");
  EXPECT_EQ(port.state.problem, PortProblem::None);
}

}  // namespace
}  // namespace valdrix
