#!/usr/bin/env bash
# Builds a fuzzer (libFuzzer, ASan, UBSan) and runs it on a scratch copy of its seed corpus; the
# fuzz tests and bench/fuzz.sh both start it.
# Usage: harness/fuzz.sh [seconds|build] [session|telnet|network|settings|options]. The fuzzers and
# the libraries they test are built by CMake with clang (VALDRIX_FUZZ) in FUZZ_BUILD_DIR (default
# build/fuzz).
# A failing input is left there as crash-*: once fixed, add it to the target's corpus
# (tests/fuzz/corpus/ for the session fuzzer, tests/fuzz/TARGET-corpus/ for the others) so every
# run replays it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
target="${2:-session}"
out="${FUZZ_BUILD_DIR:-$repo/build/fuzz}"
binary="$out/tests/fuzz/${target}_fuzzer"
corpus=$repo/tests/fuzz/corpus
[ "$target" = session ] || corpus=$repo/tests/fuzz/$target-corpus
mkdir -p "$out"
if [ ! -f "$out/CMakeCache.txt" ]; then
  echo "== configuring $out"
  cmake -S "$repo" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
    -DCMAKE_CXX_COMPILER=clang++ -DVALDRIX_FUZZ=ON >"$out.configure.log" 2>&1 ||
    { cat "$out.configure.log" >&2; exit 1; }
fi
cmake --build "$out" -j2 --target "${target}_fuzzer"
[ "$seconds" = build ] && exit 0

work="$out/${target}-corpus"
rm -rf "$work" && mkdir -p "$work" && cp "$corpus"/* "$work"/
echo "== fuzzing for ${seconds}s"
status=0
"$binary" "$work" -max_total_time="$seconds" -max_len=4096 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$out/" </dev/null || status=$?
if [ "$status" = 0 ]; then echo "${target}_fuzzer: PASS"; else echo "${target}_fuzzer: FAIL ($status)"; fi
exit "$status"
