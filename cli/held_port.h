// One port held from a run's first conversation with it to its last. Each conversation opens and
// closes its port; a local port let go between two of them (exclusive mode, flock, lock file and
// all) is a port another program can take in the gap, and then the close frame cannot go out. A
// remote port keeps its one connection the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/serial_port.h"

namespace valdrix::cli {

// The first open opens the port; every later open of the same name gets that port, at the rate
// asked for. It closes when the backend ends. A port whose read or write failed is opened again
// for the next conversation, as before: a remote connection broken by an interrupt or by the
// server is made anew (once, by the network backend), a local adapter pulled out is found gone.
class HeldBackend : public SerialBackend {
 public:
  explicit HeldBackend(SerialBackend& inner) : inner_(inner) {}

  std::vector<std::string> EnumeratePorts() override;
  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error = nullptr) override;

  // Whether the last version query had a reply: the search shows "1.00" either way, as the dialog
  // does, but the command line reports only what the interface said.
  bool VersionAnswered() const { return versionAnswered_; }
  // Whether a read or write of the port failed since it was last opened: a close frame written
  // into a link that then failed may never have reached the interface.
  bool Failed() const { return failed_; }

 private:
  class Lent;

  SerialBackend& inner_;
  std::unique_ptr<SerialPort> held_;
  std::string name_;
  bool failed_ = false;
  bool versionQueried_ = false;
  bool versionAnswered_ = false;
};

}  // namespace valdrix::cli
