#include "cli/settings_file.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <istream>
#include <set>
#include <vector>

#include "cli/nearest.h"
#include "cli/settings_table.h"

namespace valdrix::cli {
namespace {

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

// The text as one JSON object, each key once; otherwise nothing, and why in refusal (which begins
// with where).
std::optional<nlohmann::json> ParseObject(const std::string& where, const std::string& text,
                                          std::string& refusal) {
  if (text.size() > kMaxSettingsFileBytes) {
    refusal = where + "larger than " + std::to_string(kMaxSettingsFileBytes / 1024) +
              " KiB; give the file that valdrix-config --json show printed";
    return std::nullopt;
  }
  nlohmann::json json;
  // The library keeps the last of a key given twice; which one was meant is not for us to guess.
  std::set<std::string> seen;
  std::string twice;
  const auto once = [&](int depth, nlohmann::json::parse_event_t event, nlohmann::json& parsed) {
    if (depth == 1 && event == nlohmann::json::parse_event_t::key && twice.empty() &&
        !seen.insert(parsed.get<std::string>()).second)
      twice = parsed.get<std::string>();
    return true;
  };
  try {
    json = nlohmann::json::parse(text, once);
  } catch (const nlohmann::json::exception& e) {  // a parse error, or a number too large (1e999)
    // The library's words after its own "[json.exception.KIND.N] " prefix.
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

  if (!twice.empty()) {
    refusal = where + KeyText(twice) + ": given twice; give each key once";
    return std::nullopt;
  }
  return json;
}

}  // namespace

std::optional<Settings> ParseSettings(const std::string& name, const std::string& text,
                                      std::string& refusal) {
  const std::string where = name + ": ";
  const std::optional<nlohmann::json> json = ParseObject(where, text, refusal);
  if (!json)
    return std::nullopt;
  Settings settings;
  std::vector<std::string> known(kIgnoredKeys);
  std::string keys;
  for (const Setting& setting : kSettings) {
    known.push_back(setting.key);
    keys += std::string(keys.empty()                          ? ""
                        : &setting == std::end(kSettings) - 1 ? " and "
                                                              : ", ") +
            setting.key;
  }
  for (const auto& [keyName, value] : json->items()) {
    const Setting* key = nullptr;
    for (const Setting& setting : kSettings)
      key = keyName == setting.key ? &setting : key;
    if (!key) {
      if (std::find(kIgnoredKeys.begin(), kIgnoredKeys.end(), keyName) != kIgnoredKeys.end())
        continue;
      const std::string nearest = NearestName(keyName, known);
      refusal = where + KeyText(keyName) + ": unknown key" +
                (nearest.empty() ? "" : " (did you mean " + nearest + "?)") + "; the keys are " +
                keys;
      return std::nullopt;
    }
    if (value.is_null())  // leave as it is
      continue;
    const std::string range = " outside " + key->Range();
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
  const std::string tooMany = settings.modules16 && settings.modules8
                                  ? CountRefusal(*settings.modules16, *settings.modules8)
                                  : "";
  if (!tooMany.empty()) {
    refusal = where + "modules16 and modules8: " + tooMany +
              " (null leaves a value as the interface holds it)";
    return std::nullopt;
  }
  return settings;
}

std::optional<Settings> LoadSettings(const std::string& name, std::istream& standardInput,
                                     std::string& refusal, int fifoWaitMs) {
  std::string text;
  if (name == "-") {
    // One byte more than allowed tells a file that is too large without reading all of it.
    text.resize(kMaxSettingsFileBytes + 1);
    standardInput.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(standardInput.gcount()));
    if (standardInput.bad()) {
      refusal = "-: standard input could not be read";
      return std::nullopt;
    }
    return ParseSettings("standard input", text, refusal);
  }
  std::string why;
  if (!ReadSettingsText(name, kMaxSettingsFileBytes + 1, fifoWaitMs, text, why)) {
    refusal = name + ": " + why;
    return std::nullopt;
  }
  return ParseSettings(name, text, refusal);
}

}  // namespace valdrix::cli
