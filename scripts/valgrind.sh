#!/usr/bin/env bash
# Runs every unit test and the model test under valgrind memcheck, in a
# Debug build without sanitizers. Fails on any error or any definitely,
# indirectly or possibly lost block.
#   bash scripts/valgrind.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
command -v valgrind >/dev/null || {
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq valgrind
}
cmake -S . -B build-vg -DCMAKE_BUILD_TYPE=Debug >/dev/null
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
for t in build-vg/tests/test_* build-vg/tests/qel_interface_test; do
  [ -x "$t" ] && run "$t"
done
run build-vg/tests/model/model_test --seeds 60 --ops 150
run build-vg/tests/model/model_test --threads 2 --ops 300
[ $failed -eq 0 ] && echo "valgrind: no errors, no leaks"
exit $failed
