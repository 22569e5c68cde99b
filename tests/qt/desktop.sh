#!/usr/bin/env bash
# The real valdrix-configurator as a desktop runs it: under Xvfb with a window manager (openbox),
# real input through xdotool, valdrix-sim on pseudo-terminals, a real ser2net on loopback.
# - No X server where DISPLAY points: one line, exit status 1.
# - Escape typed 2.7 s into a search at 115200: the window keeps repainting (two screenshots
#   1.1 s apart differ) and waits without spending CPU; the search still opens the interface,
#   then the close frame goes out at 115200 and the exit status is 0.
# - The title bar's close button sends the close frame when an interface is open, and nothing
#   otherwise; SIGTERM, SIGINT and SIGHUP close the interface as Close does. Exit status 0.
# - An rfc2217:// port through ser2net: found, the values shown, the close frame on Close.
#
# Usage: desktop.sh <valdrix-configurator> <valdrix-sim>
set -euo pipefail
program=$1 sim=$2

# shellcheck source=tools/wine/lib.sh
source "$(dirname "$(realpath "$0")")/../../tools/wine/lib.sh"
wine_work_dir
work=$wine_work
trap wine_cleanup EXIT
fail() { wine_fail "$@"; }

status=0
DISPLAY=:4095 "$program" 2>"$work/no-display" || status=$?
[ "$status" = 1 ] && [ "$(wc -l <"$work/no-display")" = 1 ] ||
  fail "no X server: exit status $status, $(cat "$work/no-display")"

wine_start_xvfb 640x480x24
wine_spawn openbox --sm-disable
for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '#' && break; sleep 0.1; done

# interface NAME [valdrix-sim options]: a simulated interface reached as $work/NAME.
interface() {
  wine_spawn "$sim" --link "$work/$1" --log "$work/$1.log" "${@:2}" >/dev/null
  wine_wait_path "$work/$1" || fail "valdrix-sim made no terminal"
}
# start [PORT]: the window, its process in $pid and its X window in $window.
start() {
  "$program" "$@" 2>>"$work/stderr" &
  pid=$!
  wine_pids+=("$pid")
  window=$(timeout 10 xdotool search --sync --pid "$pid" --name '^Valdrix Configurator' | head -n1)
}
# opened NAME: once the interface NAME has received the open frame.
opened() {
  for _ in $(seq 500); do grep -q '"F2 FF 01 0C"' "$work/$1.log" 2>/dev/null && return; sleep 0.01; done
  fail "$1: not opened"
}
closed() {  # NAME PID RATE: the window ended with 0 after the one close frame, at RATE
  wait "$2" || fail "$1: exit status $?: $(cat "$work/stderr")"
  [ "$(grep -c '"rx","hex":"F2 FF 00 0D"' "$work/$1.log")" = 1 ] &&
    grep -q '"rx","hex":"F2 FF 00 0D","rate":'"$3" "$work/$1.log" || fail "$1: no close frame at $3"
}
close_button() {
  xdotool windowactivate --sync "$window"
  local top
  top=$(xprop -id "$window" _NET_FRAME_EXTENTS | awk -F', ' '{ print $3 }')
  # shellcheck disable=SC2046
  xdotool mousemove --sync $(xwininfo -id "$window" | awk -v t="$top" '/Absolute upper-left X/ {
    x = $NF } /Absolute upper-left Y/ { y = $NF } /Width/ { print x + $NF - t / 2, y - t / 2 }') click 1
}

# Escape during the search.
interface slow --rate 115200
start "$work/slow"
for _ in $(seq 500); do grep -q '"F0 F0"' "$work/slow.log" 2>/dev/null && break; sleep 0.01; done
begin=$(date +%s.%N)
at() { sleep "$(awk -v s="$begin" -v t="$1" -v n="$(date +%s.%N)" 'BEGIN { d = s + t - n; print (d > 0 ? d : 0) }')"; }
cpu() { awk '{ print $14 + $15 }' "/proc/$pid/stat"; }  # clock ticks
at 1.0
import -window "$window" "$work/1.png"
ticks=$(cpu)
at 2.1
import -window "$window" "$work/2.png"
at 2.7
xdotool windowactivate --sync "$window" key Escape
at 3.9
ticks=$(($(cpu) - ticks))
# At 100 ticks a second, 5 % of one core over these 2.9 s is 14 ticks.
[ "$ticks" -le 14 ] || fail "$ticks clock ticks of CPU in 2.9 s of waiting"
compare -metric AE "$work/1.png" "$work/2.png" null: 2>/dev/null && fail "the window did not repaint"
closed slow "$pid" 115200
grep -q '"rx","hex":"F2 FF 01 0C","rate":115200' "$work/slow.log" || fail "not opened at 115200"

# The close button and the signals, on four windows at once; then the button with nothing open.
declare -A pids
for way in button TERM INT HUP; do
  interface "$way" --rate 9600
  start "$work/$way"
  pids[$way]=$pid
  [ "$way" = button ] && button_window=$window
done
for way in button TERM INT HUP; do opened "$way"; done
window=$button_window close_button
for way in TERM INT HUP; do kill -s "$way" "${pids[$way]}"; done
for way in button TERM INT HUP; do closed "$way" "${pids[$way]}" 9600; done
start
close_button
wait "$pid" || fail "close button with nothing open: exit status $?"

# A port on another machine: ser2net on loopback in front of a terminal.
interface net --rate 38400 --address 7 --base 20 --count 5
net=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf 'connection: &net\n  accepter: telnet(rfc2217),tcp,127.0.0.1,%s\n  connector: serialdev,%s,9600n81,local\n' \
  "$net" "$work/net" >"$work/ser2net.yaml"
wine_spawn ser2net -n -d -c "$work/ser2net.yaml" >/dev/null 2>&1
for _ in $(seq 100); do grep -q ":$(printf %04X "$net") 00000000:0000 0A" /proc/net/tcp && break; sleep 0.1; done
start "rfc2217://127.0.0.1:$net"
opened net
sleep 1.5  # the drain after the open frame
# From Close, Tab reaches the address list, then each value edit, which it selects.
xdotool windowactivate --sync "$window" key Tab
shown=
for _ in 1 2 3; do
  xdotool key Tab ctrl+c
  shown+="$(xclip -o -selection clipboard) "
done
[ "$shown" = "20 2 1 " ] || fail "values shown through ser2net: $shown"
xdotool key Tab space  # past the version and Apply (both disabled) to Close
closed net "$pid" 38400

echo "ok: no display; Escape mid-search ($ticks ticks of CPU in 2.9 s); the close button;" \
  "SIGTERM, SIGINT, SIGHUP; rfc2217:// through ser2net"
