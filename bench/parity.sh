#!/usr/bin/env bash
# The parity suite (bench/parity/kernels.cpp) built against cyclekit's front
# end and against the installed library, each run PROCESSES times (default
# 5) with --benchmark_format=json and default flags otherwise, the two
# alternating so that a change of load falls on both.  Prints per kernel the
# median over the processes of cyclekit's answer and of the library's CPU
# and real time, cyclekit's answer over the library's CPU time, and each
# tool's spread (max/min over the processes); then each tool's total wall
# time and their ratio, and the load average before and after.
#
# HOGS > 0 starts that many busy loops on CPU 0 and runs both programs
# there too (taskset -c 0): the hogs take turns with the benchmark on one
# CPU.  The medians are kept in BUILD_DIR/parity-hogsN.tsv; a run with hogs
# also prints cyclekit's answers over those of the last run without them.
# PARITY_RAW=FILE keeps every process's rows (tool, name, CPU ns, real ns).
#   bench/parity.sh BUILD_DIR [PROCESSES [HOGS]]
set -euo pipefail
build=${1:?usage: parity.sh BUILD_DIR [PROCESSES [HOGS]]}
processes=${2:-5}
hogs=${3:-0}
ck=$build/bench/parity_cyclekit
gb=$build/bench/parity_gbench
for b in "$ck" "$gb"; do
  [[ -x $b ]] || { echo "parity.sh: $b not built" >&2; exit 1; }
done

tmp=$(mktemp -d)
hog_pids=()
cleanup() {
  for p in "${hog_pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

pin=()
if ((hogs > 0)); then
  pin=(taskset -c 0)
  for ((i = 0; i < hogs; i++)); do
    taskset -c 0 bash -c 'while :; do :; done' &
    hog_pids+=($!)
  done
  sleep 1  # let the scheduler share CPU 0 before the first run
fi

# One process of one tool: its JSON's iteration rows as
# "tool<TAB>name<TAB>cpu_ns<TAB>real_ns", its wall seconds in tool.wall.
run_one() {  # $1: tool, $2: binary, $3: process number
  local out=$tmp/$1.$3.json start end
  start=$(date +%s.%N)
  "${pin[@]}" "$2" --benchmark_format=json >"$out" 2>/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.6f\n", b - a}' >>"$tmp/$1.wall"
  jq -r --arg t "$1" '.benchmarks[] | select(.run_type == "iteration") |
    (if .time_unit == "us" then 1e3 elif .time_unit == "ms" then 1e6
     elif .time_unit == "s" then 1e9 else 1 end) as $u |
    [$t, .name, .cpu_time * $u, .real_time * $u] | @tsv' "$out" >>"$tmp/rows.tsv"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((p = 1; p <= processes; p++)); do
  run_one ck "$ck" "$p"
  run_one gb "$gb" "$p"
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)
[[ -z ${PARITY_RAW:-} ]] || cp "$tmp/rows.tsv" "$PARITY_RAW"

keep=$build/parity-hogs$hogs.tsv
quiet=$build/parity-hogs0.tsv
((hogs > 0)) && [[ -f $quiet ]] || quiet=/dev/null

echo "# $(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'), $processes processes each," \
  "$hogs hogs${pin:+ (all on CPU 0)}"
echo "# load average before: $load_before; after: $load_after"
awk -F'\t' -v keep="$keep" -v quiet="$quiet" -f "$(dirname "$0")/parity.awk" \
  "$quiet" "$tmp/rows.tsv" "$tmp/ck.wall" "$tmp/gb.wall"
