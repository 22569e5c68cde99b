# Shared setup for everything that runs the Windows programs under Wine: a private X server, a
# fresh 32-bit Wine prefix, and a COM port table that holds only the ports we map.
# Source it, then call the functions in this order:
#
#   wine_work_dir                 a temporary folder in $wine_work, removed by wine_cleanup
#   trap wine_cleanup EXIT
#   wine_start_xvfb               a private X server; exports DISPLAY
#   wine_make_prefix [dir]        WINEPREFIX (default $wine_work/prefix), booted, server kept
#   wine_own_caption y|n          whether Wine draws the caption (for screenshots without a WM)
#   wine_mask_ports               every COM1..COM256 of the prefix masked
#   wine_map_port com3 <path>     COM3 of the prefix made a link to a terminal (or re-masked
#   wine_unmap_port com3           with wine_unmap_port)
#
# wine_control_id <template.json> IDC_PORT prints a control's number from a native build's
# dialog/template.json.
# wine_spawn <cmd...> starts a background process that wine_cleanup ends.
# wine_start_sim [--under EMULATOR] <valdrix-sim> <link> [options...] starts valdrix-sim the same
# way (under qemu-user, say), with <link> a link to its terminal, and fails when it does not come.

wine_pids=()
wine_work=
wine_owns_work=0

wine_control_id() {
  python3 -c 'import json, sys
print(*(c["id"] for c in json.load(open(sys.argv[1]))["controls"] if c["name"] == sys.argv[2]))' "$@"
}

wine_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

wine_work_dir() {
  wine_work=$(mktemp -d)
  wine_owns_work=1
}

wine_spawn() {
  "$@" &
  wine_pids+=($!)
}

# Ends the Wine server (with every program of the prefix), the background processes and the
# X server, and removes the work folder when we made it.
wine_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
  fi
  local pid
  for pid in "${wine_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${wine_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$wine_owns_work" = 1 ] && [ -n "$wine_work" ]; then rm -rf "$wine_work"; fi
}

# A private X server on a free display number, which it reports through a file descriptor.
wine_start_xvfb() {
  local geometry=${1:-800x600x24}
  local displayfd
  exec {displayfd}>"$wine_work/display"
  wine_spawn Xvfb -displayfd "$displayfd" -screen 0 "$geometry" -nolisten tcp \
    >"$wine_work/xvfb.log" 2>&1
  exec {displayfd}>&-
  local _
  for _ in $(seq 100); do [ -s "$wine_work/display" ] && break; sleep 0.1; done
  [ -s "$wine_work/display" ] || wine_fail "Xvfb did not start"
  export DISPLAY=":$(cat "$wine_work/display")"
}

# A 32-bit prefix, booted, with a Wine server that stays for the whole run: Wine links the
# host's serial ports into dosdevices when its services start, so our masks must come after
# that and the server must not restart behind our back. An existing prefix is reused.
wine_make_prefix() {
  export WINEPREFIX=${1:-$wine_work/prefix}
  export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  wineboot -i >/dev/null 2>&1 || wine_fail "wineboot (prefix $WINEPREFIX)"
}

# wine_own_caption y: Wine draws the window caption itself, as it must without a window manager
# for a screenshot to show it; n: the window manager does (the default).
wine_own_caption() {
  local key='HKCU\Software\Wine\X11 Driver'
  if [ "$1" = y ]; then
    wine reg add "$key" /v Decorated /d N /f >/dev/null 2>&1 || true
  else
    wine reg delete "$key" /v Decorated /f >/dev/null 2>&1 || true
  fi
}

# A COM port without a link falls back to the host's /dev/ttyS(n-1), and so does a dangling
# link; a link to an empty directory does not open. Masking every port makes the port list
# hold exactly the ports mapped afterwards.
wine_mask_ports() {
  wine_no_port="$WINEPREFIX/no-port"
  mkdir -p "$wine_no_port"
  local n
  for n in $(seq 1 256); do ln -sfn "$wine_no_port" "$WINEPREFIX/dosdevices/com$n"; done
}

wine_map_port() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/$1"
}

wine_unmap_port() {
  ln -sfn "$wine_no_port" "$WINEPREFIX/dosdevices/$1"
}

# As harness/launchers.py does: the simulator prints its terminal's path once its link is made
# (a link that was there before, such as a masked COM port's, is no sign).
wine_start_sim() {
  local under=() out _
  [ "$1" != --under ] || { under=("$2"); shift 2; }
  local sim=$1 link=$2
  shift 2
  out=$(mktemp "$wine_work/sim.XXXXXX")
  wine_spawn "${under[@]}" "$sim" --link "$link" "$@" >"$out"
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
  grep -q '^/dev/' "$out" || wine_fail "valdrix-sim did not start"
}
