// The window's texts from the string table of the user's UI language (made from po/<lang>.po by
// scripts/po-to-rc.py, beside the translated dialog that Windows picks by the same language).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "base/translate.h"
#include "ui/strings.inc"
#include "ui/win32_dialog.h"

namespace valdrix {
namespace {

LANGID language = 0;

// A string table block holds 16 strings, each its length in UTF-16 units and then its text.
std::wstring TableString(unsigned id) {
  const HRSRC found = FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
  const HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const auto* at = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
  if (at == nullptr)
    return {};
  for (unsigned i = 0; i < id % 16; ++i)
    at += 1 + *at;
  return std::wstring(at + 1, *at);
}

const char* Lookup(const char* english) {
  static std::map<std::string, std::string> texts;  // the window's one thread asks
  const auto found = texts.find(english);
  if (found != texts.end())
    return found->second.c_str();
  const auto end = std::end(ENGLISH_TEXTS);
  const auto at =
      std::lower_bound(std::begin(ENGLISH_TEXTS), end, english,
                       [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  std::string text = english;
  if (at != end && std::strcmp(*at, english) == 0) {
    const std::wstring wide =
        TableString(FIRST_STRING_ID + static_cast<unsigned>(at - std::begin(ENGLISH_TEXTS)));
    if (!wide.empty())
      text = Utf8(wide);
  }
  return texts.emplace(english, text).first->second.c_str();
}

}  // namespace

void UseStringTables() {
  // Only a language that has string tables; English has none and needs none.
  language = MAKELANGID(PRIMARYLANGID(GetUserDefaultUILanguage()), SUBLANG_NEUTRAL);
  if (FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(FIRST_STRING_ID / 16 + 1), language))
    SetTranslator(Lookup);
}

}  // namespace valdrix
