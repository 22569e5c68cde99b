// The conversations with the interface and what lives for the whole run of the program. Each
// conversation opens the port, exchanges its frames, closes the port and tells the user itself
// (status line, error boxes); none returns a result.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/dialog.h"
#include "serial/serial_port.h"

namespace valdrix {

constexpr std::uint32_t RATES[] = {9600, 19200, 38400, 57600, 115200};

struct Configurator {
  Configurator(Dialog& d, SerialBackend& s) : dialog(d), serial(s) {}

  Dialog& dialog;
  SerialBackend& serial;
  // Set once the open frame went out; tells the close whether there is anything to close.
  bool interfaceOpen = false;
  // Filled once when the dialog opens.
  std::vector<std::string> portNames;
};

// Finds the interface on the chosen port, reads its values into the dialog and opens it.
void SearchInterface(Configurator& cfg);
// Sends the address, base address and module count in the dialog to the interface.
void WriteSettings(Configurator& cfg);
// Sends the close frame when the interface was opened.
void CloseInterface(Configurator& cfg);

}  // namespace valdrix
