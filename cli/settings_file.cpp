#include "cli/settings_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <istream>
#include <vector>

#include "cli/nearest.h"
#include "protocol/frames.h"

namespace valdrix::cli {
namespace {

struct Key {
  const char* name;
  int low, high;
  std::optional<int> Settings::*value;
};
constexpr Key kKeys[] = {
    {"address", MIN_XN_ADDRESS, MAX_XN_ADDRESS, &Settings::address},
    {"base", 0, MAX_BASE_ADDRESS, &Settings::base},
    {"modules16", 0, MAX_MODULE_COUNT / 2, &Settings::modules16},
    {"modules8", 0, MAX_MODULE_COUNT, &Settings::modules8},
};
// What show prints besides the settings: where they came from, not what to write.
const std::vector<std::string> kIgnoredKeys = {"port", "rate", "version"};

std::string TypeWord(const nlohmann::json& value) {
  const std::string type = value.type_name();
  return (type.find_first_of("aeiou") == 0 ? "an " : "a ") + type;
}

// A key as the message shows it: escaped as in JSON, so that no control character reaches the
// terminal, and cut short.
std::string KeyText(const std::string& key) {
  const std::string quoted =
      nlohmann::json(key).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const std::string text = quoted.substr(1, quoted.size() - 2);
  return text.size() > 40 ? text.substr(0, 40) + "..." : text;
}

}  // namespace

std::optional<Settings> ParseSettings(const std::string& name, const std::string& text,
                                      std::string& refusal) {
  const std::string where = "valdrix-config: " + name + ": ";
  if (text.size() > kMaxSettingsFileBytes) {
    refusal = where + "larger than " + std::to_string(kMaxSettingsFileBytes / 1024) +
              " KiB; give the file that valdrix-config --json show printed";
    return std::nullopt;
  }
  nlohmann::json json;
  try {
    json = nlohmann::json::parse(text);
  } catch (const nlohmann::json::parse_error& e) {
    // The library's words after its own "[json.exception.parse_error.N] " prefix.
    std::string why = e.what();
    why.erase(0, why.find("] ") == std::string::npos ? 0 : why.find("] ") + 2);
    refusal = where + "not JSON: " + why;
    return std::nullopt;
  }
  if (!json.is_object()) {
    refusal = where + "not a JSON object but " + TypeWord(json) +
              "; give what valdrix-config --json show printed";
    return std::nullopt;
  }

  Settings settings;
  std::vector<std::string> known(kIgnoredKeys);
  for (const Key& key : kKeys)
    known.push_back(key.name);
  for (const auto& [keyName, value] : json.items()) {
    const Key* key = nullptr;
    for (const Key& k : kKeys)
      key = keyName == k.name ? &k : key;
    if (!key) {
      if (std::find(kIgnoredKeys.begin(), kIgnoredKeys.end(), keyName) != kIgnoredKeys.end())
        continue;
      const std::string nearest = NearestName(keyName, known);
      refusal = where + KeyText(keyName) + ": unknown key" +
                (nearest.empty() ? "" : " (did you mean " + nearest + "?)") +
                "; the keys are address, base, modules16 and modules8";
      return std::nullopt;
    }
    if (value.is_null())  // leave as it is
      continue;
    const std::string range =
        " outside " + std::to_string(key->low) + " to " + std::to_string(key->high);
    if (value.is_number_unsigned()) {
      const auto number = value.get<std::uint64_t>();
      if (number < static_cast<std::uint64_t>(key->low) ||
          number > static_cast<std::uint64_t>(key->high)) {
        refusal = where + keyName + ": " + value.dump() + " is" + range;
        return std::nullopt;
      }
      settings.*(key->value) = static_cast<int>(number);
    } else if (value.is_number_integer()) {  // negative
      refusal = where + keyName + ": " + value.dump() + " is" + range;
      return std::nullopt;
    } else {
      refusal = where + keyName + ": " + value.dump() + " is " +
                (value.is_number_float() ? "" : TypeWord(value) + ", ") +
                "not a whole number (null leaves the value as it is)";
      return std::nullopt;
    }
  }
  if (settings.modules16 && settings.modules8 &&
      2 * *settings.modules16 + *settings.modules8 > MAX_MODULE_COUNT) {
    refusal = where + "modules16 and modules8: 2 x " + std::to_string(*settings.modules16) + " + " +
              std::to_string(*settings.modules8) + " makes a module count of " +
              std::to_string(MAX_MODULE_COUNT + 1) + " or more";
    return std::nullopt;
  }
  return settings;
}

std::optional<Settings> LoadSettings(const std::string& name, std::istream& standardInput,
                                     std::string& refusal) {
  std::string text;
  // One byte more than allowed tells a file that is too large without reading all of it.
  const auto readFrom = [&text](std::istream& in) {
    text.resize(kMaxSettingsFileBytes + 1);
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    return !in.bad();
  };
  const std::string where = "valdrix-config: " + name + ": ";
  if (name == "-") {
    if (!readFrom(standardInput)) {
      refusal = where + "standard input could not be read";
      return std::nullopt;
    }
    return ParseSettings("standard input", text, refusal);
  }
  std::error_code error;
  const auto status = std::filesystem::status(name, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    refusal = where + "no such file";
    return std::nullopt;
  }
  if (error) {
    refusal = where + "could not be read: " + error.message();
    return std::nullopt;
  }
  if (!std::filesystem::is_regular_file(status)) {
    refusal = where + "not a regular file; give a file, or - for standard input";
    return std::nullopt;
  }
  std::ifstream file(name, std::ios::binary);
  if (!file || !readFrom(file)) {
    refusal = where + "could not be read (check its permissions)";
    return std::nullopt;
  }
  return ParseSettings(name, text, refusal);
}

}  // namespace valdrix::cli
