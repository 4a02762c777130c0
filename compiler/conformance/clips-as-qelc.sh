#!/bin/sh
# CLIPS in the place of qelc, with qelc's command line and output: prints
# what the program prints after (reset) and (run), and with --stats the
# rules fired and the CPU time of the run on stderr. It lets run.sh be
# tried before the compiler exists, and the two engines be compared.
#
# Usage: compiler/conformance/clips-as-qelc.sh run FILE.clp... [--stats]
here=$(cd "$(dirname "$0")" && pwd)
. "$here/clips.sh"
if [ "${1:-}" != run ]; then
  echo "usage: clips-as-qelc.sh run FILE.clp... [--stats]" >&2
  exit 2
fi
shift
stats=
for arg in "$@"; do
  shift
  if [ "$arg" = --stats ]; then stats=1; else set -- "$@" "$arg"; fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
clips_run "$tmp" "$@" || exit 1
cat "$tmp/out"
if [ -n "$stats" ]; then
  echo "$(cat "$tmp/fired") rules fired" >&2
  echo "$(cat "$tmp/cpu") seconds CPU time" >&2
fi
