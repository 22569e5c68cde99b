// gettext's .mo files read by hand: mingw has no libintl. The catalogue of the user's UI language
// is read once, whole, and its texts converted to the console's code page. No catalogue for the
// language: English.
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "base/translate.h"

namespace valdrix {
namespace {

std::map<std::string, std::string>& Texts() {
  static std::map<std::string, std::string> texts;
  return texts;
}

const char* Lookup(const char* english) {
  const auto found = Texts().find(english);
  return found == Texts().end() ? english : found->second.c_str();
}

// The UI language's two-letter code ("de"), as the folders under locale/ are named.
std::string LanguageFolder() {
  char code[16] = {};
  const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  return GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, code, sizeof code) ? code : "";
}

std::string ConsoleText(const std::string& utf8) {
  const UINT page = GetConsoleOutputCP() ? GetConsoleOutputCP() : GetACP();
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  std::string out(wide.size() * 4, '\0');
  out.resize(static_cast<std::size_t>(
      WideCharToMultiByte(page, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                          static_cast<int>(out.size()), nullptr, nullptr)));
  return out;
}

// Little-endian .mo: magic, revision, count, offset of the originals' table, of the translations'.
void Read(const std::string& mo) {
  const auto word = [&](std::size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= mo.size())
      std::memcpy(&value, mo.data() + at, 4);
    return static_cast<std::size_t>(value);
  };
  if (word(0) != 0x950412deu)
    return;
  const std::size_t count = word(8), originals = word(12), translations = word(16);
  const auto text = [&](std::size_t table, std::size_t i) {
    const std::size_t length = word(table + 8 * i), at = word(table + 8 * i + 4);
    return at + length <= mo.size() ? mo.substr(at, length) : std::string();
  };
  for (std::size_t i = 0; i < count && originals + 8 * i + 8 <= mo.size(); ++i) {
    const std::string english = text(originals, i);
    if (!english.empty())
      Texts()[english] = ConsoleText(text(translations, i));
  }
}

}  // namespace

void UseMessageCatalogue() {
  const std::string language = LanguageFolder();
  if (language.empty() || language == "en")
    return;
  char path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string file(path, length);
  file = file.substr(0, file.find_last_of("\\/") + 1) + "locale\\" + language +
         "\\LC_MESSAGES\\valdrix.mo";
  std::ifstream in(file, std::ios::binary);
  Read(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()));
  SetTranslator(Lookup);
}

}  // namespace valdrix
