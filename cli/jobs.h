// The parts of a run, one file each: the progress lines, the failure wording, the port lists.
#pragma once

#include <ostream>
#include <string>

#include "cli/cli.h"
#include "dialog/memory_dialog.h"

namespace valdrix::cli {

// The in-memory dialog, with a line of progress in the command line's own words for a watcher (the
// window's status texts tell a user of the window what to do there). Several run at once in find,
// each line written whole with one insertion: the standard streams keep such a line together when
// threads write at once.
class ProgressDialog : public MemoryDialog {
 public:
  ProgressDialog(std::ostream* progress, std::string prefix)
      : progress_(progress), prefix_(std::move(prefix)) {}

  void Say(const std::string& line);

 private:
  std::ostream* progress_;
  std::string prefix_;
};

// How every message on stderr starts: the program's name. Only stderr has it: the messages
// themselves (and the "error" of --json) do not.
constexpr char SELF[] = "valdrix-config: ";
// The message with SELF in front.
std::string Said(const std::string& message);

// A refusal of the command line's own, before or instead of a conversation.
Failure UsageFailure(std::string message, Reason reason);
void PrintFailure(const Failure& failure, std::ostream& err);

// list and list -l.
int List(const Options& options, System& system, Streams streams);

}  // namespace valdrix::cli
