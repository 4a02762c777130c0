#!/usr/bin/env bash
# Line and branch coverage of the library (context, network, memory, join,
# util) by the whole test suite, with gcov and gcovr. Counters are updated
# atomically: several tests run threads.
#   bash scripts/coverage.sh        report in build-cov/coverage.txt
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
command -v gcovr >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr
}
cmake -S . -B build-cov -DCMAKE_BUILD_TYPE=Debug -DQEL_BUILD_EXAMPLES=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -O0 -fprofile-update=atomic" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
find build-cov -name '*.gcda' -delete
cmake --build build-cov -j2
(cd build-cov && ctest -j2 --output-on-failure >/dev/null)
filter='(context|join|memory|network|util)/'
gcovr -r . --object-directory build-cov --filter "$filter" \
  --exclude-unreachable-branches --exclude-throw-branches \
  --txt build-cov/coverage.txt --print-summary
gcovr -r . --object-directory build-cov --filter "$filter" \
  --exclude-unreachable-branches --exclude-throw-branches --branches \
  --txt build-cov/branches.txt >/dev/null
echo "per file: build-cov/coverage.txt, branches: build-cov/branches.txt"
