// Verdicts no finer than the counter: bestof_compare on two copies of the
// same code, on 5 % more work and on a function against itself (alone and
// beside a CPU hog), and bestof_cpe over sizes too close for the counter to
// tell apart.  Default settings throughout.  Prints tab-separated tables as
// the other benchmark programs do; the table headed "figure", "value" holds
// the judged figures.
//
//   bench_verdicts [--quick]
//
// Built twice: bench_verdicts reads the counter as it is, and
// bench_verdicts_coarse (COARSE_STEP defined) reads it rounded down to a
// lattice of COARSE_STEP ticks, as a counter that advances in steps of that
// many ticks does, so that a machine whose counter steps by one or two ticks
// can show what a coarse counter makes of the same comparisons.

#include <cyclekit/bestof.h>
#include <cyclekit/compare.h>
#include <math.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "bench.h"
#include "kernels.h"

#ifdef COARSE_STEP
// The library's counter pair and step, replaced through the linker
// (--wrap).  A reading is the time-stamp counter rounded down to the
// lattice; the start keeps the raw reading alone, so the rounding lies
// outside the timed interval.
extern "C" {
static uint64_t coarse_start;
static uint64_t coarse_reading(void) {
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  return (uint64_t)hi << 32 | lo;
}
void __wrap_start_counter(void) { coarse_start = coarse_reading(); }
double __wrap_get_counter(void) {
  uint64_t now = coarse_reading();
  return (double)(now / COARSE_STEP * COARSE_STEP - coarse_start / COARSE_STEP * COARSE_STEP);
}
double __wrap_counter_step(void) { return COARSE_STEP; }
}
#endif

namespace {

struct scale {
  int processes;    // processes comparing the two copies
  int comparisons;  // comparisons per case (and per process)
  int fits;
};
const scale FULL = {6, 20, 20};
const scale QUICK = {2, 3, 3};

// ---- Comparisons ----------------------------------------------------------------

struct tally {
  int n = 0, faster = 0, alike = 0, within = 0, slower = 0, holds = 0;
  std::vector<double> ratios, resolutions, differences;
};

void compare_into(tally *t, void (*f)(int), int farg, void (*g)(int), int garg, double expect) {
  bestof_comparison c;
  bestof_compare(f, farg, g, garg, &c);
  t->n++;
  (c.verdict < 0 ? t->faster : c.verdict > 0 ? t->slower : t->alike)++;
  t->within += !c.resolved;
  t->holds += expect > 0 && c.low <= expect && expect <= c.high;
  t->ratios.push_back(c.ratio);
  t->resolutions.push_back(c.resolution);
  t->differences.push_back(fabs(c.second - c.first));
}

tally compare_n(int n, void (*f)(int), int farg, void (*g)(int), int garg, double expect) {
  tally t;
  for (int i = 0; i < n; i++)
    compare_into(&t, f, farg, g, garg, expect);
  return t;
}

// The two copies compared in `processes` processes, one after another, each
// measuring from its own start (its own counter step, its own first
// answers); each child sends its tally's counts back through a pipe.
tally copies_in_processes(const scale &sc) {
  tally all;
  for (int p = 0; p < sc.processes; p++) {
    int fd[2];
    if (pipe(fd) != 0)
      break;
    pid_t pid = fork();
    if (pid == 0) {
      close(fd[0]);
      tally t = compare_n(sc.comparisons, imul_copy_a, 1000, imul_copy_b, 1000, 0);
      double out[] = {(double)t.n,
                      (double)t.faster,
                      (double)t.alike,
                      (double)t.within,
                      (double)t.slower,
                      median_of(t.ratios),
                      median_of(t.resolutions),
                      median_of(t.differences)};
      ssize_t w = write(fd[1], out, sizeof out);
      _exit(w == (ssize_t)sizeof out ? 0 : 1);
    }
    close(fd[1]);
    double in[8];
    ssize_t r = pid > 0 ? read(fd[0], in, sizeof in) : -1;
    close(fd[0]);
    if (pid > 0)
      waitpid(pid, NULL, 0);
    if (r != (ssize_t)sizeof in)
      continue;
    all.n += (int)in[0];
    all.faster += (int)in[1];
    all.alike += (int)in[2];
    all.within += (int)in[3];
    all.slower += (int)in[4];
    all.ratios.push_back(in[5]);
    all.resolutions.push_back(in[6]);
    all.differences.push_back(in[7]);
  }
  return all;
}

void tally_row(const char *pair, const tally &t, bool interval) {
  printf("%s\t%d\t%d\t%d\t%d\t%d\t", pair, t.n, t.faster, t.alike, t.within, t.slower);
  if (interval)
    printf("%d", t.holds);
  else
    printf("-");
  printf("\t%.4f\t%.1f\t%.1f\n", median_of(t.ratios), median_of(t.resolutions),
         median_of(t.differences));
}

// ---- Fits -----------------------------------------------------------------------

struct fits {
  int n = 0, resolved = 0;
  std::vector<double> slope, rise, resolution;
};

fits fit_n(int n, void (*f)(int), int lo, int hi) {
  fits r;
  for (int i = 0; i < n; i++) {
    bestof_fit fit;
    bestof_cpe(f, lo, hi, &fit);
    r.n++;
    r.resolved += fit.resolved;
    r.slope.push_back(fit.slope);
    r.rise.push_back(fabs(fit.slope) * (hi - lo));
    r.resolution.push_back(fit.resolution);
  }
  return r;
}

void fit_row(const char *what, const fits &r) {
  printf("%s\t%d\t%d\t%.4f\t%.1f\t%.1f\n", what, r.n, r.resolved, median_of(r.slope),
         median_of(r.rise), median_of(r.resolution));
}

}  // namespace

int main(int argc, char **argv) {
  bool quick = quick_mode(argc, argv, 1, "usage: bench_verdicts [--quick]");
  const scale &sc = quick ? QUICK : FULL;
  int cpu = pin_to_current_cpu();
  setup_kernels(4096, 4096);
#ifdef COARSE_STEP
  const char *counter = "readings rounded down to the step", *tag = "21-tick steps, ";
#else
  const char *counter = "this machine's counter", *tag = "";
#endif
  printf("counter\tstep in ticks\n%s\t%g\n\n", counter, counter_step());

  printf(
      "pair\tcomparisons\tfaster\tnot distinguishable\tof which within the resolution\tslower\t"
      "interval holds 1.05\tmedian ratio\tresolution, median\tsecond less first, magnitude, "
      "median\n");
  tally copies = copies_in_processes(sc);
  tally_row("two copies of 1000 IMULs, separate processes", copies, false);
  tally five = compare_n(sc.comparisons, run_imul_tens, 100, run_imul_tens, 105, 1.05);
  tally_row("1050 IMULs against 1000", five, true);
  tally self = compare_n(sc.comparisons, imul_copy_a, 1000, imul_copy_a, 1000, 0);
  tally_row("1000 IMULs against itself", self, false);
  int hog = cpu >= 0 ? start_hog() : -1;
  tally hogged = compare_n(sc.comparisons, imul_copy_a, 1000, imul_copy_a, 1000, 0);
  stop_hog(hog);
  tally_row("itself, a CPU hog on the same core", hogged, false);

  printf("\nfit\tfits\tresolved\tslope, median\trise over the range, median\tresolution, median\n");
  fits add = fit_n(sc.fits, run_add_loop, 1, 8);
  fit_row("one-ADD loop, sizes 1 to 8", add);
  fits imul = fit_n(sc.fits, run_imul_chain, 1, 8);
  fit_row("100 to 800 IMULs", imul);

  // The figures in percent, so that a quick run's have the same names.
  auto figure = [&](const char *name, int k, int n) {
    printf("%s%s (%%)\t%.1f\n", tag, name, n > 0 ? 100.0 * k / n : 0.0);
  };
  printf("\nfigure\tvalue\n");
  figure("two copies: faster or slower", copies.faster + copies.slower, copies.n);
  figure("1050 against 1000: slower", five.slower, five.n);
  figure("1050 against 1000: interval holds 1.05", five.holds, five.n);
  figure("itself: not distinguishable", self.alike, self.n);
  figure("itself beside a CPU hog: not distinguishable", hogged.alike, hogged.n);
  figure("one-ADD loop, sizes 1 to 8: fits resolved", add.resolved, add.n);
  figure("100 to 800 IMULs: fits resolved", imul.resolved, imul.n);
  return 0;
}
