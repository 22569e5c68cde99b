// The known name nearest to a mistyped one, for "did you mean" hints.
#pragma once

#include <string>
#include <vector>

namespace valdrix::cli {

// The name in names closest to word by edits (an insertion, a deletion, a change or two
// neighbours swapped each count one), when it is close enough to be the one meant; the first
// such name on a tie; empty when none is.
std::string NearestName(const std::string& word, const std::vector<std::string>& names);

}  // namespace valdrix::cli
