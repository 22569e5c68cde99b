// Entry point of the Windows program: one modal dialog, all of whose work happens in the
// portable dialog logic.

#include <windows.h>
// <commctrl.h> needs <windows.h> before it.
#include <commctrl.h>

#include "conversations/config_dialog.h"
#include "dialog/controls.h"
#include "serial/serial_win32.h"
#include "ui/win32_dialog.h"

// The portable dialog logic compares notification codes with its own copies.
static_assert(VALDRIX_BN_CLICKED == BN_CLICKED);
static_assert(VALDRIX_CBN_SELENDOK == CBN_SELENDOK);
static_assert(VALDRIX_EN_CHANGE == EN_CHANGE);

namespace {

// What lives for the whole run: the dialog seam, the serial backend and the conversation state.
struct Program {
  valdrix::Win32Dialog dialog;
  std::unique_ptr<valdrix::SerialBackend> serial = valdrix::MakeWin32Serial();
  valdrix::Configurator cfg{dialog, *serial};
};

Program& TheProgram() {
  static Program program;
  return program;
}

// Cracks messages only; the answer is FALSE for everything but WM_INITDIALOG, so the platform
// does its default handling (focus, Escape, ...).
INT_PTR CALLBACK ConfigDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
  Program& program = TheProgram();
  switch (message) {
    case WM_INITDIALOG:
      program.dialog.Attach(window);
      valdrix::OnInitDialog(program.cfg);
      return TRUE;
    case WM_COMMAND:
      valdrix::OnCommand(program.cfg, LOWORD(wParam), HIWORD(wParam));
      return FALSE;
    case WM_CLOSE:
      valdrix::OnClose(program.cfg);
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  InitCommonControls();
  valdrix::UseStringTables();
  DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_CONFIG), nullptr, ConfigDialogProc, 0);
  return 0;
}
