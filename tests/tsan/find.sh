#!/usr/bin/env bash
# find over 8 simulated ports, its threads under ThreadSanitizer: no report. Builds valdrix-config
# with -fsanitize=thread apart from the other builds (TSAN_BUILD_DIR, default build/tsan).
# Usage: tests/tsan/find.sh VALDRIX_SIM; the dialog template's table comes from a configured build
# (TEMPLATE_DIR, default that of build/native).
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
sim="$1"
out="${TSAN_BUILD_DIR:-$repo/build/tsan}"
binary="$out/valdrix-config"
generated="${TEMPLATE_DIR:-$repo/build/native/dialog/generated}"
mkdir -p "$out"
cd "$repo"
dirs=(base cli conversations dialog interrupt network ports protocol serial)
if [ ! -x "$binary" ] || [ -n "$(find "${dirs[@]}" -type f -newer "$binary" -print -quit)" ]; then
  echo "== building $binary"
  # shellcheck disable=SC2046  # every shipped POSIX source of valdrix-config
  g++ -std=c++17 -O1 -g -fsanitize=thread -Wall -Wextra -Werror -I"$repo" -I"$generated" \
    -DVALDRIX_VERSION_TEXT='"tsan"' $(printf '%s\n' ${dirs[@]/%//*.cpp} | grep -v _win32) \
    -pthread -o "$binary"
fi
pids=() ports=()
trap 'kill "${pids[@]}" 2>/dev/null || true' EXIT
for rate in 9600 19200 38400 57600 115200 9600 19200 38400; do
  "$sim" --rate "$rate" >"$out/sim${#pids[@]}" &
  pids+=("$!")
done
for ((i = 0; i < ${#pids[@]}; ++i)); do  # each prints its terminal's path first
  for _ in $(seq 50); do [ -s "$out/sim$i" ] && break; sleep 0.1; done
  ports+=("$(head -n 1 "$out/sim$i")")
done
# stderr a terminal (script), so that every thread writes its progress lines there.
rm -f "$out"/report.*
status=0
TSAN_OPTIONS="halt_on_error=1 exitcode=66 log_path=$out/report" script -qefc \
  "'$binary' find ${ports[*]} >'$out/find.out'" "$out/find.tty" >/dev/null || status=$?
found=$(grep -c '^port:' "$out/find.out" || true)
if [ "$status" != 0 ] || [ "$found" != 8 ] || ! grep -q 'trying 9600' "$out/find.tty" ||
  ls "$out"/report.* >/dev/null 2>&1; then
  cat "$out/find.out" "$out"/report.* >&2 2>/dev/null || true
  echo "tsan.find: FAIL (status $status, $found of 8 found)"
  exit 1
fi
echo "tsan.find: PASS"
