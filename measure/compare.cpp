// Comparing two functions and fitting cycles per element, on top of the
// K-best driver's quiet measurements.  Everything here runs between
// answers, outside every timed interval: the ratios, the sorting, the
// interval, the line and the printing.  No setting is changed: the answers
// are measured without their lines, and the settings are read once, at the
// start.

#include "compare.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"
#include "stats.h"

namespace bestof_internal {

// The interval's least coverage (see interval_rank).
static const double compare_coverage = 0.95;

// ---- Helpers ----------------------------------------------------------------

static void *checked_malloc(size_t bytes, const char *message) {
  void *p = malloc(bytes);
  if (p == NULL)
    fatal_holding_lock(message);
  return p;
}

static int ascending(const void *a, const void *b) {
  double x = *static_cast<const double *>(a), y = *static_cast<const double *>(b);
  return x < y ? -1 : x > y;
}

// The median of v[0..n), leaving v as it is; tmp holds n doubles.
static double median_of_copy(const double *v, int n, double *tmp) {
  memcpy(tmp, v, (size_t)n * sizeof *v);
  return cyclekit_median(tmp, (size_t)n);
}

// What the answers of one comparison or fit have in common.
struct answers {
  int net;  // 1: every answer is net of the pair's cost
  int not_converged;
  int core;
  int precise;  // 1: the answers were precise ones
};

// ---- The resolution ---------------------------------------------------------

// What a difference between answers can owe to the counter alone.
//
// A K-best answer is a least count, which the counter's step quantises: a
// run of duration d reads the lattice point below d or the one above, so
// the least lies within a step below d, or a step above when each of the K
// least runs read the upper point.  And every count holds the pair's cost,
// itself quantised and not the same for all code: code shorter than the
// pair's own latency runs partly hidden in it (the closing read does not
// wait for it), so the cost a count holds moves with the code.  The code's
// own count in one answer is thus known to two steps either side, as a net
// answer's is: the report's uncertainty (a precise answer's is about two
// standard errors, the pair's cost included).  A fit's ends are single
// answers: a rise within the sum of two such uncertainties could be the
// counter alone.
//
// A comparison's figures are medians of many answers.  The upper reading
// comes and goes from one answer to the next, and the median is rid of it;
// the lower one stays: the counter repeats the phase of its step from one
// answer to the next often enough (a step of 21 ticks gave answers one step
// apart in most of 120 comparisons of identical code) that medians do not
// average it away.  A median net answer, the difference of two least counts
// each within a step below its duration, lies within a step either side of
// the work's count, half a single answer's uncertainty; two medians for the
// same work differ by less than two steps.  Precise answers keep their
// whole uncertainty.

// One answer, measured quietly (net when a->net says so); counts the
// answers the run limit ended, notes whether they were in core cycles, and
// stores in *uncertainty that of the code's own count in it.  The step that
// it rests on is measured, once per process, when the answer did not need
// it.
static double answer(bestof_test_fn f, int arg, struct answers *a, double *uncertainty) {
  struct bestof_report r;
  measure_quietly(f, arg, a->net, &r);
  if (r.step == 0)
    bestof_last(&r);
  if (!r.converged)
    a->not_converged++;
  a->core = r.core_cycles;
  a->precise = r.precise;
  *uncertainty = r.net || r.precise ? r.uncertainty : 2 * r.uncertainty;
  return r.answer;
}

// How far the median of n answers with these uncertainties (reordered) may
// lie from the work's count.  They differ only with the conversion to core
// cycles or an automatic batch.
static double median_bound(double *uncertainty, int n, const struct answers *a) {
  return cyclekit_median(uncertainty, (size_t)n) / (a->precise ? 1 : 2);
}

// The interval of the answers' ratios, widened to hold the ratio of the
// work: a median answer a lies within u of the work's count, so a ratio
// a_g / a_f may be the work's (a_g -+ u_g) / (a_f +- u_f).
// The sign test sees only how the ratios scatter, not how far each may lie
// from the work's: where the step is a sizeable share of the answers, every
// pair can give the same quantised ratio, an interval of that one value,
// and the work's ratio misses it.  Medians within u of 0 bound no ratio.
static void widen(struct bestof_comparison *c, double u_f, double u_g) {
  if (!(c->first > u_f && c->second > u_g)) {
    c->low = 0;
    c->high = HUGE_VAL;
    return;
  }
  double rf = u_f / c->first, rg = u_g / c->second;
  c->low *= (1 - rg) / (1 + rf);
  c->high *= (1 + rg) / (1 - rf);
}

static const char *unit(int core) { return core ? "core cycles" : "cycles"; }

// ---- The interval -----------------------------------------------------------

// For n pair ratios in ascending order, the rank j (from 1) of the lower end
// of the sign test's interval [r_j, r_(n+1-j)] for their median: the
// greatest j whose interval misses the median with probability
// 2 P(B <= j - 1) <= 5 %, B binomial with n trials of 1/2.  Stores the
// coverage 1 - 2 P(B <= j - 1).  0 when no j qualifies (n < 6).  The
// probabilities are products of doubles, not of libm's exp and log, so that
// a C program need not link libm; 2^-n stays a normal double up to
// n = 1022, hence the limit on pairs.
static int interval_rank(int n, double *coverage) {
  double p = 1, below = 0;
  for (int i = 0; i < n; i++)
    p /= 2;
  int j = 0;
  *coverage = 0;
  for (int k = 0; 2 * k < n; k++) {
    below += p;
    if (2 * below > 1 - compare_coverage)
      break;
    j = k + 1;
    *coverage = 1 - 2 * below;
    p = p * (n - k) / (k + 1);
  }
  return j;
}

static int verdict_of(double low, double high, double margin) {
  if (low > 1 + margin)
    return 1;
  if (high < 1 / (1 + margin))
    return -1;
  return 0;
}

// ---- The comparison ---------------------------------------------------------

// The comparison's line, when the settings ask for one.  The line is one
// stdio transaction, so another thread's verbose line cannot split it.
static void print_comparison(const struct settings *s, const struct bestof_comparison *c) {
  FILE *out = line_stream(s);
  flockfile(out);
  if (s->s.json) {
    json_begin(out, "comparison");
    json_number(out, "ratio", c->ratio);
    json_number(out, "low", c->low);
    json_number(out, "high", c->high);
    json_int(out, "verdict", c->verdict);
    json_int(out, "runs", c->runs);
    json_int(out, "used", c->used);
    json_number(out, "confidence", c->confidence);
    json_number(out, "margin", c->margin);
    json_number(out, "first", c->first);
    json_number(out, "second", c->second);
    json_int(out, "not_converged", c->not_converged);
    json_int(out, "core_cycles", c->core_cycles);
    json_int(out, "resolved", c->resolved);
    json_number(out, "resolution", c->resolution);
    json_int(out, "net", c->net);
    json_end(out);
  } else {
    const char *v = c->verdict < 0 ? "faster" : c->verdict > 0 ? "slower" : "not distinguishable";
    fprintf(out,
            "compare: second/first %.4f (95%% sign-test interval %.4f to %.4f): %s%s; %d pairs, "
            "first %.1f "
            "%s, second %.1f %s\n",
            c->ratio, c->low, c->high, v, c->resolved ? "" : " (within the counter's resolution)",
            c->runs, c->first, unit(c->core_cycles), c->second, unit(c->core_cycles));
  }
  funlockfile(out);
}

extern "C" double bestof_compare(bestof_test_fn f, int farg, bestof_test_fn g, int garg,
                                 struct bestof_comparison *out) {
  struct settings s;
  copy_settings(&s);
  int n = s.s.compare_pairs;
  double *mem = static_cast<double *>(
      checked_malloc(6 * (size_t)n * sizeof(double),
                     "Fatal error.  Malloc returned null when allocating a comparison\n"));
  double *fa = mem, *ga = mem + n, *ratios = mem + 2 * n, *tmp = mem + 3 * n;
  double *fu = mem + 4 * n, *gu = mem + 5 * n;
  struct bestof_comparison c;
  memset(&c, 0, sizeof c);
  struct answers a = {s.s.compare_net != 0, 0, 0, 0};
  int used = 0;
  // f first in the even pairs, g first in the odd ones.  Net answers of 0
  // or below (code no dearer than an empty call) have no ratio either.
  for (int i = 0; i < n; i++) {
    if (i % 2 == 0) {
      fa[i] = answer(f, farg, &a, &fu[i]);
      ga[i] = answer(g, garg, &a, &gu[i]);
    } else {
      ga[i] = answer(g, garg, &a, &gu[i]);
      fa[i] = answer(f, farg, &a, &fu[i]);
    }
    if (fa[i] > 0 && ga[i] > 0)
      ratios[used++] = ga[i] / fa[i];
  }
  c.runs = n;
  c.used = used;
  c.net = a.net;
  c.not_converged = a.not_converged;
  c.core_cycles = a.core;
  c.margin = s.s.compare_margin;
  c.first = median_of_copy(fa, n, tmp);
  c.second = median_of_copy(ga, n, tmp);
  double u_f = median_bound(fu, n, &a), u_g = median_bound(gu, n, &a);
  c.resolution = cyclekit_resolution(u_f, u_g);
  c.resolved = fabs(c.second - c.first) > c.resolution;
  qsort(ratios, (size_t)used, sizeof *ratios, ascending);
  c.ratio = median_of_copy(ratios, used, tmp);
  int j = interval_rank(used, &c.confidence);
  if (j > 0) {
    c.low = ratios[j - 1];
    c.high = ratios[used - j];
    widen(&c, u_f, u_g);
    c.verdict = c.resolved ? verdict_of(c.low, c.high, c.margin) : 0;
  } else {
    c.low = 0;
    c.high = HUGE_VAL;
  }
  free(mem);
  if (s.s.verbose)
    print_comparison(&s, &c);
  if (out != NULL)
    *out = c;
  return c.ratio;
}

// ---- Cycles per element -----------------------------------------------------

// The fit's line, when the settings ask for one; one stdio transaction.
static void print_fit(const struct settings *s, const struct bestof_fit *r) {
  FILE *out = line_stream(s);
  flockfile(out);
  if (s->s.json) {
    json_begin(out, "fit");
    json_number(out, "slope", r->slope);
    json_number(out, "intercept", r->intercept);
    json_number(out, "r2", r->r2);
    json_number(out, "worst_residual", r->worst_residual);
    json_int(out, "worst_size", r->worst_size);
    json_int(out, "sizes", r->sizes);
    json_int(out, "n_lo", r->n_lo);
    json_int(out, "n_hi", r->n_hi);
    json_int(out, "not_converged", r->not_converged);
    json_int(out, "core_cycles", r->core_cycles);
    json_int(out, "resolved", r->resolved);
    json_number(out, "resolution", r->resolution);
    json_end(out);
  } else {
    fprintf(out,
            "cpe: %.4f %s per element + %.1f, R^2 %.6f, worst residual %.1f at n = %d, %d sizes "
            "from %d to %d%s\n",
            r->slope, unit(r->core_cycles), r->intercept, r->r2, r->worst_residual, r->worst_size,
            r->sizes, r->n_lo, r->n_hi, r->resolved ? "" : ", below the counter's resolution");
  }
  funlockfile(out);
}

// The i-th of m sizes spread evenly over [lo, hi], rounded to the nearest
// whole number; distinct as long as m - 1 <= hi - lo.
static int size_at(int lo, int hi, int i, int m) {
  long long span = (long long)hi - lo;
  return (int)(lo + (span * i + (m - 1) / 2) / (m - 1));
}

// Theil and Sen's line through (x[i], y[i]); work holds m (m - 1) / 2
// doubles.  Fills slope, intercept, r2 and the worst residual of *r.
static void robust_line(const double *x, const double *y, int m, double *work,
                        struct bestof_fit *r) {
  int k = 0;
  for (int i = 0; i < m; i++)
    for (int j = i + 1; j < m; j++)
      work[k++] = (y[j] - y[i]) / (x[j] - x[i]);
  r->slope = cyclekit_median(work, (size_t)k);
  for (int i = 0; i < m; i++)
    work[i] = y[i] - r->slope * x[i];
  r->intercept = cyclekit_median(work, (size_t)m);
  double mean = 0, ss_tot = 0, ss_res = 0;
  for (int i = 0; i < m; i++)
    mean += y[i] / m;
  for (int i = 0; i < m; i++) {
    double res = y[i] - (r->intercept + r->slope * x[i]);
    ss_res += res * res;
    ss_tot += (y[i] - mean) * (y[i] - mean);
    if (i == 0 || fabs(res) > fabs(r->worst_residual)) {
      r->worst_residual = res;
      r->worst_size = (int)x[i];
    }
  }
  r->r2 = ss_tot > 0 ? 1 - ss_res / ss_tot : ss_res == 0 ? 1 : 0;
}

extern "C" double bestof_cpe(bestof_test_fn f, int n_lo, int n_hi, struct bestof_fit *out) {
  struct bestof_fit r;
  memset(&r, 0, sizeof r);
  r.n_lo = n_lo;
  r.n_hi = n_hi;
  struct settings s;
  copy_settings(&s);
  long long span = (long long)n_hi - n_lo;
  int m = span + 1 < s.s.cpe_sizes ? (int)(span + 1) : s.s.cpe_sizes;
  if (m < 2) {
    r.slope = r.intercept = r.r2 = r.worst_residual = NAN;
    if (out != NULL)
      *out = r;
    return r.slope;
  }
  size_t pairs = (size_t)m * (size_t)(m - 1) / 2;
  double *mem = static_cast<double *>(
      checked_malloc((3 * (size_t)m + (pairs > (size_t)m ? pairs : (size_t)m)) * sizeof(double),
                     "Fatal error.  Malloc returned null when allocating a fit\n"));
  double *x = mem, *y = mem + m, *u = mem + 2 * m, *work = mem + 3 * m;
  // The answers as bestof gives them: the pair's cost lies in the
  // intercept, not the slope.
  struct answers a = {0, 0, 0, 0};
  // From both ends inwards: lo, hi, the second, the second last, ...
  for (int t = 0; t < m; t++) {
    int i = t % 2 == 0 ? t / 2 : m - 1 - t / 2;
    x[i] = size_at(n_lo, n_hi, i, m);
    y[i] = answer(f, (int)x[i], &a, &u[i]);
  }
  r.sizes = m;
  r.not_converged = a.not_converged;
  r.core_cycles = a.core;
  robust_line(x, y, m, work, &r);
  // The line's two ends are answers, each as uncertain as any: a rise no
  // larger than the sum of two answers' uncertainties could be the
  // counter's step and the pair's cost alone (see the resolution).
  double u_one = cyclekit_median(u, (size_t)m);
  r.resolution = cyclekit_resolution(u_one, u_one);
  r.resolved = fabs(r.slope) * ((double)n_hi - n_lo) > r.resolution;
  free(mem);
  if (s.s.verbose)
    print_fit(&s, &r);
  if (out != NULL)
    *out = r;
  return r.slope;
}

}  // namespace bestof_internal
