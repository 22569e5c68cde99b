#include "conversations/configurator.h"
#include "conversations/exchange.h"
#include "dialog/controls.h"
#include "protocol/frames.h"
#include "protocol/text.h"

namespace valdrix {
namespace {

constexpr int VALUE_CONTROLS[] = {IDC_XN_ADDRESS, IDC_BASE_ADDRESS, IDC_MODULES16, IDC_MODULES8};

// One value's frame, told to the caller when it went out; why the first write that failed did
// is kept in failure.
bool Write(Configurator& cfg, SerialPort& port, std::uint8_t sub, int value, PortError& failure) {
  PortError why;
  const bool sent = SendAndDrain(cfg.dialog, port, sub, value, &why);
  if (sent && cfg.wrote)
    cfg.wrote(sub);
  if (!sent && failure.detail.empty())
    failure = why;
  return sent;
}

}  // namespace

Outcome WriteSettings(Configurator& cfg) {
  Dialog& dialog = cfg.dialog;
  SetStatus(dialog, STATUS_WRITING);
  for (const int id : VALUE_CONTROLS)
    dialog.Enable(id, false);
  for (const int id : VALUE_CONTROLS)
    dialog.Repaint(id);

  PortError error;
  std::unique_ptr<SerialPort> port = OpenChosenPort(cfg, error);
  if (!port)
    return {Outcome::Kind::CouldNotOpen, 0, error};
  bool allWritten = true;

  // With no current entry there is no address to send; 0 would give the interface an address
  // no XpressNet device can hold.
  const std::string address = dialog.CurrentEntry(IDC_XN_ADDRESS);
  if (!address.empty())
    allWritten &= Write(cfg, *port, SUB_XN_ADDRESS, ParseDecimal(address), error);

  SetStatus(dialog, STATUS_WRITING);
  const std::string base = dialog.EditText(IDC_BASE_ADDRESS);
  if (!base.empty())
    allWritten &= Write(cfg, *port, SUB_BASE_ADDRESS, ParseDecimal(base), error);

  SetStatus(dialog, STATUS_WRITING);
  // The count query's value byte is never a count, so it stands for "no count to write".
  std::uint32_t count = VALUE_QUERY;
  const std::string modules16 = dialog.EditText(IDC_MODULES16);
  if (!modules16.empty()) {
    count = (2u * static_cast<std::uint32_t>(ParseDecimal(modules16))) & 0xFFu;
  }
  const std::string modules8 = dialog.EditText(IDC_MODULES8);
  if (!modules8.empty()) {
    if (count == VALUE_QUERY)
      count = 0;
    count = (count + static_cast<std::uint32_t>(ParseDecimal(modules8))) & 0xFFu;
  }
  if (count != VALUE_QUERY)
    allWritten &= Write(cfg, *port, SUB_MODULE_COUNT, static_cast<int>(count), error);

  port.reset();
  SetStatus(dialog, STATUS_ENTER_VALUES);
  if (allWritten)
    return {Outcome::Kind::Done};
  return {Outcome::Kind::CouldNotWrite, 0, error};
}

}  // namespace valdrix
