# Sourced by the comparison scripts of bench/.
#
# median FILE [COLUMN]: the median of the numbers in COLUMN (default 1) of
# FILE's lines, or "-" when FILE has none.
median() {
  sort -g -k"${2:-1}" "$1" | awk -v c="${2:-1}" '{ v[NR] = $c } END {
    if (NR == 0) print "-"; else if (NR % 2) print v[(NR + 1) / 2];
    else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
