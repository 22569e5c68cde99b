#include <libintl.h>
#include <unistd.h>

#include <sys/stat.h>
#include <clocale>
#include <string>

#include "base/translate.h"

#ifndef VALDRIX_LOCALE_DIR
#define VALDRIX_LOCALE_DIR "/usr/share/locale"
#endif

namespace valdrix {
namespace {

constexpr char DOMAIN[] = "valdrix";

const char* Lookup(const char* english) {
  return dgettext(DOMAIN, english);
}

// locale/ beside the program when it has one, else the installed catalogues.
std::string CatalogueDir() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length > 0) {
    std::string dir(path, static_cast<std::size_t>(length));
    dir = dir.substr(0, dir.rfind('/') + 1) + "locale";
    struct stat info {};
    if (stat(dir.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
      return dir;
  }
  return VALDRIX_LOCALE_DIR;
}

}  // namespace

void UseMessageCatalogue() {
  // Only the messages and their characters follow the locale; numbers keep the C locale's form.
  std::setlocale(LC_MESSAGES, "");
  std::setlocale(LC_CTYPE, "");
  bindtextdomain(DOMAIN, CatalogueDir().c_str());
  SetTranslator(Lookup);
}

}  // namespace valdrix
