// valdrix-config: the configurator's conversations on the command line. It drives the same dialog
// logic as the window, on a dialog held in memory, and reports what the dialog would show.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "cli/settings_file.h"
#include "conversations/configurator.h"
#include "ports/port_details.h"
#include "serial/serial_port.h"

namespace valdrix::cli {

// Exit statuses, one for each way a run can end: EXIT_OK, EXIT_USAGE, ...
enum ExitStatus : int {
#define VALDRIX_EXIT(name, number, meaning) EXIT_##name = number,
#include "cli/exit_statuses.def"
#undef VALDRIX_EXIT
};

enum class Command { List, Show, Set, Find };

struct Options {
  Command command = Command::List;
  std::vector<std::string> ports;  // show and set: one; find: any number (none: every port)
  Settings values;                 // set: the values to write
  std::uint32_t rate = 0;          // --rate: the search tries only this line rate; 0: every rate
  bool longList = false;
  bool trace = false;
  bool json = false;
};

// Parses and checks the command line. Returns the options to run, or the exit status when the
// run ends here (help, version, or a refusal already reported on err).
struct Parsed {
  std::optional<Options> options;
  int exitStatus = EXIT_OK;
};
// set --from - reads in (standard input when null).
Parsed ParseArguments(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                      std::istream* in = nullptr);

// A decimal option value within [low, high]; empty, and why in refusal, when it is not one.
std::optional<int> CheckNumber(const std::string& option, const std::string& text, int low,
                               int high, std::string& refusal);

// The exit status for how a conversation ended.
int StatusFor(const Outcome& outcome);

// Why a run failed, for scripts: Reason::Busy and the others.
enum class Reason {
#define VALDRIX_REASON(name, word, meaning) name,
#include "cli/reasons.def"
#undef VALDRIX_REASON
};
// The word --json prints: "busy", "not-a-port", ...
const char* ReasonWord(Reason reason);

// Why a conversation with a port failed, for people and for scripts.
struct Failure {
  std::string message;  // the error box's text, and why where the system says
  std::string hint;     // how to fix it; may be empty
  Reason reason = Reason::Other;
  std::string verdict;  // in a word or two, for find's line about the port
  // Reason::Mismatch: the values the interface did not keep, as asked and as it holds them.
  Settings asked, read;
  // Reason::Busy: the program holding the port, where known (pid 0: unknown).
  std::string holderName;
  long holderPid = 0;
  // Reason::Interrupted: the signal's name ("SIGINT").
  std::string signal;
  // set, Reason::Interrupted and Reason::Write: the values asked for that were written before the
  // stop or the failure, and those that were not.
  bool setting = false;
  Settings written, notWritten;
};
// onlyRate: the one rate the search tried (--rate); 0: every rate.
Failure Explain(const std::string& port, const Outcome& outcome, std::uint32_t onlyRate = 0);

// What the interface holds after a search, as it reported it (a value outside its range too);
// empty: the interface did not report it.
struct Report {
  std::string port;
  std::optional<std::uint32_t> rate;
  std::optional<std::string> version;  // as the dialog shows it: "1.02"
  Settings values;
};
void PrintReport(const Report& report, bool json, std::ostream& out);

struct Streams {
  std::ostream& out;
  std::ostream& err;
  // Where progress goes (the status texts and the rates tried); nullptr: nowhere.
  std::ostream* progress = nullptr;
};

// What the run needs from the system beside the serial backend.
struct System {
  SerialBackend& serial;
  // Every serial device with its details and state, for list -l and an empty list's reasons.
  std::function<std::vector<PortDetails>()> describePorts;
  // Runs work(0) ... work(count - 1), each in a thread of its own, and waits for all.
  std::function<void(std::size_t count, const std::function<void(std::size_t)>& work)> inParallel;
  // The device a port name stands for, so that two names of one device count once; empty: the
  // name itself.
  std::function<std::string(const std::string&)> portIdentity = nullptr;
};

// What a run had done when it was interrupted, for the message that says so.
struct Stopped {
  std::string port;      // show and set: the port; find: one left open; empty otherwise
  bool setting = false;  // set: written and notWritten say which values reached the interface
  Settings written, notWritten;
  bool leftOpen = false;  // the close did not go out (a second interrupt, a link gone)
};

// Runs the command; returns the exit status. When the run is interrupted it prints nothing more
// and leaves what it had done in *stopped (when given).
int Run(const Options& options, System& system, Streams streams, Stopped* stopped = nullptr);

std::string VersionText();

}  // namespace valdrix::cli
