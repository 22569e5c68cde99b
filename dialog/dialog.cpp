#include "dialog/dialog.h"

#include "dialog/controls.h"

namespace valdrix {

void SetStatus(Dialog& dialog, const char* text) {
  dialog.SetText(IDC_STATUS, T_(text));
  dialog.Repaint(IDC_STATUS);
}

std::string ErrorText(const char* pattern, const std::string& port) {
  // Substituted by hand: the port name is user-visible data, never a format string.
  std::string text = T_(pattern);
  const std::size_t at = text.find("%s");
  if (at != std::string::npos)
    text.replace(at, 2, port);
  return text;
}

void ShowError(Dialog& dialog, const char* pattern, const std::string& port) {
  dialog.ErrorBox(ErrorText(pattern, port));
}

}  // namespace valdrix
