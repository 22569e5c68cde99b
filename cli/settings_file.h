// The settings a user keeps in a file: what `valdrix-config --json show` printed, read back for
// `set --from FILE`, so that one interface's settings can be copied to another.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

#include "conversations/configurator.h"

namespace valdrix::cli {

// Larger files are refused unread: a settings file is a line of JSON.
constexpr std::size_t kMaxSettingsFileBytes = 64 * 1024;
// How long a FIFO (the shell's <(...)) may take to deliver the whole file: a writer that never
// comes or never ends is a refusal, not a hang.
constexpr int kSettingsFifoWaitMs = 10000;

// The settings in text, the contents of the file called name. Empty after a refusal put into
// refusal, which names the file, the key and what is wrong.
std::optional<Settings> ParseSettings(const std::string& name, const std::string& text,
                                      std::string& refusal);

// Reads the file called name ("-": standardInput) and parses it. The values set writes; an empty
// one is left as the interface holds it.
std::optional<Settings> LoadSettings(const std::string& name, std::istream& standardInput,
                                     std::string& refusal, int fifoWaitMs = kSettingsFifoWaitMs);

// Why a name that is neither a regular file nor a FIFO is not read.
constexpr char kNotAFile[] = "not a regular file; give a file, or - for standard input";

// Reads up to limit bytes of the file called name into text (one platform's file each). Only a
// regular file or a FIFO is opened, so that a serial port given by mistake is never opened; a
// FIFO gets fifoWaitMs in all. False, and why in a few words in why, when it is refused.
bool ReadSettingsText(const std::string& name, std::size_t limit, int fifoWaitMs, std::string& text,
                      std::string& why);

}  // namespace valdrix::cli
