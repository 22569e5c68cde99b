#include "conversations/config_dialog.h"

#include "dialog/controls.h"
#include "protocol/frames.h"
#include "protocol/text.h"

namespace valdrix {

void OnInitDialog(Configurator& cfg) {
  FillLists(cfg.dialog, cfg.serial.EnumeratePorts());
}

void FillLists(Dialog& dialog, const std::vector<std::string>& portNames) {
  for (const std::string& name : portNames)
    dialog.AddEntry(IDC_PORT, name);
  for (const std::uint32_t rate : LINE_RATES) {
    dialog.AddEntry(IDC_RATE, DecimalText(static_cast<long>(rate)));
  }
  for (int address = MIN_XN_ADDRESS; address <= MAX_XN_ADDRESS; ++address) {
    dialog.AddEntry(IDC_XN_ADDRESS, DecimalText(address));
  }
}

Outcome OnCommand(Configurator& cfg, int id, int code) {
  switch (id) {
    case IDOK: {
      cfg.dialog.Enable(IDOK, false);
      const Outcome written = WriteSettings(cfg);
      const Outcome readBack = SearchInterface(cfg);  // what the interface now holds
      return written.Failed() ? written : readBack;
    }
    case IDCANCEL:
      return OnClose(cfg);
    case IDC_PORT:
      if (code == VALDRIX_CBN_SELENDOK)
        return SearchInterface(cfg);
      break;
    case IDC_XN_ADDRESS:
      if (code == VALDRIX_CBN_SELENDOK)
        cfg.dialog.Enable(IDOK, true);
      break;
    case IDC_BASE_ADDRESS:
    case IDC_MODULES16:
    case IDC_MODULES8:
      if (code == VALDRIX_EN_CHANGE)
        cfg.dialog.Enable(IDOK, true);
      break;
    default:
      break;
  }
  return {};
}

Outcome OnClose(Configurator& cfg) {
  const Outcome closed = CloseInterface(cfg);
  cfg.dialog.End(0);
  return closed;
}

}  // namespace valdrix
