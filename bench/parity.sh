#!/usr/bin/env bash
# The parity suite (bench/parity/kernels.cpp) built against cyclekit's front
# end and against the installed library, compared at default flags.
#
# The answers: for each of PROCESSES rounds (default 5) and each kernel, one
# process of each tool run on that kernel alone (--benchmark_filter), the
# two back to back and their order alternating.  A shared machine has spells
# of some hundred milliseconds in which code bound by the core's throughput
# runs 1.5 times as slowly; a whole run of the library lasts seconds and
# averages over them, one of cyclekit lasts a tenth of a second and falls
# inside or outside, so only answers measured side by side say how the two
# methods differ.  Prints per kernel the median over the rounds of
# cyclekit's answer and of the library's CPU and real time, the first over
# the second, and each tool's spread (max/min over the rounds).  The last
# column, gb/gbw, is the library against itself: its answers side by side
# over those of its whole runs, how far the machine moves one method.
#
# The wall times: PROCESSES whole runs of each suite, in turn, as a user
# runs them; their answers give the last column, cyclekit's median over the
# library's CPU time from those whole runs.
#
# HOGS > 0 starts that many busy loops on CPU 0 and runs both programs
# there too (taskset -c 0): the hogs take turns with the benchmark on one
# CPU.  The medians are kept in BUILD_DIR/parity-hogsN.tsv; a run with hogs
# also prints cyclekit's answers over those of the last run without them.
# PARITY_RAW=FILE keeps every process's rows (tool, name, CPU ns, real ns;
# tools ck and gb side by side, ckw and gbw the whole runs).
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
run_one() {  # $1: tool, $2: binary, $3: process number, $4...: its flags
  local out=$tmp/$1.$3.json start end tool=$1 binary=$2
  shift 3
  start=$(date +%s.%N)
  "${pin[@]}" "$binary" --benchmark_format=json "$@" >"$out" 2>/dev/null
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.6f\n", b - a}' >>"$tmp/$tool.wall"
  jq -r --arg t "$tool" '.benchmarks[] | select(.run_type == "iteration") |
    (if .time_unit == "us" then 1e3 elif .time_unit == "ms" then 1e6
     elif .time_unit == "s" then 1e9 else 1 end) as $u |
    [$t, .name, .cpu_time * $u, .real_time * $u] | @tsv' "$out" >>"$tmp/rows.tsv"
}

mapfile -t kernels < <("$ck" --benchmark_list_tests)
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for ((p = 1; p <= processes; p++)); do
  for i in "${!kernels[@]}"; do
    only=(--benchmark_filter="^${kernels[i]}\$")
    if (((p + i) % 2)); then
      run_one gb "$gb" "$p.$i" "${only[@]}"
      run_one ck "$ck" "$p.$i" "${only[@]}"
    else
      run_one ck "$ck" "$p.$i" "${only[@]}"
      run_one gb "$gb" "$p.$i" "${only[@]}"
    fi
  done
done
for ((p = 1; p <= processes; p++)); do
  run_one ckw "$ck" "w$p"
  run_one gbw "$gb" "w$p"
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
  "$quiet" "$tmp/rows.tsv" "$tmp/ckw.wall" "$tmp/gbw.wall"
