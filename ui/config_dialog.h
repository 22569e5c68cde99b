// What the configurator dialog does with each message, apart from the platform: the Win32
// dialog procedure cracks messages and calls these; tests and the command line call them on a
// model dialog.
#pragma once

#include "protocol/configurator.h"

namespace valdrix {

// Fills the port, rate and address lists.
void OnInitDialog(Configurator& cfg);
// A WM_COMMAND with the control id and notification code.
void OnCommand(Configurator& cfg, int id, int code);
// WM_CLOSE: closes the interface and ends the dialog.
void OnClose(Configurator& cfg);

}  // namespace valdrix
