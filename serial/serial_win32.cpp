#include "serial/serial_win32.h"

#include <windows.h>

#include <string>

#include "base/clock.h"
#include "base/system_message.h"
#include "serial/hold.h"

namespace valdrix {
namespace {

// What the driver said when call refused the port: the call's name, then the system's text.
PortError Refused(const char* call) {
  PortError e;
  e.problem = PortProblem::Other;
  e.detail = std::string(call) + ": " + SystemMessage(GetLastError());
  return e;
}

// A read or write that failed, as Refused says it; a stop (the call cancelled) is no failure of
// the port.
PortError Failure(const char* call) {
  return GetLastError() == ERROR_OPERATION_ABORTED ? PortError{} : Refused(call);
}

class Win32Port final : public SerialPort {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) {}
  ~Win32Port() override { CloseHandle(handle_); }

  // A port whose driver refuses these settings is not used: ReadFile would run on the driver's
  // own time-outs and might never return.
  bool Configure(std::uint32_t rate, PortError& error) {
    dcb_ = DCB{};
    dcb_.DCBlength = sizeof(dcb_);
    if (!GetCommState(handle_, &dcb_)) {
      error = Refused("GetCommState");
      return false;
    }
    dcb_.BaudRate = rate;
    dcb_.ByteSize = 8;
    dcb_.Parity = NOPARITY;
    dcb_.StopBits = ONESTOPBIT;
    dcb_.fBinary = 1;
    dcb_.fParity = 0;
    dcb_.fOutxCtsFlow = 1;
    dcb_.fOutxDsrFlow = 0;
    dcb_.fDtrControl = DTR_CONTROL_ENABLE;
    dcb_.fRtsControl = RTS_CONTROL_HANDSHAKE;
    dcb_.fOutX = 0;
    dcb_.fInX = 0;
    if (!SetCommState(handle_, &dcb_)) {
      error = Refused("SetCommState");
      return false;
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = READ_INTERVAL_MS;
    timeouts.ReadTotalTimeoutMultiplier = TIMEOUT_PER_BYTE_MS;
    timeouts.ReadTotalTimeoutConstant = TIMEOUT_CONSTANT_MS;
    timeouts.WriteTotalTimeoutMultiplier = TIMEOUT_PER_BYTE_MS;
    timeouts.WriteTotalTimeoutConstant = TIMEOUT_CONSTANT_MS;
    if (!SetCommTimeouts(handle_, &timeouts)) {
      error = Refused("SetCommTimeouts");
      return false;
    }
    return true;
  }

  // Only the rate changes; everything else stays as Configure applied it. A refused rate
  // leaves the line at the one before. A device that went away refused no rate: a port that no
  // longer tells its state is gone.
  bool SetPortRate(std::uint32_t rate, PortError* error) override {
    const DWORD before = dcb_.BaudRate;
    dcb_.BaudRate = rate;
    if (SetCommState(handle_, &dcb_))
      return true;
    PortError why = Refused("SetCommState");
    dcb_.BaudRate = before;
    DCB now{};
    now.DCBlength = sizeof(now);
    if (!GetCommState(handle_, &now))
      why.problem = PortProblem::Missing;
    if (error)
      *error = why;
    return false;
  }

  // The time-outs end a try that the handshake holds back: it then sends nothing.
  bool WriteFrame(const std::uint8_t* bytes, std::size_t length, PortError* error) override {
    const auto once = [this, error](const std::uint8_t* from, std::size_t n) {
      DWORD written = 0;
      if (WriteFile(handle_, from, static_cast<DWORD>(n), &written, nullptr))
        return static_cast<long>(written);
      if (error)
        *error = Failure("WriteFile");
      return -1L;
    };
    return WriteAll(bytes, length, MonotonicMs() + TotalTimeoutMs(length), once, MonotonicMs);
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    DWORD got = 0;
    ReadResult result;
    result.ok = ReadFile(handle_, buffer, static_cast<DWORD>(length), &got, nullptr) != FALSE;
    result.count = result.ok ? got : 0;
    if (!result.ok)
      result.failed = Failure("ReadFile").detail;
    return result;
  }

  std::uint64_t NowMs() override { return MonotonicMs(); }

 private:
  HANDLE handle_;
  DCB dcb_{};
};

class Win32Serial final : public SerialBackend {
 public:
  std::vector<std::string> EnumeratePorts() override {
    std::vector<std::string> names;
    for (int n = 1; n <= 256; ++n) {
      const std::string name = "COM" + std::to_string(n);
      if (ProbeComPort(name).problem == PortProblem::None)
        names.push_back(name);
    }
    return names;
  }

  std::unique_ptr<SerialPort> OpenPort(const std::string& name, std::uint32_t rate,
                                       PortError* error) override {
    const HANDLE handle = OpenComPort(name, FILE_SHARE_READ, error);
    if (handle == INVALID_HANDLE_VALUE)
      return nullptr;
    PortError local;
    auto port = std::make_unique<Win32Port>(handle);
    if (!port->Configure(rate, error ? *error : local))
      return nullptr;
    return port;
  }
};

}  // namespace

std::unique_ptr<SerialBackend> MakeWin32Serial() {
  return std::make_unique<Win32Serial>();
}

}  // namespace valdrix
