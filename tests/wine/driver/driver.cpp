// Drives the configurator dialog of another process, the way a user or a screen reader would,
// and prints what it sees. One command per run:
//
//   driver wait [ms]            wait until the dialog exists (default 20000 ms)
//   driver text <id>            print the control's text
//   driver enabled <id>         print 1 when the control is enabled, else 0
//   driver entries <id>         print a list's entries, one a line
//   driver current <id>         print the text of the list's current entry (nothing if none)
//   driver settext <id> <text>  set a control's text (an edit raises EN_CHANGE)
//   driver command <id> [code]  post WM_COMMAND to the dialog (code 9: CBN_SELENDOK)
//   driver close                post WM_CLOSE to the dialog
//   driver gone [ms]            wait until the dialog has disappeared (default 10000 ms)
//
// Exit code 0 on success, 1 when the dialog or control is missing, 2 on bad usage. List
// texts go through the W messages: the A form of CB_GETLBTEXT across processes returns only the
// first character under Wine.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr char DIALOG_CLASS[] = "#32770";
constexpr char DIALOG_TITLE[] = "Valdrix Configurator V 1.02";
constexpr DWORD POLL_MS = 50;

HWND FindDialog() {
  return FindWindowA(DIALOG_CLASS, DIALOG_TITLE);
}

std::string Narrow(const wchar_t* text) {
  char buffer[1024] = {};
  WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, static_cast<int>(sizeof(buffer) - 1), nullptr,
                      nullptr);
  return buffer;
}

bool WaitFor(bool present, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if ((FindDialog() != nullptr) == present)
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(POLL_MS);  // another process's window: nothing to wait on but time
  }
}

int Usage() {
  std::fprintf(stderr,
               "usage: driver wait|gone [ms] | text|enabled|entries|current <id> |\n"
               "       settext <id> <text> | command <id> [code] | close\n");
  return 2;
}

HWND Control(HWND dialog, const char* idText) {
  return GetDlgItem(dialog, std::atoi(idText));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2)
    return Usage();
  const std::string command = argv[1];

  if (command == "wait" || command == "gone") {
    const DWORD timeout =
        argc > 2 ? static_cast<DWORD>(std::atol(argv[2])) : (command == "wait" ? 20000 : 10000);
    return WaitFor(command == "wait", timeout) ? 0 : 1;
  }

  const HWND dialog = FindDialog();
  if (dialog == nullptr) {
    std::fprintf(stderr, "driver: no dialog \"%s\"\n", DIALOG_TITLE);
    return 1;
  }
  if (command == "close") {
    return PostMessageA(dialog, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (argc < 3)
    return Usage();
  const int id = std::atoi(argv[2]);
  if (command == "command") {
    const int code = argc > 3 ? std::atoi(argv[3]) : 0;
    const HWND control = GetDlgItem(dialog, id);
    // Posted: the dialog may block in a conversation or an error box.
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control))
               ? 0
               : 1;
  }

  const HWND control = Control(dialog, argv[2]);
  if (control == nullptr) {
    std::fprintf(stderr, "driver: no control %d\n", id);
    return 1;
  }
  if (command == "text") {
    wchar_t text[512] = {};
    SendMessageW(control, WM_GETTEXT, 511, reinterpret_cast<LPARAM>(text));
    std::printf("%s\n", Narrow(text).c_str());
    return 0;
  }
  if (command == "enabled") {
    std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
    return 0;
  }
  if (command == "entries" || command == "current") {
    const LRESULT count = SendMessageW(control, CB_GETCOUNT, 0, 0);
    const LRESULT current = SendMessageW(control, CB_GETCURSEL, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
      if (command == "current" && i != current)
        continue;
      wchar_t text[512] = {};
      if (SendMessageW(control, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0) >= 511)
        continue;
      SendMessageW(control, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
      std::printf("%s\n", Narrow(text).c_str());
    }
    return 0;
  }
  if (command == "settext") {
    if (argc < 4)
      return Usage();
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[3]));
    return 0;
  }
  return Usage();
}
