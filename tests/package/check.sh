#!/usr/bin/env bash
# The packages in dist/ (made by scripts/package.sh) as a user gets them: the .debs of amd64,
# arm64 and armhf (files, control fields, each program's ELF machine, lintian; valdrix-config
# unpacked into a temporary root finding its own valdrix-sim, under qemu-user for ARM); for the
# host's, the man pages and the completion; the window's launcher and
# metainfo as the desktop's validators see them; the zip's programs are the ones
# the Wine tests ran and its README.txt has the exit statuses; the installer's tables (msi.sh
# installs it and runs valdrix-config.exe); the README's shared texts are the packages' (its exit
# statuses: the test cli.docs).
#
# Usage: check.sh <dist dir> <win32 build dir> <version>
set -euo pipefail
dist=$(realpath "$1") win32=$(realpath "$2") version=$3
declare -A machine=([amd64]=X86-64 [arm64]=AArch64 [armhf]=ARM)  # as readelf names them
host=$(dpkg --print-architecture)
zip=$dist/valdrix-configurator-$version-win32.zip

# shellcheck source=tools/wine/lib.sh
source "$(dirname "$(realpath "$0")")/../../tools/wine/lib.sh"
fail() { harness_fail "$@"; }
[ -f "$zip" ] && [ -f "${zip%.zip}.msi" ] ||
  fail "no zip or installer for $version in $dist: run scripts/package.sh"
harness_work_dir
work=$harness_work
trap wine_cleanup EXIT

mkdir "$work/zip" && (cd "$work/zip" && unzip -q "$zip")

(cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
want="-rwxr-xr-x root/root ./usr/bin/valdrix-config
-rwxr-xr-x root/root ./usr/bin/valdrix-sim
-rw-r--r-- root/root ./usr/share/bash-completion/completions/valdrix-config
-rw-r--r-- root/root ./usr/share/doc/valdrix-config/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/valdrix-config/copyright
-rw-r--r-- root/root ./usr/share/locale/de/LC_MESSAGES/valdrix.mo
-rw-r--r-- root/root ./usr/share/locale/fr/LC_MESSAGES/valdrix.mo
-rw-r--r-- root/root ./usr/share/locale/nl/LC_MESSAGES/valdrix.mo
-rw-r--r-- root/root ./usr/share/man/man1/valdrix-config.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/valdrix-sim.1.gz"
gui_files="bin/valdrix-configurator share/applications/valdrix-configurator.desktop share/doc/valdrix-configurator/changelog.gz share/doc/valdrix-configurator/copyright share/icons/hicolor/scalable/apps/valdrix-configurator.svg share/man/man1/valdrix-configurator.1.gz share/metainfo/org.example.valdrix.configurator.metainfo.xml "
field() { dpkg-deb -f "$deb" "$1"; }
show() {  # architecture, its emulator: valdrix-config against its own valdrix-sim's terminal
  "${@:2}" "$work/$1/usr/bin/valdrix-config" --json show "$work/$1/tty" >"$work/$1/shown"
}
# Each architecture's pair; its valdrix-sim at 38400 and the show (under qemu-user, named after
# the machine, for ARM) run while the next pair is read.
debs=() shows=()
for arch in "${!machine[@]}"; do
  deb=$dist/valdrix-config_${version}_$arch.deb gui=$dist/valdrix-configurator_${version}_$arch.deb
  [ -f "$deb" ] && [ -f "$gui" ] || fail "no $arch packages for $version in $dist: run scripts/package.sh"
  debs+=("$deb" "$gui")
  files=$(dpkg-deb -c "$deb" | awk '!/\/$/ { print $1, $2, $6 }')
  [ "$files" = "$want" ] || fail "the $arch .deb holds:
$files"
  [ "$(field Package) $(field Version) $(field Architecture)" = "valdrix-config $version $arch" ] ||
    fail "control: $(field Package) $(field Version) $(field Architecture)"
  for dep in $(field Depends | sed 's/([^)]*)//g; s/,/ /g'); do
    case $dep in libc6 | libgcc-s1 | libstdc++6) ;; *) fail "needless dependency $dep ($arch)" ;; esac
  done
  field Description | grep -q "MIT licence" || fail "the description does not name the licence"
  # The window's package: Qt comes with it alone.
  files=$(dpkg-deb -c "$gui" | awk '!/\/$/ { print $6 }' | sed 's|^./usr/||' | tr '\n' ' ')
  [ "$files" = "$gui_files" ] || fail "the window's $arch .deb holds: $files"
  [[ "$(dpkg-deb -f "$gui" Architecture Depends)" == "Architecture: $arch"*libqt6widgets6* ]] ||
    fail "the window's $arch .deb: $(dpkg-deb -f "$gui" Architecture Depends)"
  mkdir "$work/$arch" && dpkg-deb -x "$deb" "$work/$arch" && dpkg-deb -x "$gui" "$work/$arch"
  machines=$(LC_ALL=C readelf -h "$work/$arch"/usr/bin/* | sed -n 's/^ *Machine: *//p' | sort -u)
  [[ "$(wc -l <<<"$machines") $machines" == "1 "*"${machine[$arch]}" ]] || fail "the $arch programs are for $machines"
  emulator=()
  [ "$arch" = "$host" ] || emulator=("qemu-$(tr '[:upper:]' '[:lower:]' <<<"${machine[$arch]}")")
  harness_start_sim ${emulator:+--under "$emulator"} "$work/$arch/usr/bin/valdrix-sim" "$work/$arch/tty" \
    --rate 38400 --address 7 --base 20 --count 5 --log "$work/$arch/frames"
  harness_spawn show "$arch" "${emulator[@]}"
  shows+=("${harness_pids[-1]}")
done
lintian --fail-on error "${debs[@]}" 2>/dev/null >"$work/lintian" || fail "lintian: $(grep '^E' "$work/lintian")"
# The desktop's validators take the window's launcher and metainfo.
root=$work/$host
desktop-file-validate "$root"/usr/share/applications/*.desktop || fail "desktop-file-validate"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.xml >"$work/appstream" ||
  fail "appstreamcli: $(cat "$work/appstream")"

export PATH=$root/usr/bin:$PATH
[ "$(valdrix-config --version)" = "valdrix-config $version" ] || fail "--version: $(valdrix-config --version)"

[ "$(valdrix-configurator --version)" = "valdrix-configurator $version" ] ||
  fail "--version: $(valdrix-configurator --version)"
for page in valdrix-config valdrix-sim valdrix-configurator; do
  warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 >"$work/$page.txt")
  [ -z "$warnings" ] || fail "man $page: $warnings"
done
grep -q "^ *find" "$work/valdrix-config.txt" && grep -q "^ *not-a-port$" "$work/valdrix-config.txt" ||
  fail "the man page lacks find or the reason words"
source "$root/usr/share/bash-completion/completions/valdrix-config"
offers() { COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _valdrix_config; echo "${COMPREPLY[*]}"; }
[ "$(offers valdrix-config s)" = "show set" ] || fail "completion of 's': $(offers valdrix-config s)"
[ "$(offers valdrix-config list --)" = "--help --json --long" ] || fail "completion after list: $(offers valdrix-config list --)"
[ -z "$(offers valdrix-config set P -- | tr ' ' '\n' | sort | uniq -d)" ] || fail "completion offers twice: $(offers valdrix-config set P --)"

[ "$(cd "$work/zip" && ls | tr '\n' ' ')" = "LICENSE README.txt locale valdrix-config.exe valdrixconfig.exe " ] ||
  fail "the zip holds: $(ls "$work/zip")"
cmp "$work/zip/valdrixconfig.exe" "$win32/ui/valdrixconfig.exe" || fail "valdrixconfig.exe is not the tested one"
cmp "$work/zip/valdrix-config.exe" "$win32/cli/valdrix-config.exe" || fail "valdrix-config.exe is not the tested one"
# The installer's tables: what Apps shows; the upgrade code every release keeps (another would
# install beside the older version instead of replacing it); the refusal's reason; the Start menu.
table() { msiinfo export "${zip%.zip}.msi" "$1" | tr -d '\r' | tail -n +4; }
props=$(table Property | grep -E '^(Manufacturer|ProductName|ProductVersion|UpgradeCode)'$'\t' | tr '\t\n' '= ')
[ "$props" = "Manufacturer=Valdrix Configurator developers ProductName=Valdrix Configurator \
ProductVersion=$version UpgradeCode={70E551BC-28C5-43BB-AFC0-39D550F9AFB9} " ] || fail "the installer: $props"
[[ "$(table LaunchCondition)" == "NOT WIX_DOWNGRADE_DETECTED"$'\t'"A newer version of Valdrix"* ]] ||
  fail "the installer's refusal of a lower version: $(table LaunchCondition)"
[ "$(table Shortcut | cut -f3,5 | tr '\t\n' '= ')" = "Valdrix Configurator=[INSTALLDIR]valdrixconfig.exe \
Valdrix Configurator command line=[SystemFolder]cmd.exe " ] || fail "the installer's shortcuts: $(table Shortcut)"
valdrix-config --help | sed -n '/^Exit status:/,$p' | grep '^ ' | while read -r line; do
  tr -d '\r' <"$work/zip/README.txt" | grep -qF -- "$line" || fail "README.txt lacks the exit status '$line'"
done
# The README shares the settings and the troubleshooting with the man pages and README.txt.
top=$(dirname "$(realpath "$0")")/../..
bash "$top/scripts/sync-docs.sh" --check || fail "README.md's shared texts are out of date"
for doc in "$work/valdrix-config.txt" "$work/valdrix-configurator.txt" "$work/zip/README.txt"; do
  grep -q "count = 2 x (16-bit modules)" "$doc" && grep -q "^ *Remote port unreachable" "$doc" ||
    fail "$(basename "$doc") lacks the settings or the troubleshooting"
done
# What each architecture's valdrix-config printed, and the close frame as the last its simulator got.
for pid in "${shows[@]}"; do wait "$pid" || true; done
sleep 0.2 # for the simulators to log the close frames
for arch in "${!machine[@]}"; do
  [ "$(cat "$work/$arch/shown")" = "{\"port\":\"$work/$arch/tty\",\"rate\":38400,\"version\":\"1.02\",\"address\":7,\"base\":20,\"modules16\":2,\"modules8\":1}" ] ||
    fail "show on $arch printed $(cat "$work/$arch/shown")"
  [[ $(grep '"rx"' "$work/$arch/frames" | tail -1) == *'"hex":"F2 FF 00 0D","rate":38400'* ]] ||
    fail "$arch: the last frame received was not the close frame"
done
echo "ok: the .debs of ${!machine[*]} and the zip of $version"
