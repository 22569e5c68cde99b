// Why a port cannot be used and how to fix it, in words for people. Every front end says it the
// same way: the command line after its message, the windows on the error box's second line.
#pragma once

#include <string>

#include "base/port_error.h"

namespace valdrix {

// The port's state in a few words: "free", "permission denied (group dialout)", "in use by ...".
std::string StateText(const PortError& state);
// The program holding a busy port: "minicom (pid 1234)", "(pid 1234)" when its name is unknown.
std::string HolderText(const PortError& state);
// How to make the port usable; empty when there is nothing to suggest.
std::string Hint(const PortError& state);

}  // namespace valdrix
