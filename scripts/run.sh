#!/usr/bin/env bash
# Builds the configurator and opens it under Wine with COM3 of a private Wine prefix mapped to
# the simulated interface (valdrix-sim on a pseudo-terminal), or to a real serial device.
#
# With a display ($DISPLAY set) the dialog opens there: choose COM3 in the port list. Without
# one it runs on a private X server, chooses COM3 itself, waits for the search, saves a
# screenshot of the dialog, closes it and says where the screenshot is.
# Ending the program ends the simulator.
#
# With --native it opens the Linux window (valdrix-configurator, Qt) instead, with the simulated
# interface's terminal (or the real device) given as its port: no Wine. Without a display it runs
# on a private X server, waits for the search, saves a screenshot, closes the window with Escape
# and exits 0 when the interface was found.
set -euo pipefail

usage() {
  cat <<'EOF'
Usage: bash scripts/run.sh [options] [-- valdrix-sim options]

  --native           the Linux window (valdrix-configurator) instead of the Windows one
                     under Wine; the port is given to it on its command line
  --port DEVICE      map COM3 to a real serial device (e.g. /dev/ttyUSB0) instead of the
                     simulated interface (--native: give the device as the port)
  --screenshot FILE  where the screenshot goes without a display (default build/run/dialog.png,
                     --native: build/run/window.png)
  --headless         run on a private X server even when $DISPLAY is set
  --language LANG    de, nl or fr: the program in that language (LANG=de_DE.UTF-8; Wine's UI
                     language follows), e.g. for docs/dialog-de.png
  --at-start         without a display: the screenshot as the dialog opens, before any search
                     (how docs/dialog-start.png was made)
  --no-install       do not install missing packages
  --help             this text

valdrix-sim options after "--" change the simulated interface, e.g.
  bash scripts/run.sh -- --rate 19200 --address 5 --base 32 --count 3
The Wine prefix lives in build/run/prefix; only COM3 shows in it.
EOF
}

repo=$(cd "$(dirname "$0")/.." && pwd)
device=
screenshot=
headless=0
at_start=0
install=1
native=0
language=
sim_options=()
while [ $# -gt 0 ]; do
  case "$1" in
    --port) device=${2:?--port needs a device}; shift 2 ;;
    --port=*) device=${1#--port=}; shift ;;
    --screenshot) screenshot=$(realpath -m "${2:?--screenshot needs a file}"); shift 2 ;;
    --screenshot=*) screenshot=$(realpath -m "${1#--screenshot=}"); shift ;;
    --headless) headless=1; shift ;;
    --at-start) at_start=1; shift ;;
    --native) native=1; shift ;;
    --language) language=${2:?--language needs de, nl or fr}; shift 2 ;;
    --language=*) language=${1#--language=}; shift ;;
    --no-install) install=0; shift ;;
    --help | -h) usage; exit 0 ;;
    --) shift; sim_options=("$@"); break ;;
    *) echo "run.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
done
if [ -n "$device" ] && [ ! -e "$device" ]; then
  echo "run.sh: $device does not exist" >&2
  exit 2
fi
[ -n "${DISPLAY:-}" ] || headless=1
# The language as the system gives it; status lines are then matched in that language.
if [ -n "$language" ]; then
  case "$language" in
    de) export LANG=de_DE.UTF-8 ;; nl) export LANG=nl_NL.UTF-8 ;; fr) export LANG=fr_FR.UTF-8 ;;
    *) echo "run.sh: --language: $language is not one of de, nl, fr" >&2; exit 2 ;;
  esac
  unset LANGUAGE LC_ALL LC_MESSAGES
fi
[ -n "$screenshot" ] || screenshot=$repo/build/run/$([ "$native" = 1 ] && echo window || echo dialog).png

cd "$repo"
# A preset's build folder, configured: build/<preset>, or <prefix>-<preset> when
# VALDRIX_BUILD_PREFIX is set (other folders than the presets', for development). What CMake says
# (such as the tests a plain configure leaves out) is shown only when it fails.
configure() {
  local dir=$repo/build/$1
  [ -z "${VALDRIX_BUILD_PREFIX:-}" ] || dir=$(realpath -m "$VALDRIX_BUILD_PREFIX-$1")
  mkdir -p "$dir"
  cmake --preset "$1" -B "$dir" >"$dir/configure.log" 2>&1 || { cat "$dir/configure.log" >&2; exit 1; }
  echo "$dir"
}
jobs=$(nproc 2>/dev/null || echo 2)
if [ "$native" = 1 ]; then
  if [ "$install" = 1 ]; then bash scripts/install-deps.sh --x11; fi
  echo "== Building (native preset)"
  native=$(configure native)
  cmake --build "$native" -j"$jobs" --target valdrix-sim valdrix-configurator
  exec bash scripts/run-native.sh "$native" "$headless" "$at_start" "$screenshot" "$device" \
    "${sim_options[@]}"
fi
if [ "$install" = 1 ]; then bash scripts/install-deps.sh --wine; fi

echo "== Building (native and win32 presets)"
native=$(configure native)
win32=$(configure win32)
cmake --build "$native" -j"$jobs" --target valdrix-sim
cmake --build "$win32" -j"$jobs" --target valdrixconfig valdrix_driver
# shellcheck source=tools/wine/lib.sh
source "$repo/tools/wine/lib.sh"
if ! wine_runs_32bit; then
  echo "== This machine cannot run 32-bit code: the x86_64 build of the same sources runs instead"
  win32=$(realpath -m "${VALDRIX_BUILD_PREFIX:-$repo/build/win64}${VALDRIX_BUILD_PREFIX:+-win64}")
  cmake -S . -B "$win32" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=MinSizeRel >/dev/null
  cmake --build "$win32" -j"$jobs" --target valdrixconfig valdrix_driver
fi
exe=$win32/ui/valdrixconfig.exe
driver=$win32/tools/wine/driver/driver.exe
sim=$native/sim/valdrix-sim
template=$native/dialog/template.json
harness_work=$repo/build/run
mkdir -p "$harness_work"
trap wine_cleanup EXIT
trap 'exit 130' INT TERM

if [ "$headless" = 1 ]; then
  echo "== No display: a private X server"
  harness_start_xvfb 640x480x24
fi

echo "== Wine prefix $harness_work/prefix"
wine_make_prefix "$harness_work/prefix"
wine_own_caption "$([ "$headless" = 1 ] && echo y || echo n)"
wine_mask_ports
if [ -n "$device" ]; then
  wine_map_port com3 "$(realpath "$device")"
  echo "COM3 is $device"
else
  # A sample interface; the options after "--" come later and win.
  harness_start_sim "$sim" "$WINEPREFIX/dosdevices/com3" --address 12 --base 40 --count 7 \
    "${sim_options[@]}"
  echo "COM3 is the simulated interface on $(readlink "$WINEPREFIX/dosdevices/com3")"
fi

if [ "$headless" = 0 ]; then
  echo "== valdrixconfig.exe on $DISPLAY: choose COM3 in the port list; close the dialog to end"
  set +e
  wine "$exe"
  status=$?
  set -e
  echo "valdrixconfig.exe ended with exit code $status"
  exit "$status"
fi

echo "== valdrixconfig.exe on the private X server"
harness_spawn wine "$exe"
drive() { wine "$driver" "$@" | tr -d '\r'; }
drive wait 30000 >/dev/null || harness_fail "the dialog did not open"
shoot() {
  mkdir -p "$(dirname "$screenshot")"
  window=$(xdotool search --name "^Valdrix Configurator V " | head -n1)
  eval "$(xdotool getwindowgeometry --shell "$window")"
  import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$screenshot"
  echo "screenshot: $screenshot"
}
if [ "$at_start" = 1 ]; then
  shoot
  drive close >/dev/null
  drive gone 15000 >/dev/null || harness_fail "the dialog did not close"
  exit 0
fi
echo "== Choosing COM3"
drive choose "$(wine_control_id "$template" IDC_PORT)" COM3 >/dev/null || harness_fail "could not choose COM3"
found=1
entered=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["status"]["ENTER_VALUES"])' \
  "$template")
if [ -n "$language" ]; then
  entered=$(PYTHONPATH=$repo/scripts python3 -c 'import sys, po_catalogue
print({e["msgid"]: e["msgstr"] for e in po_catalogue.read(sys.argv[1])}[sys.argv[2]])' \
    "$repo/po/$language.po" "$entered")
fi
if ! drive waitstatus 30000 "$entered" >/dev/null 2>&1; then
  found=0
  drive errorbox 10000 | tail -n1 >"$harness_work/error.txt" || true
fi
if [ "$found" = 1 ]; then
  shoot
else
  mkdir -p "$(dirname "$screenshot")"
  import -window root "$screenshot"  # the whole screen, with the error box
  echo "screenshot: $screenshot"
fi
if [ "$found" = 1 ]; then
  v=()
  for name in IDC_RATE IDC_VERSION IDC_XN_ADDRESS IDC_BASE_ADDRESS IDC_MODULES16 IDC_MODULES8; do
    v+=("$(drive text "$(wine_control_id "$template" "$name")")")
  done
  echo "found at ${v[0]}: version ${v[1]}, XpressNet address ${v[2]}, module base address" \
    "${v[3]}, 16-bit modules ${v[4]}, 8-bit modules ${v[5]}"
else
  echo "error box: $(cat "$harness_work/error.txt")"
  drive dismiss >/dev/null || true
fi
# Close: closes the interface and ends the program
drive command "$(wine_control_id "$template" IDCANCEL)" >/dev/null
drive gone 15000 >/dev/null || harness_fail "the dialog did not close"
[ "$found" = 1 ]
