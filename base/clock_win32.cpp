#include <windows.h>

#include "base/clock.h"

namespace valdrix {

std::uint64_t MonotonicMs() {
  return GetTickCount64();
}

}  // namespace valdrix
