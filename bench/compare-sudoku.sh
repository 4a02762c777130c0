#!/bin/sh
# The Sudoku solver of clips-common's examples on qelc and on CLIPS, run in
# turn RUNS times each, with the medians of
#   - the whole process, from `perf stat -e task-clock` (for qelc: the
#     compiler's cache look-up and the generated program, whose build is
#     cached by a first run that is not timed);
#   - the engine alone: CPU time from (reset) to the end of (run), as each
#     engine reports it (the generated program's "run cpu ms" with --stats,
#     CLIPS's (time) around (reset) and (run)). The puzzle is a rule that
#     asserts the grid, so this covers all of the solving;
#   - the peak resident memory, from /usr/bin/time (for qelc, the largest
#     of the compiler and the program it runs).
# Interleaving lets both engines see the same load on a shared machine.
#
# The puzzles are runbench.bat's two runs, grid3x3-p17 ("p17") and the
# same with the stress-test fact ("p17-stress"), and the slowest puzzles
# for CLIPS, all with output-none.clp as runbench.bat loads it. The stress
# test comes from compiler/conformance/sudoku/stress-test.clp, a deffacts
# loaded after the puzzle: CLIPS gives it the same output and rules fired
# as runbench.bat's (reset) (assert (stress-test)) (run).
#
# Where qelc fails on a puzzle, the script says so once, prints "-" in its
# columns and goes on with CLIPS.
#
# Usage: bench/compare-sudoku.sh [QELC] [RUNS] [PUZZLES]
#   QELC     the compiler (default build/compiler/qelc; build it in
#            Release with LTO for figures worth recording)
#   RUNS     runs of each engine per puzzle (default 5)
#   PUZZLES  default "p17 p17-stress grid3x3-p18 grid4x4-p9 grid4x4-p17
#            grid4x4-p10 grid5x5-p6"
# Installs clips, clips-common, perf, time and bc with apt when missing.
set -u
here=$(cd "$(dirname "$0")" && pwd)
qelc=${1:-$here/../build/compiler/qelc}
runs=${2:-5}
puzzles=${3:-"p17 p17-stress grid3x3-p18 grid4x4-p9 grid4x4-p17 grid4x4-p10 grid5x5-p6"}
examples=${CLIPS_EXAMPLES:-/usr/share/doc/clips-common/examples}/sudoku
stress=$here/../compiler/conformance/sudoku/stress-test.clp
if ! command -v clips >/dev/null || ! command -v perf >/dev/null ||
   [ ! -x /usr/bin/time ] || ! command -v bc >/dev/null || [ ! -d "$examples" ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clips clips-common \
    linux-perf time bc >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# unpack FILE: copies FILE, or FILE.gz uncompressed, into $work.
unpack() {
  if [ -f "$examples/$1" ]; then cp "$examples/$1" "$work/$(basename "$1")"
  else gunzip -c "$examples/$1.gz" > "$work/$(basename "$1")"
  fi
}
for f in sudoku.clp solve.clp output-none.clp; do unpack "$f" || exit 1; done

# files PUZZLE: the files both engines load for PUZZLE, in order.
files() {
  case $1 in
    p17) set -- grid3x3-p17 ;;
    p17-stress) set -- grid3x3-p17 "$stress" ;;
  esac
  [ -f "$work/$1.clp" ] || unpack "puzzles/$1.clp" || return 1
  echo "$work/sudoku.clp $work/solve.clp $work/output-none.clp $work/$1.clp ${2:-}"
}

# batch FILE...: CLIPS's batch file, which reports the engine's CPU time.
batch() {
  for f in "$@"; do printf '(load* "%s")\n' "$f"; done
  echo '(defglobal ?*start* = 0.0)'
  echo '(bind ?*start* (time))'
  echo '(reset)'
  echo '(watch statistics)'
  echo '(run)'
  echo '(printout t crlf "engine cpu ms " (* 1000 (- (time) ?*start*)) crlf)'
  echo '(exit)'
}

# measure NAME COMMAND...: one run; appends the process's CPU ms to
# $work/NAME, the engine's to NAME.engine, the peak KB to NAME.kb and the
# rules fired to NAME.fired. Fails when the command does.
measure() {
  name=$1
  shift
  perf stat -x, -o "$work/stat" -e task-clock \
    /usr/bin/time -f %M -o "$work/kb" "$@" > "$work/out" 2> "$work/err" || return 1
  awk -F, '/task-clock/ { print $1 }' "$work/stat" >> "$work/$name"
  cat "$work/kb" >> "$work/$name.kb"
  cat "$work/out" "$work/err" | awk '/^(engine|run) cpu ms / { print $4 }' >> "$work/$name.engine"
  cat "$work/out" "$work/err" |
    sed -n 's/^\([0-9][0-9]*\) rules fired.*/\1/p' | tail -n 1 >> "$work/$name.fired"
}
. "$here/median.sh"
# ratio A B: A / B to two places, or "-" when either is missing.
ratio() {
  case "$1$2" in *-*) echo - ;; *) printf '%.2f' "$(echo "$1 / $2" | bc -l)" ;; esac
}

printf '%-12s %7s %7s %9s %9s %6s %9s %9s %6s %8s %8s\n' puzzle fired-q \
  fired-c qel-ms clips-ms ratio qel-eng clips-eng ratio qel-KB clips-KB
for p in $puzzles; do
  loads=$(files "$p") || { echo "$p: no such puzzle in $examples" >&2; continue; }
  set -- $loads
  batch "$@" > "$work/run.bat"
  rm -f "$work"/qel* "$work"/clips*
  # The first run builds the generated program into qelc's cache.
  qel_ok=1
  if ! "$qelc" run "$@" --stats > "$work/qel.first" 2>&1; then
    echo "$p: qelc fails, CLIPS alone:" >&2
    head -n 5 "$work/qel.first" | sed 's/^/    /' >&2
    qel_ok=
  fi
  i=0
  while [ "$i" -lt "$runs" ]; do
    if [ -n "$qel_ok" ]; then measure qel "$qelc" run "$@" --stats || qel_ok=; fi
    measure clips clips -f2 "$work/run.bat" || echo "$p: CLIPS failed" >&2
    i=$((i + 1))
  done
  for s in "" .engine .kb .fired; do touch "$work/qel$s" "$work/clips$s"; done
  fq=$(median "$work/qel.fired")
  fc=$(median "$work/clips.fired")
  q=$(median "$work/qel") c=$(median "$work/clips")
  qe=$(median "$work/qel.engine") ce=$(median "$work/clips.engine")
  printf '%-12s %7s %7s %9s %9s %6s %9s %9s %6s %8s %8s\n' "$p" "$fq" "$fc" \
    "$q" "$c" "$(ratio "$c" "$q")" "$qe" "$ce" "$(ratio "$ce" "$qe")" \
    "$(median "$work/qel.kb")" "$(median "$work/clips.kb")"
done
