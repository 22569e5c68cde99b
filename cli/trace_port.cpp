#include "cli/trace_port.h"

#include <chrono>
#include <cstdio>
#include <ostream>

namespace valdrix::cli {
namespace {

class TracePort : public SerialPort {
 public:
  TracePort(std::unique_ptr<SerialPort> inner, TraceBackend& trace, std::string name,
            std::uint32_t rate)
      : inner_(std::move(inner)), trace_(trace), name_(std::move(name)), rate_(rate) {}
  ~TracePort() override {
    inner_.reset();
    trace_.Line(name_, rate_, "close " + name_);
  }

  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    const bool ok = inner_->SetPortRate(rate, error);
    if (ok)
      rate_ = rate;
    trace_.Line(name_, rate_, "rate " + std::to_string(rate) + (ok ? "" : "  (refused)"));
    return ok;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    const bool ok = inner_->WriteFrame(bytes, length, error);
    trace_.Line(name_, rate_, "> " + HexBytes(bytes, length) + (ok ? "" : "  (write failed)"));
    return ok;
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    const ReadResult result = inner_->ReadFrame(buffer, length);
    std::string what = "< ";
    if (!result.ok) {
      what += "(read failed)";
    } else if (result.count == 0) {
      what += "(nothing: time-out)";
    } else {
      what += HexBytes(buffer, result.count);
      if (result.count < length) {
        what += "  (" + std::to_string(result.count) + " of " + std::to_string(length) +
                " bytes: time-out)";
      }
    }
    trace_.Line(name_, rate_, what);
    return result;
  }

  std::uint64_t NowMs() override { return inner_->NowMs(); }

 private:
  std::unique_ptr<SerialPort> inner_;
  TraceBackend& trace_;
  std::string name_;
  std::uint32_t rate_;
};

}  // namespace

std::string HexBytes(const std::uint8_t* bytes, std::size_t length) {
  std::string text;
  char two[4];
  for (std::size_t i = 0; i < length; ++i) {
    std::snprintf(two, sizeof two, "%02X", bytes[i]);
    if (i)
      text += ' ';
    text += two;
  }
  return text;
}

std::uint64_t SteadyNowUs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

TraceBackend::TraceBackend(SerialBackend& inner, std::ostream& out,
                           std::function<std::uint64_t()> nowUs, bool namePorts)
    : inner_(inner),
      out_(out),
      nowUs_(std::move(nowUs)),
      startUs_(nowUs_()),
      namePorts_(namePorts) {}

std::vector<std::string> TraceBackend::EnumeratePorts() {
  return inner_.EnumeratePorts();
}

std::unique_ptr<SerialPort> TraceBackend::OpenPort(const std::string& name, std::uint32_t rate,
                                                   PortError* error) {
  std::unique_ptr<SerialPort> port = inner_.OpenPort(name, rate, error);
  if (!port) {
    Line(name, rate, "open " + name + " failed");
    return nullptr;
  }
  Line(name, rate, "open " + name);
  return std::make_unique<TracePort>(std::move(port), *this, name, rate);
}

void TraceBackend::Line(const std::string& port, std::uint32_t rate, const std::string& what) {
  const std::uint64_t us = nowUs_() - startUs_;
  char head[48];
  std::snprintf(
      head, sizeof head, "+%llu.%03llu s %6lu  ", static_cast<unsigned long long>(us / 1000000),
      static_cast<unsigned long long>(us / 1000 % 1000), static_cast<unsigned long>(rate));
  // One write a line, flushed, so that the trace interleaves sanely with progress and errors.
  out_ << ((namePorts_ ? port + ": " : "") + head + what + "\n") << std::flush;
}

}  // namespace valdrix::cli
