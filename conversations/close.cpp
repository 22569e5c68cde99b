#include "conversations/configurator.h"
#include "conversations/exchange.h"
#include "protocol/frames.h"

namespace valdrix {

Outcome CloseInterface(Configurator& cfg) {
  // Nothing was opened, so there is nothing to close and no port to touch.
  if (!cfg.interfaceOpen)
    return {Outcome::Kind::Done};
  PortError error;
  std::unique_ptr<SerialPort> port = OpenChosenPort(cfg, error);
  if (!port)
    return {Outcome::Kind::CouldNotOpen, 0, error};
  SetStatus(cfg.dialog, STATUS_CLOSING);
  if (!SendAndDrain(cfg.dialog, *port, SUB_OPEN, 0, &error,
                    cfg.stopping ? TotalTimeoutMs(1) : DRAIN_MAX_MS))
    return {Outcome::Kind::CouldNotWrite, 0, error};
  return {Outcome::Kind::Done};
}

}  // namespace valdrix
