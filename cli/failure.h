// How the command line words a failure on stderr: the program's name first, then the message
// and its hint (the reasons and exit statuses are cli.h's).
#pragma once

#include <ostream>
#include <string>

#include "cli/cli.h"

namespace valdrix::cli {

// How every message on stderr starts: the program's name.
constexpr char SELF[] = "valdrix-config: ";
// The message with SELF in front, once.
std::string Said(const std::string& message);

// A refusal of the command line's own, before or instead of a conversation.
Failure UsageFailure(std::string message, Reason reason);
void PrintFailure(const Failure& failure, std::ostream& err);

}  // namespace valdrix::cli
