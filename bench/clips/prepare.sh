#!/bin/sh
# Writes one Manners size for both engines into DIR: the library's data
# (DIR/data), the same facts for the peer engine (DIR/data.fct) and its
# batch file (DIR/run.bat), which loads the ruleset and the facts, runs
# and prints the statistics line with the number of rules fired, then the
# CPU time from loading the facts to the end of the run ((time) is the
# process's CPU clock), as the library example's --time does. --usual runs
# manners-usual.clp, find_seating in the order the benchmark is usually
# written, instead of manners.clp.
# Usage: bench/clips/prepare.sh [--usual] GENERATOR GUESTS DIR
set -e
here=$(cd "$(dirname "$0")" && pwd)
rules=manners.clp
if [ "$1" = --usual ]; then
  rules=manners-usual.clp
  shift
fi
"$1" "$2" > "$3/data"
sh "$here/to-facts.sh" "$3/data" > "$3/data.fct"
cat > "$3/run.bat" <<BAT
(load "$here/$rules")
(defglobal ?*start* = 0.0)
(reset)
(bind ?*start* (time))
(load-facts "$3/data.fct")
(watch statistics)
(run)
(printout t "engine cpu ms " (* 1000 (- (time) ?*start*)) crlf)
(exit)
BAT
