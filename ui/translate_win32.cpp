// The window's texts from the string table of the user's UI language (made from po/<lang>.po by
// scripts/po-to-rc.py, beside the translated dialog that Windows picks by the same language).
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "base/translate.h"
#include "ui/strings.inc"
#include "ui/win32_dialog.h"

namespace valdrix {
namespace {

LANGID language = 0;

// A string table block holds 16 strings, each its length in UTF-16 units and then its text.
std::string TableString(unsigned id, const char* english) {
  const HRSRC found = FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(id / 16 + 1), language);
  const HGLOBAL loaded = found ? LoadResource(nullptr, found) : nullptr;
  const auto* at = loaded ? static_cast<const WCHAR*>(LockResource(loaded)) : nullptr;
  if (at == nullptr)
    return english;
  for (unsigned i = 0; i < id % 16; ++i)
    at += 1 + *at;
  return *at ? Utf8(at + 1, *at) : english;
}

const char* Lookup(const char* english) {
  // Each text is converted once; the window's one thread asks.
  static std::string texts[std::size(ENGLISH_TEXTS)];
  const auto begin = std::begin(ENGLISH_TEXTS), end = std::end(ENGLISH_TEXTS);
  const auto at = std::lower_bound(
      begin, end, english, [](const char* a, const char* b) { return std::strcmp(a, b) < 0; });
  if (at == end || std::strcmp(*at, english) != 0)
    return english;
  const auto index = static_cast<unsigned>(at - begin);
  if (texts[index].empty())
    texts[index] = TableString(FIRST_STRING_ID + index, english);
  return texts[index].c_str();
}

}  // namespace

void UseStringTables() {
  // Only a language that has string tables; English has none and needs none.
  language = MAKELANGID(PRIMARYLANGID(GetUserDefaultUILanguage()), SUBLANG_NEUTRAL);
  if (FindResourceExA(nullptr, RT_STRING, MAKEINTRESOURCEA(FIRST_STRING_ID / 16 + 1), language))
    SetTranslator(Lookup);
}

}  // namespace valdrix
