#!/usr/bin/env bash
# valdrix-config.exe under Wine: "show COM3" with COM3 mapped to valdrix-sim's pseudo-terminal
# must print the simulator's values, exit 0, and send exactly the search and the close.
#
# Usage: wine_show.sh <valdrix-config.exe> <valdrix-sim>
set -euo pipefail

exe=$(realpath "$1")
sim=$(realpath "$2")

work=$(mktemp -d)
pids=()
cleanup() {
  WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# A private X server: wineboot wants a display even for a console program.
exec {displayfd}>"$work/display"
Xvfb -displayfd "$displayfd" -screen 0 640x480x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {displayfd}>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir "$WINEPREFIX"
# A persistent server: Wine links the host's serial ports when its services start, so the
# masks below must come after that and stay.
wineserver -p
wineboot -i >/dev/null 2>&1 || fail "wineboot"

"$sim" --rate 9600 --address 12 --base 40 --count 7 --version 103 --link "$work/com3" \
  --log "$work/frames.log" >"$work/sim.out" &
pids+=($!)
for _ in $(seq 50); do [ -e "$work/com3" ] && break; sleep 0.1; done
[ -e "$work/com3" ] || fail "valdrix-sim made no terminal"

# Every other COM port is masked (a link to a directory does not open).
mkdir "$work/no-port"
for n in $(seq 1 256); do ln -sfn "$work/no-port" "$WINEPREFIX/dosdevices/com$n"; done
ln -sfn "$work/com3" "$WINEPREFIX/dosdevices/com3"

set +e
wine "$exe" show COM3 >"$work/stdout" 2>"$work/stderr"
status=$?
set -e
tr -d '\r' <"$work/stdout" >"$work/stdout.txt"
[ "$status" = 0 ] || fail "exit status $status; stderr: $(cat "$work/stderr")"

expected="port:                COM3
rate:                9600
version:             1.03
XpressNet address:   12
module base address: 40
16-bit modules:      3
8-bit modules:       1"
[ "$(cat "$work/stdout.txt")" = "$expected" ] || fail "printed:
$(cat "$work/stdout.txt")
expected:
$expected"

received=$(python3 -c '
import json, sys
print(" | ".join(e["hex"] for e in map(json.loads, open(sys.argv[1])) if e["dir"] == "rx"))
' "$work/frames.log")
want="F0 F0 | F2 FD 00 0F | F2 01 FF 0C | F2 F1 FF FC | F2 F2 FF FF | F2 FF 01 0C | F2 FF 00 0D"
[ "$received" = "$want" ] || fail "the simulator received: $received
expected: $want"

# A port that does not open: its message and exit status.
set +e
wine "$exe" show COM4 >"$work/stdout" 2>"$work/stderr"
status=$?
set -e
[ "$status" = 3 ] || fail "COM4: exit status $status"
[ "$(tr -d '\r' <"$work/stderr")" = "Could not open COM4" ] ||
  fail "COM4: stderr $(cat "$work/stderr")"
echo "ok: valdrix-config.exe show COM3 printed the simulator's values"
