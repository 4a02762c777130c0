#!/bin/sh
# Miss Manners in CPU time: the library example and CLIPS run in turn on
# the same data, RUNS times each, and the medians of `perf stat -e
# task-clock` are printed. Interleaving the runs lets both engines see the
# same load on a shared machine, which wall-clock medians taken one engine
# after the other do not.
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

# cpu NAME COMMAND...: appends the CPU milliseconds of one run to $work/NAME.
cpu() {
  name=$1
  shift
  perf stat -x, -e task-clock "$@" 2>&1 >/dev/null |
    awk -F, '/task-clock/ { print $1 }' >> "$work/$name"
}
median() {
  sort -g "$1" | awk '{ v[NR] = $1 } END {
    if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

printf '%6s %10s %10s %10s %9s\n' guests qel-ms baseline-ms clips-ms clips/qel
for n in $sizes; do
  sh "$here/clips/prepare.sh" "$bin/qel_manners_generate" "$n" "$work"
  rm -f "$work/qel" "$work/base" "$work/clips"
  i=0
  while [ "$i" -lt "$runs" ]; do
    cpu qel "$bin/qel_manners" "$work/data"
    if [ -n "$baseline" ]; then cpu base "$baseline" "$work/data"; fi
    cpu clips clips -f2 "$work/run.bat"
    i=$((i + 1))
  done
  q=$(median "$work/qel")
  c=$(median "$work/clips")
  b=-
  if [ -n "$baseline" ]; then b=$(printf '%.1f' "$(median "$work/base")"); fi
  printf '%6s %10.1f %10s %10.1f %9.2f\n' "$n" "$q" "$b" "$c" \
    "$(echo "$c / $q" | bc -l)"
done
