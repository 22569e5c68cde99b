#include "serial/serial_win32.h"

#include <windows.h>

#include <string>

#include "base/clock.h"
#include "serial/hold.h"

namespace valdrix {
namespace {

class Win32Port final : public SerialPort {
 public:
  explicit Win32Port(HANDLE handle) : handle_(handle) {}
  ~Win32Port() override { CloseHandle(handle_); }

  // A port that refuses these settings is used with whatever it has, so results go unchecked.
  void Configure(std::uint32_t rate) {
    dcb_ = DCB{};
    dcb_.DCBlength = sizeof(dcb_);
    GetCommState(handle_, &dcb_);
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
    SetCommState(handle_, &dcb_);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = READ_INTERVAL_MS;
    timeouts.ReadTotalTimeoutMultiplier = TIMEOUT_PER_BYTE_MS;
    timeouts.ReadTotalTimeoutConstant = TIMEOUT_CONSTANT_MS;
    timeouts.WriteTotalTimeoutMultiplier = TIMEOUT_PER_BYTE_MS;
    timeouts.WriteTotalTimeoutConstant = TIMEOUT_CONSTANT_MS;
    SetCommTimeouts(handle_, &timeouts);
  }

  // Only the rate changes; everything else stays as Configure applied it.
  bool SetPortRate(std::uint32_t rate, PortError* /*error*/) override {
    dcb_.BaudRate = rate;
    SetCommState(handle_, &dcb_);
    return true;
  }

  bool WriteFrame(const std::uint8_t* bytes, std::size_t length) override {
    DWORD written = 0;
    return WriteFile(handle_, bytes, static_cast<DWORD>(length), &written, nullptr) != FALSE;
  }

  ReadResult ReadFrame(std::uint8_t* buffer, std::size_t length) override {
    DWORD got = 0;
    ReadResult result;
    result.ok = ReadFile(handle_, buffer, static_cast<DWORD>(length), &got, nullptr) != FALSE;
    result.count = result.ok ? got : 0;
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
    auto port = std::make_unique<Win32Port>(handle);
    port->Configure(rate);
    return port;
  }
};

}  // namespace

std::unique_ptr<SerialBackend> MakeWin32Serial() {
  return std::make_unique<Win32Serial>();
}

}  // namespace valdrix
