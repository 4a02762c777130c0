#!/usr/bin/env bash
# Builds the library and runs the main example.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target qel_demo
./build/examples/qel_demo
