# The Wine part of running the Windows programs: a fresh 32-bit Wine prefix and a COM port table
# that holds only the ports we map. Sources harness/x11.sh (work folder, X server, background
# processes, valdrix-sim) and adds, in this order:
#
#   harness_work_dir; trap wine_cleanup EXIT; harness_start_xvfb   (see harness/x11.sh)
#   wine_make_prefix [dir]        WINEPREFIX (default $harness_work/prefix), booted, server kept
#   wine_own_caption y|n          whether Wine draws the caption (for screenshots without a WM)
#   wine_mask_ports               every COM1..COM256 of the prefix masked
#   wine_map_port com3 <path>     COM3 of the prefix made a link to a terminal (or re-masked
#   wine_unmap_port com3           with wine_unmap_port)
#
# wine_control_id <template.json> IDC_PORT prints a control's number from a native build's
# dialog/template.json.

# shellcheck source=harness/x11.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../harness/x11.sh"

wine_control_id() {
  python3 -c 'import json, sys
print(*(c["id"] for c in json.load(open(sys.argv[1]))["controls"] if c["name"] == sys.argv[2]))' "$@"
}

# Ends the Wine server (with every program of the prefix), then what harness_cleanup ends.
wine_cleanup() {
  if [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ]; then
    wineserver -k 2>/dev/null || true
  fi
  harness_cleanup
}

# Whether this machine runs 32-bit x86 code: some kernels are built or booted without it
# ("IA-32 emulation off"), and then Wine's 32-bit loader cannot start at all.
wine_runs_32bit() {
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

# Where 32-bit code cannot run, the 64-bit loader and a 64-bit prefix, through a wine on PATH
# that every caller (and the Python tests) reaches; the caller then runs the x86_64 build.
wine_use_64bit() {
  mkdir -p "$harness_work/bin"
  local tool
  for tool in wine wineboot; do
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 %s"$@"\n' "$([ $tool = wineboot ] && echo 'wineboot.exe ')" \
      >"$harness_work/bin/$tool"
    chmod +x "$harness_work/bin/$tool"
  done
  export PATH="$harness_work/bin:$PATH" WINELOADER=/usr/lib/wine/wine64 WINEARCH=win64
}

# A 32-bit prefix (64-bit where 32-bit code cannot run), booted, with a Wine server that stays
# for the whole run: Wine links the host's serial ports into dosdevices when its services start,
# so our masks must come after that and the server must not restart behind our back. An
# existing prefix is reused.
wine_make_prefix() {
  export WINEPREFIX=${1:-$harness_work/prefix}
  export WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  wine_runs_32bit || wine_use_64bit
  mkdir -p "$WINEPREFIX"
  wineserver -p >/dev/null 2>&1
  wineboot -i >/dev/null 2>&1 || harness_fail "wineboot (prefix $WINEPREFIX)"
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
