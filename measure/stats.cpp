// The one median and the one resolution rule.  The median selects instead
// of sorting: the caller's order is not kept anyway (stats.h), and a median
// of many answers then costs linear time.

#include "stats.h"

#include <math.h>

#include "stats_internal.h"

namespace bestof_internal {

uint64_t next_random(uint64_t *state) {
  *state ^= *state << 13;
  *state ^= *state >> 7;
  *state ^= *state << 17;
  return *state;
}

static void swap(double *a, double *b) {
  double t = *a;
  *a = *b;
  *b = t;
}

// Moves the NaNs behind the other values; returns how many values are not
// NaN.
static size_t drop_nans(double *v, size_t n) {
  size_t kept = 0;
  for (size_t i = 0; i < n; i++)
    if (!isnan(v[i]))
      swap(&v[kept++], &v[i]);
  return kept;
}

// Reorders v[0..n) so that v[k] holds the value of rank k (from 0), none
// before it greater and none after it less.  Three-way partitions around
// pivots drawn at random: expected linear time, also when many values are
// equal.
void select_rank(double *v, size_t n, size_t k) {
  uint64_t state = 0x9e3779b97f4a7c15u;
  size_t lo = 0, hi = n;
  while (hi - lo > 1) {
    double p = v[lo + next_random(&state) % (hi - lo)];
    size_t lt = lo, i = lo, gt = hi;  // [lo, lt) < p, [lt, i) = p, [gt, hi) > p
    while (i < gt) {
      if (v[i] < p)
        swap(&v[lt++], &v[i++]);
      else if (v[i] > p)
        swap(&v[i], &v[--gt]);
      else
        i++;
    }
    if (k < lt)
      hi = lt;
    else if (k >= gt)
      lo = gt;
    else
      return;
  }
}

}  // namespace bestof_internal

using namespace bestof_internal;

extern "C" double cyclekit_median(double *v, size_t n) {
  size_t count = drop_nans(v, n);
  if (count == 0)
    return NAN;
  size_t upper = count / 2;
  select_rank(v, count, upper);
  if (count % 2)
    return v[upper];
  // The lower middle value is the greatest of those before the upper one.
  double lower = v[0];
  for (size_t i = 1; i < upper; i++)
    if (v[i] > lower)
      lower = v[i];
  return (lower + v[upper]) / 2;
}

extern "C" double cyclekit_resolution(double uncertainty_a, double uncertainty_b) {
  return (isnan(uncertainty_a) ? 0 : uncertainty_a) + (isnan(uncertainty_b) ? 0 : uncertainty_b);
}
