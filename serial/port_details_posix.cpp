#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "serial/port_details.h"
#include "serial/port_state_posix.h"

namespace valdrix {
namespace {

namespace fs = std::filesystem;

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

std::vector<PortDetails> DescribePorts(const std::string& root) {
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

  std::vector<PortDetails> ports;
  for (const std::string& path : posix::CandidatePorts(root)) {
    PortDetails port;
    port.name = path;
    port.state = posix::NodeState(path, root);
    const auto link = byId.find(Canonical(port.name));
    if (link != byId.end())
      port.byId = link->second;
    FillUsb(port, sys, fs::path(path).filename().string());
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace valdrix
