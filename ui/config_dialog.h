// What the configurator dialog does with each message, apart from the platform: the Win32
// dialog procedure cracks messages and calls these; tests and the command line call them on a
// model dialog.
#pragma once

#include "protocol/configurator.h"

namespace valdrix {

// Lists the ports that open and fills the port, rate and address lists.
void OnInitDialog(Configurator& cfg);
// Fills the three lists with the given port names, the five rates and the addresses 1 to 31.
void FillLists(Dialog& dialog, const std::vector<std::string>& portNames);
// A WM_COMMAND with the control id and notification code.
void OnCommand(Configurator& cfg, int id, int code);
// WM_CLOSE: closes the interface and ends the dialog.
void OnClose(Configurator& cfg);

}  // namespace valdrix
