#include "protocol/text.h"

#include <cstdio>

namespace valdrix {

std::int32_t ParseDecimal(std::string_view text) {
  std::size_t i = 0;
  // Bytes above 0x7F are never white space, whatever the locale says.
  while (i < text.size() && (text[i] == ' ' || (static_cast<unsigned char>(text[i]) >= 0x09 &&
                                                static_cast<unsigned char>(text[i]) <= 0x0D))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Unsigned arithmetic wraps by definition; signed overflow would be undefined.
  std::uint32_t value = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
    ++i;
  }
  if (negative)
    value = 0u - value;
  // Two's complement conversion, well defined since C++20 and what every compiler does before.
  return static_cast<std::int32_t>(value);
}

std::string DecimalText(long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%ld", value);
  return text;
}

}  // namespace valdrix
