// The list commands: list and list -l.
#pragma once

#include "cli/cli.h"

namespace valdrix::cli {

// list and list -l.
int List(const Options& options, System& system, Streams streams);

}  // namespace valdrix::cli
