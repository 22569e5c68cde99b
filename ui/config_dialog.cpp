#include "ui/config_dialog.h"

#include "protocol/text.h"
#include "ui/controls.h"

namespace valdrix {

void OnInitDialog(Configurator& cfg) {
  cfg.portNames = cfg.serial.EnumeratePorts();
  FillLists(cfg.dialog, cfg.portNames);
}

void FillLists(Dialog& dialog, const std::vector<std::string>& portNames) {
  for (const std::string& name : portNames) dialog.AddEntry(IDC_PORT, name);
  for (const std::uint32_t rate : RATES) {
    dialog.AddEntry(IDC_RATE, DecimalText(static_cast<long>(rate)));
  }
  for (int address = 1; address <= 31; ++address) {
    dialog.AddEntry(IDC_XN_ADDRESS, DecimalText(address));
  }
}

void OnCommand(Configurator& cfg, int id, int code) {
  switch (id) {
    case IDOK:
      cfg.dialog.Enable(IDOK, false);
      WriteSettings(cfg);
      SearchInterface(cfg);  // reads back what the interface now holds
      return;
    case IDCANCEL:
      OnClose(cfg);
      return;
    case IDC_PORT:
      if (code == VALDRIX_CBN_SELENDOK)
        SearchInterface(cfg);
      return;
    case IDC_XN_ADDRESS:
      if (code == VALDRIX_CBN_SELENDOK)
        cfg.dialog.Enable(IDOK, true);
      return;
    case IDC_BASE_ADDRESS:
    case IDC_MODULES16:
    case IDC_MODULES8:
      if (code == VALDRIX_EN_CHANGE)
        cfg.dialog.Enable(IDOK, true);
      return;
    default:
      return;
  }
}

void OnClose(Configurator& cfg) {
  CloseInterface(cfg);
  cfg.dialog.End(0);
}

}  // namespace valdrix
