#!/usr/bin/env bash
# Performance bench: every conversation timed against the floor its time-outs set.
#
#   bash bench/run.sh            build, run (about 4 minutes), print the tables, write
#                                bench/results.json
#   bash bench/run.sh find       only valdrix-config find over 1, 8 and 32 ports (about a
#                                minute); the other figures in results.json stay
#   bash bench/run.sh network    only rfc2217:// through ser2net (bench/network.py, about
#                                a minute); prints its table, results.json stays
#   bash bench/run.sh show-rate  only valdrix-config show --rate (about 20 s); the other
#                                figures in results.json stay
#   bash bench/run.sh qemu       only show by the arm64 program under qemu-aarch64 (bench/qemu.py,
#                                about a minute); prints its table, results.json stays
#
# Environment: RUNS (POSIX runs, default 5), WINE_RUNS (default 3), FIND_PLAN (ports x runs of
# find, default 1x5,8x5,32x3), BENCH_NATIVE_DIR, BENCH_WIN32_DIR and BENCH_ARM64_DIR (build
# directories, default build/bench-native, build/bench-win32 and build/bench-arm64, made from the
# native, win32 and arm64 presets). Without wine the Wine rows are left out.
# Not part of the test command: a slow machine misses the targets without a fault in the code.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=${BENCH_NATIVE_DIR:-build/bench-native}
win32=${BENCH_WIN32_DIR:-build/bench-win32}
arm64=${BENCH_ARM64_DIR:-build/bench-arm64}
runs=${RUNS:-5}
wine_runs=${WINE_RUNS:-3}
only=${1:-all}
case "$only" in all | find | network | show-rate | qemu) ;; *) echo "usage: bash bench/run.sh [find|network|show-rate|qemu]" >&2; exit 2 ;; esac

configure() {  # preset, directory
  if [ -f "$2/CMakeCache.txt" ]; then
    cmake -S . -B "$2" >/dev/null
  else
    cmake --preset "$1" -B "$2" >/dev/null
  fi
}

echo "building ($native, $win32) ..." >&2
configure native "$native"
cmake --build "$native" -j2 --target valdrix_bench_conversations valdrix-sim valdrix-config \
  >/dev/null
# The floors (from the time-outs) and the size limit as the code has them.
limits=$("$native/bench/valdrix_bench_conversations" --limits)
if [ "$only" = qemu ]; then
  configure arm64 "$arm64"
  cmake --build "$arm64" -j2 --target valdrix-config >/dev/null
  exec python3 bench/qemu.py --config "$native/cli/valdrix-config" --sim "$native/sim/valdrix-sim" \
    --arm64-config "$arm64/cli/valdrix-config" --runs "$runs" --limits "$limits"
fi
if [ "$only" = network ]; then
  exec python3 bench/network.py --config "$native/cli/valdrix-config" --sim "$native/sim/valdrix-sim" \
    --runs "$runs" --limits "$limits"
fi
have_wine=0
if [ "$only" = all ] && command -v wine >/dev/null && command -v Xvfb >/dev/null && command -v i686-w64-mingw32-g++ >/dev/null; then
  configure win32 "$win32"
  cmake --build "$win32" -j2 --target valdrixconfig valdrix_driver >/dev/null
  have_wine=1
fi

source tools/wine/lib.sh
harness_work_dir
trap wine_cleanup EXIT

parts=()
if [ "$only" = all ]; then
  echo "POSIX backend: $runs runs of every conversation ..." >&2
  "$native/bench/valdrix_bench_conversations" "$runs" >"$harness_work/posix.json"
  parts+=(--posix "$harness_work/posix.json")
fi

if [ "$only" != show-rate ]; then
  echo "valdrix-config find: ${FIND_PLAN:-1x5,8x5,32x3} (ports x runs) ..." >&2
  python3 bench/find.py --config "$native/cli/valdrix-config" --sim "$native/sim/valdrix-sim" \
    --plan "${FIND_PLAN:-1x5,8x5,32x3}" >"$harness_work/find.json"
  parts+=(--find "$harness_work/find.json")
fi
if [ "$only" != find ]; then
  echo "valdrix-config show --rate: $runs runs at 9600 and 115200 ..." >&2
  python3 bench/show_rate.py --config "$native/cli/valdrix-config" \
    --sim "$native/sim/valdrix-sim" --runs "$runs" >"$harness_work/show_rate.json"
  parts+=(--show-rate "$harness_work/show_rate.json")
fi

if [ "$have_wine" = 1 ]; then
  echo "Wine: prefix, then $wine_runs runs ..." >&2
  harness_start_xvfb
  wine_make_prefix
  # No window manager runs on this X server. With managed windows Wine's X11 driver waits for
  # one when the ended dialog is hidden, up to 2 s, and the close would be timed with that wait.
  # Unmanaged windows are hidden at once, as a desktop's window manager would let them be.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  wine_mask_ports
  harness_start_sim "$native/sim/valdrix-sim" "$harness_work/com3" --rate 57600 --reply-delay 0 \
    --log "$harness_work/sim.log"
  wine_map_port com3 "$harness_work/com3"
  python3 bench/wine_session.py --exe "$win32/ui/valdrixconfig.exe" \
    --template "$native/dialog/template.json" \
    --driver "$win32/tools/wine/driver/driver.exe" --sim-log "$harness_work/sim.log" \
    --runs "$wine_runs" >"$harness_work/wine.json"
fi

[ "$have_wine" = 1 ] && parts+=(--wine "$harness_work/wine.json")
python3 bench/report.py "${parts[@]}" --limits "$limits" --out "$root/bench/results.json"
