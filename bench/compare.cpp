// Is one version faster, and how many cycles per element: bestof_compare and
// bestof_cpe held to their targets, beside Google Benchmark asked the same
// questions.  Prints tab-separated tables as the other benchmark programs
// do; the table headed "figure", "value" holds the judged figures.
//
//   bench_compare [--quick]

#include <benchmark/benchmark.h>
#include <cyclekit/bestof.h>
#include <cyclekit/compare.h>
#include <cyclekit/keep.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bench.h"
#include "kernels.h"

namespace {

struct scale {
  int comparisons;       // bestof_compare answers per case
  int peer_comparisons;  // Google Benchmark comparisons per case
  int peer_repetitions;  // its repetitions per version and comparison
  double peer_min_time;  // its minimum time per repetition
  int fits;              // bestof_cpe answers per chain
  double fit_min_time;   // Google Benchmark's minimum time per size
};
const scale FULL = {100, 10, 9, 0.01, 30, 0.05};
const scale QUICK = {3, 1, 3, 0.002, 2, 0.002};

// ---- The functions compared ---------------------------------------------------

// n dependent 64-bit multiplies, one at a time; the loop's own instructions
// run beside the chain.
void imuls(int n) {
  uint64_t x = 0x12345, k = MUL_CHAIN_FACTOR;
  for (int i = 0; i < n; i++)
    __asm__("imul %1, %0" : "+r"(x) : "r"(k));
  CYCLEKIT_KEEP(x);
}

// A loop whose result nothing else uses: kept, and left to the compiler.
void kept_loop(int n) {
  uint64_t x = 1;
  for (int i = 0; i < n; i++)
    x = x * MUL_CHAIN_FACTOR + (uint64_t)i;
  CYCLEKIT_KEEP(x);
}
void unkept_loop(int n) {
  uint64_t x = 1;
  for (int i = 0; i < n; i++)
    x = x * MUL_CHAIN_FACTOR + (uint64_t)i;
  (void)x;
}

// ---- Google Benchmark's comparison ------------------------------------------------

// Two-sided p of the Mann-Whitney U test of two samples, by the normal
// approximation with ties counted half, as the peer's comparison script
// does for its repetitions.
double u_test_p(const std::vector<double> &a, const std::vector<double> &b) {
  double u = 0;
  for (double x : a)
    for (double y : b)
      u += x < y ? 1 : x == y ? 0.5 : 0;
  double n = (double)a.size(), m = (double)b.size();
  double sd = sqrt(n * m * (n + m + 1) / 12);
  double z = (u - n * m / 2) / sd;
  return erfc(fabs(z) / sqrt(2.0));
}

struct tally {
  int faster = 0, alike = 0, slower = 0, holds = 0;
  std::vector<double> ratios, ms;
  void add(int verdict, double ratio, double ms_taken) {
    (verdict < 0 ? faster : verdict > 0 ? slower : alike)++;
    ratios.push_back(ratio);
    ms.push_back(ms_taken);
  }
};

tally ours(void (*f)(int), int farg, void (*g)(int), int garg, int n, double expect) {
  tally t;
  for (int i = 0; i < n; i++) {
    bestof_comparison c;
    double t0 = wall_seconds();
    bestof_compare(f, farg, g, garg, &c);
    t.add(c.verdict, c.ratio, 1e3 * (wall_seconds() - t0));
    if (expect > 0 && c.low <= expect && expect <= c.high)
      t.holds++;
  }
  return t;
}

tally theirs(void (*f)(int), int farg, void (*g)(int), int garg, const scale &sc) {
  tally t;
  for (int i = 0; i < sc.peer_comparisons; i++) {
    double t0 = wall_seconds();
    peer_answers a = peer_measure("first", f, farg, sc.peer_repetitions, sc.peer_min_time);
    peer_answers b = peer_measure("second", g, garg, sc.peer_repetitions, sc.peer_min_time);
    double ratio = median_of(b.ns) / median_of(a.ns);
    int verdict = u_test_p(a.ns, b.ns) < 0.05 ? (ratio > 1 ? 1 : -1) : 0;
    t.add(verdict, ratio, 1e3 * (wall_seconds() - t0));
  }
  return t;
}

void tally_row(const char *pair, const char *tool, const tally &t, bool interval) {
  printf("%s\t%s\t%zu\t%d\t%d\t%d\t%s\t%.4f\t%.2f\t%.2f\n", pair, tool, t.ratios.size(), t.faster,
         t.alike, t.slower, interval ? std::to_string(t.holds).c_str() : "-", median_of(t.ratios),
         median_of(t.ms), max_of(t.ms));
}

// ---- Google Benchmark's fit -----------------------------------------------------

// Collects the coefficient of the linear complexity fit, in nanoseconds per
// unit of size, and the time per call at each size.
class big_o_collector : public benchmark::BenchmarkReporter {
 public:
  double coefficient = NAN;
  std::vector<double> n, ns;
  bool ReportContext(const Context &) override { return true; }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.run_type == Run::RT_Aggregate && r.aggregate_name == "BigO") {
        coefficient = r.GetAdjustedRealTime();
      } else if (r.run_type == Run::RT_Iteration && !r.error_occurred) {
        n.push_back((double)r.complexity_n);
        ns.push_back(r.GetAdjustedRealTime());
      }
  }
};

// Google Benchmark's linear complexity coefficient for f over the sizes, in
// nanoseconds per unit of size; the slope of the least-squares line through
// its times at each size; and the wall time of the fit.
double peer_slope(void (*f)(int), const std::vector<int> &sizes, double min_time, double *line,
                  double *seconds) {
  benchmark::ClearRegisteredBenchmarks();
  benchmark::internal::Benchmark *b =
      benchmark::RegisterBenchmark("fit", [f](benchmark::State &st) {
        for (auto _ : st)
          f((int)st.range(0));
        st.SetComplexityN(st.range(0));
      });
  for (int n : sizes)
    b->Arg(n);
  b->Unit(benchmark::kNanosecond)->Complexity(benchmark::oN)->MinTime(min_time);
  big_o_collector c;
  double t0 = wall_seconds();
  benchmark::RunSpecifiedBenchmarks(&c, ".");
  *seconds = wall_seconds() - t0;
  benchmark::ClearRegisteredBenchmarks();
  *line = c.n.size() >= 2 ? fit_line(c.n, c.ns).slope : NAN;
  return c.coefficient;
}

struct fits {
  std::vector<double> slope, r2, ms;
};

// Core cycles per instruction of a chain of blocks of CHAIN_BLOCK
// instructions, over 10 to 100 blocks.  Fenced: a bare closing read may run
// ahead of the chain's last few hundred cycles, by a different amount at
// each size, which the robust slope ignores but R² does not.
fits our_fits(void (*chain)(int), int n) {
  fits r;
  set_bestof_core_cycles(1);
  set_bestof_fence(1);
  for (int i = 0; i < n; i++) {
    bestof_fit fit;
    double t0 = wall_seconds();
    bestof_cpe(chain, 10, 100, &fit);
    r.ms.push_back(1e3 * (wall_seconds() - t0));
    r.slope.push_back(fit.slope / CHAIN_BLOCK);
    r.r2.push_back(fit.r2);
  }
  set_bestof_core_cycles(0);
  set_bestof_fence(0);
  return r;
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = quick_mode(argc, argv, 1, "usage: bench_compare [--quick]");
  const scale &sc = quick ? QUICK : FULL;
  int cpu = pin_to_current_cpu();
  setup_kernels(4096, 4096);
  int argc_b = 1;
  char name[] = "bench_compare", *argv_b[] = {name, NULL};
  benchmark::Initialize(&argc_b, argv_b);
  // A TSC tick in core cycles and nanoseconds, to hold the peer's times
  // against bestof's core cycles.
  double cpt = core_per_tick(), tsc_mhz = mhz(0, quick ? 1 : 2);

  // ---- Comparisons ----
  printf(
      "pair\ttool\tcomparisons\tfaster\tnot distinguishable\tslower\tinterval holds "
      "1.05\tmedian ratio\tms per comparison, median\tms, most\n");
  tally self = ours(imuls, 1000, imuls, 1000, sc.comparisons, 0);
  tally_row("1000 IMULs against itself", "bestof_compare", self, false);
  tally_row("1000 IMULs against itself", "Google Benchmark", theirs(imuls, 1000, imuls, 1000, sc),
            false);
  pid_t hog = cpu >= 0 ? start_hog() : -1;
  tally hogged = ours(imuls, 1000, imuls, 1000, sc.comparisons, 0);
  tally peer_hogged = theirs(imuls, 1000, imuls, 1000, sc);
  stop_hog(hog);
  tally_row("itself, a CPU hog on the same core", "bestof_compare", hogged, false);
  tally_row("itself, a CPU hog on the same core", "Google Benchmark", peer_hogged, false);
  tally five = ours(imuls, 1000, imuls, 1050, sc.comparisons, 1.05);
  tally_row("1050 IMULs against 1000", "bestof_compare", five, true);
  // The comparison's answers are net of the pair's cost by default; as read,
  // each carries the cost, the same for both, which pulls their ratio a
  // little below the work's 1.05.
  set_bestof_compare_net(0);
  tally five_plain = ours(imuls, 1000, imuls, 1050, sc.comparisons, 1.05);
  set_bestof_compare_net(1);
  tally_row("1050 IMULs against 1000, answers as read", "bestof_compare", five_plain, true);
  tally_row("1050 IMULs against 1000", "Google Benchmark", theirs(imuls, 1000, imuls, 1050, sc),
            false);
  tally one = ours(imuls, 1000, imuls, 1010, sc.comparisons, 0);
  tally_row("1010 IMULs against 1000", "bestof_compare", one, false);
  tally_row("1010 IMULs against 1000", "Google Benchmark", theirs(imuls, 1000, imuls, 1010, sc),
            false);

  // ---- Fits ----
  std::vector<int> sizes;
  for (int i = 0; i < 8; i++)
    sizes.push_back(10 + (90 * i + 3) / 7);
  printf(
      "\nchain\ttool\tfits\tcore cycles per instruction, median\tleast R²\tms per fit, "
      "median\tms, most\n");
  // The peer's per-instruction figure from its complexity coefficient (a
  // line through the origin) and from a least-squares line through its times.
  auto peer_rows = [&](const char *chain, void (*f)(int)) {
    double seconds, line, ns = peer_slope(f, sizes, sc.fit_min_time, &line, &seconds);
    double to_core = tsc_mhz / 1000 * cpt / CHAIN_BLOCK;
    printf("%s\tGoogle Benchmark, oN coefficient\t1\t%.4f\t-\t%.0f\t-\n", chain, ns * to_core,
           1e3 * seconds);
    printf("%s\tGoogle Benchmark, line through its times\t1\t%.4f\t-\t%.0f\t-\n", chain,
           line * to_core, 1e3 * seconds);
  };
  fits add = our_fits(run_add_chain, sc.fits), imul = our_fits(run_imul_chain, sc.fits);
  printf("ADD\tbestof_cpe\t%d\t%.4f\t%.6f\t%.2f\t%.2f\n", sc.fits, median_of(add.slope),
         min_of(add.r2), median_of(add.ms), max_of(add.ms));
  peer_rows("ADD", run_add_chain);
  printf("IMUL\tbestof_cpe\t%d\t%.4f\t%.6f\t%.2f\t%.2f\n", sc.fits, median_of(imul.slope),
         min_of(imul.r2), median_of(imul.ms), max_of(imul.ms));
  peer_rows("IMUL", run_imul_chain);

  // ---- Keeping the work ----
  double kept_1 = bestof(kept_loop, 1000), kept_10 = bestof(kept_loop, 10000);
  double unkept_1 = bestof(unkept_loop, 1000), unkept_10 = bestof(unkept_loop, 10000);
  printf("\nloop\t1000 iterations\t10000 iterations\tratio\n");
  printf("result kept by CYCLEKIT_KEEP\t%.0f\t%.0f\t%.3f\n", kept_1, kept_10, kept_10 / kept_1);
  printf("result unused\t%.0f\t%.0f\t%.3f\n", unkept_1, unkept_10, unkept_10 / unkept_1);

  // ---- The judged figures ----
  auto of_100 = [&](int n) { return 100.0 * n / sc.comparisons; };
  std::vector<double> all_ms = self.ms;
  for (const tally *t : {&hogged, &five, &five_plain, &one})
    all_ms.insert(all_ms.end(), t->ms.begin(), t->ms.end());
  std::vector<double> fit_ms = add.ms;
  fit_ms.insert(fit_ms.end(), imul.ms.begin(), imul.ms.end());
  printf("\nfigure\tvalue\n");
  printf("itself: not distinguishable, of 100\t%.0f\n", of_100(self.alike));
  printf("itself beside a CPU hog: not distinguishable, of 100\t%.0f\n", of_100(hogged.alike));
  printf("1050 against 1000: slower, of 100\t%.0f\n", of_100(five.slower));
  printf("1050 against 1000: interval holds 1.05, of 100\t%.0f\n", of_100(five.holds));
  printf("1050 against 1000, answers as read: interval holds 1.05, of 100\t%.0f\n",
         of_100(five_plain.holds));
  printf("1010 against 1000: median ratio\t%.4f\n", median_of(one.ratios));
  printf("ms per comparison, median\t%.2f\n", median_of(all_ms));
  printf("ms per fit, median\t%.2f\n", median_of(fit_ms));
  printf("ADD chain: core cycles per element\t%.4f\n", median_of(add.slope));
  printf("IMUL chain: core cycles per element\t%.4f\n", median_of(imul.slope));
  std::vector<double> r2 = add.r2;
  r2.insert(r2.end(), imul.r2.begin(), imul.r2.end());
  printf("R² of the fits, median\t%.6f\n", median_of(r2));
  printf("kept loop: 10x size / 1x size\t%.3f\n", kept_10 / kept_1);
  return 0;
}
