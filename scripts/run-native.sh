#!/usr/bin/env bash
# bash scripts/run.sh --native: opens valdrix-configurator, built by run.sh, with the simulated
# interface's terminal, or a real device, as its port.
#
# Usage (from run.sh): run-native.sh <native build folder> <headless 0|1> <at-start 0|1>
#                      <screenshot> <device or ""> [valdrix-sim options]
set -euo pipefail
native=$1 headless=$2 at_start=$3 screenshot=$4 device=$5
shift 5
repo=$(cd "$(dirname "$0")/.." && pwd)
cd "$repo"
program=$native/qt/valdrix-configurator

# shellcheck source=harness/x11.sh
source "$repo/harness/x11.sh"
# Apart from the Wine run's files, so that neither overwrites the other's.
harness_work=$repo/build/run/native
mkdir -p "$harness_work"
trap harness_cleanup EXIT
trap 'exit 130' INT TERM

port=$device
log=$harness_work/sim.log
if [ -z "$device" ]; then
  port=$harness_work/tty
  rm -f "$log"
  # A sample interface; the options after "--" come later and win.
  harness_start_sim "$native/sim/valdrix-sim" "$port" --log "$log" --address 12 --base 40 --count 7 "$@"
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
harness_start_xvfb 640x480x24
[ "$at_start" = 1 ] && port=
"$program" ${port:+"$port"} 2>"$harness_work/stderr" &
pid=$!
harness_pids+=("$pid")
window=$(timeout 20 xdotool search --sync --name '^Valdrix Configurator' | head -n1)
[ -n "$window" ] || harness_fail "the window did not open: $(cat "$harness_work/stderr")"

# Found once the open frame went out (the simulator's log says so), and shown once its answer
# has been drained, a second later; a real device has no log: the search takes at most 6 s.
found=1
if [ "$at_start" = 1 ]; then
  sleep 0.5
elif [ -z "$device" ]; then
  found=0
  # The open frame's first bytes, HDR_CONFIG SUB_OPEN 01, by their names in protocol/frames.h.
  byte() { sed -n "s/.* $1 = 0x\([0-9A-F]*\);/\1/p" protocol/frames.h; }
  opened="$(byte HDR_CONFIG) $(byte SUB_OPEN) 01"
  for _ in $(seq 100); do
    grep -q "\"rx\",\"hex\":\"$opened" "$log" 2>/dev/null && { found=1; break; }
    sleep 0.1
  done
  sleep 1.5
else
  sleep 7
fi
mkdir -p "$(dirname "$screenshot")"
import -window "$([ "$found" = 1 ] && echo "$window" || echo root)" "$screenshot"
echo "screenshot: $screenshot"
# What the interface answered, from the simulator's frame log, in the Wine run's words; the
# frames' bytes by their names in protocol/frames.h.
if [ "$found" = 1 ] && [ "$at_start" = 0 ] && [ -z "$device" ]; then
  python3 - "$log" protocol/frames.h <<'EOF'
import json, re, sys
frames = [json.loads(line) for line in open(sys.argv[1])]
byte = {n: int(v, 16) for n, v in re.findall(r"uint8_t (\w+) = 0x(\w+);", open(sys.argv[2]).read())}
rate = next(f["rate"] for f in frames if f["dir"] == "rx" and
            f["hex"].startswith("%02X %02X 01" % (byte["HDR_CONFIG"], byte["SUB_OPEN"])))
value = {int(f["hex"][3:5], 16): int(f["hex"][6:8], 16) for f in frames if f["dir"] == "tx"}
v = lambda name: value[byte["SUB_" + name]]
print(f"found at {rate}: version {v('VERSION') // 100}.{v('VERSION') % 100:02d}, XpressNet address"
      f" {v('XN_ADDRESS')}, module base address {v('BASE_ADDRESS')}, 16-bit modules"
      f" {v('MODULE_COUNT') >> 1}, 8-bit modules {v('MODULE_COUNT') & 1}")
EOF
fi
# The error box, if any, is dismissed first; Escape then closes the window (and the interface).
for box in $(xdotool search --name '^(Error|Fehler|Fout|Erreur)$' 2>/dev/null); do
  xdotool windowfocus --sync "$box" key Return 2>/dev/null || true
done
xdotool windowfocus --sync "$window" key Escape
status=0
timeout 15 tail --pid="$pid" -f /dev/null || harness_fail "the window did not close"
wait "$pid" || status=$?
echo "valdrix-configurator ended with exit code $status"
[ "$status" = 0 ] && [ "$found" = 1 ]
