#!/usr/bin/env bash
# Builds a fuzzer (libFuzzer, ASan, UBSan) and runs it on a scratch copy of its seed corpus.
# Usage: tests/fuzz/run.sh [seconds|build] [session|telnet]. FUZZ_BUILD_DIR overrides build/fuzz;
# the dialog template's table comes from a configured build (TEMPLATE_DIR, default that of
# build/native).
# A failing input is left there as crash-*: once fixed, add it to the target's corpus
# (tests/fuzz/corpus/ for the session fuzzer, tests/fuzz/telnet-corpus/ for the Telnet one) so
# every run replays it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
target="${2:-session}"
out="${FUZZ_BUILD_DIR:-$repo/build/fuzz}"
binary="$out/${target}_fuzzer"
generated="${TEMPLATE_DIR:-$repo/build/native/dialog/generated}"
mkdir -p "$out"
cd "$repo"
sources=(protocol/*.cpp dialog/*.cpp conversations/*.cpp serial/drain.cpp sim/interface_model.cpp
  sim/deframer.cpp tests/fakes/fake_port.cpp tests/fuzz/session_fuzzer.cpp)
corpus=tests/fuzz/corpus
if [ "$target" = telnet ]; then
  sources=(network/telnet.cpp tests/fuzz/telnet_fuzzer.cpp)
  corpus=tests/fuzz/telnet-corpus
fi
[ -f "$generated/dialog/template.inc" ] || { echo "no $generated: configure the native preset" >&2; exit 1; }
if [ ! -x "$binary" ] || [ -n "$(find base protocol dialog conversations serial network sim tests/fakes tests/fuzz \
  "$generated" -type f -newer "$binary" -print -quit)" ]; then
  echo "== building $binary"
  clang++ -std=c++17 -O1 -g -Wall -Wextra -Werror -fno-omit-frame-pointer -I"$repo" -I"$generated" \
    -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=all "${sources[@]}" -o "$binary"
fi
[ "$seconds" = build ] && exit 0

work="$out/${target}-corpus"
rm -rf "$work" && mkdir -p "$work" && cp "$corpus"/* "$work"/
echo "== fuzzing for ${seconds}s"
status=0
"$binary" "$work" -max_total_time="$seconds" -max_len=4096 -timeout=20 -print_final_stats=1 \
  -artifact_prefix="$out/" </dev/null || status=$?
if [ "$status" = 0 ]; then echo "${target}_fuzzer: PASS"; else echo "${target}_fuzzer: FAIL ($status)"; fi
exit "$status"
