// The dialog seam on a real Win32 dialog window.
#pragma once

#include <windows.h>

#include "dialog/dialog.h"

namespace valdrix {

class Win32Dialog final : public Dialog {
 public:
  // Set at WM_INITDIALOG, before anything touches a control.
  void Attach(HWND window) { window_ = window; }

  void SetText(int id, const std::string& text) override;
  void Enable(int id, bool enable) override;
  void Repaint(int id) override;
  std::string EditText(int id) override;
  void AddEntry(int id, const std::string& text) override;
  std::string CurrentEntry(int id) override;
  void SelectEntry(int id, const std::string& text) override;
  void ClearSelection(int id) override;
  void ErrorBox(const std::string& text) override;
  void End(int result) override;

 private:
  HWND window_ = nullptr;
};

}  // namespace valdrix
