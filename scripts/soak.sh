#!/usr/bin/env bash
# Ten million assert, update and retract cycles (by default) through rules of
# every join kind; fails when the resident size at the end exceeds the one
# after the first 100,000 cycles by more than 5%.
#   bash scripts/soak.sh [CYCLES]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-soak -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-soak -j2 --target model_test
build-soak/tests/model/model_test --soak "${1:-10000000}"
