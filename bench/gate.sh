#!/usr/bin/env bash
# How often cyclekit-compare's gate fails a build: the example suite against
# itself, then against the build whose multiply chain is 5 % longer, RUNS
# times each (default 20), as CI would run it (default settings, no margin,
# --fail-on slower), with HOGS busy loops beside it (default 0).  Prints
# every run's exit status and the names it counted, then the totals.
#   bench/gate.sh BUILD_DIR [RUNS [HOGS [ARGS...]]]
set -euo pipefail
build=${1:?usage: gate.sh BUILD_DIR [RUNS [HOGS [ARGS...]]]}
runs=${2:-20}
hogs=${3:-0}
shift $(($# < 3 ? $# : 3))
args=("$@")
compare=$build/tools/cyclekit-compare
a=$build/examples/example_suite
b=$build/bench/example_suite_longer

pids=()
stop_hogs() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap stop_hogs EXIT
for ((h = 0; h < hogs; h++)); do
  (while :; do :; done) &
  pids+=($!)
done

tally() {  # $1: label, $2: old, $3: new
  local fails=0 errors=0 start end out status
  start=$(date +%s.%N)
  for ((i = 1; i <= runs; i++)); do
    status=0
    out=$("$compare" --run --json --fail-on slower "$2" "$3" -- "${args[@]}" 2>/dev/null) || status=$?
    case $status in
      0) ;;
      1) fails=$((fails + 1)) ;;
      *) errors=$((errors + 1)) ;;
    esac
    printf '%s run %d: exit %d; slower: %s\n' "$1" "$i" "$status" \
      "$(printf '%s\n' "$out" | grep '"verdict":"slower"' | sed -E 's/.*"name":"([^"]*)".*/\1/' | paste -sd, -)"
  done
  end=$(date +%s.%N)
  printf '%s: the gate failed %d of %d runs (%d errors); %.2f s per comparison\n' \
    "$1" "$fails" "$runs" "$errors" "$(echo "($end - $start) / $runs" | bc -l)"
}

tally "A against A" "$a" "$a"
tally "A against B (+5 % multiplies)" "$a" "$b"
