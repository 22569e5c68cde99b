// The settings a user keeps in a file: what `valdrix-config --json show` printed, read back for
// `set --from FILE`, so that one interface's settings can be copied to another.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <string>

namespace valdrix::cli {

// The values set writes; an empty one is left as the interface holds it.
struct Settings {
  std::optional<int> address;
  std::optional<int> base;
  std::optional<int> modules16;
  std::optional<int> modules8;
};

// Larger files are refused unread: a settings file is a line of JSON.
constexpr std::size_t kMaxSettingsFileBytes = 64 * 1024;

// The settings in text, the contents of the file called name. Empty after a refusal put into
// refusal, which names the file, the key and what is wrong.
std::optional<Settings> ParseSettings(const std::string& name, const std::string& text,
                                      std::string& refusal);

// Reads the file called name ("-": standardInput) and parses it. Only a regular file is opened,
// so that a serial port or a FIFO given by mistake is neither opened nor waited on.
std::optional<Settings> LoadSettings(const std::string& name, std::istream& standardInput,
                                     std::string& refusal);

}  // namespace valdrix::cli
