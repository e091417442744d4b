// Measures one section of the performance report and prints its tables,
// tab-separated: a header line, then rows, a blank line between tables.  A
// table headed "figure", "value" holds the figures bench/targets.tsv judges;
// bench/report.sh writes the prose and the verdicts.
//
//   bench_report peer|latency|linearity|flush|throughput [--quick]

#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <vector>

#include "clocks.h"
#include "kernels.h"
#include "peer.h"
#include "stats.h"

// How much of everything to do.
struct scale {
  int answers;           // repeated answers to one question
  int peer_reps;         // Google Benchmark repetitions
  double peer_min_time;  // 0: Google Benchmark's own default
  int flush_reps;        // flushes timed for the flush's speed
  int size_step;         // every n-th half-octave array size
  int mhz_seconds;       // sleep for the rate estimate
};

static const scale FULL = {30, 30, 0, 20, 1, 2};
static const scale QUICK = {3, 3, 0.002, 2, 4, 1};

static const int MIB = 1 << 20;
static const int KIB = 1 << 10;
// Flush buffer, big ring and largest array: well beyond L2.
static const int BIG = 64 * MIB;

// bestof's defaults, restored after every measurement that changes them.
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

// ---- bestof against Google Benchmark ------------------------------------------

struct comparison {
  double sooner;        // Google Benchmark's wall time per answer over bestof's
  double spread_point;  // bestof's spread less Google Benchmark's, in points
};

// Two rows: each tool's median answer in TSC cycles, its spread and its wall
// time per answer.
static comparison compare(const char *what, void (*f)(int), int arg, const scale &sc,
                          double tsc_mhz) {
  double wall;
  std::vector<double> ours = bestof_answers(f, arg, sc.answers, &wall);
  peer_answers p = peer_measure(what, f, arg, sc.peer_reps, sc.peer_min_time);
  if (p.ns.empty()) {
    fprintf(stderr, "Google Benchmark returned no answer for %s\n", what);
    exit(1);
  }
  std::vector<double> theirs;
  for (double ns : p.ns)
    theirs.push_back(ns * tsc_mhz / 1000);
  double peer_wall = p.wall_seconds / (double)p.ns.size();
  printf("%s\tbestof\t%.0f\t%.2f\t%.1f\n", what, median_of(ours), 100 * spread_of(ours),
         wall * 1e6);
  printf("%s\tGoogle Benchmark\t%.0f\t%.2f\t%.1f\n", what, median_of(theirs),
         100 * spread_of(theirs), peer_wall * 1e6);
  return {peer_wall / wall, 100 * (spread_of(ours) - spread_of(theirs))};
}

static void peer_section(const scale &sc) {
  setup_kernels(BIG, 4096);
  double tsc_mhz = mhz(0, sc.mhz_seconds);
  printf("function\ttool\tanswer (cycles)\tspread (%%)\twall time per answer (µs)\n");
  comparison mul = compare("4000 dependent multiplies", run_mul_chain, 4000, sc, tsc_mhz);
  // The same loads at every run, as the K-best scheme assumes: one lap of a
  // ring larger than L1d, so every load waits on L2.
  comparison lap =
      compare("one lap of a random 128 KiB ring", run_ring_lap, (int)(LAP_BYTES / 64), sc, tsc_mhz);
  // Different lines at every run: the scheme's assumption broken on purpose.
  comparison walk = compare("32 loads along a random 64 MiB ring", run_ring, 32, sc, tsc_mhz);
  printf("\nfigure\tvalue\n");
  printf("TSC rate (MHz)\t%.1f\n", tsc_mhz);
  printf("bestof sooner by, multiplies\t%.0f\n", mul.sooner);
  printf("bestof sooner by, ring lap\t%.0f\n", lap.sooner);
  printf("bestof sooner by, 64 MiB walk\t%.0f\n", walk.sooner);
  printf("bestof spread less peer's (points), multiplies\t%.2f\n", mul.spread_point);
  printf("bestof spread less peer's (points), ring lap\t%.2f\n", lap.spread_point);
  printf("bestof spread less peer's (points), 64 MiB walk\t%.2f\n", walk.spread_point);
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
  double tsc_mhz = mhz(0, sc.mhz_seconds);
  double add = chain_slope(run_add_chain, 10, answers);
  double imul = chain_slope(run_imul_chain, 10, answers);
  printf("chain\tanswers at each length\tTSC ticks per instruction\n");
  printf("ADD\t%d\t%.4f\nIMUL\t%d\t%.4f\n\n", answers, add, answers, imul);
  printf("figure\tvalue\n");
  printf("IMUL / ADD\t%.3f\n", imul / add);
  printf("core clock at one ADD a cycle (MHz)\t%.0f\n", tsc_mhz / add);
}

// ---- Linearity ---------------------------------------------------------------

static void linearity_section(const scale &) {
  std::vector<double> n, t;
  printf("multiplies\tcycles\n");
  for (int i = 0; i < 8; i++) {
    n.push_back(round(200 * pow(10, 2.0 * i / 7)));
    t.push_back(bestof(run_mul_chain, (int)n.back()));
    printf("%.0f\t%.0f\n", n.back(), t.back());
  }
  line_fit f = fit_line(n, t);
  std::vector<double> counter, bare;
  overhead_pairs(10000, &counter, &bare);
  printf("\nfigure\tvalue\n");
  printf("R²\t%.6f\n", f.r2);
  printf("slope (cycles per multiply)\t%.3f\n", f.slope);
  printf("intercept (cycles)\t%.1f\n", f.intercept);
  printf("least ovhd() (cycles)\t%.0f\n", min_of(counter));
}

// ---- Cache flush -------------------------------------------------------------

// Wall seconds of `reps` flushes and nothing else.
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

// Median of `answers` bestof answers for a read of `bytes`, with a flush
// buffer of flush_bytes before each run (none if 0).
static double read_cycles(int bytes, long flush_bytes, int answers) {
  if (flush_bytes > 0) {
    set_bestof_cache_sizee((int)flush_bytes);
    set_bestof_clear_cache(1);
  }
  double t = median_of(bestof_answers(run_read, bytes, answers, NULL));
  bestof_defaults();
  return t;
}

static void flush_section(const scale &sc) {
  setup_kernels(64 * KIB, BIG);
  const int bytes = 256 * KIB;
  double warm = read_cycles(bytes, 0, sc.answers);
  double cold = read_cycles(bytes, BIG, sc.answers);
  // A buffer four times the last-level cache (at most 1 GiB), so that the
  // array must come from memory.
  long l3 = sysconf(_SC_LEVEL3_CACHE_SIZE);
  long beyond_bytes = l3 <= 0 ? 0 : 4 * l3 < (1L << 30) ? 4 * l3 : (1L << 30);
  int few = sc.answers < 5 ? sc.answers : 5;
  double beyond = beyond_bytes ? read_cycles(bytes, beyond_bytes, few) : 0;
  set_bestof_cache_sizee(BIG);  // frees the large buffer

  printf("256 KiB read\tflush buffer (MiB)\tanswers\tcycles, median\n");
  printf("warm\t0\t%d\t%.0f\n", sc.answers, warm);
  printf("flushed\t%d\t%d\t%.0f\n", BIG / MIB, sc.answers, cold);
  if (beyond_bytes)
    printf("flushed\t%ld\t%d\t%.0f\n", beyond_bytes / MIB, few, beyond);

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
  double gb = (double)BIG * sc.flush_reps / 1e9;
  printf("\nover the same 64 MiB\tGB/s\n");
  printf("the flush (bytes covered)\t%.1f\n", gb / flush);
  printf("memset\t%.1f\n", gb / set);
  printf("plain read of every word\t%.1f\n", gb / read);

  printf("\nfigure\tvalue\n");
  printf("flushed / warm\t%.2f\n", cold / warm);
  if (beyond_bytes)
    printf("flushed beyond the last-level cache / warm\t%.2f\n", beyond / warm);
}

// ---- Read throughput by size -----------------------------------------------

static void throughput_section(const scale &sc) {
  setup_kernels(64 * KIB, BIG);
  set_bestof_cache_sizee(BIG);
  printf("array (bytes)\twarm (bytes per cycle)\tflushed (bytes per cycle)\n");
  // Half-octave steps from 4 KiB to 64 MiB.
  for (int i = 0; i <= 28; i += sc.size_step) {
    int bytes = (int)(4096 * pow(2, i / 2.0)) & ~63;
    double warm = bytes / bestof(run_read, bytes);
    set_bestof_clear_cache(1);
    double cold = bytes / bestof(run_read, bytes);
    set_bestof_clear_cache(0);
    printf("%d\t%.4f\t%.4f\n", bytes, warm, cold);
  }
}

int main(int argc, char **argv) {
  static const struct {
    const char *name;
    void (*run)(const scale &);
  } sections[] = {{"peer", peer_section},
                  {"latency", latency_section},
                  {"linearity", linearity_section},
                  {"flush", flush_section},
                  {"throughput", throughput_section}};
  const char *usage = "peer|latency|linearity|flush|throughput [--quick]";
  for (const auto &s : sections)
    if (argc > 1 && strcmp(argv[1], s.name) == 0) {
      scale sc = quick_mode(argc, argv, 2, usage) ? QUICK : FULL;
      if (pin_to_current_cpu() < 0)
        fprintf(stderr, "%s: could not pin the process to one processor\n", argv[0]);
      s.run(sc);
      return 0;
    }
  fprintf(stderr, "usage: %s %s\n", argv[0], usage);
  return 2;
}
