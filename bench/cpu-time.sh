#!/bin/sh
# Miss Manners in CPU time: the library example and CLIPS run in turn on
# the same data, RUNS times each, and the medians are printed of
#   - the whole process, from `perf stat -e task-clock`;
#   - the engine alone: the CPU time from loading the data to the end of
#     the run, as each engine reports it (the example's --time, CLIPS's
#     (time) around load-facts and run). It leaves out process start and,
#     for CLIPS, the parsing of its ruleset; the library's figure still
#     includes building the network and tearing the context down.
# Interleaving the runs lets both engines see the same load on a shared
# machine, which wall-clock medians taken one engine after the other do
# not.
#
# Both orders of find_seating are run: "count-first" (manners.clp, the
# example's default) and "usual" (manners-usual.clp, the example's
# --usual); ORDERS="usual" (say) runs one.
#
# Usage: bench/cpu-time.sh [BINDIR] [RUNS] [SIZES] [BASELINE]
#   BINDIR    where qel_manners and qel_manners_generate were built
#             (default build-m/examples/manners)
#   RUNS      runs of each program per size (default 11)
#   SIZES     guest counts (default "64 128 256")
#   BASELINE  another qel_manners to run in the same rotation, for
#             comparing two builds of the library (optional)
# Installs clips, perf and bc with apt when they are missing.
set -e
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:-$here/../build-m/examples/manners}
runs=${2:-11}
sizes=${3:-"64 128 256"}
baseline=$4
if ! command -v clips >/dev/null || ! command -v perf >/dev/null ||
   ! command -v bc >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clips linux-perf bc >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# cpu NAME COMMAND...: appends the CPU milliseconds of one run to
# $work/NAME and the engine's own figure to $work/NAME.engine.
cpu() {
  name=$1
  shift
  perf stat -x, -o "$work/stat" -e task-clock "$@" > "$work/out" 2> "$work/err"
  awk -F, '/task-clock/ { print $1 }' "$work/stat" >> "$work/$name"
  cat "$work/out" "$work/err" |
    awk '/^engine cpu ms/ { print $4 }' >> "$work/$name.engine"
}
. "$here/median.sh"

printf '%11s %6s %10s %10s %10s %9s %12s %12s %9s\n' order guests qel-ms \
  baseline-ms clips-ms clips/qel qel-engine clips-engine clips/qel
for order in ${ORDERS:-count-first usual}; do
flag=
[ "$order" = usual ] && flag=--usual
for n in $sizes; do
  sh "$here/clips/prepare.sh" $flag "$bin/qel_manners_generate" "$n" "$work"
  rm -f "$work"/qel* "$work"/base* "$work"/clips*
  i=0
  while [ "$i" -lt "$runs" ]; do
    cpu qel "$bin/qel_manners" $flag --time "$work/data"
    if [ -n "$baseline" ]; then cpu base "$baseline" $flag "$work/data"; fi
    cpu clips clips -f2 "$work/run.bat"
    i=$((i + 1))
  done
  q=$(median "$work/qel")
  c=$(median "$work/clips")
  qe=$(median "$work/qel.engine")
  ce=$(median "$work/clips.engine")
  b=-
  if [ -n "$baseline" ]; then b=$(printf '%.1f' "$(median "$work/base")"); fi
  printf '%11s %6s %10.1f %10s %10.1f %9.2f %12.2f %12.2f %9.2f\n' "$order" "$n" \
    "$q" "$b" "$c" "$(echo "$c / $q" | bc -l)" "$qe" "$ce" "$(echo "$ce / $qe" | bc -l)"
done
done
