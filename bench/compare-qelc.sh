#!/bin/sh
# Compiled rulesets against CLIPS on the same files: zebra and wordgame
# (clips-common's examples) solved REPEAT times in one process, and Miss
# Manners (bench/clips) in both orders of find_seating. The two engines run
# in turn, RUNS times each, and the medians are printed of
#   - the engine alone: CPU milliseconds after the rules are loaded, as each
#     engine reports them. The compiled program's --stats covers its
#     (reset), the reading of the facts and (run), --repeat times over; for
#     CLIPS, (time) around the same steps in the batch file: for zebra and
#     wordgame a loop of (reset) (run), for Manners load-facts and (run);
#   - the whole process, from `perf stat -e task-clock` (for CLIPS this
#     includes parsing and compiling the ruleset; for qelc the program was
#     compiled beforehand, which is what compiling rules is for);
#   - the peak resident memory, from `/usr/bin/time` (run under perf, whose
#     count then includes the half millisecond of time itself).
# Every run's output is checked against the other engine's.
#
# Usage: bench/compare-qelc.sh [QELC] [LIBDIR] [RUNS] [SIZES] [REPEAT]
#   QELC    the compiler (default build/compiler/qelc)
#   LIBDIR  where libqel.so was built (default: the folder above QELC's)
#   RUNS    runs of each engine per program (default 5)
#   SIZES   Manners guest counts (default "64 128 256 512")
#   REPEAT  solutions of zebra and wordgame per process (default 1000)
# Installs clips, clips-common, perf (linux-perf) and time with apt when
# they are missing.
set -e
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
qelc=${1:-$top/build/compiler/qelc}
libdir=${2:-$(cd "$(dirname "$qelc")/.." && pwd)}
runs=${3:-5}
sizes=${4:-"64 128 256 512"}
repeat=${5:-1000}
examples=/usr/share/doc/clips-common/examples
if ! command -v clips >/dev/null || ! command -v perf >/dev/null ||
   [ ! -x /usr/bin/time ] || [ ! -d "$examples" ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clips clips-common linux-perf time >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# example NAME: the path of an example of clips-common, unpacked if needed.
example() {
  if [ -f "$examples/$1.clp" ]; then
    echo "$examples/$1.clp"
  else
    gunzip -c "$examples/$1.clp.gz" > "$work/$1.clp"
    echo "$work/$1.clp"
  fi
}

# build NAME RULES...: compiles the rules into $work/NAME.qel, as qelc run
# builds them.
build() {
  name=$1
  shift
  "$qelc" compile "$@" -o "$work/$name.cpp"
  c++ -std=c++17 -O2 -I"$top/include" -I"$top/compiler/runtime" "$work/$name.cpp" \
    -L"$libdir" -Wl,-rpath,"$libdir" -lqel -o "$work/$name.qel"
}

# measure ENGINE COMMAND...: one run; appends the whole process's CPU ms
# to $work/ENGINE.cpu, the engine's own to ENGINE.engine, the peak
# resident KiB to ENGINE.rss; keeps its output in $work/ENGINE.out.
measure() {
  engine=$1
  shift
  perf stat -x, -o "$work/stat" -e task-clock \
    /usr/bin/time -f '%M' -o "$work/rss" "$@" > "$work/$engine.raw" 2> "$work/err" || {
    cat "$work/err" >&2
    exit 1
  }
  awk -F, '/task-clock/ { print $1 }' "$work/stat" >> "$work/$engine.cpu"
  tail -n 1 "$work/rss" >> "$work/$engine.rss"
  cat "$work/$engine.raw" "$work/err" |
    awk '/^engine cpu ms / { print $4 } /^run cpu ms / { print $4 }' >> "$work/$engine.engine"
  grep -v '^engine cpu ms ' "$work/$engine.raw" > "$work/$engine.out" || true
}
. "$here/median.sh"

# compare LABEL QELC-COMMAND -- CLIPS-BATCH: RUNS interleaved runs, one row.
compare() {
  label=$1
  program=$2
  batch=$3
  shift 3
  rm -f "$work"/qelc.* "$work"/clips.*
  i=0
  while [ "$i" -lt "$runs" ]; do
    measure qelc "$program" --stats "$@"
    measure clips clips -f2 "$batch"
    if ! cmp -s "$work/qelc.out" "$work/clips.out"; then
      echo "compare-qelc: $label prints differently on the two engines" >&2
      exit 1
    fi
    i=$((i + 1))
  done
  qe=$(median "$work/qelc.engine")
  ce=$(median "$work/clips.engine")
  qp=$(median "$work/qelc.cpu")
  cp=$(median "$work/clips.cpu")
  qm=$(median "$work/qelc.rss")
  cm=$(median "$work/clips.rss")
  printf '%-22s %10.1f %10.1f %7.2f %10.1f %10.1f %7.2f %8.1f %8.1f\n' "$label" \
    "$qe" "$ce" "$(echo "$ce / $qe" | bc -l)" "$qp" "$cp" "$(echo "$cp / $qp" | bc -l)" \
    "$(echo "$qm / 1024" | bc -l)" "$(echo "$cm / 1024" | bc -l)"
}

printf '%-22s %10s %10s %7s %10s %10s %7s %8s %8s\n' program qelc-ms clips-ms ratio \
  qelc-proc clips-proc ratio qelc-MB clips-MB

# zebra and wordgame: REPEAT times (reset) (run) in one process.
for name in zebra wordgame; do
  file=$(example "$name")
  build "$name" "$file"
  cat > "$work/$name.bat" <<BAT
(load* "$file")
(defglobal ?*start* = 0.0)
(bind ?*start* (time))
(loop-for-count $repeat (reset) (run))
(printout t "engine cpu ms " (* 1000 (- (time) ?*start*)) crlf)
(exit)
BAT
  compare "$name x$repeat" "$work/$name.qel" "$work/$name.bat" --repeat "$repeat"
done

# Miss Manners: the data read after the reset, as facts.
for order in count-first usual; do
  rules=$here/clips/manners.clp
  [ "$order" = usual ] && rules=$here/clips/manners-usual.clp
  build "manners-$order" "$rules"
  for n in $sizes; do
    sh "$here/clips/manners-data.sh" "$n" > "$work/data"
    sh "$here/clips/to-facts.sh" "$work/data" > "$work/data-$n.fct"
    cat > "$work/manners.bat" <<BAT
(load* "$rules")
(defglobal ?*start* = 0.0)
(reset)
(bind ?*start* (time))
(load-facts "$work/data-$n.fct")
(run)
(printout t "engine cpu ms " (* 1000 (- (time) ?*start*)) crlf)
(exit)
BAT
    compare "manners-$order $n" "$work/manners-$order.qel" "$work/manners.bat" "$work/data-$n.fct"
  done
done
