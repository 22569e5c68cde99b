// Numbers as the dialog shows and reads them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace valdrix {

// Leading white space (0x09-0x0D, 0x20 only), one optional sign, then decimal digits up to the
// first non-digit, accumulated in 32 bits that wrap. No digits gives 0.
std::int32_t ParseDecimal(std::string_view text);

// "%d".
std::string DecimalText(long value);

}  // namespace valdrix
