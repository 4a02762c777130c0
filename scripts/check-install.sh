#!/usr/bin/env bash
# Installs the library into a temporary prefix and builds a program against
# it twice: with find_package(qel) and with pkg-config.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
cmake -S tests/install -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
out=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer/consumer")
[ "$(head -n1 <<<"$out")" = "Ruleset: installed" ]
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs qel)
# shellcheck disable=SC2086
g++ -std=c++17 tests/install/main.cpp $flags -o "$prefix/pc-consumer"
out=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/pc-consumer")
[ "$(head -n1 <<<"$out")" = "Ruleset: installed" ]
echo "install check passed: find_package and pkg-config"
