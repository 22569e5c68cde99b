// The port details from SetupAPI. Only the command-line program links this: the dialog's
// executable imports nothing beyond kernel32, user32, comctl32 and msvcrt.
#include <windows.h>
// windows.h first.
#include <setupapi.h>

#include <algorithm>
#include <cctype>

#include "ports/port_details.h"

namespace valdrix {
namespace {

// The Ports (COM & LPT) device class.
const GUID kPortsClass = {
    0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A text property; of a multi-string, the first string.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& device, DWORD property) {
  char text[1024] = {};
  if (!SetupDiGetDeviceRegistryPropertyA(set, &device, property, nullptr,
                                         reinterpret_cast<BYTE*>(text), sizeof text - 2, nullptr))
    return {};
  return text;
}

std::string PortName(HDEVINFO set, SP_DEVINFO_DATA& device) {
  const HKEY key = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE)
    return {};
  char text[64] = {};
  DWORD size = sizeof text - 1;
  DWORD type = 0;
  const LONG status =
      RegQueryValueExA(key, "PortName", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS && type == REG_SZ ? text : "";
}

// The four hex digits after tag ("VID_") in a hardware id such as USB\VID_0403&PID_6001&REV_0600.
std::string IdAfter(const std::string& hardwareId, const char* tag) {
  const std::size_t at = hardwareId.find(tag);
  if (at == std::string::npos || at + 8 > hardwareId.size())
    return {};
  std::string id = hardwareId.substr(at + 4, 4);
  for (char& c : id)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return id;
}

// A USB device's own serial number is the last part of its instance id; Windows makes up one
// with '&' in it for a device that has none.
std::string SerialNumber(HDEVINFO set, SP_DEVINFO_DATA& device) {
  char id[512] = {};
  if (!SetupDiGetDeviceInstanceIdA(set, &device, id, sizeof id, nullptr))
    return {};
  const std::string instance = id;
  const std::size_t last = instance.rfind('\\');
  if (instance.compare(0, 4, "USB\\") != 0 || last == std::string::npos ||
      instance.find('&', last) != std::string::npos)
    return {};
  return instance.substr(last + 1);
}

}  // namespace

std::vector<PortDetails> DescribePorts(PortProbe probe) {
  std::vector<PortDetails> ports;
  const HDEVINFO set = SetupDiGetClassDevsA(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT);
  if (set != INVALID_HANDLE_VALUE) {
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device); ++i) {
      PortDetails port;
      port.name = PortName(set, device);
      if (port.name.compare(0, 3, "COM") != 0)
        continue;  // printer ports share the class
      const std::string hardwareId = Property(set, device, SPDRP_HARDWAREID);
      port.vendorId = IdAfter(hardwareId, "VID_");
      port.productId = IdAfter(hardwareId, "PID_");
      port.manufacturer = Property(set, device, SPDRP_MFG);
      port.product = Property(set, device, SPDRP_DEVICEDESC);
      port.serialNumber = SerialNumber(set, device);
      port.description = Property(set, device, SPDRP_FRIENDLYNAME);
      port.state = probe(port.name, nullptr);
      ports.push_back(std::move(port));
    }
    SetupDiDestroyDeviceInfoList(set);
  }
  // Ports SetupAPI does not know (all of them under Wine): the bare names that open, or that
  // another program has open. Access denied is left out here: for a name with no device of the
  // Ports class behind it (a Wine drive letter's folder, say) it does not mean busy.
  for (int n = 1; n <= 256; ++n) {
    PortDetails port;
    port.name = "COM" + std::to_string(n);
    if (std::any_of(ports.begin(), ports.end(),
                    [&](const PortDetails& known) { return known.name == port.name; }))
      continue;
    unsigned long code = ERROR_SUCCESS;
    port.state = probe(port.name, &code);
    if (port.state.problem == PortProblem::None || code == ERROR_SHARING_VIOLATION)
      ports.push_back(std::move(port));
  }
  std::sort(ports.begin(), ports.end(),
            [](const PortDetails& a, const PortDetails& b) { return NaturalLess(a.name, b.name); });
  return ports;
}

}  // namespace valdrix
