#!/usr/bin/env bash
# Fuzzes the operation interpreter of the model test with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer: every input is a ruleset
# choice and an operation sequence checked against the oracle.
#   bash scripts/fuzz.sh [SECONDS]      (default 600)
# The corpus stays in build-fuzz/corpus; a crash or mismatch is written
# there as crash-* and replays with build-fuzz/fuzz_ops FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev >/dev/null 2>&1 ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang
fi
out=build-fuzz
mkdir -p "$out/corpus"
sources=$(ls context/*.cpp network/*.cpp memory/*.cpp join/*.cpp util/*.cpp)
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -fno-omit-frame-pointer \
  -Iinclude -I. -Itests $sources tests/model/model.cpp tests/model/generate.cpp \
  tests/model/fuzz_ops.cpp -o "$out/fuzz_ops"
# A few random starting inputs of full length, so that long operation
# sequences are tried from the start.
if [ -z "$(ls -A "$out/corpus")" ]; then
  for i in 1 2 3 4 5 6 7 8; do
    head -c 400 /dev/urandom >"$out/corpus/seed$i"
  done
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$out/fuzz_ops" -max_total_time="$seconds" -max_len=512 -len_control=0 -print_final_stats=1 \
  -artifact_prefix="$out/" "$out/corpus"
