#include "protocol/configurator.h"
#include "protocol/exchange.h"
#include "protocol/frames.h"

namespace valdrix {

void CloseInterface(Configurator& cfg) {
  // Nothing was opened, so there is nothing to close and no port to touch.
  if (!cfg.interfaceOpen)
    return;
  std::unique_ptr<SerialPort> port = OpenChosenPort(cfg);
  if (!port)
    return;
  SetStatus(cfg.dialog, STATUS_CLOSING);
  SendAndDrain(cfg.dialog, *port, SUB_OPEN, 0);
}

}  // namespace valdrix
