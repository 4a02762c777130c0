#!/bin/sh
# Generates a data file, runs manners keyed and unkeyed with find_seating
# in both orders, checks every seating and that the checker rejects broken
# ones.
# Usage: run_test.sh GENERATE MANNERS CHECK N WORKDIR
set -e
gen=$1 manners=$2 check=$3 n=$4 dir=$5
mkdir -p "$dir"
"$gen" "$n" > "$dir/guests$n.dat"
for mode in keyed unkeyed usual usual-unkeyed; do
  flags=
  case $mode in *unkeyed) flags=--unkeyed ;; esac
  case $mode in usual*) flags="$flags --usual" ;; esac
  "$manners" $flags "$dir/guests$n.dat" > "$dir/out$n.$mode"
  grep -q '^rules fired [0-9]' "$dir/out$n.$mode"
  "$check" "$dir/guests$n.dat" "$dir/out$n.$mode"
done
# Keyed and unkeyed networks must do the same work, in either order.
fired() { grep '^rules fired' "$dir/out$n.$1"; }
[ "$(fired keyed)" = "$(fired unkeyed)" ]
[ "$(fired usual)" = "$(fired usual-unkeyed)" ]
# The parenthesised slot form, with comments and blank lines, read from
# stdin, must give the same output.
awk 'BEGIN { print "; slot form"; print "" }
     $1 == "guest" { printf "(guest (name %s) (sex %s) (hobby %s))\n", $2, $3, $4 }
     $1 == "last_seat" { printf "(last_seat (seat %s))\n", $2 }' \
  "$dir/guests$n.dat" > "$dir/slots$n.dat"
"$manners" < "$dir/slots$n.dat" > "$dir/out$n.slots"
cmp "$dir/out$n.keyed" "$dir/out$n.slots"
# The checker must reject broken seatings: the first two guests swapped
# (seats 2 and 3 then hold the same sex) and a guest seated twice.
out="$dir/out$n.keyed"
first=$(awk '$1 == "seat" && $2 == 1 { print $3 }' "$out")
second=$(awk '$1 == "seat" && $2 == 2 { print $3 }' "$out")
awk -v a="$first" -v b="$second" '$1 == "seat" && $2 == 1 { $3 = b }
  $1 == "seat" && $2 == 2 { $3 = a } { print }' "$out" > "$dir/swapped$n"
if "$check" "$dir/guests$n.dat" "$dir/swapped$n" 2>/dev/null; then exit 1; fi
awk -v a="$first" '$1 == "seat" && $2 == 3 { $3 = a } { print }' "$out" > "$dir/twice$n"
if "$check" "$dir/guests$n.dat" "$dir/twice$n" 2>/dev/null; then exit 1; fi
exit 0
