// Reading a settings file on Windows: a regular file only.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/settings_file.h"

namespace valdrix::cli {

bool ReadSettingsText(const std::string& name, std::size_t limit, int, std::string& text,
                      std::string& why) {
  std::error_code error;
  const auto status = std::filesystem::status(name, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    why = "no such file";
    return false;
  }
  if (error) {
    why = "could not be read: " + error.message();
    return false;
  }
  if (!std::filesystem::is_regular_file(status)) {
    why = kNotAFile;
    return false;
  }
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) {
    why = std::string("could not be read: ") + std::strerror(errno);
    return false;
  }
  text.resize(limit);
  text.resize(std::fread(text.data(), 1, limit, file));
  const bool ok = !std::ferror(file);
  if (!ok)
    why = std::string("could not be read: ") + std::strerror(errno);
  std::fclose(file);
  return ok;
}

}  // namespace valdrix::cli
