// Any settings file (what --from reads): no crash, and what is accepted is in each value's range
// and reads the same when parsed again from its own JSON.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cli/settings_file.h"
#include "cli/settings_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdrix;
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string refusal;
  const std::optional<Settings> read = cli::ParseSettings("f", text, refusal);
  if (!read)
    return refusal.empty() ? (std::abort(), 0) : 0;  // a refusal says why
  std::string again = "{";
  for (const cli::Setting& row : cli::kSettings) {
    const std::optional<int>& value = read.value().*row.value;
    if (value && (*value < row.low || *value > row.high))
      std::abort();
    if (value)
      again += std::string(again.size() > 1 ? "," : "") + "\"" + row.key +
               "\":" + std::to_string(*value);
  }
  const std::optional<Settings> reread = cli::ParseSettings("f", again + "}", refusal);
  if (!reread || reread->address != read->address || reread->base != read->base ||
      reread->modules16 != read->modules16 || reread->modules8 != read->modules8)
    std::abort();
  return 0;
}
