#!/usr/bin/env bash
# How often cyclekit-compare --run gets the verdict right, and how long it
# takes: the example suite against itself, then against a build whose
# multiply chain is 5 % longer, ROUNDS times each (default 10), with the
# default 11 pairs and no margin; ARGS go to the suite programs (say
# --core-cycles).  Prints each round's verdict counts, then the totals and
# the seconds per comparison.
#   bench/compare_builds.sh BUILD_DIR [ROUNDS [ARGS...]]
set -euo pipefail
build=${1:?usage: compare_builds.sh BUILD_DIR [ROUNDS [ARGS...]]}
rounds=${2:-10}
shift $(($# < 2 ? $# : 2))
args=("$@")
compare=$build/tools/cyclekit-compare
a=$build/examples/example_suite
b=$build/bench/example_suite_longer
changed="imul chain"

# One comparison as JSON lines; prints "name<TAB>verdict" per name.
verdicts() {
  "$compare" --run --json "$1" "$2" -- "${args[@]}" 2>/dev/null |
    sed -E 's/.*"name":"([^"]*)".*"verdict":"([^"]*)".*/\1\t\2/'
}

tally() {  # $1: label, $2: old, $3: new
  local all=$(mktemp) start end
  start=$(date +%s.%N)
  for ((i = 1; i <= rounds; i++)); do
    verdicts "$2" "$3" | tee -a "$all" | awk -F'\t' -v r="$i" -v l="$1" \
      '{n[$2]++} END {printf "%s round %d:", l, r; for (v in n) printf " %s %d;", v, n[v]; print ""}'
  done
  end=$(date +%s.%N)
  awk -F'\t' -v l="$1" -v c="$changed" -v s="$(echo "$end - $start" | bc)" -v r="$rounds" '
    {an++; if ($2 == "slower" || $2 == "faster") ac++}
    $1 == c {cn++; if ($2 == "slower") cs++; next}
    {on++; if ($2 == "slower" || $2 == "faster") oc++}
    END {
      printf "%s: \"%s\" slower in %d of %d; the other names slower or faster in %d of %d verdicts (%.1f %%), all names in %d of %d (%.1f %%); %.2f s per comparison\n",
        l, c, cs, cn, oc, on, 100 * oc / on, ac, an, 100 * ac / an, s / r
    }' "$all"
  rm -f "$all"
}

tally "A against A" "$a" "$a"
tally "A against B (+5 % multiplies)" "$a" "$b"
