#!/usr/bin/env bash
# Builds the session fuzzer with clang (libFuzzer, ASan, UBSan) and runs it on a copy of the seed
# corpus. Usage: tests/fuzz/run.sh [seconds|build]   (default 60 seconds; "build" only builds)
# FUZZ_BUILD_DIR overrides build/fuzz; FUZZ_WORK_DIR the scratch corpus (default <build>/corpus).
# A crash leaves its input in the build directory as crash-*: add it to tests/fuzz/corpus/ once
# fixed, so every later run replays it.
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
out="${FUZZ_BUILD_DIR:-$repo/build/fuzz}"
mkdir -p "$out"

sources=(
  protocol/frames.cpp protocol/text.cpp dialog/dialog.cpp conversations/search.cpp
  protocol/apply.cpp protocol/close.cpp protocol/exchange.cpp serial/drain.cpp
  sim/interface_model.cpp sim/fake_port.cpp sim/model_dialog.cpp ui/config_dialog.cpp
  tests/fuzz/session_fuzzer.cpp
)
binary="$out/session_fuzzer"
stale=0
[ -x "$binary" ] || stale=1
if [ "$stale" = 0 ]; then
  for f in "${sources[@]}" protocol/*.h serial/*.h sim/*.h ui/*.h "$0"; do
    [ "$repo/$f" -nt "$binary" ] && stale=1 && break
  done
fi
if [ "$stale" = 1 ]; then
  echo "== building $binary"
  objs=()
  for f in "${sources[@]}"; do
    o="$out/$(echo "$f" | tr / _).o"
    clang++ -std=c++17 -O1 -g -Wall -Wextra -Werror -fno-omit-frame-pointer \
      -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all \
      -I"$repo" -c "$repo/$f" -o "$o" &
    objs+=("$o")
    # two compilers at a time
    [ "$(jobs -rp | wc -l)" -ge 2 ] && wait -n
  done
  wait
  clang++ -fsanitize=fuzzer,address,undefined "${objs[@]}" -o "$binary"
fi

[ "$seconds" = build ] && exit 0

# New inputs go to a scratch copy; the repository keeps only the seeds and regression cases.
work="${FUZZ_WORK_DIR:-$out/corpus}"
rm -rf "$work"
mkdir -p "$work"
cp "$repo"/tests/fuzz/corpus/* "$work"/ 2>/dev/null || true

echo "== fuzzing for ${seconds}s"
exec "$binary" "$work" -max_total_time="$seconds" -max_len=4096 \
  -timeout=20 -print_final_stats=1 -artifact_prefix="$out/" </dev/null
