// valdrix-config: list ports, show and set a Valdrix interface's settings from the command line.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "cli/platform.h"
#include "cli/trace_port.h"

int main(int argc, char** argv) {
  using namespace valdrix::cli;
  const std::vector<std::string> args(argv + 1, argv + argc);
  const Parsed parsed = ParseArguments(args, std::cout, std::cerr);
  if (!parsed.options)
    return parsed.exitStatus;
  const Options& options = *parsed.options;

  std::unique_ptr<valdrix::SerialBackend> serial = MakePlatformSerial();
  std::unique_ptr<TraceBackend> trace;
  valdrix::SerialBackend* backend = serial.get();
  if (options.trace) {
    // find talks to several ports at once: each line then says which.
    trace = std::make_unique<TraceBackend>(*serial, std::cerr, SteadyNowUs,
                                           options.command == Command::Find);
    backend = trace.get();
  }
  Streams streams{std::cout, std::cerr, StderrIsTerminal() ? &std::cerr : nullptr};
  System system{*backend, DescribePlatformPorts, InParallel, PortIdentity};
  const int status = Run(options, system, streams);
  std::cout.flush();
  return status;
}
