#!/usr/bin/env bash
# The installer in dist/ under Wine, in a fresh 64-bit prefix (where "Program Files (x86)" is, as
# on most PCs), silent throughout: a lower version built from the same zip, then this one over it
# (one Apps entry, with this version, and the zip's files); the Start-menu entry; the installed
# valdrix-config.exe finds valdrix-sim on COM3; the lower version refuses to go over this one and
# says why; uninstalling leaves the prefix's files and registry as they were before the first.
# Every check is made; the failures are listed at the end.
# Usage: msi.sh <dist dir> <win32 build dir> <version> <valdrix-sim>
set -uo pipefail
dist=$(realpath "$1") wxs=$(realpath "$2")/valdrix-configurator.wxs version=$3 sim=$(realpath "$4")
top=$(dirname "$(realpath "$0")")/../..
# shellcheck source=tools/wine/lib.sh
source "$top/tools/wine/lib.sh"
msi=$dist/valdrix-configurator-$version-win32.msi
[ -f "$msi" ] || wine_fail "no installer for $version in $dist: run scripts/package.sh"
wine_work_dir
trap wine_cleanup EXIT
work=$wine_work
failed=0
fail() { echo "FAIL: $*" >&2; failed=$((failed + 1)); }

low=$work/valdrix-configurator-0.0.1-win32.msi
cmake -DVALDRIX_MSI_ZIP="${msi%.msi}.zip" -DVALDRIX_MSI_WXS="$wxs" -DVALDRIX_MSI_VERSION=0.0.1 \
  -DVALDRIX_MSI_OUT="$low" -P "$top/cmake/msi.cmake" || wine_fail "the lower version's installer"
mkdir "$work/zip" && (cd "$work/zip" && unzip -q "${msi%.msi}.zip")

# msiexec and reg are 64-bit programs here; the 32-bit ones start from them.
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" # no menu entries on the host
wine64=/usr/lib/wine/wine64
msiexec() { "$wine64" msiexec "$@" /qn /l*v "$work/msiexec.log"; }
# The prefix's files, and its registry (saved when the server stops) as one line per key and per
# value with its key, without times.
snapshot() {
  wineserver -w
  (cd "$WINEPREFIX" && find drive_c -path '*/Temp/*' -prune -o -print | sort &&
    awk '/^\[/ { sub(/\] [0-9]+$/, "]"); key = $0; print; next } !/^#/ && NF { print key, $0 }' \
      system.reg user.reg userdef.reg) >"$work/$1"
}
# Each Apps entry of ours: version, publisher.
entries() {
  awk -F'"' '/^\[/ { ours = /\\Uninstall\\/ } ours && /^"DisplayName"=/ { ours = $4 == "Valdrix Configurator" }
    ours && /^"(DisplayVersion|Publisher)"=/ { printf "%s%s", $4, ($2 == "Publisher" ? "\n" : ", ") }' \
    "$WINEPREFIX/system.reg"
}
"$wine64" wineboot -i >/dev/null 2>&1 || wine_fail "wineboot"
snapshot before

msiexec /i "$low" || fail "installing 0.0.1: msiexec $?"
msiexec /i "$msi" || fail "installing $version over 0.0.1: msiexec $?"
snapshot installed
[ "$(entries)" = "$version, Valdrix Configurator developers" ] || fail "the Apps entries: $(entries)"
dir="$WINEPREFIX/drive_c/Program Files (x86)/Valdrix Configurator"
[ "$(cd "$dir" && find . -type f | sort)" = "$(cd "$work/zip" && find . -type f | sort)" ] ||
  fail "installed: $(cd "$dir" && find . -type f | sort | tr '\n' ' ')"
(cd "$work/zip" && find . -type f | while read -r f; do cmp -s "$f" "$dir/$f" || echo "$f"; done) |
  grep . && fail "installed files differ from the zip's"
link=$(find "$WINEPREFIX/drive_c" -name "Valdrix Configurator.lnk")
[ "$(wc -l <<<"$link")" = 1 ] && tr -d '\0' <"$link" | grep -qF 'Valdrix Configurator\valdrixconfig.exe' ||
  fail "the Start-menu entry: '$link'"

# The installed console program against the simulator, on a server kept running: Wine links the
# host's serial ports when its services start, COM3 is linked after that.
wineserver -p
"$wine64" cmd /c ver >/dev/null 2>&1
wine_start_sim "$sim" "$WINEPREFIX/dosdevices/com3" --rate 38400 --address 7 --base 20 --count 5
(cd "$dir" && timeout 60 "$wine64" ./valdrix-config.exe --json show COM3 >"$work/shown" 2>"$work/shown.err")
[ "$(tr -d '\r' <"$work/shown")" = \
  '{"port":"COM3","rate":38400,"version":"1.02","address":7,"base":20,"modules16":2,"modules8":1}' ] ||
  fail "the installed valdrix-config.exe: $(cat "$work/shown" "$work/shown.err")"

# The lower version is refused (its reason is in the installer's tables: the package test).
msiexec /i "$low" && fail "0.0.1 went over $version"
msiexec /x "$msi" || fail "uninstalling: msiexec $?"
wineserver -k
snapshot after
[ -z "$(entries)" ] || fail "an Apps entry after uninstalling: $(entries)"
# What may differ: the devices Wine enumerates anew at each start, and the folder and the keys of
# the Windows Installer itself, which stay empty, as on Windows.
diff "$work/before" "$work/after" | grep '^[<>]' | grep -vE '\\\\(Enum|Class|NetworkCards)\\\\' |
  grep -vE '^> (drive_c/windows/Installer|\[[^]{]*\])$' >"$work/left" && fail "uninstalling left or took:
$(cat "$work/left")"
[ "$failed" = 0 ] || wine_fail "$failed checks failed"
echo "ok: the installer of $version (over 0.0.1, refusing it after, uninstalled)"
