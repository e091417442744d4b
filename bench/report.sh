#!/usr/bin/env bash
# Writes doc/performance.md and doc/read-throughput.png whole: builds the
# benchmark programs in the default preset, runs one program per section (a
# few minutes in all), turns their tables into Markdown with the verdicts of
# bench/targets.tsv, and draws the picture with gnuplot.
#
#   bench/report.sh [--quick] [--bin DIR] [--out DIR]
#
# --quick runs every program with too few repetitions to mean much and draws
# no picture: it proves that the programs and this script work (CTest runs
# it).  --bin takes the programs from DIR instead of building them; --out
# writes performance.md (and the picture) to DIR instead of doc/.
set -euo pipefail
bench=$(cd "$(dirname "$0")" && pwd -P)
root=$(dirname "$bench")
quick= bin= out=$root/doc
while [ $# -gt 0 ]; do
  case "$1" in
    --quick) quick=--quick ;;
    --bin) bin=${2:?--bin needs a folder}; shift ;;
    --out) out=${2:?--out needs a folder}; shift ;;
    *) echo "usage: $0 [--quick] [--bin DIR] [--out DIR]" >&2; exit 2 ;;
  esac
  shift
done
if [ -z "$quick" ] && ! command -v gnuplot >/dev/null; then
  echo "report.sh: gnuplot, which draws the picture, is not installed (Debian: gnuplot-nox)" >&2
  exit 1
fi
if [ -z "$bin" ]; then
  (cd "$root" && cmake --preset default >/dev/null &&
     cmake --build --preset default --target bench_overhead bench_adapter bench_report bench_compare \
       bench_verdicts bench_verdicts_coarse)
  bin=$root/build/default/bench
fi
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# section NAME HEADING "PROGRAM ARGS" PROSE: the heading, the fixed prose,
# then the tables of one program run, kept in $work/NAME.tsv.  A new section
# is one more call below.
section() {
  local program
  read -r -a program <<<"$3"
  echo "Measuring: $2" >&2
  "$bin/${program[0]}" "${program[@]:1}" $quick >"$work/$1.tsv" ||
    { echo "report.sh: $3 failed" >&2; exit 1; }
  printf '## %s\n\n%s\n\n' "$2" "$4"
  awk -v targets="$bench/targets.tsv" -f "$bench/tables.awk" "$work/$1.tsv" || exit 1
  echo
}

field() { lscpu | sed -n "s/^$1: *//p" | head -n1; }
# Per-core size of a cache level, in bytes (-B) or as lscpu writes it.
cache() { lscpu ${2-} -C=NAME,ONE-SIZE | awk -v n="$1" 'NR > 1 && $1 == n { print $2 }'; }
hypervisor=$(field 'Hypervisor vendor')
machine="$(field 'Model name'), family $(field 'CPU family') model $(field 'Model')"
machine+=" stepping $(field 'Stepping'), $(field 'CPU(s)') CPUs${hypervisor:+, a $hypervisor virtual machine}"
machine+="; caches per core: L1d $(cache L1d), L2 $(cache L2); L3 $(cache L3)"
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
# The commit when the sources are a git checkout of their own; from a release
# tarball, or a copy inside some other checkout, the project's version.
if [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
  source="at commit $(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo none)"
  # Changes to the measured code, not to this script's own outputs.
  git -C "$root" diff --quiet HEAD -- counter measure bench || source+=" with local changes"
else
  version=$(sed -n 's/^project(cyclekit VERSION \([^ )]*\).*/\1/p' "$root/CMakeLists.txt" 2>/dev/null || true)
  source="from cyclekit${version:+ $version}, not a git checkout"
fi

{
  echo "# Performance"
  echo
  echo "How far cyclekit's numbers can be trusted and how long they take, beside the hardware and beside Google Benchmark. Every figure is measured by one run of \`bench/report.sh\`, which writes this file whole; the targets are in \`bench/targets.tsv\` and the timed functions in \`bench/kernels.cpp\`. Figures vary from run to run and with the machine's load: the ratios matter, not the absolute times."
  [ -z "$quick" ] || printf '\n**Quick mode: too few repetitions to mean anything.**\n'
  echo
  section overhead "Counter overhead against the hardware" "bench_overhead" \
    "\`ovhd()\` (an out-of-line \`start_counter\`, \`get_counter\` pair) interleaved with pairs of back-to-back bare counter reads (RDTSC on x86), the least and the median of each."
  section fenced "What the fenced pair costs" "bench_overhead fenced" \
    "\`ovhd()\` against the same out-of-line pair fenced (\`start_fenced_counter\`, \`get_fenced_counter\`), interleaved, the least and the median of each. The difference is what every fenced count carries beyond a plain one."
  section adapter "What the C++ adapter adds" "bench_adapter" \
    "\`bestof\` on a C function that bumps a file-scope integer against \`cyclekit::bestof\` on a lambda that bumps a captured one, alternated; the difference is the trampoline's load of the callable's address."
  section peer "Time to a stable answer: \`bestof\` against Google Benchmark" "bench_report peer" \
    "Each function measured many times by \`bestof\` (its defaults: K = 3, 1 %, at most 20 runs) and by one Google Benchmark with as many repetitions (its default minimum time). Each tool's answer is the median of its answers, Google Benchmark's time per call converted to TSC cycles at the measured rate; the spread is (max − min) / min over the answers. The first two functions repeat the same work at every run, as the K-best scheme assumes, and carry the targets. The walk along the 64 MiB ring goes on where the last run stopped, so every run times other lines; and the counter's reads are not serialised, so a memory-bound stretch shorter than the processor's reorder window is under-counted (the fenced reads below wait for it). It shows what \`bestof\` should not be asked."
  section latency "Accuracy against known latencies" "bench_report latency" \
    "Dependent chains of register ADD and of 64-bit IMUL in inline assembly, 1000 and 10000 instructions long; the cost per instruction is the slope between the two lengths (the least \`bestof\` answer at each). The counter ticks at the TSC rate, not the core clock, so only the ratio can be held against the published latencies (1 and 3 cycles); the next section counts core cycles."
  section cycles "Core cycles against known latencies" "bench_report cycles" \
    "The same chains and slopes with \`set_bestof_core_cycles(1)\`: \`bestof\` measures \`core_per_tick()\` before the first and after the last run of every answer and converts the counts with the mean of the two, so the slopes can be held against the published latencies themselves: 1 core cycle per ADD, 3 per IMUL."
  section linearity "Linearity" "bench_report linearity" \
    "One \`bestof\` answer for a chain of dependent multiplies at 8 lengths over two decades, and the least-squares line through them."
  section flush "Cache flush" "bench_report flush" \
    "Reading a 256 KiB array with the caches warm and with the flush on (one word read every 32 bytes of the flush buffer before each run): once with a fixed 64 MiB buffer and once with a buffer twice the last-level cache, as \`bestof_flush_bytes()\` sizes it for the examples (64 MiB where the cache's size is unknown; here at most 1 GiB). Where the fixed buffer fits in the last-level cache, it pushes the array only out to that cache; the buffer sized by the cache brings it from memory on any machine."
  section memory "Memory-bound code: fenced and bare reads" "bench_report memory" \
    "32 dependent loads along a random ring four times the last-level cache that \`bestof_llc_bytes()\` gives (256 MiB where it gives 0, at most 1 GiB), one 64-byte line a load; every run goes on where the last stopped, so each load misses every cache and no flush is needed. \`bestof\` answers with the fenced pair (\`set_bestof_fence(1)\`) and with its default bare reads, against one long fenced loop over the same ring divided into groups of 32 loads. A bare closing read may run before the loads complete; the fenced one waits for them. The judged figure is the median answer, what one call of \`bestof\` typically gives; the lowest answer stands beside it."
  section batch "Code shorter than the counter can resolve: batching" "bench_report batch" \
    "A function of two dependent multiplies and a store, a few cycles, measured by \`bestof\` one call per run (the default) and with automatic batching (\`set_bestof_batch(0)\`: the driver doubles the calls per run until a run lasts 100 counter steps and 100 times the counter pair's own cost, and divides the count by them), against long loops of 100,000 calls between one start and one read. The judged long loop is one run of the driver's own batch loop with n = 100,000, the same loop and call site as the automatic batch, so that the two differ only in how many calls share a start and a read: for code of a few cycles, the placement of a loop of other code moves the figure by more than 5 %. A loop of the benchmark's own stands beside it. The shared machine's speed drifts over milliseconds, so each pair of answers is held against the lesser of the long loops run just before and just after it, and the judged figure is the median of those ratios. Figures are TSC cycles per call."
  section compare "Is my change faster? Cycles per element" "bench_compare" \
    "\`bestof_compare\` (its defaults: 21 interleaved pairs of \`bestof\` answers, f first in even pairs and g first in odd ones, the median pair ratio and its sign-test 95 % interval) asked 100 times per pair of functions, \`n\` dependent 64-bit IMULs in a compiled loop against \`m\` of them; once with a second process spinning on the same core. Every answer carries the timing pair's cost and the call's, the same for both versions, which pulls the ratio of answers a little below the work's 1.05: the comparison takes that cost off by default (\`set_bestof_compare_net\`), and gives a verdict only for a difference beyond the counter's resolution; the answers as read (\`set_bestof_compare_net(0)\`) stand beside them. Beside it Google Benchmark measures the same pairs as its users compare them: 9 repetitions of each version one after the other (0.01 s each, a fiftieth of its default 0.5 s), the ratio of the medians and a verdict from the Mann-Whitney U test at 5 %, as its comparison script gives; 10 comparisons per pair, as each takes hundreds of milliseconds. nanobench, the other peer in mind, is not packaged for this machine's distribution and is not measured. Then \`bestof_cpe\` with core cycles and the fence on (with bare reads the closing read may run ahead of the chain's last few hundred cycles, by a different amount at each size: the robust slope ignores that, R² does not), 8 sizes of 10 to 100 blocks of 100 dependent ADDs or IMULs (the cost per instruction is its slope over 100), against Google Benchmark's linear complexity fit over the same sizes, its nanoseconds converted to core cycles with the measured TSC rate and \`core_per_tick()\`. The judged times and R² are medians over all comparisons or fits; the tables give the most and the least beside them. Last, a loop whose result nothing uses, kept by \`CYCLEKIT_KEEP\` and not: kept, ten times the iterations take ten times the cycles; unkept, the compiler may drop the loop."
  section verdicts "Verdicts no finer than the counter" "bench_verdicts" \
    "\`bestof_compare\` with its defaults (21 pairs of answers net of the timing pair's cost) asked 20 times per case: two copies of one function whose machine code is the same byte for byte at two addresses (1000 dependent IMULs in a loop), in each of 6 processes one after another; 1050 against 1000 dependent IMULs (blocks of 10 in assembly); a function against itself, alone and beside a second process spinning on the same core. Then \`bestof_cpe\` 20 times over sizes 1 to 8 of a loop of one register ADD, and of 100 to 800 dependent IMULs. A verdict needs the median answers to differ by more than the comparison's resolution (a counter step for each median), and the interval is widened by the same step on each side; a slope is resolved when its rise over the range exceeds the fit's resolution (two steps for each end)."
  section verdicts_coarse "The same on a counter that steps by 21 ticks" "bench_verdicts_coarse" \
    "The same program with the library's counter pair replaced at link time (\`-Wl,--wrap\`): a reading is the time-stamp counter rounded down to a multiple of 21 ticks, as a counter that advances 21 ticks at a time reads, and \`counter_step()\` gives 21; the rounding lies outside the timed interval. The rounding is regular; a virtual machine's coarse counter (steps of 21 to 27 ticks) steps less regularly."
  section precise "One call in core cycles: precise mode" "bench_report precise" \
    "How many core cycles one call takes, asked three ways, the median of many answers each: the K-best driver with core cycles and bare reads (\`set_bestof_core_cycles(1)\`), the same fenced (\`set_bestof_fence(1)\` too), and precise mode (\`set_bestof_precise(1)\`: fenced, core cycles, the pair's cost around an empty call taken off with the part of it that longer code hides added back, and the mean of the runs from the 2nd percentile to 1.5 counter steps above it). The truth of each chain is its latency per instruction, the slope between two lengths of it (fenced, core cycles, the least of several answers at each), times its length; for the loads beyond the last-level cache (a ring four times the size \`bestof_llc_bytes()\` gives, at most 1 GiB, every call going on where the last stopped) it is a long fenced loop's figure per 32 loads, in core cycles (the least of its pieces of 3,200 loads, so that time the shared machine gave to others does not count). The spread is (max − min) / median of the precise answers; the walk beyond the cache times other lines at every call, so its spread, shown, is the memory's and is not judged. The time is the median wall time of one precise answer, each timed on its own."
  section throughput "Read throughput by array size" "bench_report throughput" \
    "Bytes read per TSC cycle by one pass over an array, one \`bestof\` answer per size, warm and with the flush of twice the last-level cache before each run."
  if [ -z "$quick" ]; then
    echo "![Read throughput by array size, warm and flushed](read-throughput.png)"
    echo
    echo "Dashed lines: the per-core L1d and L2 sizes lscpu gives. Below a few tens of KiB the fixed cost of each call holds the figure under what L1 delivers."
    echo
  fi
  echo "## The machine"
  echo
  echo "$machine. Measured on $(date -u +%Y-%m-%d) $source," \
       "built by the \`default\` preset with $(${CXX:-c++} --version | head -n1)." \
       "Load average (1, 5, 15 minutes) $load_before before the run and" \
       "$(cut -d' ' -f1-3 /proc/loadavg) after it."
} >"$work/performance.md"

if [ -z "$quick" ]; then
  gnuplot <<GNUPLOT
set terminal pngcairo size 900,500 font ",10"; set output "$out/read-throughput.png"
set title "Read throughput by array size ($(field 'Model name'))"
set xlabel "array size"; set ylabel "bytes read per TSC cycle"; set grid; set yrange [0:*]
set logscale x 2; set xtics ("4 KiB" 4096, "64 KiB" 65536, "1 MiB" 1048576, "16 MiB" 16777216)
set datafile separator "\t"; l1 = $(cache L1d -B); l2 = $(cache L2 -B)
set arrow from l1, graph 0 to l1, graph 1 nohead dashtype 2; set label "L1d" at l1, graph 0.95 offset 0.5,0
set arrow from l2, graph 0 to l2, graph 1 nohead dashtype 2; set label "L2" at l2, graph 0.95 offset 0.5,0
plot "$work/throughput.tsv" every ::1 using 1:2 with linespoints pt 7 title "warm", \
     "" every ::1 using 1:3 with linespoints pt 5 title "flushed (twice the last-level cache)"
GNUPLOT
fi
cp "$work/performance.md" "$out/performance.md"
echo "Wrote $out/performance.md${quick:+ (no picture in quick mode)}" >&2
