#!/bin/sh
# Instructions per object of microbenchmarks, from callgrind: one iteration
# of each BENCH/N, counting only inside QelContext::assertObject and
# retractObject (or the functions TOGGLES names, space-separated callgrind
# patterns), divided by the benchmark's object count N. Exact and
# repeatable where wall times on a shared machine are not.
#
# Usage: bench/callgrind-micro.sh "BENCH..." "N..."
#   e.g. bench/callgrind-micro.sh "BM_EqualityJoin_Keyed" "1000 1000000"
# Builds build-bench/bench/qel_micro through run-micro.sh's configuration
# when missing. Installs valgrind with apt when it is missing.
set -ef  # no globbing: the toggles are callgrind patterns
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QEL_BENCH_BUILD:-$root/build-bench}
benches=$1
sizes=$2
if ! command -v valgrind >/dev/null; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind >/dev/null
fi
if [ ! -x "$build/bench/qel_micro" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_BENCH=ON \
    -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_EXAMPLES=OFF >/dev/null
  cmake --build "$build" --target qel_micro -j2 >/dev/null
fi
out=$(mktemp)
trap 'rm -f "$out"' EXIT
printf '%-45s %10s %14s\n' benchmark objects instr/object
for b in $benches; do
  for n in $sizes; do
    set --
    for t in ${TOGGLES:-QelContext::assertObject* QelContext::retractObject*}; do
      set -- "$@" "--toggle-collect=$t"
    done
    valgrind --tool=callgrind --callgrind-out-file="$out" "$@" \
      "$build/bench/qel_micro" --benchmark_filter="^$b/$n\$" \
      --benchmark_min_time=0 >/dev/null 2>&1
    total=$(callgrind_annotate "$out" 2>/dev/null |
      awk '/PROGRAM TOTALS/ { gsub(",", "", $1); print $1; exit }')
    printf '%-45s %10s %14.0f\n' "$b" "$n" "$(echo "$total / $n" | bc -l)"
  done
done
