// Prints the benchmark report in Markdown: the counter against the hardware,
// bestof against Google Benchmark, accuracy, linearity, the cache flush, and
// read throughput by array size (written to a data file for the picture).
//
//   bench_report [--quick] [--plot-data FILE]
//
// --quick shrinks every repetition count so that the whole run takes about
// ten seconds; its figures prove that the program works, nothing more.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>

#include "clocks.h"
#include "kernels.h"
#include "peer.h"
#include "stats.h"

// How much of everything to do.
struct scale {
  bool quick;
  int answers;          // repeated answers to one question
  int ovhd_calls;       // counter pairs for the overhead
  int peer_reps;        // Google Benchmark repetitions
  double peer_min_time; // 0: Google Benchmark's own default
  int flush_reps;       // flushes timed for the flush's speed
  int plot_step;        // every n-th half-octave size in the picture
  int mhz_seconds;      // sleep for the rate estimate
};

static const scale FULL = {false, 30, 1000000, 30, 0, 20, 1, 2};
static const scale QUICK = {true, 3, 10000, 3, 0.002, 2, 4, 1};

static const int MIB = 1 << 20;
static const int KIB = 1 << 10;
// Flush buffer and largest array: well beyond L2, so the flush evicts it.
static const int BIG = 64 * MIB;

static double tsc_mhz;
static double least_ovhd;

static const char *verdict(bool met) { return met ? "met" : "**missed**"; }

// bestof's defaults, restored after every section that changes them.
static void bestof_defaults(void) {
  set_bestof_k(3);
  set_bestof_maxsamples(20);
  set_bestof_epsilon(0.01);
  set_bestof_compensate(0);
  set_bestof_clear_cache(0);
}

static std::vector<double> bestof_answers(void (*f)(int), int arg, int n, double *wall) {
  std::vector<double> v;
  double t0 = wall_seconds();
  for (int i = 0; i < n; i++)
    v.push_back(bestof(f, arg));
  if (wall)
    *wall = (wall_seconds() - t0) / n;
  return v;
}

static const char *human_time(double s, char *buf, size_t size) {
  if (s >= 1)
    snprintf(buf, size, "%.2f s", s);
  else if (s >= 1e-3)
    snprintf(buf, size, "%.2f ms", s * 1e3);
  else
    snprintf(buf, size, "%.1f µs", s * 1e6);
  return buf;
}

// ---- Counter overhead -------------------------------------------------------

static void overhead_section(const scale &sc) {
  std::vector<double> counter(sc.ovhd_calls), bare(sc.ovhd_calls);
  for (int i = 0; i < sc.ovhd_calls; i++) {
    counter[i] = ovhd();
    uint64_t a = bare_rdtsc();
    uint64_t b = bare_rdtsc();
    bare[i] = (double)(b - a);
  }
  least_ovhd = min_of(counter);
  double ratio = least_ovhd / min_of(bare);
  printf("### Counter overhead against the hardware\n\n");
  printf("%d calls of `ovhd()` (an out-of-line `start_counter`, `get_counter` pair) "
         "interleaved with %d pairs of back-to-back bare RDTSC reads.\n\n",
         sc.ovhd_calls, sc.ovhd_calls);
  printf("| | least | median |\n|---|---:|---:|\n");
  printf("| `ovhd()` | %.0f | %.0f |\n", least_ovhd, median_of(counter));
  printf("| two bare RDTSC reads | %.0f | %.0f |\n\n", min_of(bare), median_of(bare));
  printf("Ratio of the leasts: **%.3f** (target ≤ 1.05: %s).\n\n", ratio, verdict(ratio <= 1.05));
}

// ---- bestof against Google Benchmark ------------------------------------------

struct contender {
  const char *label;
  double answer;  // median answer, TSC cycles
  double spread;
  double wall;    // seconds per answer
};

static void contender_row(const char *what, const contender &c) {
  char t[32];
  printf("| %s | %s | %.0f | %.2f%% | %s |\n", what, c.label, c.answer, c.spread * 100,
         human_time(c.wall, t, sizeof t));
}

// Adds one function's rows; its figures count against the targets when the
// verdict flags are given.
static void compare(const char *what, const char *peer_name, void (*f)(int), int arg,
                    const scale &sc, bool *speed_met, bool *spread_met) {
  contender ours = {"`bestof`", 0, 0, 0};
  std::vector<double> a = bestof_answers(f, arg, sc.answers, &ours.wall);
  ours.answer = median_of(a);
  ours.spread = spread_of(a);

  peer_answers p = peer_measure(peer_name, f, arg, sc.peer_reps, sc.peer_min_time);
  if (p.ns.empty()) {
    fprintf(stderr, "Google Benchmark returned no answer for %s\n", peer_name);
    exit(1);
  }
  std::vector<double> cycles;
  for (double ns : p.ns)
    cycles.push_back(ns * tsc_mhz / 1000);
  contender peer = {"Google Benchmark", median_of(cycles), spread_of(cycles),
                    p.wall_seconds / (double)p.ns.size()};

  contender_row(what, ours);
  contender_row("", peer);
  if (speed_met)
    *speed_met = *speed_met && peer.wall / ours.wall >= 10000;
  if (spread_met)
    *spread_met = *spread_met && ours.spread <= peer.spread;
  printf("| | *`bestof` sooner by* | %.0f× | | |\n", peer.wall / ours.wall);
}

static void peer_section(const scale &sc) {
  printf("### Time to a stable answer: `bestof` against Google Benchmark\n\n");
  printf("Each function measured %d times by `bestof` (defaults: K = 3, 1%%, at most 20 runs) "
         "and by one Google Benchmark with %d repetitions (%s); each tool's answer is the "
         "median of its answers, Google Benchmark's time per call converted to TSC cycles at "
         "the measured rate. Spread is (max − min) / min over the answers; the wall time is per "
         "answer.\n\n",
         sc.answers, sc.peer_reps,
         sc.peer_min_time > 0 ? "shortened minimum time" : "its default minimum time");
  printf("| function | tool | answer (cycles) | spread | wall time per answer |\n");
  printf("|---|---|---:|---:|---:|\n");
  bool speed = true, spread = true;
  compare("4000 dependent multiplies", "mul_chain", run_mul_chain, 4000, sc, &speed, &spread);
  // The same loads at every run, as the K-best scheme assumes: one lap of a
  // ring larger than L1d, so every load waits on L2.
  compare("2048 dependent loads, one lap of a random 128 KiB ring", "ring_lap", run_ring_lap,
          (int)(LAP_BYTES / 64), sc, &speed, &spread);
  printf("\nTargets: every `bestof` answer at least 10,000× sooner (%s); a spread no larger "
         "than Google Benchmark's on the same function (%s).\n\n",
         verdict(speed), verdict(spread));
  printf("The counter's reads are not serialised, so the closing read can run while loads "
         "from the measured code are still outstanding. A memory-bound function short enough "
         "to fit the processor's reorder window is under-counted; Google Benchmark, timing "
         "thousands of calls in a row, is not (outside the targets):\n\n");
  printf("| function | tool | answer (cycles) | spread | wall time per answer |\n");
  printf("|---|---|---:|---:|---:|\n");
  compare("32 dependent loads along a random 64 MiB ring", "short_ring", run_ring, 32, sc, NULL, NULL);
  printf("\n");
}

// ---- Accuracy against known latencies -----------------------------------------

// Ticks per instruction from the slope between chains of `short_blocks` and
// 10 times as many blocks; the least of several answers at each length.
static double chain_slope(void (*f)(int), int short_blocks, int answers) {
  int long_blocks = 10 * short_blocks;
  double t_short = min_of(bestof_answers(f, short_blocks, answers, NULL));
  double t_long = min_of(bestof_answers(f, long_blocks, answers, NULL));
  return (t_long - t_short) / ((long_blocks - short_blocks) * CHAIN_BLOCK);
}

static void latency_section(const scale &sc) {
  int answers = sc.answers < 5 ? sc.answers : 5;
  double add = chain_slope(run_add_chain, 10, answers);
  double imul = chain_slope(run_imul_chain, 10, answers);
  double ratio = imul / add;
  printf("### Accuracy against known latencies\n\n");
  printf("Dependent chains of register ADD and of 64-bit IMUL in inline assembly, "
         "1000 and 10000 instructions long; the cost per instruction is the slope between "
         "the two lengths (least of %d `bestof` answers at each). The counter ticks at the TSC "
         "rate, not the core clock, so only the ratio can be held against the published "
         "latencies (1 and 3 cycles).\n\n",
         answers);
  printf("| chain | TSC ticks per instruction |\n|---|---:|\n");
  printf("| ADD | %.4f |\n| IMUL | %.4f |\n\n", add, imul);
  printf("IMUL / ADD = **%.3f** (target 3.00 ± 0.05: %s). One ADD per core cycle puts the "
         "core clock at about %.0f MHz while it ran.\n\n",
         ratio, verdict(fabs(ratio - 3) <= 0.05), tsc_mhz / add);
}

// ---- Linearity ---------------------------------------------------------------

static void linearity_section(void) {
  std::vector<double> n, t;
  printf("### Linearity\n\n");
  printf("One `bestof` answer for the multiply chain at 8 lengths over two decades, "
         "and the least-squares line through them.\n\n");
  printf("| multiplies | cycles |\n|---:|---:|\n");
  for (int i = 0; i < 8; i++) {
    double len = round(200 * pow(10, 2.0 * i / 7));
    n.push_back(len);
    t.push_back(bestof(run_mul_chain, (int)len));
    printf("| %.0f | %.0f |\n", n.back(), t.back());
  }
  line_fit f = fit_line(n, t);
  printf("\nR² = **%.6f** (target ≥ 0.999: %s); slope %.3f cycles per multiply; intercept "
         "%.1f cycles against `ovhd()` %.0f.\n\n",
         f.r2, verdict(f.r2 >= 0.999), f.slope, f.intercept, least_ovhd);
}

// ---- Cache flush -------------------------------------------------------------

static double gbytes_per_s(double bytes, double seconds) { return bytes / seconds / 1e9; }

static double flush_seconds(int reps) {
  set_bestof_clear_cache(1);
  set_bestof_k(reps + 1);  // never converges: exactly `reps` runs, `reps` flushes
  set_bestof_maxsamples(reps);
  double t0 = wall_seconds();
  bestof(run_nothing, 0);
  double t = wall_seconds() - t0;
  bestof_defaults();
  return t;
}

// The flushed read again with a flush buffer four times the last-level
// cache (at most 1 GiB), so the array must come from memory; 0 when the
// cache size is unknown.  Stores the buffer's size in MiB through mib.
static double beyond_last_level(int bytes, const scale &sc, double *mib) {
  long l3 = sysconf(_SC_LEVEL3_CACHE_SIZE);
  if (l3 <= 0)
    return 0;
  long size = 4 * l3 < (1L << 30) ? 4 * l3 : (1L << 30);
  set_bestof_cache_sizee((int)size);
  set_bestof_clear_cache(1);
  int answers = sc.answers < 5 ? sc.answers : 5;
  double t = median_of(bestof_answers(run_read, bytes, answers, NULL));
  bestof_defaults();
  set_bestof_cache_sizee(BIG);  // frees the large buffer
  *mib = (double)size / MIB;
  return t;
}

static void flush_section(const scale &sc) {
  set_bestof_cache_sizee(BIG);
  int bytes = 256 * KIB;
  double warm = median_of(bestof_answers(run_read, bytes, sc.answers, NULL));
  set_bestof_clear_cache(1);
  double cold = median_of(bestof_answers(run_read, bytes, sc.answers, NULL));
  bestof_defaults();
  double ratio = cold / warm;
  double beyond_mib = 0;
  double beyond = beyond_last_level(bytes, sc, &beyond_mib);

  flush_seconds(1);  // the first flush allocates and writes the buffer
  double flush = flush_seconds(sc.flush_reps);
  std::vector<char> buf(BIG);
  double t0 = wall_seconds();
  for (int i = 0; i < sc.flush_reps; i++) {
    memset(buf.data(), i + 1, buf.size());
    __asm__ volatile("" : : "r"(buf.data()) : "memory");
  }
  double set = wall_seconds() - t0;
  t0 = wall_seconds();
  for (int i = 0; i < sc.flush_reps; i++)
    run_read(BIG);
  double read = wall_seconds() - t0;
  double covered = (double)BIG * sc.flush_reps;

  printf("### Cache flush\n\n");
  printf("Reading a 256 KiB array, median of %d `bestof` answers, with the caches warm and "
         "with the flush on (a 64 MiB buffer, one word read every 32 bytes).\n\n",
         sc.answers);
  printf("| 256 KiB read | cycles |\n|---|---:|\n");
  printf("| warm | %.0f |\n| flushed | %.0f |\n\n", warm, cold);
  printf("Flushed / warm = **%.2f** (target ≥ 3: %s).\n\n", ratio, verdict(ratio >= 3));
  if (beyond > 0)
    printf("With a %.0f MiB flush buffer instead (four times the last-level cache, median of "
           "%d answers): %.0f cycles, **%.2f** × warm.\n\n",
           beyond_mib, sc.answers < 5 ? sc.answers : 5, beyond, beyond / warm);
  printf("| over the same 64 MiB | GB/s |\n|---|---:|\n");
  printf("| the flush (bytes covered) | %.1f |\n", gbytes_per_s(covered, flush));
  printf("| `memset` | %.1f |\n", gbytes_per_s(covered, set));
  printf("| plain read of every word | %.1f |\n\n", gbytes_per_s(covered, read));
}

// ---- Read throughput by size -----------------------------------------------

static void throughput_section(const scale &sc, const char *plot_data) {
  FILE *out = plot_data ? fopen(plot_data, "w") : NULL;
  if (plot_data && !out) {
    perror(plot_data);
    exit(1);
  }
  set_bestof_cache_sizee(BIG);
  printf("### Read throughput by array size\n\n");
  printf("Bytes read per TSC cycle by one pass over an array, one `bestof` answer per size, "
         "warm and with the 64 MiB flush before each run.\n\n");
  printf("| array | warm | flushed |\n|---:|---:|---:|\n");
  if (out)
    fprintf(out, "# bytes warm_bytes_per_cycle flushed_bytes_per_cycle\n");
  // Half-octave steps from 4 KiB to 64 MiB.
  for (int i = 0; i <= 28; i += sc.plot_step) {
    int bytes = (int)(4096 * pow(2, i / 2.0)) & ~63;
    double warm = bytes / bestof(run_read, bytes);
    set_bestof_clear_cache(1);
    double cold = bytes / bestof(run_read, bytes);
    set_bestof_clear_cache(0);
    if (out)
      fprintf(out, "%d %.4f %.4f\n", bytes, warm, cold);
    if (i % 4 == 0)
      printf("| %d KiB | %.2f | %.2f |\n", bytes / KIB, warm, cold);
  }
  printf("\n");
  if (out)
    fclose(out);
}

int main(int argc, char **argv) {
  scale sc = FULL;
  const char *plot_data = NULL;
  for (int i = 1; i < argc; i++) {
    if (strcmp(argv[i], "--quick") == 0)
      sc = QUICK;
    else if (strcmp(argv[i], "--plot-data") == 0 && i + 1 < argc)
      plot_data = argv[++i];
    else {
      fprintf(stderr, "usage: %s [--quick] [--plot-data FILE]\n", argv[0]);
      return 2;
    }
  }
  int cpu = pin_to_current_cpu();
  setup_kernels(BIG, BIG);
  tsc_mhz = mhz(0, sc.mhz_seconds);

  printf("Measured TSC rate: **%.1f MHz**. ", tsc_mhz);
  if (cpu >= 0)
    printf("The process was pinned to CPU %d with `sched_setaffinity`.", cpu);
  else
    printf("The process could not be pinned to one CPU.");
  printf(" Figures vary from run to run and with the machine's load; the ratios matter, not "
         "the absolute times.%s\n\n",
         sc.quick ? " **Quick mode: too few repetitions to mean much.**" : "");
  overhead_section(sc);
  peer_section(sc);
  latency_section(sc);
  linearity_section();
  flush_section(sc);
  throughput_section(sc, plot_data);
  return 0;
}
