// Steps the three conversations share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "conversations/configurator.h"

namespace valdrix {

// Writes one set frame; when it went out, shows "Reading..." and swallows whatever the interface
// answers. Returns whether the write went out; why in *error, when given, when it did not.
bool SendAndDrain(Dialog& dialog, SerialPort& port, std::uint8_t sub, int value,
                  PortError* error = nullptr, std::uint64_t drainMs = DRAIN_MAX_MS);

// Opens the port chosen in the port list at the rate shown in the rate list (where the last search
// found the interface). Shows "Could not open" and returns nullptr, with why in error, when it
// cannot.
std::unique_ptr<SerialPort> OpenChosenPort(Configurator& cfg, PortError& error);

}  // namespace valdrix
