#!/usr/bin/env bash
# valdrix-config.exe under Wine: "show COM3" with COM3 mapped to valdrix-sim's pseudo-terminal
# must print the simulator's values, exit 0, and send exactly the search and the close.
#
# Usage: wine_show.sh <valdrix-config.exe> <valdrix-sim>
set -euo pipefail

exe=$(realpath "$1")
sim=$(realpath "$2")

# shellcheck source=tools/wine/lib.sh
source "$(dirname "$(realpath "$0")")/../../tools/wine/lib.sh"
wine_work_dir
work=$wine_work
trap wine_cleanup EXIT
fail() { wine_fail "$@"; }

wine_start_xvfb 640x480x24  # wineboot wants a display even for a console program
wine_make_prefix
wine_mask_ports  # every COM port but the simulator's is masked

wine_spawn "$sim" --rate 9600 --address 12 --base 40 --count 7 --version 103 --link "$work/com3" \
  --log "$work/frames.log" >"$work/sim.out"
wine_wait_path "$work/com3" || fail "valdrix-sim made no terminal"
wine_map_port com3 "$work/com3"

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

# A file given as the port is refused before a byte is written to it.
notes="$WINEPREFIX/drive_c/valdrix notes.txt"
printf 'keep me\n' >"$notes"
touch -d @981173106 "$notes"
set +e
wine "$exe" show 'C:\valdrix notes.txt' >"$work/stdout" 2>"$work/stderr"
status=$?
set -e
[ "$status" = 3 ] || fail "a file as the port: exit status $status"
[ "$(cat "$notes")" = "keep me" ] && [ "$(stat -c %Y "$notes")" = 981173106 ] ||
  fail "a file as the port was touched: $(od -c "$notes" | head -3)"
echo "ok: valdrix-config.exe show COM3 printed the simulator's values"
