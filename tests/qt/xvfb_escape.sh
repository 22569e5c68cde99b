#!/usr/bin/env bash
# The real valdrix-configurator under Xvfb, started with the port of an interface at 115200, and
# Escape typed (xdotool, real key input) 2.7 s into the search: the window keeps repainting (two
# screenshots 1.1 s apart differ), it waits without spending CPU, the search still finds the
# interface and opens it, then the close frame goes out at 115200 and the program exits 0.
# Then SIGTERM to a window that found an interface at 9600: the close frame, and exit 0.
#
# Usage: xvfb_escape.sh <valdrix-configurator> <valdrix-sim>
set -euo pipefail
program=$1 sim=$2

# shellcheck source=tools/wine/lib.sh
source "$(dirname "$(realpath "$0")")/../../tools/wine/lib.sh"
wine_work_dir
work=$wine_work
trap wine_cleanup EXIT
wine_start_xvfb 640x480x24

wine_start_sim "$sim" "$work/tty" --rate 115200 --log "$work/log"
"$program" "$work/tty" 2>"$work/stderr" &
pid=$!
wine_pids+=("$pid")

# Time runs from the first interface query, which starts the search.
for _ in $(seq 500); do grep -q '"F0 F0"' "$work/log" 2>/dev/null && break; sleep 0.01; done
start=$(date +%s.%N)
at() { sleep "$(awk -v s="$start" -v t="$1" -v n="$(date +%s.%N)" 'BEGIN { d = s + t - n; print (d > 0 ? d : 0) }')"; }
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }  # clock ticks

window=$(xdotool search --sync --name '^Valdrix Configurator' | head -n1)
at 1.0
import -window "$window" "$work/1.png"
ticks=$(cpu)
at 2.1
import -window "$window" "$work/2.png"
at 2.7
xdotool windowfocus --sync "$window" key Escape
at 3.9
ticks=$(($(cpu) - ticks))
# At 100 ticks a second, 5 % of one core over these 2.9 s is 14 ticks.
[ "$ticks" -le 14 ] || wine_fail "$ticks clock ticks of CPU in 2.9 s of waiting"

wait "$pid" || wine_fail "exit status $?: $(cat "$work/stderr")"
compare -metric AE "$work/1.png" "$work/2.png" null: 2>/dev/null && wine_fail "the window did not repaint"
sets=$(grep -o '"rx","hex":"F2 FF 0[01] 0[CD]","rate":[0-9]*' "$work/log" | tr -d '"' | tr '\n' ' ')
[ "$sets" = "rx,hex:F2 FF 01 0C,rate:115200 rx,hex:F2 FF 00 0D,rate:115200 " ] ||
  wine_fail "open and close frames: $sets"
wine_start_sim "$sim" "$work/tty2" --rate 9600 --log "$work/log2"
"$program" "$work/tty2" 2>"$work/stderr" &
pid=$!
wine_pids+=("$pid")
for _ in $(seq 500); do grep -q '"F2 FF 01 0C"' "$work/log2" 2>/dev/null && break; sleep 0.01; done
kill -TERM "$pid"
wait "$pid" || wine_fail "exit status $? after SIGTERM: $(cat "$work/stderr")"
grep -q '"rx","hex":"F2 FF 00 0D","rate":9600' "$work/log2" || wine_fail "no close frame after SIGTERM"

echo "ok: Escape mid-search, then the open and the close at 115200; $ticks ticks of CPU in 2.9 s;"\
  "SIGTERM closed the interface"
