#include "ports/port_state_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "ports/port_details.h"

namespace valdrix::posix {
namespace {

namespace fs = std::filesystem;

// /dev/ptmx: a descriptor on it is the master side of a pseudo-terminal.
const dev_t PTMX = makedev(5, 2);
// The majors of the pseudo-terminal slaves (/dev/pts/N); N is (major - 136) * 256 + minor.
constexpr unsigned PTS_FIRST_MAJOR = 136;
constexpr unsigned PTS_LAST_MAJOR = 143;

}  // namespace

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
    line.pop_back();
  return line;
}

namespace {

std::string GroupName(gid_t gid) {
  group entry{};
  group* found = nullptr;
  char buffer[4096];
  if (getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found)
    return found->gr_name;
  return std::to_string(gid);
}

std::string UserName(uid_t uid) {
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
    return found->pw_name;
  return std::to_string(uid);
}

}  // namespace

bool Alive(const std::string& root, long pid) {
  struct stat st {};
  return pid > 0 && stat((root + "/proc/" + std::to_string(pid)).c_str(), &st) == 0;
}

// The PID a UUCP lock file holds: as text ("      1234\n"), or as a 4-byte binary number, as
// some older programs write it; 0 when there is none.
long LockFilePid(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  long pid = std::strtol(content.c_str(), nullptr, 10);
  if (pid <= 0 && content.size() == 4) {
    std::int32_t binary = 0;
    content.copy(reinterpret_cast<char*>(&binary), 4);
    pid = binary;
  }
  return pid;
}

namespace {

// The other process holding an flock() or a POSIX lock on the node, from the kernel's table of
// locks; 0 if none.
long LockHolder(const std::string& root, const struct stat& node) {
  std::ifstream in(root + "/proc/locks");
  std::string line;
  while (std::getline(in, line)) {
    // "1: FLOCK  ADVISORY  WRITE 245 00:17:7 0 EOF"; waiting requests carry "->" and hold nothing.
    std::istringstream fields(line);
    std::string id, type, mode, access, where;
    long pid = 0;
    unsigned devMajor = 0, devMinor = 0;
    unsigned long inode = 0;
    if (line.find("->") != std::string::npos ||
        !(fields >> id >> type >> mode >> access >> pid >> where) ||
        std::sscanf(where.c_str(), "%x:%x:%lu", &devMajor, &devMinor, &inode) != 3)
      continue;
    if (devMajor == major(node.st_dev) && devMinor == minor(node.st_dev) && inode == node.st_ino &&
        pid != static_cast<long>(getpid()))
      return pid;
  }
  return 0;
}

// A live UUCP lock file of another process for the node; 0 if none.
long UucpLockHolder(const std::string& root, const std::vector<std::string>& names) {
  for (const char* dir : LOCK_DIRS) {
    for (const std::string& name : names) {
      const long pid = LockFilePid(root + dir + "/LCK.." + name);
      if (pid != static_cast<long>(getpid()) && Alive(root, pid))
        return pid;
    }
  }
  return 0;
}

}  // namespace

// The names a lock file may use for the node, for the path given and the one it resolves to:
// the base name, as the FHS and cu have it ("ttyUSB0", "3" for /dev/pts/3), and the path below
// dev/ with '/' as '_', as some terminals write it ("pts_3").
std::vector<std::string> LockNames(const std::string& path, const std::string& root) {
  std::vector<std::string> names;
  const auto add = [&names](const std::string& name) {
    if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end())
      names.push_back(name);
  };
  std::error_code ignored;
  for (const std::string& p : {path, fs::canonical(path, ignored).string()}) {
    add(fs::path(p).filename().string());
    for (const std::string& dev : {root + "/dev/", std::string("/dev/")}) {
      if (p.size() > dev.size() && p.compare(0, dev.size(), dev) == 0) {
        std::string name = p.substr(dev.size());
        std::replace(name.begin(), name.end(), '/', '_');
        add(name);
        break;
      }
    }
  }
  return names;
}

namespace {

// Whether the process's descriptor fd is a pseudo-terminal master of the given tty index.
bool IsMasterOf(const std::string& base, const char* fd, int fdDir, long index) {
  struct stat st {};
  if (fstatat(fdDir, fd, &st, 0) != 0 || !S_ISCHR(st.st_mode) || st.st_rdev != PTMX)
    return false;
  std::ifstream in(base + "/fdinfo/" + fd);
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, 10, "tty-index:") == 0)
      return std::strtol(line.c_str() + 10, nullptr, 10) == index;
  }
  return false;
}

// The first process (not this one) with the device open, as fuser finds it. A process that also
// holds the pseudo-terminal's master is its device end (a simulator, a terminal emulator), not a
// user. Processes whose descriptors we may not read are passed over; *everyoneSeen says whether
// there were none.
long OpenHolder(const std::string& root, const struct stat& node, bool* everyoneSeen) {
  const unsigned devMajor = major(node.st_rdev);
  const long ptsIndex =
      devMajor >= PTS_FIRST_MAJOR && devMajor <= PTS_LAST_MAJOR
          ? static_cast<long>((devMajor - PTS_FIRST_MAJOR) * 256 + minor(node.st_rdev))
          : -1;
  *everyoneSeen = false;
  DIR* proc = opendir((root + "/proc").c_str());
  if (!proc)
    return 0;
  *everyoneSeen = true;
  const long self = static_cast<long>(getpid());
  long holder = 0;
  while (!holder) {
    const dirent* entry = readdir(proc);
    if (!entry)
      break;
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (*end != '\0' || pid <= 0 || pid == self)
      continue;
    const std::string base = root + "/proc/" + entry->d_name;
    DIR* fds = opendir((base + "/fd").c_str());
    if (!fds) {
      *everyoneSeen = *everyoneSeen && errno != EACCES && errno != EPERM;
      continue;
    }
    bool holds = false;
    bool deviceEnd = false;
    while (const dirent* fd = readdir(fds)) {
      if (fd->d_name[0] == '.')
        continue;
      struct stat st {};
      if (fstatat(dirfd(fds), fd->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
          st.st_rdev == node.st_rdev)
        holds = true;
      else if (ptsIndex >= 0 && IsMasterOf(base, fd->d_name, dirfd(fds), ptsIndex))
        deviceEnd = true;
    }
    closedir(fds);
    if (holds && !deviceEnd)
      holder = pid;
  }
  closedir(proc);
  return holder;
}

}  // namespace

std::string UsbDeviceDir(const std::string& root, const std::string& kernelName) {
  // From the port's device directory up to the first one that has idVendor (the interface's
  // parent, for both usb-serial and ACM ports).
  std::error_code ignored;
  const std::string top = fs::canonical(root + "/sys", ignored).string();
  std::string dir =
      fs::canonical(root + "/sys/class/tty/" + kernelName + "/device", ignored).string();
  while (!ignored && !top.empty() && dir.size() > top.size() &&
         dir.compare(0, top.size(), top) == 0) {
    if (access((dir + "/idVendor").c_str(), R_OK) == 0)
      return dir;
    dir.erase(dir.rfind('/'));
  }
  return {};
}

std::vector<std::string> CandidatePorts(const std::string& root) {
  static const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};
  std::error_code ignored;
  std::vector<std::string> names;
  const std::string sysTty = root + "/sys/class/tty";
  if (fs::is_directory(sysTty, ignored)) {
    // What the kernel registers with a device behind it: not the consoles, not the pseudo-ttys.
    for (const auto& entry : fs::directory_iterator(sysTty, ignored)) {
      if (fs::exists(entry.path() / "device", ignored))
        names.push_back(entry.path().filename().string());
    }
  } else {
    // No sysfs (some containers): the usual names in /dev.
    for (const auto& entry : fs::directory_iterator(root + "/dev", ignored)) {
      const std::string node = entry.path().filename().string();
      for (const char* prefix : kPrefixes) {
        const std::size_t n = std::char_traits<char>::length(prefix);
        if (node.size() > n && node.compare(0, n, prefix) == 0 &&
            node.find_first_not_of("0123456789", n) == std::string::npos)
          names.push_back(node);
      }
    }
  }
  std::vector<std::string> ports;
  for (const std::string& name : names) {
    // An 8250 slot with no UART behind it (PORT_UNKNOWN): most PCs show many.
    if (FirstLine(sysTty + "/" + name + "/type") == "0")
      continue;
    const std::string path = root + "/dev/" + name;
    struct stat node {};
    if (stat(path.c_str(), &node) == 0 && S_ISCHR(node.st_mode))
      ports.push_back(path);
  }
  std::sort(ports.begin(), ports.end(), NaturalLess);
  return ports;
}

PortError AccessProblem(const std::string& path, const struct stat& node, const std::string& root) {
  PortError e;
  e.problem = PortProblem::Permission;
  e.group = GroupName(node.st_gid);
  e.owner = UserName(node.st_uid);
  e.groupMayOpen = node.st_gid != 0 && (node.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  std::error_code ignored;
  const fs::path real = fs::canonical(path, ignored);
  // The name below /dev: "ttyUSB0", and "pts/3" rather than a bare "3".
  const std::string name = ignored ? path : real.string();
  e.kernelName =
      name.compare(0, 5, "/dev/") == 0 ? name.substr(5) : fs::path(name).filename().string();
  const std::string usb = UsbDeviceDir(root, e.kernelName);
  if (!usb.empty()) {
    e.vendorId = FirstLine(usb + "/idVendor");
    e.productId = FirstLine(usb + "/idProduct");
  }
  return e;
}

bool InUse(const std::string& path, const struct stat& node, const std::string& root,
           PortError* busy, bool* everyoneSeen) {
  bool seen = true;
  long pid = LockHolder(root, node);
  if (!pid)
    pid = OpenHolder(root, node, &seen);
  if (!pid)
    pid = UucpLockHolder(root, LockNames(path, root));
  if (everyoneSeen)
    *everyoneSeen = seen;
  if (pid && busy) {
    busy->problem = PortProblem::Busy;
    busy->holderPid = pid;
    busy->holderName = FirstLine(root + "/proc/" + std::to_string(pid) + "/comm");
  }
  return pid != 0;
}

bool IsConsole(const struct stat& node, const std::string& root) {
  // "ttyS0                -W- (EC  p a)    4:64", one console a line; "tty0 ttyS0".
  std::vector<std::string> names;
  std::ifstream consoles(root + "/proc/consoles");
  for (std::string line; std::getline(consoles, line);)
    names.push_back(line.substr(0, line.find(' ')));
  std::istringstream active(FirstLine(root + "/sys/class/tty/console/active"));
  for (std::string name; active >> name;)
    names.push_back(name);
  for (const std::string& name : names) {
    struct stat console {};
    if (!name.empty() && stat((root + "/dev/" + name).c_str(), &console) == 0 &&
        S_ISCHR(console.st_mode) && console.st_rdev == node.st_rdev)
      return true;
  }
  return false;
}

PortError NodeState(const std::string& path, const std::string& root) {
  PortError e;
  struct stat node {};
  if (stat(path.c_str(), &node) != 0) {
    e.problem = PortProblem::Missing;
  } else if (!S_ISCHR(node.st_mode)) {
    e.problem = PortProblem::NotAPort;
  } else if (IsConsole(node, root)) {
    e.problem = PortProblem::Console;
  } else if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
    e = AccessProblem(path, node, root);
  } else {
    InUse(path, node, root, &e);
  }
  return e;
}

}  // namespace valdrix::posix
