#!/bin/sh
# The reason words of valdrix-config's --json failures, from the table the program is built from
# (cli/reasons.def), as a help2man include section of its man page.
# Usage: reasons-to-man.sh cli/reasons.def > reasons.h2m
set -eu
cat <<'TEXT'
[JSON failures]
With
.BR \-\-json ,
a failure is an object with
.BR error ,
.B reason
and, when it concerns a port,
.BR port .
The reasons:
TEXT
sed -n 's/^VALDRIX_REASON([A-Za-z]*, "\([a-z-]*\)", "\(.*\)")$/.TP\n.B \1\n\2/p' "$1" |
  sed 's/-/\\-/g'
