#include <windows.h>

#include "base/system_message.h"

namespace valdrix {

std::string SystemMessage(unsigned long code) {
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.'))
    message.pop_back();
  if (message.empty())
    message = "error " + std::to_string(code);
  return message;
}

}  // namespace valdrix
