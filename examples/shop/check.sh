#!/bin/sh
# Runs the README's sample and checks two things: it prints what the README
# says it prints, and the README quotes the file as it stands.
#   check.sh QEL_SHOP SHOP_CPP README
set -e
out=$("$1")
[ "$out" = "review order 2 (amount 250)" ] || { echo "unexpected output: $out"; exit 1; }
quoted=$(sed -n '/^```cpp$/,/^```$/p' "$3" | sed '1d;$d')
[ "$quoted" = "$(cat "$2")" ] || { echo "README.md does not quote $2 as it stands"; exit 1; }
