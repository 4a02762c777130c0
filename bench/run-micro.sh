#!/bin/sh
# Configures a Release build with the benchmarks in its own folder, builds
# the microbenchmark binary and runs it; arguments go to the benchmark
# (for example --benchmark_filter=Agenda).
# Environment: QEL_BENCH_BUILD (default build-bench), JOBS (default 2).
set -e
root=$(cd "$(dirname "$0")/.." && pwd)
build=${QEL_BENCH_BUILD:-$root/build-bench}
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DQEL_BUILD_BENCH=ON \
  -DQEL_BUILD_TESTS=OFF -DQEL_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$build" --target qel_micro -j "${JOBS:-2}" >/dev/null
exec "$build/bench/qel_micro" "$@"
