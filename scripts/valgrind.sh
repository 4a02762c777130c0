#!/usr/bin/env bash
# Runs every unit test, the lifecycle programs and the model test under
# valgrind memcheck, in a Debug build without sanitizers. Fails on any
# error or any definitely, indirectly or possibly lost block. Then checks
# that the checkers see the blocks of the allocator that ships: a planted
# use after free and a planted leak of a block (tests/lifecycle/planted.cpp)
# must be reported by valgrind, and by AddressSanitizer in build-asan (the
# build of .ci/run; only that program is built there).
#   bash scripts/valgrind.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build-vg -DCMAKE_BUILD_TYPE=Debug >/dev/null
grep -q '^QEL_HAVE_VALGRIND:INTERNAL=1' build-vg/CMakeCache.txt || {
  echo "valgrind/memcheck.h not found: the block cache would be invisible to valgrind"
  exit 1
}
cmake --build build-vg -j2
# nouserintercepts: a test program that replaces the global operator new and
# delete keeps its own (they allocate with malloc, which is still watched).
vg=(valgrind -q --error-exitcode=99 --leak-check=full
    --soname-synonyms=somalloc=nouserintercepts
    --show-leak-kinds=definite,indirect,possible
    --errors-for-leak-kinds=definite,indirect,possible)
failed=0
run() {
  local log
  log=$(mktemp)
  if "${vg[@]}" "$@" >"$log" 2>&1; then
    echo "clean: $*"
  else
    echo "FAILED: $*"
    tail -40 "$log"
    failed=1
  fi
  rm -f "$log"
}
# expect NAME PATTERN COMMAND...: COMMAND must fail and print PATTERN.
expect() {
  local name=$1 pattern=$2 log
  shift 2
  log=$(mktemp)
  if "$@" >"$log" 2>&1; then
    echo "NOT REPORTED: $name"
    failed=1
  elif grep -q "$pattern" "$log"; then
    echo "reported: $name"
  else
    echo "NOT REPORTED as '$pattern': $name"
    tail -20 "$log"
    failed=1
  fi
  rm -f "$log"
}
planted=build-vg/tests/lifecycle/qel_planted
run "$planted" clean
expect "valgrind, use after free of a block" "Invalid read" "${vg[@]}" "$planted" use-after-free
expect "valgrind, leaked block" "40 bytes in 1 blocks are definitely lost" "${vg[@]}" "$planted" leak

if [ ! -f build-asan/CMakeCache.txt ]; then
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
fi
cmake --build build-asan --target qel_planted -j2 >/dev/null
planted=build-asan/tests/lifecycle/qel_planted
export ASAN_OPTIONS=detect_leaks=1
if "$planted" clean >/dev/null 2>&1; then echo "clean: ASan $planted clean"; else
  echo "FAILED: ASan $planted clean"; failed=1; fi
expect "ASan, use after free of a block" "use-after-poison" "$planted" use-after-free
expect "ASan, leaked block" "1 block(s) never freed" "$planted" leak

for t in build-vg/tests/lifecycle/test_global_context_* build-vg/tests/test_* \
         build-vg/tests/qel_interface_test; do
  [ -x "$t" ] && run "$t"
done
run build-vg/tests/lifecycle/test_dlopen build-vg/libqel.so \
  build-vg/tests/lifecycle/libqel_test_plugin.so
run build-vg/tests/model/model_test --seeds 60 --ops 150
run build-vg/tests/model/model_test --threads 2 --ops 300

[ $failed -eq 0 ] && echo "valgrind: no errors, no leaks; planted faults reported"
exit $failed
