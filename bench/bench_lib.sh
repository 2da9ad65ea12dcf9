# Shell helpers the benchmark scripts share; sourced, not run.

# The median of the numbers on standard input, one a line ("nan" when there are none).
median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# The values of key=value words named KEY in the lines on standard input.
field() { tr ' ' '\n' | awk -F= -v k="$1" '$1 == k {print $2}'; }
# A / B to two places, "-" when it cannot be told.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b + 0 == 0 || a == "nan") print "-"; else printf "%.2f", a / b}'; }
