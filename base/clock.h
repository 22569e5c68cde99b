// The one monotonic clock of the shipped programs, in milliseconds: deadlines of reads, writes,
// drains and network waits are all counted on it.
#pragma once

#include <cstdint>

namespace valdrix {

std::uint64_t MonotonicMs();

}  // namespace valdrix
