#include "cli/progress.h"

namespace valdrix::cli {

void ProgressDialog::Say(const std::string& line) {
  if (progress_)
    *progress_ << (prefix_ + line + "\n") << std::flush;
}

}  // namespace valdrix::cli
