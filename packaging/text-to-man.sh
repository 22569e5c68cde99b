#!/bin/sh
# Turns one of the shared user texts (packaging/*.txt) into a help2man include section, so that
# the man pages say what README.md and README.txt say. The text's form: paragraphs separated by
# blank lines; lines indented by four spaces are shown as they are (commands, messages).
# Usage: text-to-man.sh SECTION FILE > FILE.h2m
set -eu
printf '[%s]\n' "$1"
awk '
  function roff(s) {
    gsub(/\\/, "\\e", s)
    gsub(/-/, "\\-", s)
    if (s ~ /^[.\047]/) s = "\\&" s
    return s
  }
  /^    / {
    if (!literal) { if (!text) print ".PP"; print ".RS 4\n.nf"; literal = 1 }
    sub(/^    /, ""); print roff($0); next
  }
  literal { print ".fi\n.RE"; literal = 0 }
  /^$/ { text = 0; next }
  { if (!text) print ".PP"; text = 1; print roff($0) }
  END { if (literal) print ".fi\n.RE" }
' "$2"
