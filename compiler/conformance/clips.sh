# Runs CLIPS non-interactively on ruleset files, the way `qelc run` runs
# them: load every file, (reset), (run). Sourced by run.sh and
# clips-as-qelc.sh; needs clips and perl.
#
# clips_run DIR FILE... writes
#   DIR/out    exactly what the program printed during (run), byte for byte
#   DIR/fired  the number of rules fired
#   DIR/cpu    the CPU seconds of the run, as CLIPS's (time) measures it
# and fails, with CLIPS's messages on stderr, when a file does not load.
#
# The program's output is cut out of CLIPS's stdout between two markers the
# batch prints around (run). The rules-fired count comes from a second run
# with (watch statistics): its "N rules fired" line follows the program's
# output without a line break when that output does not end in one, so it
# is found by skipping exactly the bytes of the first run's output.

clips_begin='@@qel-conformance-begin@@'
clips_end='@@qel-conformance-end@@'

# clips_batch STATS FILE...: the batch file on stdout; STATS is 1 to watch
# statistics.
clips_batch() {
  clips_stats=$1
  shift
  for clips_file in "$@"; do
    printf '(if (not (load* "%s")) then (exit 3))\n' "$clips_file"
  done
  echo '(defglobal ?*qel-start* = 0.0)'
  echo '(reset)'
  [ "$clips_stats" = 1 ] && echo '(watch statistics)'
  echo "(printout t \"$clips_begin\" crlf)"
  echo '(bind ?*qel-start* (time))'
  echo '(run)'
  echo "(printout t \"$clips_end\" crlf (- (time) ?*qel-start*) crlf)"
  echo '(exit)'
}

# clips_cut RAW: prints the program's output and, on stderr, the CPU
# seconds; fails when the markers are missing (CLIPS stopped early) or
# when anything came before the first: load* is silent on success, but
# keeps going, and can still answer TRUE, after a construct it rejected.
clips_cut() {
  perl -0777 -ne '
    BEGIN { ($b, $e) = @ARGV[0, 1]; @ARGV = ($ARGV[2]) }
    exit 1 unless /\A\Q$b\E\n(.*)\Q$e\E\n([^\n]*)\n\z/s;
    print $1; print STDERR "$2\n"' "$clips_begin" "$clips_end" "$1"
}

clips_run() {
  clips_dir=$1
  shift
  clips_batch 0 "$@" > "$clips_dir/clips.bat"
  if ! clips -f2 "$clips_dir/clips.bat" > "$clips_dir/clips.raw" 2>&1 ||
     ! clips_cut "$clips_dir/clips.raw" > "$clips_dir/out" 2> "$clips_dir/cpu"; then
    cat "$clips_dir/clips.raw" >&2
    return 1
  fi
  clips_batch 1 "$@" > "$clips_dir/clips.bat"
  clips -f2 "$clips_dir/clips.bat" > "$clips_dir/clips.raw" 2>&1 &&
    clips_cut "$clips_dir/clips.raw" > "$clips_dir/stats" 2> /dev/null || return 1
  # The statistics start right after the output of the first run.
  perl -0777 -ne 'BEGIN { local $/; open my $o, "<", shift @ARGV; $out = <$o> // "" }
    exit 1 unless substr($_, 0, length $out) eq $out &&
      substr($_, length $out) =~ /\A(\d+) rules fired/;
    print "$1\n"' \
    "$clips_dir/out" "$clips_dir/stats" > "$clips_dir/fired"
}
