#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "serial/port_details.h"
#include "serial/port_probe_posix.h"
#include "serial/serial_posix.h"

namespace valdrix {
namespace {

namespace fs = std::filesystem;

// VALDRIX_SYSROOT, for tests only: a fake tree whose dev/ and sys/ stand for /dev and /sys.
std::string SysRoot() {
  const char* root = std::getenv("VALDRIX_SYSROOT");
  return root ? root : "";
}

std::string FirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
    line.pop_back();
  return line;
}

std::string Canonical(const std::string& path) {
  std::error_code ignored;
  const fs::path real = fs::canonical(path, ignored);
  return ignored ? std::string() : real.string();
}

bool IsCandidate(const std::string& node) {
  static const char* const kPrefixes[] = {"ttyS", "ttyUSB", "ttyACM", "ttyAMA", "rfcomm"};
  for (const char* prefix : kPrefixes) {
    const std::size_t n = std::char_traits<char>::length(prefix);
    if (node.size() > n && node.compare(0, n, prefix) == 0 &&
        node.find_first_not_of("0123456789", n) == std::string::npos)
      return true;
  }
  return false;
}

// The USB device's attributes: from the port's device directory up to the first one that has
// idVendor (the interface's parent, for both usb-serial and ACM ports).
void FillUsb(PortDetails& port, const std::string& sys, const std::string& node) {
  const std::string top = Canonical(sys);
  std::string dir = Canonical(sys + "/class/tty/" + node + "/device");
  while (!top.empty() && dir.size() > top.size() && dir.compare(0, top.size(), top) == 0) {
    if (access((dir + "/idVendor").c_str(), R_OK) == 0) {
      port.vendorId = FirstLine(dir + "/idVendor");
      port.productId = FirstLine(dir + "/idProduct");
      port.manufacturer = FirstLine(dir + "/manufacturer");
      port.product = FirstLine(dir + "/product");
      port.serialNumber = FirstLine(dir + "/serial");
      return;
    }
    dir.erase(dir.rfind('/'));
  }
}

}  // namespace

std::vector<PortDetails> DescribePorts() {
  const std::string root = SysRoot();
  const std::string dev = root + "/dev";
  const std::string sys = root + "/sys";
  std::error_code ignored;

  // The first by-id link, in name order, to each device.
  std::map<std::string, std::string> byId;
  std::vector<std::string> links;
  for (const auto& entry : fs::directory_iterator(dev + "/serial/by-id", ignored))
    links.push_back(entry.path().string());
  std::sort(links.begin(), links.end());
  for (const std::string& link : links) {
    const std::string target = Canonical(link);
    if (!target.empty())
      byId.emplace(target, link);
  }

  std::vector<std::string> nodes;
  for (const auto& entry : fs::directory_iterator(dev, ignored)) {
    if (IsCandidate(entry.path().filename().string()))
      nodes.push_back(entry.path().filename().string());
  }
  std::sort(nodes.begin(), nodes.end(), NaturalLess);

  std::vector<PortDetails> ports;
  for (const std::string& node : nodes) {
    PortDetails port;
    port.name = dev + "/" + node;
    const bool uartNode = node.compare(0, 4, "ttyS") == 0;
    posix::ExclusiveFd held = posix::OpenExclusive(port.name, &port.state);
    if (held.fd >= 0) {
      const bool keep = !uartNode || posix::IsRealUart(held.fd);
      posix::ReleaseExclusive(held);
      if (!keep)
        continue;
    } else if (port.state.problem == PortProblem::NotAPort ||
               port.state.problem == PortProblem::Missing) {
      continue;
    } else if (uartNode && FirstLine(sys + "/class/tty/" + node + "/type") == "0") {
      continue;  // no UART behind it (PORT_UNKNOWN), though we may not open it to ask
    }
    const auto link = byId.find(Canonical(port.name));
    if (link != byId.end())
      port.byId = link->second;
    FillUsb(port, sys, node);
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace valdrix
