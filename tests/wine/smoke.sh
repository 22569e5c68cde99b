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

# A private X server on a free display number; it tells us which.
exec {displayfd}>"$work/display"
Xvfb -displayfd "$displayfd" -screen 0 800x600x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {displayfd}>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")"

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# One persistent server for the whole test: Wine links the host's serial ports into dosdevices
# when its services start, so the masks below must come after that and stay.
mkdir "$WINEPREFIX"
wineserver -p
wineboot -i >/dev/null 2>&1 || fail "wineboot"
# Wine draws the caption itself (there is no window manager): the screenshot shows it.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1

# Two pseudo-terminal pairs stand in for real ports.
for port in com3 com12; do
  socat "pty,raw,echo=0,link=$work/$port" "pty,raw,echo=0,link=$work/$port-peer" &
  pids+=($!)
done
for port in com3 com12; do
  for _ in $(seq 50); do [ -e "$work/$port" ] && break; sleep 0.1; done
  [ -e "$work/$port" ] || fail "socat did not make $port"
done
# A COM port without a link falls back to the host's /dev/ttyS(n-1); a link to a directory
# does not open.
mkdir "$work/no-port"
for n in $(seq 1 256); do ln -sfn "$work/no-port" "$WINEPREFIX/dosdevices/com$n"; done
ln -sfn "$work/com3" "$WINEPREFIX/dosdevices/com3"
ln -sfn "$work/com12" "$WINEPREFIX/dosdevices/com12"

drive() { wine "$driver" "$@" | tr -d '\r'; }

start_program() {
  (
    set +e
    wine "$exe"
    echo $? >"$work/exit-code"
  ) &
  pids+=($!)
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
