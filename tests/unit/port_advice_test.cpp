// The fix offered for a port this user may not open: a group to join only when joining it helps
// and is safe, else a udev rule, matched by the USB ids where they are known.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ports/port_advice.h"
#include "ports/port_state_posix.h"

namespace valdrix {
namespace {

TEST(PortAdvice, JoinsAGroupOnlyWhenThatOpensThePortSafely) {
  const std::string rule =
      "Only its owner (root) can open it. To give it to the group dialout, "
      "put this line in /etc/udev/rules.d/99-valdrix.rules, then run sudo "
      "udevadm control --reload && sudo udevadm trigger, and add your user "
      "to dialout (sudo usermod -aG dialout $USER, then log out and in "
      "again):\nSUBSYSTEM==\"tty\", ";
  const std::string join =
      "Add your user to the group dialout: sudo usermod -aG dialout $USER, "
      "then log out and in again.";
  const std::string usbRule =
      rule +
      "ATTRS{idVendor}==\"0403\", ATTRS{idProduct}==\"6001\", GROUP=\"dialout\", MODE=\"0660\"";
  const struct {
    gid_t gid;
    mode_t mode;
    bool usb;
    std::string hint;
    const char* path = "/nowhere/dev/ttyUSB0";
  } cases[] = {
      {20, 0660, true, join},
      {20, 0640, true, usbRule},
      {0, 0660, false, rule + "KERNEL==\"ttyUSB0\", GROUP=\"dialout\", MODE=\"0660\""},
      {0, 0600, true, usbRule},
      {0, 0600, false,
       "Only its owner (root) can open it: a pseudo-terminal belongs to the program that made it. "
       "Start that program as your own user.",
       "/dev/pts/4096"},  // no udev there
  };
  for (const auto& c : cases) {
    struct stat node {};
    node.st_uid = 0;
    node.st_gid = c.gid;
    node.st_mode = S_IFCHR | c.mode;
    PortError e = posix::AccessProblem(c.path, node, "/nowhere");
    if (c.usb) {
      e.vendorId = "0403";
      e.productId = "6001";
    }
    EXPECT_EQ(Hint(e), c.hint) << c.gid << " " << std::oct << c.mode;
  }
}

}  // namespace
}  // namespace valdrix
