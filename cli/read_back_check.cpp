#include "cli/read_back_check.h"

#include "cli/settings_table.h"

namespace valdrix::cli {
namespace {

std::string WhatItHolds(const std::optional<int>& value) {
  return value ? "the interface holds " + std::to_string(*value)
               : "the interface did not report it";
}

}  // namespace

ReadBackCheck CheckReadBack(const Settings& asked, const Settings& before, const Settings& after) {
  ReadBackCheck check;
  // The two module counts are compared as the one byte the interface keeps, below.
  for (const Setting& s : {kSettings[0], kSettings[1]}) {
    const auto key = s.value;
    if (!(asked.*key) || asked.*key == after.*key)
      continue;
    check.asked.*key = asked.*key;
    check.read.*key = after.*key;
    check.lines.push_back(std::string(s.label) + ": asked " + std::to_string(*(asked.*key)) + ", " +
                          WhatItHolds(after.*key));
  }

  if (!asked.modules16 && !asked.modules8)
    return check;
  const int m16 = asked.modules16.value_or(before.modules16.value_or(0));
  const int m8 = asked.modules8.value_or(before.modules8.value_or(0));
  const int count = ModuleCount(m16, m8);
  const auto halves = [](int a, int b) {
    return std::to_string(ModuleCount(a, b)) + " (" + std::to_string(a) + " and " +
           std::to_string(b) + ")";
  };
  if (!after.modules16 || !after.modules8 ||
      ModuleCount(*after.modules16, *after.modules8) != count) {
    check.asked.modules16 = m16;
    check.asked.modules8 = m8;
    check.read.modules16 = after.modules16;
    check.read.modules8 = after.modules8;
    check.lines.push_back("module count (2 x modules16 + modules8): asked " + halves(m16, m8) +
                          ", " +
                          (after.modules16 && after.modules8
                               ? "the interface holds " + halves(*after.modules16, *after.modules8)
                               : WhatItHolds(std::nullopt)));
  } else if (*after.modules16 != m16 || *after.modules8 != m8) {
    check.note = "The interface stores one module count, 2 x modules16 + modules8 = " +
                 std::to_string(count) + ", and reads it back as " +
                 std::to_string(*after.modules16) + " and " + std::to_string(*after.modules8) +
                 " (the same " + std::to_string(8 * count) + " inputs).";
  }
  return check;
}

}  // namespace valdrix::cli
