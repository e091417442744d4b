// How wide a rank interval is: the null distributions of the Mann-Whitney
// and the signed-rank statistics.  Exact while the samples are small enough
// for a table of doubles on the stack; beyond, the normal approximation,
// whose cumulative probability is worked out here without libm (a C
// program links the library without it).

#include <stddef.h>

#include "stats_internal.h"

namespace bestof_internal {

// The exact distributions' limits: m + n for two samples (the table has at
// most m (n + 1) + 1 <= 931 cells), n for pairs (n (n + 1) / 2 + 1).
static const size_t exact_two_samples = 60, exact_pairs = 60;
static const size_t two_sample_cells = 931, pair_cells = 60 * 61 / 2 + 1;

// The greatest k below half with cdf(j) <= tail for every j < k, cdf(j) =
// total'th parts of the counts c[0..j].
static unsigned long long from_counts(const double *c, double total, unsigned long long half,
                                      double tail) {
  unsigned long long k = 0;
  double sum = 0;
  while (k < half) {
    sum += c[k];
    if (!(sum / total <= tail))
      break;
    k++;
  }
  return k;
}

// ---- The normal approximation ------------------------------------------------

// sqrt(v) for v > 0 by Newton's steps from above, which fall until they
// reach it.
static double square_root(double v) {
  double r = v > 1 ? v : 1;
  for (;;) {
    double next = (r + v / r) / 2;
    if (next >= r)
      return r;
    r = next;
  }
}

// e^x for x <= 0: x = j ln 2 + r with |r| <= ln 2 / 2, e^r by its series
// (the first term left out is below 2^-60).
static double exp_nonpositive(double x) {
  if (x < -745)
    return 0;
  const double ln2_hi = 6.93147180369123816490e-01, ln2_lo = 1.90821492927058770002e-10;
  long long j = (long long)(x / (ln2_hi + ln2_lo) - 0.5);
  double r = (x - (double)j * ln2_hi) - (double)j * ln2_lo;
  double e = 1;
  for (int i = 14; i >= 1; i--)
    e = 1 + e * r / i;
  for (; j < 0; j++)
    e /= 2;
  return e;
}

// The standard normal density's logarithm at 0 is -log(sqrt(2 pi)).
static const double log_density_at_0 = -0.91893853320467274178;

// P(Z <= z) for z < -5: the density over Laplace's continued fraction.
static double lower_tail(double z) {
  double x = -z, f = x;
  for (int i = 60; i >= 1; i--)
    f = x + i / f;
  return exp_nonpositive(-x * x / 2 + log_density_at_0) / f;
}

// P(Z <= z), Z standard normal: the series z + z^3/3 + z^5/(3 5) + ...
// times the density, the lower tail by its continued fraction (the series
// would lose it to cancellation).  No z asked for lies far above 0.
static double normal_cdf(double z) {
  if (z < -5)
    return lower_tail(z);
  double s = z, t = 0, b = z, q = z * z, i = 1;
  while (s != t) {
    t = s;
    i += 2;
    b *= q / i;
    s = t + b;
  }
  return 0.5 + s * exp_nonpositive(-q / 2 + log_density_at_0);
}

// The same k for a statistic of this mean and variance: the first j at
// which P(S <= j) ~ normal_cdf((j + 1/2 - mean) / sd) exceeds tail, found
// by bisection (it rises with j).
static unsigned long long from_normal(double mean, double variance, unsigned long long half,
                                      double tail) {
  double sd = square_root(variance);
  unsigned long long lo = 0, hi = half;  // k lies in [lo, hi]
  while (lo < hi) {
    unsigned long long mid = lo + (hi - lo) / 2;
    if (normal_cdf(((double)mid + 0.5 - mean) / sd) <= tail)
      lo = mid + 1;
    else
      hi = mid;
  }
  return lo;
}

// ---- The two statistics -----------------------------------------------------------

// The Mann-Whitney counts are the coefficients of the Gaussian binomial
// [m + n choose m] in q, built as the product of (1 - q^(n+i)) / (1 - q^i).
unsigned long long mann_whitney_outside(size_t m, size_t n, double tail) {
  if (m == 0 || n == 0)
    return 0;
  unsigned long long count = (unsigned long long)m * n;
  if (m + n > exact_two_samples)
    return from_normal(count / 2.0, count * (double)(m + n + 1) / 12.0, count / 2, tail);
  double c[two_sample_cells] = {1};
  size_t degree = 0;
  for (size_t i = 1; i <= m; i++) {
    degree += n + i;
    for (size_t u = degree; u >= n + i; u--)
      c[u] -= c[u - n - i];
    for (size_t u = i; u <= degree; u++)
      c[u] += c[u - i];
    degree -= i;
  }
  double total = 0;
  for (size_t u = 0; u <= count; u++)
    total += c[u];
  return from_counts(c, total, count / 2, tail);
}

// The signed-rank counts: the coefficients of the product of (1 + q^i).
unsigned long long signed_rank_outside(size_t n, double tail) {
  if (n == 0)
    return 0;
  unsigned long long count = (unsigned long long)n * (n + 1) / 2;
  if (n > exact_pairs)
    return from_normal(count / 2.0, count * (2.0 * n + 1) / 12.0, count / 2, tail);
  double c[pair_cells] = {1}, total = 1;
  for (size_t i = 1; i <= n; i++) {
    for (size_t t = count; t >= i; t--)
      c[t] += c[t - i];
    total *= 2;
  }
  return from_counts(c, total, count / 2, tail);
}

}  // namespace bestof_internal
