#!/usr/bin/env bash
# bash scripts/run.sh --native: builds valdrix-configurator and valdrix-sim (native preset) and
# opens the window with the simulated interface's terminal, or a real device, as its port.
#
# Usage (from run.sh): run-native.sh <headless 0|1> <at-start 0|1> <screenshot> <device or "">
#                      [valdrix-sim options]
set -euo pipefail
headless=$1 at_start=$2 screenshot=$3 device=$4
shift 4
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"

echo "== Building (native preset)"
if [ -n "${VALDRIX_BUILD_PREFIX:-}" ]; then
  native=$(realpath -m "$VALDRIX_BUILD_PREFIX-native")
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
else
  native=$repo/build/native
  cmake --preset native >/dev/null
fi
cmake --build "$native" -j"$(nproc 2>/dev/null || echo 2)" --target valdrix-sim valdrix-configurator
program=$native/qt/valdrix-configurator

# shellcheck source=tools/wine/lib.sh
source "$repo/tools/wine/lib.sh"
# Apart from the Wine run's files, so that neither overwrites the other's.
wine_work=$repo/build/run/native
mkdir -p "$wine_work"
trap wine_cleanup EXIT
trap 'exit 130' INT TERM

port=$device
log=$wine_work/sim.log
if [ -z "$device" ]; then
  port=$wine_work/tty
  rm -f "$log"
  # A sample interface; the options after "--" come later and win.
  wine_start_sim "$native/sim/valdrix-sim" "$port" --log "$log" --address 12 --base 40 --count 7 "$@"
  echo "$port is the simulated interface on $(readlink "$port")"
fi

if [ "$headless" = 0 ]; then
  echo "== valdrix-configurator $port on $DISPLAY; close the window to end"
  status=0
  "$program" "$port" || status=$?
  echo "valdrix-configurator ended with exit code $status"
  exit "$status"
fi

echo "== No display: valdrix-configurator on a private X server"
wine_start_xvfb 640x480x24
[ "$at_start" = 1 ] && port=
"$program" ${port:+"$port"} 2>"$wine_work/stderr" &
pid=$!
wine_pids+=("$pid")
window=$(timeout 20 xdotool search --sync --name '^Valdrix Configurator' | head -n1)
[ -n "$window" ] || wine_fail "the window did not open: $(cat "$wine_work/stderr")"

# Found once the open frame went out (the simulator's log says so), and shown once its answer
# has been drained, a second later; a real device has no log: the search takes at most 6 s.
found=1
if [ "$at_start" = 1 ]; then
  sleep 0.5
elif [ -z "$device" ]; then
  found=0
  for _ in $(seq 100); do
    grep -q '"rx","hex":"F2 FF 01 0C"' "$log" 2>/dev/null && { found=1; break; }
    sleep 0.1
  done
  sleep 1.5
else
  sleep 7
fi
mkdir -p "$(dirname "$screenshot")"
import -window "$([ "$found" = 1 ] && echo "$window" || echo root)" "$screenshot"
echo "screenshot: $screenshot"
# What the interface answered, from the simulator's frame log, in the Wine run's words.
if [ "$found" = 1 ] && [ "$at_start" = 0 ] && [ -z "$device" ]; then
  python3 - "$log" <<'EOF'
import json, sys
frames = [json.loads(line) for line in open(sys.argv[1])]
rate = next(f["rate"] for f in frames if f["dir"] == "rx" and f["hex"] == "F2 FF 01 0C")
value = {f["hex"][3:5]: int(f["hex"][6:8], 16) for f in frames if f["dir"] == "tx"}
print(f"found at {rate}: version {value['FD'] // 100}.{value['FD'] % 100:02d}, XpressNet address"
      f" {value['01']}, module base address {value['F1']}, 16-bit modules {value['F2'] >> 1},"
      f" 8-bit modules {value['F2'] & 1}")
EOF
fi
# The error box, if any, is dismissed first; Escape then closes the window (and the interface).
for box in $(xdotool search --name '^(Error|Fehler|Fout|Erreur)$' 2>/dev/null); do
  xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
done
xdotool windowfocus --sync "$window" key Escape
status=0
timeout 15 tail --pid="$pid" -f /dev/null || wine_fail "the window did not close"
wait "$pid" || status=$?
echo "valdrix-configurator ended with exit code $status"
[ "$status" = 0 ] && [ "$found" = 1 ]
