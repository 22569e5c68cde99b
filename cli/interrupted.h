// How valdrix-config ends a run that was interrupted (a signal, a console event, or standard
// output gone): the running read or write ends at once, no frame goes out but the close of an
// interface that was opened, and nothing more is printed but one line saying why.
#pragma once

#include <cstdio>
#include <memory>
#include <streambuf>
#include <string>
#include <vector>

#include "cli/cli.h"
#include "serial/serial_port.h"

namespace valdrix::cli {

// A serial backend that stops talking once the run is interrupted: no port opens, no rate is set,
// writes fail without sending and reads fail at once. In the close stage it talks again, until a
// second interrupt.
class InterruptibleBackend : public SerialBackend {
 public:
  explicit InterruptibleBackend(SerialBackend& inner) : inner_(inner) {}

  std::vector<std::string> EnumeratePorts() override;
  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error = nullptr) override;

 private:
  SerialBackend& inner_;
};

// A stream buffer over a C stream that drops everything once the run is interrupted. With
// stopOnError (standard output), a failed write (a closed pipe) interrupts the run.
class OutputGate : public std::streambuf {
 public:
  OutputGate(std::FILE* file, bool stopOnError) : file_(file), stopOnError_(stopOnError) {}
  // Whether anything went through before the run was interrupted (with --json, the one document).
  bool Passed() const { return passed_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;
  int sync() override;

 private:
  std::FILE* file_;
  bool stopOnError_;
  bool passed_ = false;
};

// The exit status of an interrupted run, 128 + the signal's number; 0 when the run was not
// interrupted.
int InterruptedStatus();
// Says why the run stopped: one line on err, for set another with the values written and those
// not; with json also the error object on out (unless out itself failed). Returns the status.
int ReportInterrupted(const Stopped& stopped, bool json, std::ostream& out, std::ostream& err);

}  // namespace valdrix::cli
