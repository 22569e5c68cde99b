#!/usr/bin/env bash
# README.md shows the settings and the troubleshooting in the words of packaging/settings.txt and
# packaging/troubleshooting.txt, which the man pages and the Windows README.txt are made from.
# This copies each text into its block of README.md, between "<!-- from packaging/NAME.txt -->"
# and "<!-- end -->". With --check it changes nothing and fails when a block differs.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(python3 - <<'PY'
import re
readme = open("README.md").read()
def block(m):
    return m.group(1) + "\n" + open("packaging/%s.txt" % m.group(2)).read() + m.group(3)
print(re.sub(r"(<!-- from packaging/(\w+)\.txt -->)\n.*?(<!-- end -->)", block, readme,
             flags=re.S), end="")
PY
)
if [ "${1:-}" = --check ]; then
  if [ "$out" != "$(cat README.md)" ]; then
    echo "README.md differs from packaging/*.txt: run scripts/sync-docs.sh" >&2
    exit 1
  fi
  exit 0
fi
printf '%s\n' "$out" > README.md
