#!/usr/bin/env bash
# The installer, silent, in a fresh 64-bit Wine prefix (as on most PCs), over a 0.0.1 and another
# build of its version made from the same zip: one Apps entry, the files, PATH, the shortcut, the
# installed valdrix-config.exe on COM3; 0.0.1 refused; uninstalled, the prefix as before.
# Usage: msi.sh <dist> <win32 build> <version> <valdrix-sim> [<build whose programs Wine runs>]
set -uo pipefail
msi=$(realpath "$1")/valdrix-configurator-$3-win32.msi version=$3 sim=$(realpath "$4")
# Where this machine runs no 32-bit code, the x86_64 build's valdrix-config.exe runs from the
# installed folder in place of the installed one, which is the zip's byte for byte (checked).
console=./valdrix-config.exe
if [ -n "${5:-}" ] && [ "$(realpath "$5")" != "$(realpath "$2")" ]; then
  console=$(realpath "$5")/cli/valdrix-config.exe
  echo "note: no 32-bit code runs here: $console runs in the installed valdrix-config.exe's place"
fi
[ -f "$msi" ] || { echo "FAIL: no $msi: run scripts/package.sh" >&2; exit 1; }
work=$(mktemp -d) failed=0
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" # no menu entries on the host
trap 'wineserver -k 2>/dev/null; kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; failed=$((failed + 1)); }
for v in 0.0.1 "$version"; do  # an older version and another build of this one
  cmake -DVALDRIX_MSI_ZIP="${msi%.msi}.zip" -DVALDRIX_MSI_VERSION="$v" -DVALDRIX_MSI_OUT="$work/$v.msi" \
    -DVALDRIX_MSI_WXS="$(realpath "$2")/valdrix-configurator.wxs" -P "$(dirname "$0")/../../cmake/msi.cmake" || exit 1
done
mkdir "$work/zip" && (cd "$work/zip" && unzip -q "${msi%.msi}.zip")

wine64=/usr/lib/wine/wine64
msiexec() { "$wine64" msiexec "$@" /qn /l*v "$work/msiexec.log"; }
# Files; registry (saved as the server stops) one line per key, per value with its key; a PATH
# without the separator Wine leaves where it removed a part.
snapshot() {
  wineserver -w
  (cd "$WINEPREFIX" && find drive_c -path '*/Temp/*' -prune -o -print | sort &&
    awk '/^\[/ { sub(/\] [0-9]+$/, "]"); key = $0; print; next } /^"PATH"=/ { sub(/;"$/, "\"") }
      !/^#/ && NF { print key, $0 }' \
      system.reg user.reg userdef.reg) >"$work/$1"
}
entries() {  # each Apps entry of ours: version, publisher
  awk -F'"' '/^\[/ { ours = /\\Uninstall\\/ } ours && /^"DisplayName"=/ { ours = $4 == "Valdrix Configurator" }
    ours && /^"(DisplayVersion|Publisher)"=/ { printf "%s%s", $4, ($2 == "Publisher" ? "\n" : ", ") }' \
    "$WINEPREFIX/system.reg"
}
"$wine64" wineboot -i >/dev/null 2>&1 || { echo "FAIL: wineboot" >&2; exit 1; }
snapshot before

msiexec /i "$work/0.0.1.msi" || fail "installing 0.0.1: msiexec $?"
msiexec /i "$work/$version.msi" || fail "installing a build of $version over 0.0.1: msiexec $?"
msiexec /i "$msi" ADDLOCAL=ALL || fail "installing $version over another build, with PATH: msiexec $?"
snapshot installed
[ "$(entries)" = "$version, Valdrix Configurator developers" ] || fail "the Apps entries: $(entries)"
dir="$WINEPREFIX/drive_c/Program Files (x86)/Valdrix Configurator"
diff -r "$work/zip" "$dir" || fail "the installed files are not the zip's"
grep -q '^"PATH"=str(2):".*;C:\\\\Program Files (x86)\\\\Valdrix Configurator\\\\"$' "$WINEPREFIX/system.reg" ||
  fail "PATH: $(grep '^"PATH"=' "$WINEPREFIX/system.reg")"
link=$(find "$WINEPREFIX/drive_c" -name "Valdrix Configurator.lnk")
[ "$(wc -l <<<"$link")" = 1 ] && tr -d '\0' <"$link" | grep -qF 'Valdrix Configurator\valdrixconfig.exe' ||
  fail "the Start-menu entry: '$link'"

# On a server kept running: COM3 linked after Wine's services linked the host's serial ports.
wineserver -p
"$wine64" cmd /c ver >/dev/null 2>&1
"$sim" --link "$WINEPREFIX/dosdevices/com3" --rate 38400 --address 7 --base 20 --count 5 >"$work/sim" &
for _ in $(seq 100); do [ -s "$work/sim" ] && break; sleep 0.1; done  # its terminal, once linked
(cd "$dir" && timeout 60 "$wine64" "$console" --json show COM3 >"$work/shown" 2>&1)
[ "$(tr -d '\r' <"$work/shown")" = \
  '{"port":"COM3","rate":38400,"version":"1.02","address":7,"base":20,"modules16":2,"modules8":1}' ] ||
  fail "the installed valdrix-config.exe: $(cat "$work/shown")"
msiexec /i "$work/0.0.1.msi" && fail "0.0.1 went over $version"
msiexec /x "$msi" || fail "uninstalling: msiexec $?"
wineserver -k
snapshot after
# Not ours: the devices Wine enumerates anew, the Windows Installer's own empty folder and keys.
left=$(diff "$work/before" "$work/after" | grep '^[<>]' | grep -vE '\\\\(Enum|Class|NetworkCards)(\\\\|\])' |
  grep -vE '^> (drive_c/windows/Installer|\[[^]{]*\])$')
[ -z "$left" ] || fail "uninstalling left or took:
$left"
[ "$failed" = 0 ] || { echo "FAIL: $failed checks failed" >&2; exit 1; }
echo "ok: the installer of $version (over 0.0.1, refusing it after, uninstalled)"
