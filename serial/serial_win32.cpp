#include "serial/serial_win32.h"

#include <windows.h>

#include <string>

namespace valdrix {
namespace {

// Ports are opened through the device namespace: plain "COM10" and above do not open. A name
// given with the prefix already keeps it.
std::string DevicePath(const std::string& name) {
  const std::string prefix = "\\\\.\\";
  return name.compare(0, prefix.size(), prefix) == 0 ? name : prefix + name;
}

std::string SystemMessage(DWORD code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty())
    message = "error " + std::to_string(code);
  return message;
}

PortError FromLastError(DWORD code) {
  PortError e;
  switch (code) {
    case ERROR_ACCESS_DENIED:  // a COM port another program has open
    case ERROR_SHARING_VIOLATION:
      e.problem = PortProblem::Busy;
      break;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      e.problem = PortProblem::Missing;
      break;
    default:
      e.problem = PortProblem::Other;
      e.detail = SystemMessage(code);
  }
  return e;
}

// Opens name and keeps the handle only when it is a communications device: a file, NUL or the
// console is closed again before anything is written to it. Windows gives a COM port to one
// program at a time whatever the share mode; the probe asks for none, the conversations for
// FILE_SHARE_READ, as the window always has.
HANDLE OpenChecked(const std::string& name, DWORD share, PortError* error,
                   unsigned long* systemError) {
  PortError local;
  PortError& e = error ? *error : local;
  e = PortError{};
  const HANDLE handle = CreateFileA(DevicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE, share,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (systemError)
      *systemError = code;
    e = FromLastError(code);
    return INVALID_HANDLE_VALUE;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  if (GetFileType(handle) != FILE_TYPE_CHAR || !GetCommState(handle, &dcb)) {
    CloseHandle(handle);
    e.problem = PortProblem::NotAPort;
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

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
  void SetPortRate(std::uint32_t rate) override {
    dcb_.BaudRate = rate;
    SetCommState(handle_, &dcb_);
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

  std::uint64_t NowMs() override { return GetTickCount64(); }

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
    const HANDLE handle = OpenChecked(name, FILE_SHARE_READ, error, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      return nullptr;
    auto port = std::make_unique<Win32Port>(handle);
    port->Configure(rate);
    return port;
  }
};

}  // namespace

PortError ProbeComPort(const std::string& name, unsigned long* systemError) {
  PortError error;
  const HANDLE handle = OpenChecked(name, 0, &error, systemError);
  if (handle != INVALID_HANDLE_VALUE)
    CloseHandle(handle);
  return error;
}

std::unique_ptr<SerialBackend> MakeWin32Serial() {
  return std::make_unique<Win32Serial>();
}

}  // namespace valdrix
