#!/usr/bin/env bash
# Installs what building and testing need, when it is missing. valgrind
# also brings valgrind/valgrind.h, with which the block cache tells
# valgrind about every block.
set -euo pipefail
need=()
command -v cmake >/dev/null || need+=(cmake)
command -v g++ >/dev/null || need+=(g++)
command -v pkg-config >/dev/null || need+=(pkg-config)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
{ command -v valgrind >/dev/null && [ -f /usr/include/valgrind/memcheck.h ]; } || need+=(valgrind)
if [ ${#need[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}"
fi
