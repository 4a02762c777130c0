#!/bin/sh
# Checks a rule compiler against CLIPS on the same files. For each program
# it runs `QELC run FILE... --stats` and compares what it prints on stdout
# with golden/NAME.out byte for byte (or, where golden/NAME.multiset exists,
# which says why, as sorted lines), and the "N rules fired" line it prints
# on stderr with golden/NAME.fired. The programs are programs/*.clp, the
# zebra and wordgame examples of Debian's clips-common, and Miss Manners
# (bench/clips) in both orders of find_seating on 16 to 256 guests, and
# the Sudoku solver of clips-common on its puzzles (see sudoku_puzzles).
# Each program of errors/ must be rejected with the message of its .expect
# file: the FILE:LINE:COL: error: prefix exactly, the text as a substring.
#
# Usage: compiler/conformance/run.sh QELC [--live] [--no-errors] [--sudoku=WHICH]
#        compiler/conformance/run.sh --update [--sudoku=WHICH]
#   QELC         the compiler's command (or clips-as-qelc.sh, CLIPS itself)
#   --live       also rerun CLIPS and check that it still prints the
#                goldens; the default whenever clips is on PATH
#   --no-errors  skip errors/, for a stand-in that checks nothing
#   --update     rewrite the goldens from CLIPS instead of checking QELC
#   --sudoku=WHICH  all (the default): every program, Sudoku included;
#                skip: all but Sudoku; only: Sudoku alone. Sudoku's
#                larger grids cost CLIPS a minute or two of CPU time.
# Prints one line per program, and exits non-zero if any check failed.
set -u
here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/../.." && pwd)
. "$here/clips.sh"
examples=${CLIPS_EXAMPLES:-/usr/share/doc/clips-common/examples}
sizes="16 32 64 128 256"
# A compiler that loops must not hold up the run for ever.
limit=${QELC_TIMEOUT:-600}

qelc= live= errors=1 update= sudoku=all
for arg in "$@"; do
  case $arg in
    --sudoku=all | --sudoku=skip | --sudoku=only) sudoku=${arg#--sudoku=} ;;
    --live) live=1 ;;
    --no-errors) errors= ;;
    --update) update=1 ;;
    -*) echo "run.sh: unknown option $arg" >&2; exit 2 ;;
    *) qelc=$arg ;;
  esac
done
if [ -z "$qelc" ] && [ -z "$update" ]; then
  sed -n 's/^# Usage: /usage: /p; s/^#        /       /p' "$0" >&2
  exit 2
fi
# The errors are run from their own folder, so QELC must not be relative.
case $qelc in */*) qelc=$(cd "$(dirname "$qelc")" && pwd)/$(basename "$qelc") ;; esac
if command -v clips >/dev/null; then
  live=1
elif [ -n "$live" ] || [ -n "$update" ]; then
  echo "run.sh: clips is not installed" >&2
  exit 2
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
passed=0 failed=0 skipped=0

ok() { echo "ok      $1"; passed=$((passed + 1)); }
skip() { echo "skipped $1: $2"; skipped=$((skipped + 1)); }
# fail NAME WHY [FILE]: the failure line, then FILE's head indented.
fail() {
  echo "FAIL    $1: $2"
  if [ $# -gt 2 ]; then head -n 40 "$3" | sed 's/^/        /'; fi
  failed=$((failed + 1))
}

# check NAME FILE...: one program against golden/NAME.out and NAME.fired.
check() {
  name=$1
  shift
  dir=$work/$name
  golden=$here/golden/$name
  mkdir -p "$dir"
  if [ -n "$update" ]; then
    if clips_run "$dir" "$@" 2> "$dir/clips.err"; then
      mkdir -p "$(dirname "$golden")"
      cp "$dir/out" "$golden.out"
      cp "$dir/fired" "$golden.fired"
      echo "updated $name: $(cat "$golden.fired") rules fired"
    else
      fail "$name" "CLIPS did not run it" "$dir/clips.err"
    fi
    return
  fi
  if [ ! -f "$golden.out" ] || [ ! -f "$golden.fired" ]; then
    fail "$name" "no golden/$name.out or .fired (run.sh --update makes them)"
    return
  fi
  timeout "$limit" "$qelc" run "$@" --stats > "$dir/out" 2> "$dir/err"
  rc=$?
  fired=$(sed -n 's/^\([0-9][0-9]*\) rules fired$/\1/p' "$dir/err")
  if [ "$rc" -ne 0 ]; then
    fail "$name" "exit status $rc" "$dir/err"
  elif ! same "$golden" "$dir/out"; then
    diff -u "$golden.out" "$dir/out" > "$dir/diff"
    fail "$name" "output differs from golden/$name.out" "$dir/diff"
  elif [ "$fired" != "$(cat "$golden.fired")" ]; then
    fail "$name" "${fired:-no} rules fired, CLIPS fires $(cat "$golden.fired")"
  elif [ -n "$live" ] && ! live "$name" "$@"; then
    :
  else
    ok "$name"
  fi
}

# same GOLDEN OUT: OUT is GOLDEN.out, or the same multiset of lines.
same() {
  if [ -f "$1.multiset" ]; then
    sort "$1.out" > "$work/golden.sorted"
    sort "$2" | cmp -s "$work/golden.sorted" -
  else
    cmp -s "$1.out" "$2"
  fi
}

# live NAME FILE...: CLIPS still prints golden/NAME.out and NAME.fired.
live() {
  name=$1
  shift
  mkdir -p "$work/$name/clips"
  if ! clips_run "$work/$name/clips" "$@" 2> "$work/$name/clips.err"; then
    fail "$name" "CLIPS did not run it" "$work/$name/clips.err"
  elif ! cmp -s "$here/golden/$name.out" "$work/$name/clips/out"; then
    diff -u "$here/golden/$name.out" "$work/$name/clips/out" > "$work/$name/diff"
    fail "$name" "CLIPS no longer prints golden/$name.out" "$work/$name/diff"
  elif ! cmp -s "$here/golden/$name.fired" "$work/$name/clips/fired"; then
    fail "$name" "CLIPS fires $(cat "$work/$name/clips/fired"), not golden/$name.fired"
  else
    return 0
  fi
  return 1
}

# reject NAME: errors/NAME.clp fails with the message of errors/NAME.expect.
reject() {
  name=$1
  expect=$(cat "$here/errors/$name.expect")
  prefix="${expect%%: error:*}: error:"
  text="${expect#*: error: }"
  dir=$work/errors/$name
  mkdir -p "$dir"
  (cd "$here/errors" && timeout "$limit" "$qelc" run "$name.clp") > "$dir/out" 2> "$dir/err"
  rc=$?
  if [ "$rc" -eq 0 ]; then
    fail "errors/$name" "accepted, should fail with: $expect"
  elif [ -s "$dir/out" ]; then
    fail "errors/$name" "printed on stdout" "$dir/out"
  elif ! awk -v p="$prefix" -v t="$text" 'index($0, p) == 1 &&
         index(tolower($0), tolower(t)) { found = 1 } END { exit !found }' "$dir/err"; then
    echo "expected: $expect" >> "$dir/err"
    fail "errors/$name" "not the expected message" "$dir/err"
  else
    ok "errors/$name"
  fi
}

if [ "$sudoku" != only ]; then
  for f in "$here"/programs/*.clp; do
    check "$(basename "$f" .clp)" "$f"
  done

  if [ -n "$errors" ] && [ -z "$update" ]; then
    for f in "$here"/errors/*.clp; do
      reject "$(basename "$f" .clp)"
    done
  fi

  # The examples of clips-common, unpacked where they come compressed.
  for name in zebra wordgame; do
    if [ -f "$examples/$name.clp" ]; then
      check "$name" "$examples/$name.clp"
    elif [ -f "$examples/$name.clp.gz" ]; then
      gunzip -c "$examples/$name.clp.gz" > "$work/$name.clp"
      check "$name" "$work/$name.clp"
    else
      skip "$name" "clips-common not installed"
    fi
  done

  # Miss Manners, the data as deffacts after the ruleset.
  for n in $sizes; do
    sh "$top/bench/clips/manners-data.sh" --deffacts "$n" > "$work/guests-$n.clp"
    check "manners-$n" "$top/bench/clips/manners.clp" "$work/guests-$n.clp"
    check "manners-usual-$n" "$top/bench/clips/manners-usual.clp" "$work/guests-$n.clp"
  done
fi

# Sudoku from clips-common's examples: sudoku.clp, solve.clp and
# output-simple.clp on every puzzle CLIPS solves within a minute (all of
# 2x2 to 4x4 and four of the six 5x5 grids; p9 and p11 take longer), and
# grid3x3-p17 with the stress-test fact, which runbench.bat asserts after
# a second (reset) and here comes from a deffacts file.
sudoku_puzzles="grid2x2-p1
  grid3x3-p1 grid3x3-p2 grid3x3-p3 grid3x3-p4 grid3x3-p5 grid3x3-p6
  grid3x3-p7 grid3x3-p8 grid3x3-p9 grid3x3-p10 grid3x3-p11 grid3x3-p12
  grid3x3-p13 grid3x3-p14 grid3x3-p15 grid3x3-p16 grid3x3-p17 grid3x3-p18
  grid4x4-p1 grid4x4-p3 grid4x4-p4 grid4x4-p8 grid4x4-p9 grid4x4-p10
  grid4x4-p13 grid4x4-p17
  grid5x5-p1 grid5x5-p3 grid5x5-p4 grid5x5-p6"

# unpack FILE DEST: copies FILE, or FILE.gz uncompressed, to DEST.
unpack() {
  if [ -f "$1" ]; then cp "$1" "$2"
  elif [ -f "$1.gz" ]; then gunzip -c "$1.gz" > "$2"
  else return 1
  fi
}

sudoku_files() {
  src=$examples/sudoku
  files=$work/sudoku-files
  mkdir -p "$files"
  for f in sudoku.clp solve.clp output-simple.clp; do
    unpack "$src/$f" "$files/$f" || return 1
  done
  for p in $sudoku_puzzles grid3x3-p17; do
    unpack "$src/puzzles/$p.clp" "$files/$p.clp" || return 1
  done
}

if [ "$sudoku" != skip ]; then
  if ! sudoku_files; then
    skip sudoku "clips-common's sudoku example is not in $examples/sudoku"
  else
    rules="$files/sudoku.clp $files/solve.clp $files/output-simple.clp"
    for p in $sudoku_puzzles; do
      check "sudoku/$p" $rules "$files/$p.clp"
    done
    check sudoku/grid3x3-p17-stress $rules "$files/grid3x3-p17.clp" \
      "$here/sudoku/stress-test.clp"
  fi
fi

echo "conformance: $passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
