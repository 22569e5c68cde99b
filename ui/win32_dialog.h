// The dialog seam on a real Win32 dialog window.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

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

// Texts in UTF-8, as the portable layers hold them, to and from the UTF-16 of the W functions.
// Kept off std::wstring, which would add its own code to the program.
std::vector<wchar_t> Wide(const std::string& utf8);  // ends with L'\0'
std::string Utf8(const wchar_t* wide, int length);
// The string tables of the user's UI language, when there are some (ui/translate_win32.cpp).
void UseStringTables();

}  // namespace valdrix
