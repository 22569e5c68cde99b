// How the command line words a failure on stderr: the program's name first, then the message
// and its hint (the reasons and exit statuses are cli.h's).
#pragma once

#include <ostream>
#include <string>

#include "cli/cli.h"

namespace valdrix::cli {

// How every message on stderr starts: the program's name. Only stderr has it: the messages
// themselves (and the "error" of --json) do not.
constexpr char SELF[] = "valdrix-config: ";
// The message with SELF in front.
std::string Said(const std::string& message);

// A refusal of the command line's own, before or instead of a conversation.
Failure UsageFailure(std::string message, Reason reason);
// The message, the hint, and for set what was written before the stop or the failure.
void PrintFailure(const Failure& failure, std::ostream& err);
// The interface was opened and its close did not go out: the message says so, and how to close it.
void SayLeftOpen(Failure& failure, const std::string& port);

}  // namespace valdrix::cli
