#include "conversations/exchange.h"

#include "dialog/controls.h"
#include "protocol/frames.h"
#include "protocol/text.h"

namespace valdrix {

bool SendAndDrain(Dialog& dialog, SerialPort& port, std::uint8_t sub, int value, PortError* error,
                  std::uint64_t drainMs) {
  FrameBuffer frame{};
  BuildSetFrame(frame, sub, value);
  if (!port.WriteFrame(frame, FRAME_LENGTH, error))
    return false;
  SetStatus(dialog, STATUS_READING);
  DrainPort(port, drainMs);
  return true;
}

std::unique_ptr<SerialPort> OpenChosenPort(Configurator& cfg, PortError& error) {
  const std::string name = cfg.dialog.CurrentEntry(IDC_PORT);
  const auto rate = static_cast<std::uint32_t>(ParseDecimal(cfg.dialog.CurrentEntry(IDC_RATE)));
  std::unique_ptr<SerialPort> port = cfg.serial.OpenPort(name, rate, &error);
  if (!port)
    ShowError(cfg.dialog, PATTERN_OPEN, name);
  return port;
}

}  // namespace valdrix
