#include "cli/interrupted.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ostream>

#include "cli/failure.h"
#include "cli/json.h"
#include "interrupt/interrupt.h"

namespace valdrix::cli {
namespace {

// Why standard output could not be written (errno), for the line that says so.
std::atomic<int> g_outputError{0};

void OutputFailed() {
  int none = 0;
  g_outputError.compare_exchange_strong(none, errno);
  interrupt::Raise(interrupt::BROKEN_OUTPUT);
}

class InterruptiblePort : public SerialPort {
 public:
  explicit InterruptiblePort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}

  // Once stopped, nothing more reaches the port: the write after this fails instead.
  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    return interrupt::Requested() || inner_->SetPortRate(rate, error);
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    if (interrupt::Requested())
      return false;
    const interrupt::BlockingCall call;
    return inner_->WriteFrame(bytes, length, error);
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    if (interrupt::Requested())
      return {};
    const interrupt::BlockingCall call;
    return inner_->ReadFrame(buffer, length);
  }

  std::uint64_t NowMs() override { return inner_->NowMs(); }

 private:
  std::unique_ptr<SerialPort> inner_;
};

}  // namespace

std::vector<std::string> InterruptibleBackend::EnumeratePorts() {
  return inner_.EnumeratePorts();
}

std::unique_ptr<SerialPort> InterruptibleBackend::OpenPort(const std::string& name,
                                                           std::uint32_t rate, PortError* error) {
  if (interrupt::Requested()) {
    if (error) {
      *error = {};
      error->problem = PortProblem::Other;
      error->detail = "interrupted";
    }
    return nullptr;
  }
  std::unique_ptr<SerialPort> port = inner_.OpenPort(name, rate, error);
  if (!port)
    return nullptr;
  return std::make_unique<InterruptiblePort>(std::move(port));
}

OutputGate::int_type OutputGate::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof()))
    return traits_type::not_eof(c);
  const char one = traits_type::to_char_type(c);
  return xsputn(&one, 1) == 1 ? c : traits_type::eof();
}

std::streamsize OutputGate::xsputn(const char* s, std::streamsize n) {
  if (interrupt::Signal() != 0)
    return n;  // dropped, not failed: the stream stays good and the run ends in order
  passed_ = true;
  if (std::fwrite(s, 1, static_cast<std::size_t>(n), file_) != static_cast<std::size_t>(n) &&
      stopOnError_)
    OutputFailed();
  return n;
}

int OutputGate::sync() {
  if (interrupt::Signal() == 0 && std::fflush(file_) != 0 && stopOnError_)
    OutputFailed();
  return 0;
}

int InterruptedStatus() {
  const int sig = interrupt::Signal();
  return sig ? 128 + sig : 0;
}

int ReportInterrupted(const Stopped& stopped, bool json, std::ostream& out, std::ostream& err) {
  const int sig = interrupt::Signal();
  if (sig == interrupt::BROKEN_OUTPUT) {
    err << SELF << "standard output could not be written (" << std::strerror(g_outputError.load())
        << "); stopped\n";
    return InterruptedStatus();
  }
  Failure f =
      UsageFailure(std::string("stopped by ") + interrupt::SignalName(sig), Reason::Interrupted);
  f.signal = interrupt::SignalName(sig);
  f.setting = stopped.setting;
  f.written = stopped.written;
  f.notWritten = stopped.notWritten;
  if (stopped.leftOpen)
    SayLeftOpen(f, stopped.port);
  if (json)
    PrintJson(FailureJson(stopped.port.empty() ? nullptr : &stopped.port, f), out);
  PrintFailure(f, err);
  out.flush();
  return InterruptedStatus();
}

}  // namespace valdrix::cli
