#!/usr/bin/env bash
# Builds the session fuzzer (libFuzzer, ASan, UBSan) and runs it on a scratch copy of the seed
# corpus. Usage: tests/fuzz/run.sh [seconds|build]. FUZZ_BUILD_DIR overrides build/fuzz. A failing
# input is left there as crash-*: once fixed, add it to tests/fuzz/corpus/ so every run replays it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
out="${FUZZ_BUILD_DIR:-$repo/build/fuzz}"
binary="$out/session_fuzzer"
mkdir -p "$out"
cd "$repo"
sources=(protocol/*.cpp dialog/*.cpp conversations/*.cpp serial/drain.cpp sim/interface_model.cpp
  sim/deframer.cpp sim/fake_port.cpp tests/fuzz/session_fuzzer.cpp)
if [ ! -x "$binary" ] || [ -n "$(find protocol dialog conversations serial sim tests/fuzz \
  -type f -newer "$binary" -print -quit)" ]; then
  echo "== building $binary"
  clang++ -std=c++17 -O1 -g -Wall -Wextra -Werror -fno-omit-frame-pointer -I"$repo" \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all "${sources[@]}" -o "$binary"
fi
[ "$seconds" = build ] && exit 0

work="$out/corpus"
rm -rf "$work" && mkdir -p "$work" && cp tests/fuzz/corpus/* "$work"/
echo "== fuzzing for ${seconds}s"
status=0
"$binary" "$work" -max_total_time="$seconds" -max_len=4096 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$out/" </dev/null || status=$?
if [ "$status" = 0 ]; then echo "session_fuzzer: PASS"; else echo "session_fuzzer: FAIL ($status)"; fi
exit "$status"
