// Drives the configurator dialog of another process, the way a user or a screen reader would,
// and prints what it sees. One command per run, or many through "serve":
//
//   driver wait [ms]            wait until the dialog is shown and ready (default 20000 ms)
//   driver gone [ms]            wait until the dialog has disappeared (default 10000 ms)
//   driver text <id>            print the control's text
//   driver enabled <id>         print 1 when the control is enabled, else 0
//   driver entries <id>         print a list's entries, one a line
//   driver current <id>         print the text of the list's current entry (nothing if none)
//   driver rect <id>            print the control's screen rectangle: left top right bottom
//   driver measure <id> <text>  print the width of text in the control's font and the width the
//                               control has for it, in pixels (a translation must fit)
//   driver dropped <id>         print 1 when the list's drop-down part is open, else 0
//   driver dump                 every control's text and enabled state, and the lists' entries
//                               and current entries, as one JSON object
//   driver settext <id> <text>  set a control's text (an edit raises EN_CHANGE)
//   driver choose <id> <entry>  make <entry> the list's current entry and post CBN_SELENDOK,
//                               as a confirmed choice in the drop-down list does
//   driver press <id>           post BN_CLICKED of the button
//   driver command <id> [code]  post WM_COMMAND to the dialog (code 9: CBN_SELENDOK)
//   driver close                post WM_CLOSE to the dialog
//   driver idle [ms]            wait until the dialog takes messages again (default 20000 ms)
//   driver waitstatus <ms> <text>  wait until the dialog is idle and its status line reads <text>
//   driver errorbox [ms]        wait for a message box owned by the dialog (default 0 ms) and
//                               print its caption and its text, one a line
//   driver dismiss              press OK in that message box and wait until it has gone
//   driver serve                read commands from stdin, one a line, and answer each with one
//                               line: {"code":N,"lines":[...]} (one Wine start for a whole test)
//
// Texts are UTF-8 in both directions: arguments, serve's lines and what is printed.
// Exit code 0 on success, 1 when the dialog, control or box is missing or a wait ran out, 2 on
// bad usage, 3 when the dialog did not answer in time. Nothing here sends a message that could
// block on a busy dialog: the dialog runs its conversations inside the dialog procedure, so
// reads go through SendMessageTimeout and commands are posted. List texts go through the W
// messages: the A form of CB_GETLBTEXT across processes returns only the first character under
// Wine.
#include <windows.h>
// <shellapi.h> needs <windows.h> before it.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "dialog/dialog_template.h"

namespace {

using valdrix::TEMPLATE_CAPTION;
using valdrix::TEMPLATE_CONTROLS;

constexpr char DIALOG_CLASS[] = "#32770";
constexpr DWORD POLL_MS = 50;
constexpr UINT ANSWER_MS = 200;  // a dialog in its modal loop answers well within this

struct Result {
  int code = 0;
  std::vector<std::string> lines;
};

Result Fail(int code, const std::string& message) {
  Result result;
  result.code = code;
  result.lines.push_back(message);
  return result;
}

HWND FindDialog() {
  return FindWindowA(DIALOG_CLASS, TEMPLATE_CAPTION);
}

std::string Narrow(const wchar_t* text) {
  char buffer[1024] = {};
  WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, static_cast<int>(sizeof(buffer) - 1), nullptr,
                      nullptr);
  return buffer;
}

std::wstring Widen(const std::string& text) {
  wchar_t buffer[1024] = {};
  MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, buffer, 1023);
  return buffer;
}

// A message that the target answers only while it takes messages; false when it is busy.
bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& answer) {
  DWORD_PTR value = 0;
  if (!SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, ANSWER_MS, &value))
    return false;
  answer = static_cast<LRESULT>(value);
  return true;
}

bool GetText(HWND window, std::string& text) {
  wchar_t buffer[512] = {};
  LRESULT ignored = 0;
  if (!Ask(window, WM_GETTEXT, 511, reinterpret_cast<LPARAM>(buffer), ignored))
    return false;
  text = Narrow(buffer);
  return true;
}

// The entries of a list and the index of its current one (-1 for none).
bool GetEntries(HWND list, std::vector<std::string>& entries, LRESULT& current) {
  LRESULT count = 0;
  if (!Ask(list, CB_GETCOUNT, 0, 0, count) || !Ask(list, CB_GETCURSEL, 0, 0, current))
    return false;
  entries.clear();
  for (LRESULT i = 0; i < count; ++i) {
    wchar_t text[512] = {};
    LRESULT length = 0;
    if (!Ask(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0, length))
      return false;
    if (length >= 0 && length < 511 &&
        !Ask(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text), length))
      return false;
    entries.push_back(Narrow(text));
  }
  return true;
}

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

bool IsIdle(HWND dialog) {
  LRESULT ignored = 0;
  return Ask(dialog, WM_NULL, 0, 0, ignored);
}

// The dialog exists from the start of its creation; it is ready once it is shown and its modal
// loop takes messages, after WM_INITDIALOG has filled the lists.
bool IsReady(HWND dialog) {
  return IsWindowVisible(dialog) && IsIdle(dialog);
}

bool WaitForDialog(bool present, DWORD timeoutMs) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    const HWND dialog = FindDialog();
    if (present ? dialog != nullptr && IsReady(dialog) : dialog == nullptr)
      return true;
    if (GetTickCount64() >= deadline)
      return false;
    Sleep(POLL_MS);  // another process's window: nothing to wait on but time
  }
}

struct BoxSearch {
  HWND owner;
  HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<BoxSearch*>(param);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  if (std::strcmp(className, DIALOG_CLASS) == 0 && GetWindow(window, GW_OWNER) == search->owner &&
      IsWindowVisible(window)) {
    search->box = window;
    return FALSE;
  }
  return TRUE;
}

// A message box owned by the dialog, if one is shown.
HWND FindErrorBox(HWND dialog) {
  BoxSearch search{dialog, nullptr};
  EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
  return search.box;
}

struct StaticSearch {
  std::string text;
};

BOOL CALLBACK FindStaticText(HWND window, LPARAM param) {
  auto* search = reinterpret_cast<StaticSearch*>(param);
  char className[64] = {};
  GetClassNameA(window, className, sizeof className);
  std::string text;
  if (lstrcmpiA(className, "Static") == 0 && GetText(window, text) && !text.empty()) {
    search->text = text;
    return FALSE;
  }
  return TRUE;
}

Result Usage() {
  return Fail(
      2,
      "usage: driver wait|gone|idle [ms] |\n"
      "       text|enabled|entries|current|rect|dropped|press <id> | measure <id> <text> |\n"
      "       dump | settext <id> <text> | choose <id> <entry> |\n"
      "       command <id> [code] | close | waitstatus <ms> <text> | errorbox [ms] |\n"
      "       dismiss | serve");
}

// Splits a command line into words; the last argument of settext, choose and waitstatus is the
// rest of the line after one space, exactly as it is, so texts may be empty or hold and begin
// with spaces ("settext 203 " empties the field).
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  std::size_t at = 0;
  while (at < line.size()) {
    const bool restIsText =
        words.size() == 2 && (words[0] == "settext" || words[0] == "choose" ||
                              words[0] == "waitstatus" || words[0] == "measure");
    if (restIsText) {
      words.push_back(line.substr(at + 1));  // at is the space that ended the second word
      break;
    }
    while (at < line.size() && line[at] == ' ')
      ++at;
    if (at >= line.size())
      break;
    const std::size_t end = line.find(' ', at);
    words.push_back(line.substr(at, end == std::string::npos ? std::string::npos : end - at));
    at = end == std::string::npos ? line.size() : end;
  }
  return words;
}

DWORD Milliseconds(const std::vector<std::string>& args, std::size_t index, DWORD fallback) {
  return args.size() > index ? static_cast<DWORD>(std::atol(args[index].c_str())) : fallback;
}

Result Dump(HWND dialog) {
  std::string json = "{";
  bool first = true;
  for (const valdrix::TemplateControl& t : TEMPLATE_CONTROLS) {
    const int id = t.id;
    const HWND control = GetDlgItem(dialog, id);
    if (control == nullptr)
      return Fail(1, "driver: no control " + std::to_string(id));
    std::string text;
    if (!GetText(control, text))
      return Fail(3, "dialog busy");
    json += (first ? "\"" : ",\"") + std::to_string(id) +
            "\":{\"enabled\":" + (IsWindowEnabled(control) ? "true" : "false") +
            ",\"text\":" + Json(text);
    first = false;
    if (std::strcmp(t.kind, "ComboBox") == 0) {
      std::vector<std::string> entries;
      LRESULT current = -1;
      if (!GetEntries(control, entries, current))
        return Fail(3, "dialog busy");
      json += ",\"entries\":[";
      for (std::size_t i = 0; i < entries.size(); ++i)
        json += (i ? "," : "") + Json(entries[i]);
      json += "],\"current\":";
      json += current >= 0 && current < static_cast<LRESULT>(entries.size())
                  ? Json(entries[static_cast<std::size_t>(current)])
                  : "null";
    }
    json += "}";
  }
  Result result;
  result.lines.push_back(json + "}");
  return result;
}

// What a command is given: the dialog and the control its id names, when it asks for them.
struct Call {
  const std::vector<std::string>& args;
  HWND dialog = nullptr;
  int id = 0;
  HWND control = nullptr;
};

Result Ok(std::vector<std::string> lines = {}) {
  Result result;
  result.lines = std::move(lines);
  return result;
}

Result Posted(BOOL posted) {
  return posted ? Ok() : Fail(1, "PostMessage failed");
}

Result Wait(const Call& call) {
  return WaitForDialog(true, Milliseconds(call.args, 1, 20000)) ? Ok() : Fail(1, "timed out");
}

Result Gone(const Call& call) {
  return WaitForDialog(false, Milliseconds(call.args, 1, 10000)) ? Ok() : Fail(1, "timed out");
}

Result Close(const Call& call) {
  return Posted(PostMessageA(call.dialog, WM_CLOSE, 0, 0));
}

Result DumpAll(const Call& call) {
  return Dump(call.dialog);
}

Result Idle(const Call& call) {
  const ULONGLONG deadline = GetTickCount64() + Milliseconds(call.args, 1, 20000);
  while (!IsIdle(call.dialog)) {
    if (GetTickCount64() >= deadline)
      return Fail(3, "dialog busy");
    Sleep(POLL_MS);
  }
  return Ok();
}

Result ErrorBox(const Call& call) {
  const ULONGLONG deadline = GetTickCount64() + Milliseconds(call.args, 1, 0);
  HWND box = nullptr;
  while ((box = FindErrorBox(call.dialog)) == nullptr) {
    if (GetTickCount64() >= deadline)
      return Fail(1, "no message box");
    Sleep(POLL_MS);
  }
  std::string caption;
  StaticSearch search;
  // The box runs its own modal loop, so it answers; its text is its one non-empty static.
  for (int attempt = 0; attempt < 20 && search.text.empty(); ++attempt) {
    GetText(box, caption);
    EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&search));
    if (search.text.empty())
      Sleep(POLL_MS);
  }
  return Ok({caption, search.text});
}

Result Dismiss(const Call& call) {
  const HWND box = FindErrorBox(call.dialog);
  if (box == nullptr)
    return Fail(1, "no message box");
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
  const ULONGLONG deadline = GetTickCount64() + 5000;
  while (IsWindow(box)) {
    if (GetTickCount64() >= deadline)
      return Fail(1, "message box still shown");
    Sleep(POLL_MS);
  }
  return Ok();
}

Result WaitStatus(const Call& call) {
  const ULONGLONG deadline = GetTickCount64() + Milliseconds(call.args, 1, 0);
  const HWND status = GetDlgItem(call.dialog, IDC_STATUS);
  std::string text;
  for (;;) {
    // Idle first: while a conversation runs, the status line does not answer anyway.
    if (IsIdle(call.dialog) && GetText(status, text) && text == call.args[2])
      return Ok();
    if (GetTickCount64() >= deadline)
      return Fail(1, "status: " + text);
    Sleep(POLL_MS);
  }
}

// Posted: the dialog may block in a conversation or an error box.
Result Command(const Call& call) {
  const int code = call.args.size() > 2 ? std::atoi(call.args[2].c_str()) : 0;
  return Posted(PostMessageA(call.dialog, WM_COMMAND, MAKEWPARAM(call.id, code),
                             reinterpret_cast<LPARAM>(call.control)));
}

Result Press(const Call& call) {
  return Posted(PostMessageA(call.dialog, WM_COMMAND, MAKEWPARAM(call.id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(call.control)));
}

Result Text(const Call& call) {
  std::string text;
  if (!GetText(call.control, text))
    return Fail(3, "dialog busy");
  return Ok({text});
}

Result Enabled(const Call& call) {
  return Ok({IsWindowEnabled(call.control) ? "1" : "0"});
}

Result Dropped(const Call& call) {
  LRESULT dropped = 0;
  if (!Ask(call.control, CB_GETDROPPEDSTATE, 0, 0, dropped))
    return Fail(3, "dialog busy");
  return Ok({dropped ? "1" : "0"});
}

Result Rect(const Call& call) {
  RECT rect{};
  GetWindowRect(call.control, &rect);
  return Ok({std::to_string(rect.left) + " " + std::to_string(rect.top) + " " +
             std::to_string(rect.right) + " " + std::to_string(rect.bottom)});
}

Result Entries(const Call& call) {
  std::vector<std::string> entries;
  LRESULT current = -1;
  if (!GetEntries(call.control, entries, current))
    return Fail(3, "dialog busy");
  return Ok(entries);
}

Result Current(const Call& call) {
  std::vector<std::string> entries;
  LRESULT current = -1;
  if (!GetEntries(call.control, entries, current))
    return Fail(3, "dialog busy");
  if (current >= 0 && current < static_cast<LRESULT>(entries.size()))
    return Ok({entries[static_cast<std::size_t>(current)]});
  return Ok();
}

Result Choose(const Call& call) {
  std::vector<std::string> entries;
  LRESULT current = -1;
  if (!GetEntries(call.control, entries, current))
    return Fail(3, "dialog busy");
  std::size_t index = 0;
  while (index < entries.size() && entries[index] != call.args[2])
    ++index;
  if (index == entries.size())
    return Fail(1, "no entry " + call.args[2]);
  LRESULT ignored = 0;
  if (!Ask(call.control, CB_SETCURSEL, static_cast<WPARAM>(index), 0, ignored))
    return Fail(3, "dialog busy");
  // What the list sends its dialog when the user confirms a choice.
  return Posted(PostMessageA(call.dialog, WM_COMMAND, MAKEWPARAM(call.id, CBN_SELENDOK),
                             reinterpret_cast<LPARAM>(call.control)));
}

Result SetText(const Call& call) {
  const std::wstring text = Widen(call.args[2]);
  LRESULT ignored = 0;
  return Ask(call.control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), ignored)
             ? Ok()
             : Fail(3, "dialog busy");
}

// The width of a text in the dialog's font, and the width the control has for it, in pixels. A
// font handle is the dialog process's own, so the same font is made here.
Result Measure(const Call& call) {
  RECT room{};
  GetWindowRect(call.control, &room);  // the client rectangle is not told to other processes
  const HDC dc = GetDC(call.control);
  const HFONT font = CreateFontW(
      -MulDiv(valdrix::TEMPLATE_FONT_POINTS, GetDeviceCaps(dc, LOGPIXELSY), 72), 0, 0, 0, FW_NORMAL,
      0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, Widen(valdrix::TEMPLATE_FONT_NAME).c_str());
  const HGDIOBJ before = SelectObject(dc, font);
  const std::wstring text = Widen(call.args[2]);
  SIZE size{};
  GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
  SelectObject(dc, before);
  DeleteObject(font);
  ReleaseDC(call.control, dc);
  // A button's text stays inside its edges and focus rectangle.
  char kind[16] = {};
  GetClassNameA(call.control, kind, sizeof kind);
  const LONG margins = lstrcmpiA(kind, "Button") == 0 ? 8 : 0;
  return Ok({std::to_string(size.cx) + " " + std::to_string(room.right - room.left - margins)});
}

// What a command needs found before it runs: nothing, the dialog, the dialog and an id (the
// control may be missing), or the dialog and its control.
enum class Needs { Nothing, Dialog, Id, Control };

struct CommandEntry {
  const char* name;
  Needs needs;
  std::size_t words;  // at least, the command's name included
  Result (*run)(const Call&);
};

constexpr CommandEntry COMMANDS[] = {
    {"wait", Needs::Nothing, 1, Wait},       {"gone", Needs::Nothing, 1, Gone},
    {"close", Needs::Dialog, 1, Close},      {"dump", Needs::Dialog, 1, DumpAll},
    {"idle", Needs::Dialog, 1, Idle},        {"errorbox", Needs::Dialog, 1, ErrorBox},
    {"dismiss", Needs::Dialog, 1, Dismiss},  {"waitstatus", Needs::Dialog, 3, WaitStatus},
    {"command", Needs::Id, 2, Command},      {"press", Needs::Control, 2, Press},
    {"text", Needs::Control, 2, Text},       {"enabled", Needs::Control, 2, Enabled},
    {"dropped", Needs::Control, 2, Dropped}, {"rect", Needs::Control, 2, Rect},
    {"entries", Needs::Control, 2, Entries}, {"current", Needs::Control, 2, Current},
    {"choose", Needs::Control, 3, Choose},   {"settext", Needs::Control, 3, SetText},
    {"measure", Needs::Control, 3, Measure},
};

Result Run(const std::vector<std::string>& args) {
  const CommandEntry* entry = nullptr;
  for (const CommandEntry& command : COMMANDS)
    entry = !args.empty() && args[0] == command.name ? &command : entry;
  if (entry == nullptr || args.size() < entry->words)
    return Usage();
  Call call{args};
  if (entry->needs != Needs::Nothing) {
    call.dialog = FindDialog();
    if (call.dialog == nullptr)
      return Fail(1, std::string("driver: no dialog \"") + TEMPLATE_CAPTION + "\"");
  }
  if (entry->needs == Needs::Id || entry->needs == Needs::Control) {
    call.id = std::atoi(args[1].c_str());
    call.control = GetDlgItem(call.dialog, call.id);
    if (call.control == nullptr && entry->needs == Needs::Control)
      return Fail(1, "driver: no control " + std::to_string(call.id));
  }
  return entry->run(call);
}

int Serve() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty())
      continue;
    const Result result = Run(Words(line));
    std::string json = "{\"code\":" + std::to_string(result.code) + ",\"lines\":[";
    for (std::size_t i = 0; i < result.lines.size(); ++i)
      json += (i ? "," : "") + Json(result.lines[i]);
    std::printf("%s]}\n", json.c_str());
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "serve")
    return Serve();
  // The arguments as UTF-8, whatever the code page.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i)
    args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  const Result result = Run(args);
  std::FILE* out = result.code == 0 ? stdout : stderr;
  for (const std::string& line : result.lines)
    std::fprintf(out, "%s\n", line.c_str());
  return result.code;
}
