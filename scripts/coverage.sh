#!/usr/bin/env bash
# Line and branch coverage of the library (context, network, memory, join,
# util) by the whole test suite, with gcov and gcovr.
#   bash scripts/coverage.sh        report in build-h6-cov/coverage.txt
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
command -v gcovr >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq gcovr
}
cmake -S . -B build-h6-cov -DCMAKE_BUILD_TYPE=Debug -DQEL_BUILD_EXAMPLES=OFF \
  -DCMAKE_CXX_FLAGS="--coverage -O0" \
  -DCMAKE_EXE_LINKER_FLAGS="--coverage" \
  -DCMAKE_SHARED_LINKER_FLAGS="--coverage" >/dev/null
find build-h6-cov -name '*.gcda' -delete
cmake --build build-h6-cov -j2
(cd build-h6-cov && ctest -j2 --output-on-failure >/dev/null)
filter='(context|join|memory|network|util)/'
gcovr -r . --object-directory build-h6-cov --filter "$filter" \
  --exclude-unreachable-branches --exclude-throw-branches \
  --txt build-h6-cov/coverage.txt --print-summary
gcovr -r . --object-directory build-h6-cov --filter "$filter" \
  --exclude-unreachable-branches --exclude-throw-branches --branches \
  --txt build-h6-cov/branches.txt >/dev/null
echo "per file: build-h6-cov/coverage.txt, branches: build-h6-cov/branches.txt"
