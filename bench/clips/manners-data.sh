#!/bin/sh
# Writes the same Manners data as examples/manners/generate.cpp, without
# building anything: guests n1..nN, half of each sex, each with 2 or 3 of
# the hobbies h1..h3, then "last_seat N". The draws come from the same
# mt19937 stream, written out here in perl, reduced by hand the same way.
# With --deffacts the data is written as a deffacts construct for a rule
# compiler, followed by the start facts as to-facts.sh writes them.
#
# Usage: bench/clips/manners-data.sh [--deffacts] N [SEED]
set -e
here=$(cd "$(dirname "$0")" && pwd)
if [ "$1" = --deffacts ]; then
  shift
  tmp=$(mktemp)
  trap 'rm -f "$tmp"' EXIT
  sh "$0" "$@" > "$tmp"
  echo "(deffacts guests"
  sh "$here/to-facts.sh" "$tmp" | sed 's/^/  /'
  echo ")"
  exit 0
fi
perl -e '
  my ($n, $seed) = @ARGV;
  die "manners-data: N must be even and at least 2\n" if $n < 2 || $n % 2;
  my @mt = ($seed & 0xffffffff);
  for my $i (1 .. 623) {
    my $p = $mt[$i - 1];
    $mt[$i] = (1812433253 * ($p ^ ($p >> 30)) + $i) & 0xffffffff;
  }
  my $next = 624;
  sub rng {
    if ($next >= 624) {
      for my $i (0 .. 623) {
        my $y = ($mt[$i] & 0x80000000) | ($mt[($i + 1) % 624] & 0x7fffffff);
        $mt[$i] = $mt[($i + 397) % 624] ^ ($y >> 1) ^ ($y & 1 ? 0x9908b0df : 0);
      }
      $next = 0;
    }
    my $y = $mt[$next++];
    $y ^= $y >> 11;
    $y ^= ($y << 7) & 0x9d2c5680;
    $y ^= ($y << 15) & 0xefc60000;
    $y ^= $y >> 18;
    return $y;
  }
  sub draw { return rng() % $_[0] }
  my @sex = map { $_ < $n / 2 ? "m" : "f" } 0 .. $n - 1;
  for (my $i = $n - 1; $i > 0; --$i) {
    my $j = draw($i + 1);
    @sex[$i, $j] = @sex[$j, $i];
  }
  for my $i (0 .. $n - 1) {
    my $dropped = draw(2) == 0 ? draw(3) : -1;
    for my $h (0 .. 2) {
      printf "guest n%d %s h%d\n", $i + 1, $sex[$i], $h + 1 if $h != $dropped;
    }
  }
  print "last_seat $n\n";
' "$1" "${2:-1}"
