# What a run of a window needs besides the window: a work folder, background processes ended
# together, a private X server, a window manager, valdrix-sim on a link. The Wine tests, the
# package test, the Qt window's desktop test, the run commands and the bench share it
# (tools/wine/lib.sh adds the Wine prefix on top). Source it, then:
#
#   harness_work_dir              a temporary folder in $harness_work, removed by harness_cleanup
#                                 (or set harness_work to a folder of your own: it is kept)
#   trap harness_cleanup EXIT
#   harness_start_xvfb [geometry] a private X server; exports DISPLAY
#   harness_start_wm              openbox on it, once it manages windows
#   harness_spawn <cmd...>        a background process that harness_cleanup ends; or add a PID
#                                 to harness_pids yourself
#   harness_start_sim [--under EMULATOR] <valdrix-sim> <link> [options...]
#                                 valdrix-sim the same way (under qemu-user, say), with <link> a
#                                 link to its terminal; fails when it does not come
#   harness_wait_path <path>      waits up to 10 s for a path to exist
#   harness_fail <text>           prints FAIL: <text> and exits 1

harness_pids=()
harness_work=
harness_owns_work=0

harness_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

harness_work_dir() {
  harness_work=$(mktemp -d)
  harness_owns_work=1
}

harness_spawn() {
  "$@" &
  harness_pids+=($!)
}

# Ends the background processes and the X server, and removes the work folder when we made it.
harness_cleanup() {
  local pid
  for pid in "${harness_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${harness_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  if [ "$harness_owns_work" = 1 ] && [ -n "$harness_work" ]; then rm -rf "$harness_work"; fi
}

# A private X server on a free display number, which it reports through a file descriptor.
harness_start_xvfb() {
  local geometry=${1:-800x600x24}
  local displayfd
  exec {displayfd}>"$harness_work/display"
  harness_spawn Xvfb -displayfd "$displayfd" -screen 0 "$geometry" -nolisten tcp \
    >"$harness_work/xvfb.log" 2>&1
  exec {displayfd}>&-
  local _
  for _ in $(seq 100); do [ -s "$harness_work/display" ] && break; sleep 0.1; done
  [ -s "$harness_work/display" ] || harness_fail "Xvfb did not start"
  export DISPLAY=":$(cat "$harness_work/display")"
}

harness_start_wm() {
  harness_spawn openbox --sm-disable
  local _
  for _ in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '#' && break; sleep 0.1; done
}

harness_wait_path() {
  local _
  for _ in $(seq 100); do [ -e "$1" ] && return 0; sleep 0.1; done
  return 1
}

# As harness/launchers.py does: the simulator prints its terminal's path once its link is made
# (a link that was there before, such as a masked COM port's, is no sign).
harness_start_sim() {
  local under=() out _
  [ "$1" != --under ] || { under=("$2"); shift 2; }
  local sim=$1 link=$2
  shift 2
  out=$(mktemp "$harness_work/sim.XXXXXX")
  harness_spawn "${under[@]}" "$sim" --link "$link" "$@" >"$out"
  for _ in $(seq 100); do [ -s "$out" ] && break; sleep 0.1; done
  grep -q '^/dev/' "$out" || harness_fail "valdrix-sim did not start"
}
