/*
 * Two questions asked of the K-best driver: is one version of a function
 * faster than another, and how many cycles does a function take per element
 * of its input?  Both are built on bestof and inherit every setting in
 * force (K, tolerance, run limit, flush, fence, compensation, core cycles,
 * batch), read once at their start; they change no setting.  From several
 * threads their answers take turns like any measurement; like bestof they
 * are not re-entrant, and the functions they measure must not call them.
 *
 * bestof_compare measures f(farg) and g(garg) interleaved, a whole bestof
 * answer at a time: a pair is one answer for each, f first in the even pairs
 * and g first in the odd ones, so that a drift of the clock or of the load
 * weighs on both alike.  The ratio is the median of the pairs' ratios
 * g / f; the interval is the distribution-free confidence interval for that
 * median from the order statistics of the pair ratios (the sign test), with
 * a coverage of at least 95 %, widened so that it holds the ratio of the
 * work, not only that of the answers: its low end times
 * (1 - u_g / a_g) / (1 + u_f / a_f), its high end times
 * (1 + u_g / a_g) / (1 - u_f / a_f), a_f and a_g the median answers and u_f
 * and u_g how far each may lie from the work's count through the counter
 * (one counter step for K-best answers, the uncertainty for precise ones;
 * 0 to +infinity when a median answer is within that of 0).  It assumes
 * only that the pairs are independent and alike, not any shape of their
 * distribution; the verdict is
 * "slower" when the whole interval lies above 1 (+ margin), "faster" when it
 * lies below 1 / (1 + margin), and "not distinguishable" otherwise.  The
 * answers are net of the pair's cost by default, so the ratio is that of the
 * work.  A verdict also needs the difference to be resolved: the two
 * versions' median answers must differ by more than u_f + u_g, what the
 * counter's step (and the pair's cost) can make of the same work; below
 * that the verdict is "not distinguishable" whatever the interval says.
 *
 * bestof_cpe measures f(n) by bestof at sizes spread evenly over
 * [n_lo, n_hi] and fits a line robustly, by Theil and Sen: the slope is the
 * median of the slopes between every two sizes and the intercept the median
 * of the points' intercepts at that slope, so one disturbed size moves
 * neither.  The sizes are measured alternately from both ends inwards (n_lo,
 * n_hi, the second, the second last, ...), so a steady drift raises both
 * ends alike instead of tilting the line.  The slope is resolved when the
 * line's rise over the range exceeds what the counter's step and the pair's
 * cost can make of two single answers for the same work: twice an answer's
 * uncertainty as a net answer's (two counter steps, see bestof_report).
 */
#ifndef CYCLEKIT_COMPARE_H
#define CYCLEKIT_COMPARE_H

#include "bestof.h"
#include "keep.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What bestof_compare found.  Answers are in the unit that bestof returns
 * (core cycles when core cycles are on and could be measured). */
struct bestof_comparison {
  double ratio;      /* median of the pairs' ratios, second over first */
  double low, high;  /* the confidence interval for the work's ratio */
  int verdict;       /* -1 faster, 0 not distinguishable, 1 slower */
  int runs;          /* pairs measured */
  int used;          /* pairs whose two answers were above 0, so that they have a ratio */
  double confidence; /* the interval's coverage: 0.95 or somewhat more */
  double margin;     /* the margin in force (see set_bestof_compare_margin) */
  double first;      /* median answer for f */
  double second;     /* median answer for g */
  int not_converged; /* answers that the run limit ended, of 2 * runs */
  int core_cycles;   /* 1: the answers were in core cycles */
  /* 1: second and first differ by more than resolution; 0: they do not,
   * and the verdict is 0 whatever the interval says. */
  int resolved;
  /* u_f + u_g (see above): the most by which the median answers can differ
   * for the same work through the counter's step and the pair's cost. */
  double resolution;
  int net; /* 1: the answers were net of the pair's cost (set_bestof_compare_net) */
};

/*
 * Measures f(farg) and g(garg) in interleaved pairs of bestof answers (21
 * pairs by default), net of the pair's cost unless set_bestof_compare_net(0),
 * and returns the ratio g / f, the median of the pairs' ratios; fills *out
 * unless out is null.  The verdict is 0 when the difference is within the
 * resolution (resolved 0).  A pair whose answers are not both above 0 (net
 * or compensated counts may not be) has no ratio and is left out; with
 * fewer than 6 pairs left no 95 % sign-test interval exists, so low is 0, high is
 * +infinity and the verdict 0 (the ratio is NaN when no pair is left).
 * Fatal: as bestof (a null f or g, a call from inside a measurement, ...);
 * and "Fatal error.  Malloc returned null when allocating a comparison\n"
 * on standard error, status 1.
 */
double bestof_compare(bestof_test_fn f, int farg, bestof_test_fn g, int garg,
                      struct bestof_comparison *out);

/* The pairs each comparison measures (default 21).  Values below 6 are
 * refused, as is any above 1000, and the previous number kept. */
void set_bestof_compare_pairs(int pairs);

/* Non-zero (the default): bestof_compare measures every answer net of the
 * pair's cost (see set_bestof_net), whatever set_bestof_net says, so that
 * its ratio is the ratio of the work: the cost, the same for both versions,
 * would pull a ratio towards 1.  0: the answers are as bestof returns them
 * with the settings in force. */
void set_bestof_compare_net(int on);

/* The relative difference below which two versions count as alike (default
 * 0): "slower" needs low > 1 + margin, "faster" high < 1 / (1 + margin).
 * A negative margin is refused and the previous one kept. */
void set_bestof_compare_margin(double margin);

/* What bestof_cpe found, in the unit of bestof's answers per element. */
struct bestof_fit {
  double slope;          /* cycles per element */
  double intercept;      /* cycles at size 0 */
  double r2;             /* 1 - (squared residuals) / (squared deviations from the mean) */
  double worst_residual; /* the residual (answer - line) of the largest magnitude */
  int worst_size;        /* the size at which it lies */
  int sizes;             /* sizes measured; 0 when the range holds fewer than 2 */
  int n_lo, n_hi;        /* the range asked for */
  int not_converged;     /* answers that the run limit ended */
  int core_cycles;       /* 1: the answers were in core cycles */
  /* 1: the line rises (or falls) from n_lo to n_hi, |slope| (n_hi - n_lo),
   * by more than resolution; 0: the slope is not resolved. */
  int resolved;
  double resolution; /* twice an answer's uncertainty as a net answer's */
};

/*
 * Measures f(n) by bestof at sizes spread evenly over [n_lo, n_hi] (8 by
 * default, fewer only when the range holds fewer whole numbers), fits a line
 * by Theil and Sen and returns its slope, the cycles per element; fills *out
 * unless out is null.  A slope whose rise over the range is within the
 * resolution is returned all the same, with resolved 0.  A bare closing
 * read may run ahead of the last few hundred cycles of f, by a different
 * amount at each size: the slope ignores such a size, r2 and the worst
 * residual show it, so fence
 * (set_bestof_fence) when r2 is to show how straight the line is.  A range of fewer than two sizes
 * (n_hi <= n_lo) is measured not at all: the slope is NaN and sizes is 0.  Fatal: as bestof; and
 * "Fatal error.  Malloc returned null when allocating a fit\n" on standard error, status 1.
 */
double bestof_cpe(bestof_test_fn f, int n_lo, int n_hi, struct bestof_fit *out);

/* The sizes each fit measures (default 8).  Values below 3 are refused, as
 * is any above 10000, and the previous number kept. */
void set_bestof_cpe_sizes(int sizes);

/*
 * With the verbose setting on, bestof_compare and bestof_cpe each print one
 * line of their own on standard output instead of one per bestof answer:
 *   "compare: second/first R (95% sign-test interval L to H): V; P pairs, first A
 *   cycles, second B cycles"
 * where V is "faster", "slower" or "not distinguishable", followed by
 * " (within the counter's resolution)" when the difference is not resolved,
 * and
 *   "cpe: S cycles per element + I, R^2 Q, worst residual W at n = N, M
 *   sizes from LO to HI"
 * followed by ", below the counter's resolution" when the slope is not
 * resolved ("core cycles" when they are).  With the JSON setting on as well
 * (set_bestof_json), the line is one JSON object instead, with every field
 * of the structure by name.
 */

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_COMPARE_H */
