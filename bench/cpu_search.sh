#!/usr/bin/env bash
# Measures the CPU time of a search that tries all five rates against a silent valdrix-sim
# through the POSIX backend (about five seconds of waiting). Target: under 50 ms of CPU.
# Usage: bench/cpu_search.sh [build directory, default build/native]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/native}
if [ -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" >/dev/null
else
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target valdrix_cpu_search -j2 >/dev/null
exec "$build/bench/valdrix_cpu_search"
