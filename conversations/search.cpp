#include "conversations/configurator.h"
#include "conversations/exchange.h"
#include "dialog/controls.h"
#include "protocol/frames.h"
#include "protocol/text.h"

namespace valdrix {
namespace {

// One query of a value: one four-byte write, then one four-byte read into the same buffer.
// Returns whether the write went out; answered tells whether the reply came.
bool Query(SerialPort& port, FrameBuffer& frame, std::uint8_t sub, int value, bool& answered) {
  BuildSetFrame(frame, sub, value);
  answered = false;
  if (!port.WriteFrame(frame, FRAME_LENGTH))
    return false;
  const ReadResult reply = port.ReadFrame(frame, FRAME_LENGTH);
  answered = IsReplyTo(frame, reply.ok, reply.count, sub);
  return true;
}

// Reads the values into found and shows them; the address list has no entry for an address
// outside 1 to 31, so the dialog shows none then, while found keeps it.
void ReadValues(Configurator& cfg, SerialPort& port, Outcome& found) {
  Dialog& dialog = cfg.dialog;
  FrameBuffer frame{};
  bool answered = false;

  if (Query(port, frame, SUB_VERSION, 0, answered)) {
    found.version = answered ? VersionText(frame[2]) : "1.00";
    dialog.SetText(IDC_VERSION, found.version);
    dialog.Repaint(IDC_VERSION);
  }
  if (Query(port, frame, SUB_XN_ADDRESS, VALUE_QUERY, answered) && answered) {
    found.values.address = frame[2];
    dialog.SelectEntry(IDC_XN_ADDRESS, DecimalText(frame[2]));
    dialog.Enable(IDC_XN_ADDRESS, true);
    dialog.Repaint(IDC_XN_ADDRESS);
  }
  if (Query(port, frame, SUB_BASE_ADDRESS, VALUE_QUERY, answered) && answered) {
    found.values.base = frame[2];
    dialog.SetText(IDC_BASE_ADDRESS, DecimalText(frame[2]));
    dialog.Enable(IDC_BASE_ADDRESS, true);
    dialog.Repaint(IDC_BASE_ADDRESS);
  }
  if (Query(port, frame, SUB_MODULE_COUNT, VALUE_QUERY, answered) && answered) {
    const unsigned count = frame[2];
    found.values.modules16 = static_cast<int>(count >> 1);
    found.values.modules8 = static_cast<int>(count & 1u);
    dialog.SetText(IDC_MODULES16, DecimalText(count >> 1));
    dialog.Enable(IDC_MODULES16, true);
    dialog.Repaint(IDC_MODULES16);
    dialog.Enable(IDC_MODULES8, true);
    dialog.SetText(IDC_MODULES8, DecimalText(count & 1u));
    dialog.Repaint(IDC_MODULES8);
  }
}

// Lets the user choose a port again after a search that ended without the interface.
void OfferPortsAgain(Dialog& dialog) {
  SetStatus(dialog, STATUS_SELECT_PORT);
  dialog.Enable(IDC_PORT, true);
  dialog.Repaint(IDC_PORT);
}

// A write to the port failed (or the port is gone): the box comes while the port is still open,
// as the search's steps have it.
Outcome WriteFailed(Dialog& dialog, const std::string& name, const PortError& why = {}) {
  OfferPortsAgain(dialog);
  ShowError(dialog, PATTERN_WRITE, name);
  return {Outcome::Kind::CouldNotWrite, 0, why};
}

// The interface answered at rate: its values are read and shown, and it is opened.
void TakeFound(Configurator& cfg, SerialPort& port, std::uint32_t rate, Outcome& outcome) {
  Dialog& dialog = cfg.dialog;
  outcome = {Outcome::Kind::Found, rate};
  if (cfg.foundAt)
    cfg.foundAt(rate);
  SetStatus(dialog, STATUS_READING);
  dialog.Enable(IDC_PORT, false);
  dialog.Repaint(IDC_PORT);
  dialog.Repaint(IDC_RATE);
  ReadValues(cfg, port, outcome);
  // Setting the edit texts raised change notifications that enabled Apply: nothing has been
  // edited yet.
  dialog.Enable(IDOK, false);

  SetStatus(dialog, STATUS_OPENING);
  cfg.interfaceOpen = SendAndDrain(dialog, port, SUB_OPEN, 1);
}

// What the dialog shows once the search has ended (a write failure has said so already).
void ShowEnd(Dialog& dialog, const Outcome& outcome, const std::string& name) {
  switch (outcome.kind) {
    case Outcome::Kind::Found:
      SetStatus(dialog, STATUS_ENTER_VALUES);
      break;
    case Outcome::Kind::CouldNotWrite:
      break;
    default:
      OfferPortsAgain(dialog);
      dialog.ClearSelection(IDC_RATE);
      ShowError(dialog, PATTERN_NOT_FOUND, name);
      break;
  }
}

}  // namespace

Outcome SearchInterface(Configurator& cfg) {
  Dialog& dialog = cfg.dialog;
  SetStatus(dialog, STATUS_SEARCHING);
  const std::string name = dialog.CurrentEntry(IDC_PORT);

  PortError error;
  const std::uint32_t firstRate = cfg.onlyRate ? cfg.onlyRate : LINE_RATES[0];
  std::unique_ptr<SerialPort> port = cfg.serial.OpenPort(name, firstRate, &error);
  if (!port) {
    // While an interface is still open, its port must stay the chosen one: the close frame
    // goes there.
    if (!cfg.interfaceOpen)
      OfferPortsAgain(dialog);
    ShowError(dialog, PATTERN_OPEN, name);
    return {Outcome::Kind::CouldNotOpen, 0, error};
  }

  Outcome outcome{Outcome::Kind::NothingAnswered};
  std::vector<std::string> notSet;
  FrameBuffer frame{};
  const auto notTaken = [&notSet](std::uint32_t rate, const std::string& why) {
    notSet.push_back(DecimalText(static_cast<long>(rate)) + ": " + why);
  };
  for (const std::uint32_t rate : LINE_RATES) {
    if (cfg.onlyRate && rate != cfg.onlyRate)
      continue;
    cfg.interfaceOpen = false;
    // A rate the port does not take is never tried: the line would still be at the one before.
    PortError refused;
    if (!port->SetPortRate(rate, &refused)) {
      // A port that is gone (the link dropped, another client took it, a stop) refused no rate:
      // it fails as a write to it would.
      if (refused.problem != PortProblem::Other) {
        outcome = WriteFailed(dialog, name, refused);
        break;
      }
      notTaken(rate, refused.detail);
      continue;
    }
    dialog.SelectEntry(IDC_RATE, DecimalText(static_cast<long>(rate)));
    if (cfg.tryingRate)
      cfg.tryingRate(rate);
    dialog.Repaint(IDC_RATE);

    BuildInterfaceQuery(frame);
    PortError unsent;
    if (!port->WriteFrame(frame, INTERFACE_QUERY_LENGTH, &unsent)) {
      outcome = WriteFailed(dialog, name, unsent);
      break;
    }
    const ReadResult reply = port->ReadFrame(frame, FRAME_LENGTH);
    // A read the port says failed is a broken port, not silence at this rate: it ends the search.
    if (!reply.failed.empty()) {
      PortError broken;
      broken.problem = PortProblem::Other;
      broken.detail = reply.failed;
      outcome = WriteFailed(dialog, name, broken);
      break;
    }
    if (!reply.rateRefused.empty())
      notTaken(rate, reply.rateRefused);
    if (!IsInterfaceReply(frame, reply.ok))
      continue;
    TakeFound(cfg, *port, rate, outcome);
    break;
  }
  port.reset();
  if (outcome.kind == Outcome::Kind::NothingAnswered)
    outcome.ratesNotSet = std::move(notSet);
  ShowEnd(dialog, outcome, name);
  return outcome;
}

std::string LineRatesText() {
  std::string text;
  for (const std::uint32_t rate : LINE_RATES) {
    if (!text.empty())
      text += rate == LINE_RATES[std::size(LINE_RATES) - 1] ? T_(" or ") : ", ";
    text += DecimalText(static_cast<long>(rate));
  }
  return text;
}

std::string NothingAnsweredHint(const std::string& ratesTried,
                                const std::vector<std::string>& ratesNotSet) {
  std::string hint =
      T_("Check that the interface has power and that its cable is plugged in; no answer at ") +
      ratesTried + ".";
  for (const std::string& rate : ratesNotSet)
    hint += "\n" + std::string(T_("The port could not be set to ")) + rate;
  return hint;
}

}  // namespace valdrix
