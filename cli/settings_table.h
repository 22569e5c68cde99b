// The four settings, each written once: the value it is, its JSON key (the option is the key
// after --), its label in reports and messages, its words in --help, its range, its field in the
// dialog and the frame that writes it. The options, the settings file, the read-back check, the
// JSON and the help all read this table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/translate.h"
#include "conversations/configurator.h"
#include "dialog/controls.h"
#include "protocol/frames.h"

namespace valdrix::cli {

struct Setting {
  std::optional<int> Settings::*value;
  const char* key;
  const char* label;  // N_: translated where shown
  const char* help;
  int low, high;
  int control;
  std::uint8_t sub;

  std::string Option() const { return std::string("--") + key; }
  std::string Range() const { return std::to_string(low) + " to " + std::to_string(high); }
};

inline constexpr Setting kSettings[] = {
    {&Settings::address, "address", N_("XpressNet address"), N_("XpressNet address"),
     MIN_XN_ADDRESS, MAX_XN_ADDRESS, IDC_XN_ADDRESS, SUB_XN_ADDRESS},
    {&Settings::base, "base", N_("module base address"), N_("s88 module base address"), 0,
     MAX_BASE_ADDRESS, IDC_BASE_ADDRESS, SUB_BASE_ADDRESS},
    {&Settings::modules16, "modules16", N_("16-bit modules"), N_("number of 16-bit s88 modules"), 0,
     MAX_MODULE_COUNT / 2, IDC_MODULES16, SUB_MODULE_COUNT},
    {&Settings::modules8, "modules8", N_("8-bit modules"), N_("number of 8-bit s88 modules"), 0,
     MAX_MODULE_COUNT, IDC_MODULES8, SUB_MODULE_COUNT},
};

// The interface keeps the two module counts as one byte, which must stay below VALUE_QUERY.
constexpr int ModuleCount(int modules16, int modules8) {
  return 2 * modules16 + modules8;
}
// Empty when the counts fit that byte; otherwise why not ("2 x 127 + 1 makes a module count of
// 255 or more").
inline std::string CountRefusal(int modules16, int modules8) {
  if (ModuleCount(modules16, modules8) <= MAX_MODULE_COUNT)
    return {};
  return "2 x " + std::to_string(modules16) + " + " + std::to_string(modules8) +
         " makes a module count of " + std::to_string(MAX_MODULE_COUNT + 1) + " or more";
}

}  // namespace valdrix::cli
