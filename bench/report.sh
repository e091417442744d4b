#!/usr/bin/env bash
# Regenerates the "Performance" section of README.md and the picture
# doc/read-throughput.png: builds the benchmark report in the default preset,
# runs it (a few minutes), draws the picture with gnuplot (installed with
# apt-get when missing) and replaces the text between the section's markers.
set -euo pipefail
cd "$(dirname "$0")/.."

begin='<!-- performance report: begin -->'
end='<!-- performance report: end -->'
splice() { awk -v b="$begin" -v e="$end" -v f="$1" -f bench/splice.awk README.md; }
# Fail now, not after minutes of measuring, if README's markers are damaged.
splice /dev/null >/dev/null || { echo "README.md lacks one clean pair of report markers" >&2; exit 1; }

if ! command -v gnuplot >/dev/null; then
  echo "Installing gnuplot-nox"
  sudo=$([ "$(id -u)" -eq 0 ] || echo sudo)
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends gnuplot-nox
fi

cmake --preset default >/dev/null
cmake --build --preset default --target bench_report

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

field() { lscpu | sed -n "s/^$1: *//p" | head -n1; }
# Per-core (or per-instance) size in bytes of a cache level, as lscpu gives it.
cache_bytes() { lscpu -B -C=NAME,ONE-SIZE | awk -v n="$1" 'NR > 1 && $1 == n { print $2 }'; }
cache_text() { lscpu -C=NAME,ONE-SIZE | awk -v n="$1" 'NR > 1 && $1 == n { print $2 }'; }

family=$(field 'CPU family')
model=$(field 'Model')
# /proc/cpuinfo in a virtual machine may name only the brand; the family and
# model numbers still tell the generation.
case "$(field 'Vendor ID')/$family/$model" in
  GenuineIntel/6/85) generation=" (Xeon Scalable, Skylake-SP or Cascade Lake)" ;;
  GenuineIntel/6/106) generation=" (3rd-generation Xeon Scalable, Ice Lake-SP)" ;;
  GenuineIntel/6/143) generation=" (4th-generation Xeon Scalable, Sapphire Rapids)" ;;
  GenuineIntel/6/207) generation=" (5th-generation Xeon Scalable, Emerald Rapids)" ;;
  *) generation="" ;;
esac
hypervisor=$(field 'Hypervisor vendor')
machine="$(field 'Model name'), family $family model $model stepping $(field 'Stepping')$generation"
machine+=", $(field 'CPU(s)') CPUs${hypervisor:+, a $hypervisor virtual machine}"
machine+="; caches per core: L1d $(cache_text L1d), L2 $(cache_text L2); L3 $(cache_text L3)"

echo "Running the benchmarks (a few minutes)..." >&2
build/default/bench/bench_report --plot-data "$work/throughput.dat" >"$work/report.md"

gnuplot <<GNUPLOT
set terminal pngcairo size 900,500 font ",10"
set output "doc/read-throughput.png"
set title "Read throughput by array size ($(field 'Model name'), family $family model $model)"
set xlabel "array size"
set ylabel "bytes read per TSC cycle"
set logscale x 2
set xtics ("4 KiB" 4096, "16 KiB" 16384, "64 KiB" 65536, "256 KiB" 262144, \
           "1 MiB" 1048576, "4 MiB" 4194304, "16 MiB" 16777216, "64 MiB" 67108864)
set grid
set key top right
set yrange [0:*]
l1 = $(cache_bytes L1d)
l2 = $(cache_bytes L2)
set arrow from l1, graph 0 to l1, graph 1 nohead dashtype 2 lc rgb "gray40"
set label "L1d $(cache_text L1d)" at l1, graph 0.95 offset 0.5,0
set arrow from l2, graph 0 to l2, graph 1 nohead dashtype 2 lc rgb "gray40"
set label "L2 $(cache_text L2)" at l2, graph 0.95 offset 0.5,0
plot "$work/throughput.dat" using 1:2 with linespoints pt 7 title "warm", \
     "" using 1:3 with linespoints pt 5 title "flushed (64 MiB buffer)"
GNUPLOT

{
  echo
  echo "Machine: $machine. Measured on $(date -u +%Y-%m-%d) at commit $(git rev-parse --short HEAD)," \
       "built by the \`default\` preset with $(${CXX:-c++} --version | head -n1)."
  echo "Regenerate this section and the picture with \`bench/report.sh\`."
  echo
  cat "$work/report.md"
  echo "![Read throughput by array size, warm and flushed](doc/read-throughput.png)"
  echo
  echo "Dashed lines: the per-core L1d and L2 sizes lscpu gives. Below a few tens of KiB the" \
       "fixed cost of each call holds the figure under what L1 delivers."
  echo
} >"$work/section.md"

splice "$work/section.md" >"$work/README.md"
cp "$work/README.md" README.md
echo "README.md and doc/read-throughput.png updated." >&2
