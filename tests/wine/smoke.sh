#!/usr/bin/env bash
# Starts valdrixconfig.exe under Wine on a private X server and checks the dialog as it opens:
# the port list shows exactly the ports that exist (COM3 and COM12 as pseudo-terminals, every
# other COM port masked), the rate and address lists are filled, only Close and the port list
# are enabled, the status line asks for a port. Then closes it once with the window's close
# command and once with the Close button, and expects exit code 0 both times.
#
# Usage: smoke.sh <valdrixconfig.exe> <driver.exe> [--screenshot <file.png>]
set -euo pipefail

exe=$(realpath "$1")
driver=$(realpath "$2")
screenshot=
if [ "${3:-}" = "--screenshot" ]; then screenshot=$(realpath -m "$4"); fi

# shellcheck source=tools/wine/lib.sh
source "$(dirname "$(realpath "$0")")/../../tools/wine/lib.sh"
wine_work_dir
work=$wine_work
trap wine_cleanup EXIT
fail() { wine_fail "$@"; }

wine_start_xvfb 800x600x24
wine_make_prefix
wine_own_caption y  # no window manager: the screenshot shows Wine's own caption

# Two pseudo-terminal pairs stand in for real ports; every other COM port is masked.
for port in com3 com12; do
  wine_spawn socat "pty,raw,echo=0,link=$work/$port" "pty,raw,echo=0,link=$work/$port-peer"
done
for port in com3 com12; do
  wine_wait_path "$work/$port" || fail "socat did not make $port"
done
wine_mask_ports
wine_map_port com3 "$work/com3"
wine_map_port com12 "$work/com12"

drive() { wine "$driver" "$@" | tr -d '\r'; }

start_program() {
  (
    set +e
    wine "$exe"
    echo $? >"$work/exit-code"
  ) &
  wine_pids+=($!)
  rm -f "$work/exit-code"
  drive wait 20000 || fail "no dialog titled 'Valdrix Configurator V 1.02'"
}

# Ends the dialog with the given driver command and checks the program's exit code.
stop_program() {
  drive "$@" || fail "driver $*"
  drive gone 10000 || fail "dialog still there after: $*"
  for _ in $(seq 100); do [ -s "$work/exit-code" ] && break; sleep 0.1; done
  [ -s "$work/exit-code" ] || fail "program did not exit after: $*"
  [ "$(cat "$work/exit-code")" = 0 ] || fail "exit code $(cat "$work/exit-code") after: $*"
}

expect() {
  local want=$1
  shift
  local got
  got=$(drive "$@" | paste -sd' ')
  [ "$got" = "$want" ] || fail "driver $*: got '$got', expected '$want'"
}

start_program
expect "Status: Please select a COM port" text 207
expect "COM3 COM12" entries 200
expect "9600 19200 38400 57600 115200" entries 201
expect "$(seq 1 31 | paste -sd' ')" entries 202
# id, enabled (1) or not (0): only the port list and Close take input at first.
while read -r id enabled; do
  expect "$enabled" enabled "$id"
done <<'TABLE'
1 0
2 1
200 1
201 0
202 0
203 0
205 0
206 0
108 0
TABLE
for id in 200 201 202; do expect "" current "$id"; done
for id in 108 203 205 206; do expect "" text "$id"; done

if [ -n "$screenshot" ]; then
  window=$(xdotool search --name "^Valdrix Configurator V 1.02$" | head -n1)
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$screenshot"
  echo "screenshot: $screenshot"
fi

stop_program close           # WM_CLOSE, as from the window's close box
start_program
stop_program command 2 0     # IDCANCEL, as from the Close button or Escape
echo "ok: dialog opened, filled and closed twice with exit code 0"
