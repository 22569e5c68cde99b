#!/bin/sh
# A program's --help rearranged for help2man, so that the man page is made from the program
# itself: its exit statuses get their own section; for valdrix-config every command form from
# "Commands:" becomes the synopsis, and each command's own options (from "valdrix-config COMMAND
# --help") follow the common ones.
# Usage: help-for-man.sh PROGRAM --help|--version
set -eu
prog=$1
shift
[ "${1:-}" = --help ] || exec "$prog" "$@"

main=$("$prog" --help)
# A program without commands: only the exit statuses move, into their own section.
case $main in
  *Subcommands:*) ;;
  *) printf '%s\n' "$main" | sed 's/^Exit status:$/*Exit status*/'; exit ;;
esac
extra=$(printf '%s\n' "$main" | awk '/^Subcommands:/ { f = 1; next } /^$/ { f = 0 } f { print $1 }' |
  while read -r command; do
    "$prog" "$command" --help | awk -v c="$command" '
      /^Options:/ { f = 1; next }
      /^$/ { if (f) after = 1; f = 0; next }
      f && !/--help/ { opts = opts $0 "\n" }
      after { text = text $0 "\n" }
      END { if (opts != "") printf "Options of %s:\n%s\n%s\n", c, opts, text }'
  done)

# Order for the page: synopsis, description, commands, options (common, then each command's),
# exit status.
printf '%s\n' "$main" | awk -v extra="$extra" '
  /^Usage:/ { next }
  /^Commands:/ { forms = 1; next }
  forms && /^ +valdrix-config/ { sub(/^ +/, ""); form[++n] = $0; next }
  forms && /^ +/ { sub(/^ +/, " "); form[n] = form[n] $0; next }
  forms { forms = 0 }
  /^Options:/ { part = "opts" }
  /^Subcommands:/ { part = "cmds"; $0 = "*Commands*" }
  /^Exit status:$/ { part = "exit"; $0 = "*Exit status*" }
  { text[part] = text[part] $0 "\n" }
  END {
    for (i = 1; i <= n; i++) print (i == 1 ? "Usage: " : "  or:  ") form[i]
    printf "\n%s%s%s%s\n\n%s", text[""], text["cmds"], text["opts"], extra, text["exit"]
  }'
