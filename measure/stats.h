/*
 * stats: the one median, the one resolution rule and the rank intervals
 * that the library, the suite and cyclekit-compare share, so that all of
 * them agree on what "95 % interval" and "not resolved" mean.
 *
 * Plain C linkage; nothing here allocates except where a function says so,
 * and a failed allocation is reported by the return value, never by
 * ending the process.
 */
#ifndef CYCLEKIT_STATS_H
#define CYCLEKIT_STATS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The median of the n values at v: the middle one, or the mean of the two
 * middle ones for an even count.  NaN values are left out (v is reordered);
 * NaN when nothing is left.
 */
double cyclekit_median(double *v, size_t n);

/*
 * Two answers closer than this cannot be told apart by the counter: the
 * sum of the two sides' uncertainties (each answer may be off by its own).
 * Each uncertainty is how far that side's figure may lie from the work's
 * count: a single answer's own uncertainty (bestof_report; a fit's ends),
 * half of it for the median of many K-best answers (one counter step, see
 * compare.h), the whole of it for the median of precise ones.  A NaN
 * uncertainty counts as 0.
 */
double cyclekit_resolution(double uncertainty_a, double uncertainty_b);

/* A Hodges-Lehmann shift and its distribution-free interval. */
struct cyclekit_shift {
  double estimate;  /* NaN where there is no estimate (no values) */
  double low, high; /* NaN where there is no interval */
  int interval;     /* 1 where low and high hold an interval of the level asked */
};

/*
 * The intervals: with count estimates (the m n differences, or the
 * n (n + 1) / 2 Walsh averages), the interval runs from the k-th least to
 * the k-th greatest estimate, k the greatest number below count / 2
 * (rounded down) with P(S <= j) <= (1 - confidence) / 2 for every j < k, S
 * the rank statistic (Mann-Whitney's U, Wilcoxon's signed-rank T) under no
 * shift.  k = 0 (too few values, or a confidence of 1 or NaN): no interval.
 * P is exact for m + n <= 60 (two samples) and n <= 60 (pairs), the normal
 * approximation with a continuity correction beyond.  The estimate is the
 * median of the estimates, the mean of the middle two for an even count.
 * NaN values are left out first (m and n then count the rest); every other
 * value must be finite.  The arrays given are not changed.
 */

/*
 * Two samples x (m values) and y (n values): the median of all y[j] - x[i],
 * and the Mann-Whitney interval of the given confidence (0.95 for 95 %).
 * O(m + n) memory and about O((m + n) log(m + n)) time.  Returns 0, or -1
 * where memory could not be had (*out then holds NaNs).
 */
int cyclekit_shift_two_samples(const double *x, size_t m, const double *y, size_t n,
                               double confidence, struct cyclekit_shift *out);

/*
 * Paired differences d (n values): the median of the Walsh averages
 * (d[i] + d[j]) / 2, i <= j, and the Wilcoxon signed-rank interval of the
 * given confidence.  Same bounds and return value as above.
 */
int cyclekit_shift_paired(const double *d, size_t n, double confidence, struct cyclekit_shift *out);

#ifdef __cplusplus
}
#endif
#endif
