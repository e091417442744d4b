// Measures one section of the performance report and prints its tables,
// tab-separated: a header line, then rows, a blank line between tables.  A
// table headed "figure", "value" holds the figures bench/targets.tsv judges.
//
//   bench_report peer|latency|cycles|linearity|flush|memory|batch|throughput|precise
//                [--quick]

#include <cyclekit/bestof.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "bench.h"
#include "kernels.h"

// How much of everything to do.
struct scale {
  int answers;           // repeated answers to one question
  int few;               // for the slower questions
  double peer_min_time;  // 0: Google Benchmark's own default
  int flush_reps;        // flushes timed for the flush's speed
  int size_step;         // every n-th half-octave array size
  int mhz_seconds;       // sleep for the rate estimate
};
static const scale FULL = {30, 5, 0, 20, 1, 2};
static const scale QUICK = {3, 3, 0.002, 2, 4, 1};

static const int KIB = 1 << 10, MIB = 1 << 20;
// Flush buffer, big ring and largest array: well beyond L2.
static const int BIG = 64 * MIB;

// The report of every answer since a section last cleared it.
static std::vector<bestof_report> reports;

// n answers for f(arg) with bestof's defaults, or with a flush of flush_bytes
// before each run; stores the wall time per answer through wall if given.
static std::vector<double> answers(void (*f)(int), int arg, int n, long flush_bytes = 0,
                                   double *wall = NULL) {
  bestof_settings saved;
  get_bestof_settings(&saved);
  set_bestof_cache_sizee(flush_bytes ? (int)flush_bytes : BIG);
  set_bestof_clear_cache(flush_bytes != 0);
  std::vector<double> v;
  double t0 = wall_seconds();
  for (int i = 0; i < n; i++) {
    v.push_back(bestof(f, arg));
    bestof_report r;
    bestof_last(&r);
    reports.push_back(r);
  }
  if (wall)
    *wall = (wall_seconds() - t0) / n;
  set_bestof_settings(&saved);
  return v;
}

// Two rows, one per tool: its median answer in TSC cycles, its spread and
// its wall time per answer.  Returns Google Benchmark's wall time over
// bestof's and bestof's spread less Google Benchmark's, in points.
static void compare(const char *what, void (*f)(int), int arg, const scale &sc, double tsc_mhz,
                    double *sooner, double *spread_points) {
  double wall;
  std::vector<double> ours = answers(f, arg, sc.answers, 0, &wall), theirs;
  peer_answers p = peer_measure(what, f, arg, sc.answers, sc.peer_min_time);
  if (p.ns.empty()) {
    fprintf(stderr, "Google Benchmark returned no answer for %s\n", what);
    exit(1);
  }
  for (double ns : p.ns)
    theirs.push_back(ns * tsc_mhz / 1000);
  double peer_wall = p.wall_seconds / (double)p.ns.size();
  printf("%s\tbestof\t%.0f\t%.2f\t%.1f\n", what, median_of(ours), 100 * spread_of(ours),
         wall * 1e6);
  printf("%s\tGoogle Benchmark\t%.0f\t%.2f\t%.1f\n", what, median_of(theirs),
         100 * spread_of(theirs), peer_wall * 1e6);
  *sooner = peer_wall / wall;
  *spread_points = 100 * (spread_of(ours) - spread_of(theirs));
}

static void peer_section(const scale &sc) {
  setup_kernels(BIG, 4096);
  double tsc_mhz = mhz(0, sc.mhz_seconds), sooner[3], spread[3];
  const char *name[3] = {"multiplies", "ring lap", "64 MiB walk"};
  printf("function\ttool\tanswer (cycles)\tspread (%%)\twall time per answer (µs)\n");
  compare("4000 dependent multiplies", run_mul_chain, 4000, sc, tsc_mhz, &sooner[0], &spread[0]);
  // The same loads at every run, as the K-best scheme assumes: one lap of a
  // ring larger than L1d, so every load waits on L2.
  compare("one lap of a random 128 KiB ring", run_ring_lap, (int)(LAP_BYTES / 64), sc, tsc_mhz,
          &sooner[1], &spread[1]);
  // Different lines at every run: the scheme's assumption broken on purpose.
  compare("32 loads along a random 64 MiB ring", run_ring, 32, sc, tsc_mhz, &sooner[2], &spread[2]);
  printf("\nfigure\tvalue\nTSC rate (MHz)\t%.1f\n", tsc_mhz);
  for (int i = 0; i < 3; i++)
    printf("bestof sooner by, %s\t%.0f\n", name[i], sooner[i]);
  for (int i = 0; i < 3; i++)
    printf("bestof spread less peer's (points), %s\t%.2f\n", name[i], spread[i]);
}

// Ticks per instruction from the slope between chains of 10 and 100 blocks;
// the least of several answers at each length.
static double chain_slope(void (*f)(int), int n) {
  double t_short = min_of(answers(f, 10, n)), t_long = min_of(answers(f, 100, n));
  return (t_long - t_short) / (90 * CHAIN_BLOCK);
}

static void latency_section(const scale &sc) {
  double tsc_mhz = mhz(0, sc.mhz_seconds);
  double add = chain_slope(run_add_chain, sc.few), imul = chain_slope(run_imul_chain, sc.few);
  printf("chain\tanswers at each length\tTSC ticks per instruction\n");
  printf("ADD\t%d\t%.4f\nIMUL\t%d\t%.4f\n\n", sc.few, add, sc.few, imul);
  printf("figure\tvalue\nIMUL / ADD\t%.3f\n", imul / add);
  printf("core clock at one ADD a cycle (MHz)\t%.0f\n", tsc_mhz / add);
}

// The same chains counted in core cycles: bestof measures core_per_tick()
// before and after every measurement and converts with their mean.
static void cycles_section(const scale &sc) {
  bestof_settings saved;
  get_bestof_settings(&saved);
  set_bestof_core_cycles(1);
  reports.clear();
  double add = chain_slope(run_add_chain, sc.few), imul = chain_slope(run_imul_chain, sc.few);
  set_bestof_settings(&saved);
  double lo = 0, hi = 0;
  int converted = 0;
  for (const bestof_report &r : reports)
    if (r.core_cycles) {
      double a = fmin(r.core_per_tick_start, r.core_per_tick_end);
      double b = fmax(r.core_per_tick_start, r.core_per_tick_end);
      lo = converted ? fmin(lo, a) : a;
      hi = converted ? fmax(hi, b) : b;
      converted++;
    }
  printf("chain\tanswers at each length\tcore cycles per instruction\n");
  printf("ADD\t%d\t%.4f\nIMUL\t%d\t%.4f\n\n", sc.few, add, sc.few, imul);
  printf("core_per_tick() at the ends of each answer\tanswers converted\tleast\tmost\n");
  printf("core cycles per TSC tick\t%d of %zu\t%.4f\t%.4f\n\n", converted, reports.size(), lo, hi);
  printf("figure\tvalue\nADD, core cycles per instruction\t%.3f\n", add);
  printf("IMUL, core cycles per instruction\t%.3f\n", imul);
}

static void linearity_section(const scale &) {
  std::vector<double> n, t, counter, bare;
  printf("multiplies\tcycles\n");
  for (int i = 0; i < 8; i++) {
    n.push_back(round(200 * pow(10, 2.0 * i / 7)));
    t.push_back(bestof(run_mul_chain, (int)n.back()));
    printf("%.0f\t%.0f\n", n.back(), t.back());
  }
  line_fit f = fit_line(n, t);
  overhead_pairs(10000, &counter, &bare);
  printf("\nfigure\tvalue\nR²\t%.6f\nslope (cycles per multiply)\t%.3f\n", f.r2, f.slope);
  printf("intercept (cycles)\t%.1f\nleast ovhd() (cycles)\t%.0f\n", f.intercept, min_of(counter));
}

// A flush or ring this many times the last-level cache, and its bounds:
// memory for it where the cache's size is unknown, and at most this much on
// a shared machine.
static long llc_multiple(int times) {
  return beyond_llc_bytes(bestof_llc_bytes(), times, 256L * MIB, 1L << 30);
}

// The flush the library sizes to evict the last-level cache (twice it), at
// most 1 GiB on a shared machine.
static long llc_flush_bytes(void) {
  long flush = bestof_flush_bytes();
  return flush < (1L << 30) ? flush : 1L << 30;
}

static void flush_section(const scale &sc) {
  setup_kernels(64 * KIB, BIG);
  const int bytes = 256 * KIB;
  // Twice the last-level cache, as the examples size it: the array must then
  // come from memory on any machine.
  long llc_flush = llc_flush_bytes();
  double warm = median_of(answers(run_read, bytes, sc.answers));
  double fixed = median_of(answers(run_read, bytes, sc.answers, BIG));
  double cold = median_of(answers(run_read, bytes, sc.answers, llc_flush));
  printf("256 KiB read\tflush buffer (MiB)\tanswers\tcycles, median\n");
  printf("warm\t0\t%d\t%.0f\n", sc.answers, warm);
  printf("flushed, fixed buffer\t%d\t%d\t%.0f\n", BIG / MIB, sc.answers, fixed);
  printf("flushed, twice the last-level cache\t%ld\t%d\t%.0f\n", llc_flush / MIB, sc.answers, cold);

  // The flush's own speed: exactly flush_reps runs of nothing (K never
  // agrees), each after a flush, beside memset and a plain read.
  set_bestof_cache_sizee(BIG);
  set_bestof_clear_cache(1);
  set_bestof_k(2);
  set_bestof_maxsamples(1);
  bestof(run_nothing, 0);  // the first flush allocates and writes the buffer
  set_bestof_k(sc.flush_reps + 1);
  set_bestof_maxsamples(sc.flush_reps);
  double t[4] = {wall_seconds()};
  bestof(run_nothing, 0);
  t[1] = wall_seconds();
  std::vector<char> buf(BIG);
  for (int i = 0; i < sc.flush_reps; i++) {
    memset(buf.data(), i + 1, buf.size());
    __asm__ volatile("" : : "r"(buf.data()) : "memory");
  }
  t[2] = wall_seconds();
  for (int i = 0; i < sc.flush_reps; i++)
    run_read(BIG);
  t[3] = wall_seconds();
  double gb = (double)BIG * sc.flush_reps / 1e9;
  printf("\nover the same 64 MiB\tGB/s\nthe flush (bytes covered)\t%.1f\n", gb / (t[1] - t[0]));
  printf("memset\t%.1f\nplain read of every word\t%.1f\n", gb / (t[2] - t[1]), gb / (t[3] - t[2]));
  printf("\nfigure\tvalue\nflushed twice the last-level cache / warm\t%.2f\n", cold / warm);
  printf("flushed 64 MiB / warm\t%.2f\n", fixed / warm);
}

// One fenced count of `hops` loads along the big ring, going on where the
// last walk stopped.
static double fenced_ring_loop(int hops) {
  start_fenced_counter();
  run_ring(hops);
  return get_fenced_counter();
}

static void memory_section(const scale &sc) {
  // Four times the last-level cache, and the walk goes on where the last run
  // stopped: a lap is millions of lines, so every load misses every cache
  // without a flush.
  long ring_bytes = llc_multiple(4);
  setup_kernels((size_t)ring_bytes, 4096);
  const int hops = 32, groups = sc.answers * 1000;
  run_ring(groups * hops);  // one untimed walk first: code, branches and page tables warm
  std::vector<double> plain = answers(run_ring, hops, sc.answers);
  bestof_settings saved;
  get_bestof_settings(&saved);
  set_bestof_fence(1);
  std::vector<double> fenced = answers(run_ring, hops, sc.answers);
  set_bestof_settings(&saved);
  double loop = fenced_ring_loop(groups * hops) / groups;
  printf("32 loads along a %ld MiB ring\tanswers\tleast\tmedian\n", ring_bytes / MIB);
  printf("bestof, fenced reads\t%d\t%.0f\t%.0f\n", sc.answers, min_of(fenced), median_of(fenced));
  printf("bestof, bare reads\t%d\t%.0f\t%.0f\n", sc.answers, min_of(plain), median_of(plain));
  printf("one fenced loop, per 32 loads\t1\t%.0f\t%.0f\n\n", loop, loop);
  printf("figure\tvalue\n");
  printf("fenced bestof / long loop, medians\t%.3f\n", median_of(fenced) / loop);
  printf("fenced bestof / long loop, leasts\t%.3f\n", min_of(fenced) / loop);
  printf("bare bestof / long loop, medians\t%.3f\n", median_of(plain) / loop);
}

// One run of `calls` calls through the driver's own batch loop, per call:
// the same loop and call site as an automatic batch, so the two differ only
// in how many calls share one start and one read.
static double per_call_in_driver_loop(void (*f)(int), int arg, int calls) {
  bestof_settings saved;
  get_bestof_settings(&saved);
  set_bestof_k(1);
  set_bestof_maxsamples(1);
  set_bestof_batch(calls);
  double per_call = bestof(f, arg);
  set_bestof_settings(&saved);
  return per_call;
}

// A function of a few cycles: two dependent multiplies and a store, shorter
// than the counter's pair costs.  The shared machine's speed drifts over
// milliseconds (a busy neighbour halves this function's rate for a while),
// so each pair of answers is held against long loops run just before and
// just after it, the lesser of the two: like bestof's answer, a figure from
// the machine at its least disturbed.
static void batch_section(const scale &sc) {
  const int multiplies = 2, calls = 100000;
  std::vector<double> loop, one, batched, one_ratio, batched_ratio;
  int least_n = 0, most_n = 0;
  bestof_settings saved;
  get_bestof_settings(&saved);
  double before = per_call_in_driver_loop(run_mul_chain, multiplies, calls);
  std::vector<double> own;
  for (int i = 0; i < sc.answers; i++) {
    set_bestof_batch(1);
    one.push_back(bestof(run_mul_chain, multiplies));
    set_bestof_batch(0);
    batched.push_back(bestof(run_mul_chain, multiplies));
    bestof_report r;
    bestof_last(&r);
    least_n = i == 0 || r.batch < least_n ? r.batch : least_n;
    most_n = i == 0 || r.batch > most_n ? r.batch : most_n;
    double after = per_call_in_driver_loop(run_mul_chain, multiplies, calls);
    own.push_back(per_call_in_long_loop(run_mul_chain, multiplies, calls));
    loop.push_back(fmin(before, after));
    one_ratio.push_back(one.back() / loop.back());
    batched_ratio.push_back(batched.back() / loop.back());
    before = after;
  }
  set_bestof_settings(&saved);
  printf("%d dependent multiplies\tcalls per run\tanswers\tleast\tmedian\n", multiplies);
  printf("bestof, batch 1\t1\t%d\t%.2f\t%.2f\n", sc.answers, min_of(one), median_of(one));
  printf("bestof, automatic batch\t%d to %d\t%d\t%.2f\t%.2f\n", least_n, most_n, sc.answers,
         min_of(batched), median_of(batched));
  printf("long loop, per call\t%d\t%d\t%.2f\t%.2f\n", calls, sc.answers, min_of(loop),
         median_of(loop));
  printf("long loop of its own, per call\t%d\t%d\t%.2f\t%.2f\n\n", calls, sc.answers, min_of(own),
         median_of(own));
  printf("figure\tvalue\n");
  printf("automatic batch / long loop, median ratio\t%.3f\n", median_of(batched_ratio));
  printf("batch 1 / long loop, median ratio\t%.3f\n", median_of(one_ratio));
}

static void throughput_section(const scale &sc) {
  setup_kernels(64 * KIB, BIG);
  long flush = llc_flush_bytes();
  printf("array (bytes)\twarm (bytes per cycle)\tflushed (bytes per cycle)\n");
  // Half-octave steps from 4 KiB to 64 MiB.
  for (int i = 0; i <= 28; i += sc.size_step) {
    int bytes = (int)(4096 * pow(2, i / 2.0)) & ~63;
    double warm = bytes / answers(run_read, bytes, 1)[0];
    printf("%d\t%.4f\t%.4f\n", bytes, warm, bytes / answers(run_read, bytes, 1, flush)[0]);
  }
}

// ---- One call in core cycles: precise mode -----------------------------------

// How bestof is asked: all three count core cycles; the first two are the
// K-best driver with bare and with fenced reads, the third precise mode.
enum ask { ASK_PLAIN, ASK_FENCED, ASK_PRECISE };

static void set_ask(enum ask a) {
  set_bestof_core_cycles(a != ASK_PRECISE);
  set_bestof_fence(a == ASK_FENCED);
  set_bestof_precise(a == ASK_PRECISE);
}

// n answers for f(arg) asked one way; the median wall time of an answer
// (the mean would count the time a shared machine gave to others) and how
// many answers the report called resolved go through the pointers.
static std::vector<double> asked(enum ask a, void (*f)(int), int arg, int n, double *wall,
                                 int *resolved) {
  set_ask(a);
  std::vector<double> v, walls;
  *resolved = 0;
  for (int i = 0; i < n; i++) {
    double t0 = wall_seconds();
    v.push_back(bestof(f, arg));
    walls.push_back(wall_seconds() - t0);
    bestof_report r;
    bestof_last(&r);
    *resolved += r.resolved;
  }
  set_ask(ASK_PLAIN);
  set_bestof_core_cycles(0);
  *wall = median_of(walls);
  return v;
}

// Core cycles per step of a kernel from the slope between two lengths, the
// least fenced core-cycle answer of n at each: the pair's cost and the
// closing read's overlap cancel.
static double core_slope(void (*f)(int), int short_arg, int long_arg, double units_per_arg, int n) {
  double wall;
  int resolved;
  double t_short = min_of(asked(ASK_FENCED, f, short_arg, n, &wall, &resolved));
  double t_long = min_of(asked(ASK_FENCED, f, long_arg, n, &wall, &resolved));
  return (t_long - t_short) / ((long_arg - short_arg) * units_per_arg);
}

struct precise_case {
  const char *name;
  void (*f)(int);
  int arg;
  double truth;  // core cycles
};

// The figures of one case: medians of each way of asking, the precise
// answers' spread (max - min) / median, the wall time per precise answer.
struct precise_row {
  double plain, fenced, precise, spread, ms;
  int resolved;
};

static precise_row precise_measure(const precise_case &c, int n) {
  precise_row row;
  double wall;
  int resolved;
  row.plain = median_of(asked(ASK_PLAIN, c.f, c.arg, n, &wall, &resolved));
  row.fenced = median_of(asked(ASK_FENCED, c.f, c.arg, n, &wall, &resolved));
  std::vector<double> p = asked(ASK_PRECISE, c.f, c.arg, n, &wall, &row.resolved);
  row.precise = median_of(p);
  row.spread = (max_of(p) - min_of(p)) / fabs(row.precise);
  row.ms = wall * 1e3;
  return row;
}

static void precise_section(const scale &sc) {
  // A quick run only proves the row works: a ring of 64 MiB is set up in a
  // fraction of the time.
  long ring_bytes = sc.answers < FULL.answers ? 64L * MIB : llc_multiple(4);
  setup_kernels((size_t)ring_bytes, 4096);
  const int hops = 32, groups = sc.answers * 1000;
  run_ring(groups * hops);  // untimed: code, branches and page tables warm
  // The long loop in pieces of 100 groups, the least piece: on a shared
  // machine a loop of a second, and many of its pieces, also count the time
  // others ran, while the mean of 3,200 loads strays little from piece to
  // piece.
  std::vector<double> pieces;
  double cpt_before = core_per_tick();
  for (int i = 0; i < groups / 100; i++)
    pieces.push_back(fenced_ring_loop(100 * hops) / 100);
  double loop_core = min_of(pieces) * (cpt_before + core_per_tick()) / 2;
  // The truths: latencies per instruction by slope, times the length.
  double imul = core_slope(run_imul_chain, 10, 100, CHAIN_BLOCK, sc.few);
  double add = core_slope(run_add_chain, 10, 100, CHAIN_BLOCK, sc.few);
  double load = core_slope(run_ring_small, 1000, 10000, 1, sc.few);
  const precise_case cases[] = {
      {"empty function", run_nothing, 0, 0},
      {"10 dependent IMULs", run_imul_tens, 1, 10 * imul},
      {"30 dependent IMULs", run_imul_tens, 3, 30 * imul},
      {"100 dependent IMULs", run_imul_tens, 10, 100 * imul},
      {"1000 dependent IMULs", run_imul_tens, 100, 1000 * imul},
      {"1000 dependent ADDs", run_add_chain, 10, 1000 * add},
      {"100 dependent loads around a 16 KiB ring", run_ring_small, 100, 100 * load},
      {"32 dependent loads beyond the last-level cache", run_ring, hops, loop_core},
  };
  const int ncases = sizeof cases / sizeof cases[0];
  precise_row rows[ncases];
  for (int i = 0; i < ncases; i++)
    rows[i] = precise_measure(cases[i], sc.answers);
  printf(
      "one call of\ttruth\tplain\tfenced\tprecise\tprecise spread (%%)\tms per precise answer, "
      "median"
      "\tprecise answers resolved\n");
  double worst_spread = 0, worst_ms = 0;
  for (int i = 0; i < ncases; i++) {
    const precise_row &r = rows[i];
    char spread[32] = "n/a";
    if (i > 0)
      snprintf(spread, sizeof spread, "%.2f", 100 * r.spread);
    printf("%s\t%.1f\t%.1f\t%.1f\t%.1f\t%s\t%.3f\t%d of %d\n", cases[i].name, cases[i].truth,
           r.plain, r.fenced, r.precise, spread, r.ms, r.resolved, sc.answers);
    // The walk beyond the cache times other lines at every call: its spread
    // is the memory's, not the estimator's.
    if (cases[i].truth >= 300 && i < ncases - 1)
      worst_spread = fmax(worst_spread, r.spread);
    worst_ms = fmax(worst_ms, r.ms);
  }
  printf("\nper instruction (core cycles)\tIMUL\tADD\tload, 16 KiB ring\n");
  printf("slope between two lengths\t%.3f\t%.3f\t%.3f\n\n", imul, add, load);
  printf("figure\tvalue\n");
  printf("empty function, precise answer (core cycles)\t%.2f\n", rows[0].precise);
  printf("empty function, precise answers resolved\t%d\n", rows[0].resolved);
  for (int i = 1; i <= 2; i++)
    printf("%s, precise less truth (core cycles)\t%.2f\n", cases[i].name,
           rows[i].precise - cases[i].truth);
  for (int i = 3; i < ncases - 1; i++)
    printf("%s, precise / truth\t%.4f\n", cases[i].name, rows[i].precise / cases[i].truth);
  printf("%s, precise / long fenced loop\t%.3f\n", cases[ncases - 1].name,
         rows[ncases - 1].precise / cases[ncases - 1].truth);
  printf("largest precise spread of fixed work from 300 core cycles up (%%)\t%.2f\n",
         100 * worst_spread);
  printf("longest median time per precise answer (ms)\t%.3f\n", worst_ms);
}

int main(int argc, char **argv) {
  static const struct {
    const char *name;
    void (*run)(const scale &);
  } sections[] = {{"peer", peer_section},      {"latency", latency_section},
                  {"cycles", cycles_section},  {"linearity", linearity_section},
                  {"flush", flush_section},    {"memory", memory_section},
                  {"batch", batch_section},    {"throughput", throughput_section},
                  {"precise", precise_section}};
  const char *usage =
      "peer|latency|cycles|linearity|flush|memory|batch|throughput|precise [--quick]";
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
