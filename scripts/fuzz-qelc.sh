#!/usr/bin/env bash
# Fuzzes qelc's passes (parser, model, plan, emitter) with libFuzzer, under
# AddressSanitizer and UndefinedBehaviorSanitizer: any text must give
# generated code or an error value, never a crash.
#   bash scripts/fuzz-qelc.sh [SECONDS]      (default 600)
# The corpus stays in build-fuzz-qelc/corpus, seeded with the conformance
# programs and the Manners rulesets; a crash is written there as crash-*
# and replays with build-fuzz-qelc/fuzz_parser FILE.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang libclang-rt-dev >/dev/null 2>&1 ||
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang
fi
out=build-fuzz-qelc
mkdir -p "$out/corpus"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -fno-omit-frame-pointer -Icompiler \
  compiler/lexer.cpp compiler/parser.cpp compiler/model.cpp compiler/plan.cpp compiler/emit.cpp \
  compiler/tests/fuzz_parser.cpp -o "$out/fuzz_parser"
if [ -z "$(ls -A "$out/corpus")" ]; then
  cp compiler/conformance/programs/*.clp compiler/conformance/errors/*.clp \
    bench/clips/manners.clp bench/clips/manners-usual.clp "$out/corpus/"
  for name in zebra wordgame; do
    example=/usr/share/doc/clips-common/examples/$name.clp.gz
    [ -f "$example" ] && gunzip -c "$example" >"$out/corpus/$name.clp"
  done
fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
"$out/fuzz_parser" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
  -dict=compiler/tests/fuzz_parser.dict -artifact_prefix="$out/" "$out/corpus"
