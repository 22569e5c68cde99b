#include "cli/progress.h"
#include "base/lock.h"

namespace valdrix::cli {
namespace {

// find's threads share one stream, which may be any std::ostream (a test's string stream): one
// writer at a time.
Lock& ProgressLock() {
  static Lock lock;
  return lock;
}

}  // namespace

void ProgressDialog::Say(const std::string& line) {
  if (!progress_)
    return;
  const Held hold(ProgressLock());
  *progress_ << (prefix_ + line + "\n") << std::flush;
}

}  // namespace valdrix::cli
