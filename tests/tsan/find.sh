#!/usr/bin/env bash
# find over 8 simulated ports, its threads under ThreadSanitizer: no report. valdrix-config is
# built with VALDRIX_TSAN in a build of its own (TSAN_BUILD_DIR, default build/tsan).
# Usage: tests/tsan/find.sh VALDRIX_SIM
set -euo pipefail
repo="$(cd "$(dirname "$0")/../.." && pwd)"
out="${TSAN_BUILD_DIR:-$repo/build/tsan}"
mkdir -p "$out"
{ [ -f "$out/CMakeCache.txt" ] || cmake -S "$repo" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVALDRIX_TSAN=ON; } >"$out/configure.log" 2>&1 || { cat "$out/configure.log" >&2; exit 1; }
cmake --build "$out" -j2 --target valdrix-config >"$out/build.log" 2>&1 ||
  { tail -n 30 "$out/build.log" >&2; exit 1; }
# shellcheck source=harness/x11.sh
source "$repo/harness/x11.sh"
harness_work_dir
trap harness_cleanup EXIT
ports=()
for rate in 9600 19200 38400 57600 115200 9600 19200 38400; do
  ports+=("$harness_work/port${#ports[@]}")
  harness_start_sim "$1" "${ports[-1]}" --rate "$rate"
done
# stderr a terminal (script), so that every thread writes its progress lines there.
status=0
TSAN_OPTIONS="halt_on_error=1 exitcode=66 log_path=$harness_work/report" script -qefc \
  "'$out/cli/valdrix-config' find ${ports[*]} >'$harness_work/find.out'" "$harness_work/tty" \
  >/dev/null || status=$?
found=$(grep -c '^port:' "$harness_work/find.out" || true)
if [ "$status" != 0 ] || [ "$found" != 8 ] || ! grep -q 'trying 9600' "$harness_work/tty" ||
  ls "$harness_work"/report.* >/dev/null 2>&1; then
  cat "$harness_work/find.out" "$harness_work"/report.* >&2 2>/dev/null || true
  harness_fail "tsan.find: status $status, $found of 8 found"
fi
echo "tsan.find: PASS"
