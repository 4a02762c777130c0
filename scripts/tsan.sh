#!/usr/bin/env bash
# Builds the model test with ThreadSanitizer and runs several contexts over
# one network at once, one thread each, while two more threads create and
# destroy contexts over the same network. Any report fails the run.
#   bash scripts/tsan.sh [THREADS] [OPERATIONS]     (default 4 and 3000)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQEL_BUILD_EXAMPLES=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=thread -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
  -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build build-tsan -j2 --target model_test
TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
  build-tsan/tests/model/model_test --threads "${1:-4}" --ops "${2:-3000}"
