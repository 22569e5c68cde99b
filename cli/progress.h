// The line of progress a run writes for a watcher.
#pragma once

#include <ostream>
#include <string>

#include "dialog/memory_dialog.h"

namespace valdrix::cli {

// The in-memory dialog, with a line of progress in the command line's own words for a watcher (the
// window's status texts tell a user of the window what to do there). Several run at once in find;
// each line is written whole, under one lock for all of them.
class ProgressDialog : public MemoryDialog {
 public:
  ProgressDialog(std::ostream* progress, std::string prefix)
      : progress_(progress), prefix_(std::move(prefix)) {}

  void Say(const std::string& line);

 private:
  std::ostream* progress_;
  std::string prefix_;
};

}  // namespace valdrix::cli
