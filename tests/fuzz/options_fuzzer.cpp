// Any command line, its arguments split at NUL bytes, and any --from file (its name is taken as
// its contents, so that no file is opened): no crash, and what is accepted is in range.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <sstream>

#include "cli/cli.h"
#include "cli/settings_table.h"

namespace valdrix::cli {
bool ReadSettingsText(const std::string& name, std::size_t limit, int, std::string& text,
                      std::string& why) {
  text = name.substr(0, limit);
  why = "unreadable";
  return name.size() % 7 != 0;
}
}  // namespace valdrix::cli

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdrix;
  std::vector<std::string> args(1);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i])
      args.back() += static_cast<char>(data[i]);
    else
      args.emplace_back();
  }
  std::ostringstream out, err;
  std::istringstream in(args.back());  // --from - reads the last argument
  const cli::Parsed parsed = cli::ParseArguments(args, out, err, &in);
  if (!parsed.options) {
    if (parsed.exitStatus == cli::EXIT_OK ? !err.str().empty() : err.str().empty())
      std::abort();  // a refusal says why; help and version say nothing on err
    return 0;
  }
  const cli::Options& o = *parsed.options;
  const std::uint32_t rates[] = {0, 9600, 19200, 38400, 57600, 115200};
  if (parsed.exitStatus != cli::EXIT_OK ||
      std::find(std::begin(rates), std::end(rates), o.rate) == std::end(rates))
    std::abort();
  if ((o.command == cli::Command::Show || o.command == cli::Command::Set) && o.ports.size() != 1)
    std::abort();
  for (const cli::Setting& row : cli::kSettings) {
    const std::optional<int>& value = o.values.*row.value;
    if (value && (*value < row.low || *value > row.high))
      std::abort();
  }
  return 0;
}
