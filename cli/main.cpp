// valdrix-config: list ports, show and set a Valdrix interface's settings from the command line.
#include <algorithm>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "base/translate.h"
#include "cli/cli.h"
#include "cli/interrupted.h"
#include "cli/platform.h"
#include "cli/trace_port.h"
#include "interrupt/interrupt.h"

int main(int argc, char** argv) {
  using namespace valdrix::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  // Messages, hints and --help in the user's language; --json output is for programs, so with it
  // everything stays English.
  if (std::find(args.begin(), args.end(), "--json") == args.end())
    valdrix::UseMessageCatalogue();
  const Parsed parsed = ParseArguments(args, std::cout, std::cerr);
  if (!parsed.options)
    return parsed.exitStatus;
  const Options& options = *parsed.options;

  std::unique_ptr<valdrix::SerialBackend> serial = MakePlatformSerial();
  std::unique_ptr<TraceBackend> trace;
  valdrix::SerialBackend* backend = serial.get();
  valdrix::interrupt::Install();
  if (options.trace) {
    // find talks to several ports at once: each line then says which.
    trace = std::make_unique<TraceBackend>(*serial, std::cerr, SteadyNowUs,
                                           options.command == Command::Find);
    backend = trace.get();
  }
  // Once interrupted, the run prints nothing but why it stopped (and each conversation sends
  // nothing but the close: run.cpp); the trace goes on showing what is sent.
  OutputGate outGate(stdout, true), errGate(stderr, false);
  std::ostream out(&outGate), err(&errGate);
  Streams streams{out, err, StderrIsTerminal() ? &err : nullptr};
  System system{*backend, DescribePlatformPorts, InParallel, PortIdentity};
  Stopped stopped;
  const int status = Run(options, system, streams, &stopped);
  out.flush();
  // Past the gates, which let nothing through once the run is interrupted. A signal that came
  // after the document went out adds no second one.
  if (InterruptedStatus())
    return ReportInterrupted(stopped, options.json && !outGate.Passed(), std::cout, std::cerr);
  return status;
}
