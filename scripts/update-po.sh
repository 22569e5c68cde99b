#!/usr/bin/env bash
# Makes po/valdrix.pot, the template of the catalogues, from the sources (the texts marked N_ or
# T_), the dialog template's labels, the launcher and the metainfo; then brings each po/<lang>.po
# up to date with it (new texts come in untranslated, never fuzzy). --check: only says whether
# po/valdrix.pot is up to date (exit status 1 if not).
# Usage: scripts/update-po.sh [--check]
set -euo pipefail
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The dialog's labels and buttons, as C for xgettext; the caption carries the version and stays.
sed -n 's/^ *CONTROL \("[^"]\+"\), .*/N_(\1);/p' ui/resources/valdrixconfig.rc.in >"$work/dialog.c"
git ls-files -- '*.cpp' '*.h' ':!tests' ':!bench' | sort >"$work/sources"
common=(--from-code=UTF-8 --no-location --sort-output --package-name=valdrix --msgid-bugs-address=https://valdrix.example.org/
        --foreign-user)
xgettext "${common[@]}" -C --keyword=N_ --keyword=T_ -f "$work/sources" -o "$work/code.pot"
xgettext "${common[@]}" -C --keyword=N_ "$work/dialog.c" -o "$work/dialog.pot"
xgettext "${common[@]}" packaging/valdrix-configurator.desktop \
  packaging/valdrix-configurator.metainfo.xml.in -o "$work/packaging.pot"
msgcat --no-location --sort-output "$work/code.pot" "$work/dialog.pot" "$work/packaging.pot" \
  -o "$work/valdrix.pot"
# The creation date alone does not make the template out of date.
same() { diff -q <(grep -v POT-Creation-Date "$1") <(grep -v POT-Creation-Date "$2") >/dev/null; }
if [ "${1:-}" = --check ]; then
  same "$work/valdrix.pot" po/valdrix.pot || { echo "po/valdrix.pot is out of date: run scripts/update-po.sh" >&2; exit 1; }
  exit 0
fi
[ -f po/valdrix.pot ] && same "$work/valdrix.pot" po/valdrix.pot || cp "$work/valdrix.pot" po/valdrix.pot
for po in po/??.po; do
  [ -f "$po" ] || continue
  msgmerge --quiet --update --backup=none --no-fuzzy-matching --no-location --sort-output "$po" po/valdrix.pot
done
