#!/bin/sh
# Every command listed by `wavtool --help` has an entry in the manual page.
#   manpage.sh <wavtool> <wavtool.1>
set -eu
tool=$1 page=$2
commands=$("$tool" --help | sed -n '/^commands:/,/^$/p' | awk 'NF && $1 != "commands:" {print $1}')
[ -n "$commands" ] || { echo "wavtool --help lists no commands"; exit 1; }
missing=0
for c in $commands; do
  # An entry starts as `.BI "<command> " ...` (or `.B <command>`) after a `.TP`.
  if ! grep -Eq "^\.BI? \"?$c( |\"|$)" "$page"; then
    echo "the manual page has no entry for \"$c\""
    missing=1
  fi
done
[ $missing = 0 ] && echo "every command of wavtool --help is in the manual page: $(echo $commands | tr '\n' ' ')"
exit $missing
