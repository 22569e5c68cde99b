#include "ui/win32_dialog.h"

namespace valdrix {
namespace {

constexpr int TEXT_BUFFER = 256;

}  // namespace

std::vector<wchar_t> Wide(const std::string& utf8) {
  std::vector<wchar_t> wide(utf8.size() + 1, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                      static_cast<int>(utf8.size()));
  return wide;
}

std::string Utf8(const wchar_t* wide, int length) {
  std::string utf8(static_cast<std::size_t>(length) * 3, '\0');
  utf8.resize(static_cast<std::size_t>(WideCharToMultiByte(
      CP_UTF8, 0, wide, length, utf8.data(), static_cast<int>(utf8.size()), nullptr, nullptr)));
  return utf8;
}

void Win32Dialog::SetText(int id, const std::string& text) {
  // An edit raises EN_CHANGE from inside this call; the dialog logic expects that. The W form:
  // translated texts are UTF-8.
  SetDlgItemTextW(window_, id, Wide(text).data());
}

void Win32Dialog::Enable(int id, bool enable) {
  EnableWindow(GetDlgItem(window_, id), enable ? TRUE : FALSE);
}

void Win32Dialog::Repaint(int id) {
  UpdateWindow(GetDlgItem(window_, id));
}

std::string Win32Dialog::EditText(int id) {
  char buffer[TEXT_BUFFER] = {};
  // The limit counts the terminator.
  GetDlgItemTextA(window_, id, buffer, static_cast<int>(MAX_EDIT_TEXT) + 1);
  return std::string(buffer);
}

void Win32Dialog::AddEntry(int id, const std::string& text) {
  SendDlgItemMessageA(window_, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::string Win32Dialog::CurrentEntry(int id) {
  const LRESULT index = SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0);
  if (index == CB_ERR)
    return std::string();
  // CB_GETLBTEXT copies without a limit: make sure the entry fits first.
  const LRESULT length =
      SendDlgItemMessageA(window_, id, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length >= TEXT_BUFFER)
    return std::string();
  char buffer[TEXT_BUFFER] = {};
  SendDlgItemMessageA(window_, id, CB_GETLBTEXT, static_cast<WPARAM>(index),
                      reinterpret_cast<LPARAM>(buffer));
  return std::string(buffer);
}

void Win32Dialog::SelectEntry(int id, const std::string& text) {
  SendDlgItemMessageA(window_, id, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                      reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32Dialog::ClearSelection(int id) {
  SendDlgItemMessageA(window_, id, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void Win32Dialog::ErrorBox(const std::string& text) {
  MessageBoxW(window_, Wide(text).data(), Wide(T_(ERROR_CAPTION)).data(), MB_OK);
}

void Win32Dialog::End(int result) {
  EndDialog(window_, result);
}

}  // namespace valdrix
