#!/bin/sh
# Runs Miss Manners on the library example and on the peer engine for 16 to
# 256 guests, checks every seating, and prints a table of rules fired,
# median wall seconds and median peak resident memory, for both orders of
# find_seating ("count-first" and "usual"; ORDERS="usual" runs one).
#
# Usage: bench/compare-clips.sh [BINDIR] [RUNS] [SIZES]
#   BINDIR  where qel_manners, qel_manners_generate and qel_manners_check
#           were built (default build-m/examples/manners)
#   RUNS    runs per engine and size (default 5)
#   SIZES   guest counts (default "16 32 64 128 256")
# Installs clips, time and bc with apt when they are missing.
set -e
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build-m/examples/manners}
runs=${2:-5}
sizes=${3:-"16 32 64 128 256"}
# The peer engine, the timer and the calculator come from Debian's packages.
if ! command -v clips >/dev/null || [ ! -x /usr/bin/time ] || ! command -v bc >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clips time bc >/dev/null
fi
# The example, built in Release when it is not there yet.
if [ ! -x "$bin/qel_manners" ]; then
  top=$here/..
  cmake -S "$top" -B "$top/build-m" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$top/build-m" -j2 --target qel_manners qel_manners_generate qel_manners_check >/dev/null
  bin=$top/build-m/examples/manners
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# run NAME COMMAND...: runs once, appends "seconds kilobytes" to $work/NAME.
run() {
  name=$1
  shift
  start=$(date +%s.%N)
  /usr/bin/time -v "$@" > "$work/out" 2> "$work/time"
  end=$(date +%s.%N)
  kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time")
  echo "$(echo "$end - $start" | bc -l) $kb" >> "$work/$name"
}
# median FILE COLUMN
. "$here/median.sh"

printf '%11s %6s %10s %10s %10s %10s %11s %11s %7s %9s\n' order guests fired-qel \
  fired-clips qel-s clips-s qel-KB clips-KB speedup unkeyed-s
for order in ${ORDERS:-count-first usual}; do
flag=
[ "$order" = usual ] && flag=--usual
for n in $sizes; do
  sh "$here/clips/prepare.sh" $flag "$bin/qel_manners_generate" "$n" "$work"
  rm -f "$work/qel" "$work/clips" "$work/unkeyed"
  i=0
  while [ $i -lt "$runs" ]; do
    run qel "$bin/qel_manners" $flag "$work/data"
    "$bin/qel_manners_check" "$work/data" "$work/out" > /dev/null
    fq=$(sed -n 's/^rules fired //p' "$work/out")
    run clips clips -f2 "$work/run.bat"
    "$bin/qel_manners_check" "$work/data" "$work/out" > /dev/null
    fc=$(sed -n 's/^\([0-9]*\) rules fired.*/\1/p' "$work/out")
    run unkeyed "$bin/qel_manners" $flag --unkeyed "$work/data"
    "$bin/qel_manners_check" "$work/data" "$work/out" > /dev/null
    i=$((i + 1))
  done
  tq=$(median "$work/qel" 1)
  tc=$(median "$work/clips" 1)
  printf '%11s %6s %10s %10s %10.3f %10.3f %11s %11s %7.2f %9.3f\n' "$order" "$n" \
    "$fq" "$fc" "$tq" "$tc" "$(median "$work/qel" 2)" "$(median "$work/clips" 2)" \
    "$(echo "$tc / $tq" | bc -l)" "$(median "$work/unkeyed" 1)"
done
done
