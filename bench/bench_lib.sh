# shellcheck shell=bash
# Shell helpers the benchmark scripts share; sourced, not run.

# The median of the numbers on standard input, one a line ("nan" when there are none).
median() { sort -g | awk '{v[NR] = $1} END {if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# The values of key=value words named KEY in the lines on standard input.
field() { tr ' ' '\n' | awk -F= -v k="$1" '$1 == k {print $2}'; }
# A / B to two places, "-" when it cannot be told.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {if (b + 0 == 0 || a == "nan") print "-"; else printf "%.2f", a / b}'; }

# rounds TOOL KEY FIELD tool-args...: REPS rounds of TOOL MODE PORT ARGS... against each of TARGETS (the
# caller's PORT, WORK and RESULT), the targets taking turns within each round. The order turns by one
# place every round, so no relay always runs right after the same one (whose connections still hold
# ports in TIME_WAIT). RESULT[KEY.target] is then the median of FIELD over the lines it printed.
rounds() {
  local tool=$1 key=$2 fld=$3
  shift 3
  local t rep i
  for t in "${TARGETS[@]}"; do : >"$WORK/$key.$t"; done
  for rep in $(seq "$REPS"); do
    for i in "${!TARGETS[@]}"; do
      t=${TARGETS[$(((i + rep) % ${#TARGETS[@]}))]}
      "$tool" "$1" "${PORT[$t]}" "${@:2}" 2>/dev/null >>"$WORK/$key.$t" || true
    done
  done
  # shellcheck disable=SC2034 # the caller reads RESULT
  for t in "${TARGETS[@]}"; do RESULT[$key.$t]=$(figure "$key" "$t" "$fld"); done
}
# figure KEY TARGET FIELD: the median of one field of the lines a run of rounds printed.
figure() { field "$3" <"$WORK/$1.$2" | median; }

# workspace NAME: a scratch folder WORK and a list PIDS for what the script starts in the background, both
# cleared away when it ends; descriptors raised to the hard limit.
workspace() {
  WORK=$(mktemp -d "/tmp/$1.XXXXXX")
  PIDS=()
  trap clear_workspace EXIT
  ulimit -n "$(ulimit -Hn)"
}
clear_workspace() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
