#!/usr/bin/env bash
# bench_tables_test.sh BENCH_DIR
# The report's tables and verdicts come out of tables.awk: a figure on its
# bound meets it, one past it misses, and malformed input stops the report
# instead of reaching doc/performance.md.
set -uo pipefail
awkfile=$1/tables.awk
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    printf 'FAIL %s\n--- expected\n%s\n--- got\n%s\n' "$1" "$2" "$3"
    failures=$((failures + 1))
  fi
}
T='\t'
printf "# figure${T}least${T}most\n# a comment\nratio$T${T}1.05\nfast${T}10000$T\nband${T}2.95${T}3.05\n" >"$work/targets.tsv"
tables() { awk -v targets="$work/targets.tsv" -f "$awkfile"; }

got=$(printf "pair${T}least${T}median\novhd()${T}20${T}30\nbare${T}18${T}28\n\nfigure${T}value\nratio${T}1.05\nratio${T}1.051\nfast${T}10000\nfast${T}9999\nband${T}2.95\nband${T}3.06\nband${T}-3\nfree${T}7\n" | tables)
check "tables and verdicts" "| pair | least | median |
|---|---:|---:|
| ovhd() | 20 | 30 |
| bare | 18 | 28 |

| figure | value | target | verdict |
|---|---:|---|---|
| ratio | 1.05 | ≤ 1.05 | met |
| ratio | 1.051 | ≤ 1.05 | **missed** |
| fast | 10000 | ≥ 10000 | met |
| fast | 9999 | ≥ 10000 | **missed** |
| band | 2.95 | 2.95 to 3.05 | met |
| band | 3.06 | 2.95 to 3.05 | **missed** |
| band | -3 | 2.95 to 3.05 | **missed** |
| free | 7 | |  |" "$got"

# Only a block headed exactly "figure", "value" is judged.
got=$(printf "figures${T}tool${T}value\nratio${T}peer${T}9\n" | tables)
check "other headers are plain tables, text columns left" "| figures | tool | value |
|---|---|---:|
| ratio | peer | 9 |" "$got"

fails() {  # fails NAME INPUT: tables.awk must exit non-zero with a message
  local status
  printf "$2" | tables >/dev/null 2>"$work/err"
  status=$?
  if [ $status -eq 0 ] || [ ! -s "$work/err" ]; then
    echo "FAIL $1: status $status, message '$(cat "$work/err")'"
    failures=$((failures + 1))
  fi
}
fails "row short of its header" "a${T}b\n1${T}2\n3\n"
fails "row past its header" "a${T}b\n1${T}2${T}3\n"
fails "figure that is not a number" "figure${T}value\nratio${T}nan\n"
fails "figure with a stray sign" "figure${T}value\nratio${T}1.0x\n"
fails "header without rows, mid-file" "a${T}b\n\nc${T}d\n1${T}2\n"
fails "header without rows, at the end" "a${T}b\n1${T}2\n\nc${T}d\n"
printf "a${T}b\n1${T}2\n" | awk -v targets="$work/none.tsv" -f "$awkfile" >/dev/null 2>&1 &&
  { echo "FAIL missing targets file accepted"; failures=$((failures + 1)); }

[ $failures -eq 0 ] && echo "all passed"
exit $((failures > 0))
