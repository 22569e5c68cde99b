#include "cli/failure.h"
#include "cli/settings_table.h"
#include "dialog/dialog.h"
#include "ports/port_advice.h"
#include "protocol/text.h"

namespace valdrix::cli {
namespace {

Reason ReasonFor(PortProblem problem) {
  switch (problem) {
    case PortProblem::Permission:
      return Reason::Permission;
    case PortProblem::Busy:
      return Reason::Busy;
    case PortProblem::Console:
      return Reason::Console;
    case PortProblem::Missing:
      return Reason::Missing;
    case PortProblem::NotAPort:
      return Reason::NotAPort;
    case PortProblem::Unreachable:
      return Reason::Unreachable;
    default:
      return Reason::Other;
  }
}

Failure Make(std::string message, std::string hint, Reason reason, std::string verdict) {
  Failure f;
  f.message = std::move(message);
  f.hint = std::move(hint);
  f.reason = reason;
  f.verdict = std::move(verdict);
  return f;
}

}  // namespace

const char* ReasonWord(Reason reason) {
  switch (reason) {
#define VALDRIX_REASON(name, word, meaning) \
  case Reason::name:                        \
    return word;
#include "cli/reasons.def"
#undef VALDRIX_REASON
  }
  return "other";
}

Failure UsageFailure(std::string message, Reason reason) {
  return Make(std::move(message), {}, reason, {});
}

int StatusFor(const Outcome& outcome) {
  switch (outcome.kind) {
    case Outcome::Kind::CouldNotOpen:
      return EXIT_CANNOT_OPEN;
    case Outcome::Kind::CouldNotWrite:
      return EXIT_CANNOT_WRITE;
    case Outcome::Kind::NothingAnswered:
      return EXIT_NOT_FOUND;
    default:
      return EXIT_OK;
  }
}

Failure Explain(const std::string& port, const Outcome& outcome, std::uint32_t onlyRate) {
  switch (outcome.kind) {
    case Outcome::Kind::CouldNotOpen: {
      Failure f = Make(ErrorText(PATTERN_OPEN, port) + ": " + StateText(outcome.openError),
                       Hint(outcome.openError), ReasonFor(outcome.openError.problem),
                       StateText(outcome.openError));
      f.holderName = outcome.openError.holderName;
      f.holderPid = outcome.openError.holderPid;
      return f;
    }
    case Outcome::Kind::CouldNotWrite: {
      // Why, where the backend knows (the server gave the port to another client).
      const std::string& why = outcome.openError.detail;
      return Make(ErrorText(PATTERN_WRITE, port) + (why.empty() ? "" : ": " + why), "",
                  Reason::Write, "could not write");
    }
    default: {
      const std::string rate = DecimalText(static_cast<long>(onlyRate));
      return Make(ErrorText(PATTERN_NOT_FOUND, port),
                  onlyRate ? NothingAnsweredHint(rate + T_(" (without --rate every rate is tried)"),
                                                 outcome.ratesNotSet)
                           : NothingAnsweredHint(LineRatesText(), outcome.ratesNotSet),
                  Reason::NotFound, onlyRate ? "no answer at " + rate : "no answer at any rate");
    }
  }
}

std::string Said(const std::string& message) {
  return SELF + message;
}

void PrintFailure(const Failure& f, std::ostream& err) {
  err << Said(f.message) << "\n";
  if (!f.hint.empty())
    err << f.hint << "\n";
  if (!f.setting)
    return;
  // The interface may now hold some of the new values and not the others.
  const auto list = [](const Settings& values) {
    std::string text;
    for (const Setting& s : kSettings) {
      if (values.*s.value)
        text += (text.empty() ? "" : ", ") + std::string(s.label) + " " +
                std::to_string(*(values.*s.value));
    }
    return text.empty() ? std::string("none") : text;
  };
  err << "Written to the interface before the "
      << (f.reason == Reason::Interrupted ? "stop" : "failure") << ": " << list(f.written)
      << "; not written: " << list(f.notWritten) << ".\n";
}

void SayLeftOpen(Failure& f, const std::string& port) {
  const std::string open =
      "; the interface may still be open for configuration: run valdrix-config show " + port +
      " to close it";
  f.message += open;
  f.verdict += open;
}

}  // namespace valdrix::cli
