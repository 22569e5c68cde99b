// What the configurator dialog does with each message, apart from the platform: the Win32
// dialog procedure cracks messages and calls these; the command line and tests call them on the
// in-memory dialog.
#pragma once

#include <string>
#include <vector>

#include "conversations/configurator.h"

namespace valdrix {

// Lists the ports that open and fills the port, rate and address lists.
void OnInitDialog(Configurator& cfg);
// Fills the three lists with the given port names, the five rates and the addresses 1 to 31.
void FillLists(Dialog& dialog, const std::vector<std::string>& portNames);
// A WM_COMMAND with the control id and notification code. Returns how the conversations it ran
// ended: the first that failed, else the last (Done when none ran).
Outcome OnCommand(Configurator& cfg, int id, int code);
// WM_CLOSE: closes the interface and ends the dialog.
Outcome OnClose(Configurator& cfg);

}  // namespace valdrix
