// Precise mode and net counts: the precise estimator over many runs, the
// pair's cost around an empty call, and the reference chain.  Everything
// here runs between timed intervals; the runs themselves go through
// flushed_run.

#include <math.h>
#include <string.h>

#include "internal.h"
#include "stats.h"

namespace bestof_internal {

// A precise estimate draws on at least precise_min_runs runs, taken in
// blocks of precise_block, and stops between that and precise_max_runs once
// its uncertainty is within precise_share of the count: the fine target.
static const int precise_block = 50;
static const int precise_min_runs = 50;
static const double precise_share = 0.001;
// Where the counts spread too widely for the fine target within the run cap
// (a counter that steps by tens of ticks, a busy machine), the estimate
// settles once its uncertainty is within what precise mode promises, with
// room to spare: its accuracy is +/-5 core cycles per call below 100 and
// +/-2% above, and an answer is the difference of two estimates (the
// function's and the empty call's), so each is held to 1.5 core cycles, or
// 0.5% of the net count where that is more.  Two such estimates give
// +/-2.1 core cycles; answers 0.25% apart at one standard error stay within
// the 2% that repeated answers may stray.  At least precise_coarse_window
// counts must lie in the window, so that their spread is a figure at all.
static const double precise_coarse_cycles = 1.5;
static const double precise_coarse_share = 0.005;
static const int precise_coarse_window = 25;
// The window's anchor: the count of this rank, per run, among the counts
// in ascending order (0: the least).
static const int precise_anchor_per = 50;

double usable_step(double step) { return step > 0 && step < HUGE_VAL ? step : 1; }

// Newton's iteration from above, which falls until it reaches the root: the
// library must not need the C maths library, which a C program does not
// link by default.
double root_of(double x) {
  if (!(x > 0))
    return 0;
  double r = x > 1 ? x : 1;
  for (int i = 0; i < 200; i++) {
    double next = (r + x / r) / 2;
    if (!(next < r))
      break;
    r = next;
  }
  return r;
}

// The k-th smallest (from 0) of a[0..n), by selection in place: the
// partition that holds it is halved until it is one element.
static double kth_smallest(double *a, int n, int k) {
  int lo = 0, hi = n - 1;
  while (lo < hi) {
    double pivot = a[lo + (hi - lo) / 2];
    int i = lo, j = hi;
    while (i <= j) {
      while (a[i] < pivot)
        i++;
      while (a[j] > pivot)
        j--;
      if (i <= j) {
        double t = a[i];
        a[i++] = a[j];
        a[j--] = t;
      }
    }
    if (k <= j)
      hi = j;
    else if (k >= i)
      lo = i;
    else
      return a[k];
  }
  return a[k];
}

double median_in_place(double *v, int n) { return cyclekit_median(v, n > 0 ? (size_t)n : 0); }

// The mean of the counts from the anchor (the least but the fastest 2%) to
// precise_window_steps steps above it.  A count of a stepped counter is the
// true duration rounded down or up to the lattice of steps, up with a
// probability equal to the fraction of a step it spans beyond the lower
// point when the start falls at a random phase of the step; the two lattice
// points both lie in the window and their mean is the duration itself,
// while the slower runs (an interrupt, a busy neighbour) lie outside.  The
// anchor skips the odd run a step or two faster than the rest (a stray
// reading), which would otherwise drag the window down with it from one
// measurement to the next.  The variance adds to the sample's a floor of
// (step / m)^2: m equal counts cannot rule out a duration that far above
// them.
static struct run_estimate precise_estimate(struct measurement *m, int n, double step) {
  const double *counts = m->counts;
  memcpy(m->scratch, counts, (size_t)n * sizeof counts[0]);
  double anchor = kth_smallest(m->scratch, n, n / precise_anchor_per);
  double limit = anchor + precise_window_steps * step;
  double sum = 0;
  int in = 0;
  for (int i = 0; i < n; i++)
    if (counts[i] >= anchor && counts[i] <= limit) {
      sum += counts[i];
      in++;
    }
  double mean = sum / in, squares = 0;
  for (int i = 0; i < n; i++)
    if (counts[i] >= anchor && counts[i] <= limit)
      squares += (counts[i] - mean) * (counts[i] - mean);
  struct run_estimate e;
  e.value = mean;
  e.variance = (in > 1 ? squares / (in - 1) / in : 0) + (step / in) * (step / in);
  e.runs = n;
  e.window = in;
  e.settled = 0;
  return e;
}

// Whether estimate e, after r runs, is settled: within the fine target, or,
// where the fine target lies beyond the run cap, within the coarse one.
// net: the run's count less the pair's cost, in ticks (0 where the estimate
// is of the pair's cost itself or of the reference chain).  The variance
// of a mean falls as 1/r, so the uncertainty that precise_max_runs runs
// would reach is the present one times root(r / precise_max_runs).
int precise_settled(const struct measurement *m, const struct run_estimate *e, int r, double net) {
  if (r < precise_min_runs)
    return 0;
  double uncertainty = 2 * root_of(e->variance);
  double fine = precise_share * fabs(e->value);
  if (uncertainty <= fine)
    return 1;
  double at_cap = 2 * root_of(e->variance * r / precise_max_runs);
  if (at_cap <= fine || e->window < precise_coarse_window)
    return 0;
  double cpt = m->cpt_start > 0 && m->cpt_start < HUGE_VAL ? m->cpt_start : 1;
  double coarse = precise_coarse_cycles * m->batch / cpt;
  if (precise_coarse_share * fabs(net) > coarse)
    coarse = precise_coarse_share * fabs(net);
  return uncertainty <= coarse;
}

// Runs f(arg) in blocks until the precise estimate of a run's count settles
// or the cap is reached.  With sample set (the test function), every count
// (per call) also goes through add_sample, so the report's K least stay
// filled, and the pair's cost measured before is taken off for the coarse
// target's share.
static struct run_estimate precise_runs(struct measurement *m, bestof_test_fn f, int arg,
                                        int sample) {
  int n = m->batch;
  double step = usable_step(m->step);
  int r = 0;
  for (;;) {
    for (int b = 0; b < precise_block; b++, r++) {
      double count = sample ? hooked_run(m, f, arg, n) : flushed_run(m, f, arg, n);
      m->counts[r] = count;
      if (sample)
        add_sample(m, n == 1 ? count : count / n);
    }
    struct run_estimate e = precise_estimate(m, r, step);
    double net = sample ? e.value - m->cost_before.value : 0;
    e.settled = precise_settled(m, &e, r, net);
    if (e.settled || r >= precise_max_runs)
      return e;
  }
}

void precise_measure(struct measurement *m, bestof_test_fn f, int arg) {
  m->est = precise_runs(m, f, arg, 1);
}

// Timed in place of the test function to find what the pair and the call
// cost around nothing.
static void empty_call(int) {}

// The cost of one run of empty calls, whole run in ticks, with the answer's
// own estimator: the precise one in precise mode, else the least of as many
// runs as the run limit allows (at least one).
static struct run_estimate pair_cost(struct measurement *m) {
  if (m->precise)
    return precise_runs(m, empty_call, 0, 0);
  struct run_estimate e;
  memset(&e, 0, sizeof e);
  int runs = m->s.s.maxsamples > 1 ? m->s.s.maxsamples : 1;
  for (int i = 0; i < runs; i++) {
    double count = flushed_run(m, empty_call, 0, m->batch);
    if (i == 0 || count < e.value)
      e.value = count;
  }
  e.runs = e.window = runs;
  return e;
}

void time_references(struct measurement *m, struct run_estimate *cost, struct run_estimate *ref) {
  *cost = pair_cost(m);
  if (m->reference)
    *ref = precise_runs(m, core_chain, 0, 0);
}

// The empty call's count less the reference chain's intercept (its count
// less its additions, converted to ticks).  The call and return, and the
// pair's work around them, run alongside the timed code, so code that
// outlasts them pays only its own latency beyond the pair; an empty call
// pays them whole.  0 where no reference chain was timed, where counts are
// not in core cycles, or where the empty call hides nothing.
double hidden_overhead(const struct measurement *m, double cost) {
  if (!m->reference || !m->core)
    return 0;
  double ref = (m->ref_before.value + m->ref_after.value) / 2;
  double hidden = cost - (ref - core_chain_adds() / m->scale);
  return hidden > 0 ? hidden : 0;
}

}  // namespace bestof_internal
