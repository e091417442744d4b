#!/usr/bin/env bash
# bench_report_test.sh REPORT_SH BIN_DIR OUT_DIR
# One quick run of the whole report: every program runs, every section
# reaches the file with its tables, and every target gets a verdict.  The
# figures themselves mean nothing in quick mode and are not checked.
set -euo pipefail
report=$1 bin=$2 out=$3
rm -f "$out/performance.md"
bash "$report" --quick --bin "$bin" --out "$out"
doc=$out/performance.md
fail() { echo "FAIL: $*"; exit 1; }
for heading in "Counter overhead against the hardware" "What the fenced pair costs" \
    "What the C++ adapter adds" \
    "Time to a stable answer" "Accuracy against known latencies" \
    "Core cycles against known latencies" "Linearity" "Cache flush" \
    "Memory-bound code: fenced and bare reads" "Code shorter than the counter can resolve" \
    "Is my change faster? Cycles per element" \
    "Verdicts no finer than the counter" "The same on a counter that steps by 21 ticks" \
    "One call in core cycles: precise mode" \
    "Read throughput by array size" "The machine"; do
  grep -q "^## $heading" "$doc" || fail "no section '$heading'"
done
targets=$(grep -vc -e '^#' -e '^figure' "$(dirname "$report")/targets.tsv")
verdicts=$(grep -cE '\| (met|\*\*missed\*\*) \|$' "$doc")
[ "$verdicts" -eq "$targets" ] || fail "$verdicts verdicts for $targets targets"
# Each target by name: a figure renamed on one side only leaves its target
# without a verdict.
while IFS=$'\t' read -r figure _; do
  case "$figure" in '#'* | '') continue ;; esac
  grep -qF "| $figure | " "$doc" || fail "no figure '$figure'"
  grep -F "| $figure | " "$doc" | grep -qE '\| (met|\*\*missed\*\*) \|$' ||
    fail "figure '$figure' has no verdict"
done <"$(dirname "$report")/targets.tsv"
# Quick mode measures every fourth of the 29 half-octave sizes.
rows=$(awk '/^## Read throughput/ { on = 1 } on && /^\| [0-9]+ \|/ { n++ } /^## The machine/ { on = 0 } END { print n + 0 }' "$doc")
[ "$rows" -eq 8 ] || fail "$rows rows of read throughput, expected 8"
echo "quick report complete"
