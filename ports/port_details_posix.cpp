#include <algorithm>
#include <filesystem>
#include <map>

#include "ports/port_details.h"
#include "ports/port_state_posix.h"

namespace valdrix {
namespace {

namespace fs = std::filesystem;

std::string Canonical(const std::string& path) {
  std::error_code ignored;
  const fs::path real = fs::canonical(path, ignored);
  return ignored ? std::string() : real.string();
}

// The USB device's attributes, where there is one behind the port.
void FillUsb(PortDetails& port, const std::string& root, const std::string& node) {
  const std::string dir = posix::UsbDeviceDir(root, node);
  if (dir.empty())
    return;
  port.vendorId = posix::FirstLine(dir + "/idVendor");
  port.productId = posix::FirstLine(dir + "/idProduct");
  port.manufacturer = posix::FirstLine(dir + "/manufacturer");
  port.product = posix::FirstLine(dir + "/product");
  port.serialNumber = posix::FirstLine(dir + "/serial");
}

}  // namespace

std::vector<PortDetails> DescribePorts(const std::string& root) {
  const std::string dev = root + "/dev";
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
    FillUsb(port, root, fs::path(path).filename().string());
    ports.push_back(std::move(port));
  }
  return ports;
}

}  // namespace valdrix
