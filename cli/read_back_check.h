// Whether the interface kept what set wrote: the values asked for against the read-back.
#pragma once

#include <string>
#include <vector>

#include "cli/settings_file.h"

namespace valdrix::cli {

struct ReadBackCheck {
  // The values not kept, as asked for (the module count as the two halves written), and what
  // the interface holds instead (empty: not reported). Only the keys that differ are set in both.
  Settings asked;
  Settings read;
  std::vector<std::string> lines;  // one for each value not kept, for people
  std::string note;                // why the counts read back split differently; may be empty
  bool Kept() const { return lines.empty(); }
};

// asked: the values given to set; before: what the search read before writing (the halves not
// given are written as they were); after: the read-back. The interface stores one module-count
// byte, 2 x modules16 + modules8, and reports it as byte / 2 and byte % 2, so only that byte is
// compared.
ReadBackCheck CheckReadBack(const Settings& asked, const Settings& before, const Settings& after);

}  // namespace valdrix::cli
