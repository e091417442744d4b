// Until measure/stats.cpp lands: the tool's former rank statistics behind
// the interface of measure/stats.h, quadratic in memory as they were.
#include <algorithm>
#include <cmath>
#include <vector>

#include "stats.h"

namespace {

// The number k of the least (and of the greatest) values of a sorted list of
// `count` estimates that lie outside a two-sided interval: the largest k
// with P(statistic < k) <= tail under the null hypothesis, whose
// distribution `cdf(u)` = P(statistic <= u) gives.  0: no such interval.
template <class Cdf>
long outside(long count, double tail, Cdf cdf) {
  long k = 0;
  while (k < count / 2 && cdf(k) <= tail)
    k++;
  return k;
}

double normal_cdf(double z) { return 0.5 * std::erfc(-z / std::sqrt(2.0)); }

// P(U <= u) for the Mann-Whitney U of samples of m and n: exact (the
// coefficients of the Gaussian binomial) while the counts stay small enough
// for doubles, else the normal approximation with a continuity correction.
std::vector<double> mann_whitney_cdf(long m, long n) {
  std::vector<double> cdf(size_t(m * n) + 1);
  if (m + n <= 60) {
    std::vector<double> c(size_t(m * n + m) + 1, 0.0);
    c[0] = 1;
    long degree = 0;
    for (long i = 1; i <= m; i++) {  // times (1 - q^(n+i)) / (1 - q^i)
      degree += n + i;
      for (long u = degree; u >= n + i; u--)
        c[size_t(u)] -= c[size_t(u - n - i)];
      for (long u = i; u <= degree; u++)
        c[size_t(u)] += c[size_t(u - i)];
      degree -= i;
    }
    double total = 0, sum = 0;
    for (long u = 0; u <= m * n; u++)
      total += c[size_t(u)];
    for (long u = 0; u <= m * n; u++)
      cdf[size_t(u)] = (sum += c[size_t(u)]) / total;
  } else {
    double mean = m * n / 2.0, sd = std::sqrt(m * n * (m + n + 1) / 12.0);
    for (long u = 0; u <= m * n; u++)
      cdf[size_t(u)] = normal_cdf((u + 0.5 - mean) / sd);
  }
  return cdf;
}

// P(T <= t) for Wilcoxon's signed-rank statistic of n differences, exact.
std::vector<double> signed_rank_cdf(long n) {
  long top = n * (n + 1) / 2;
  std::vector<double> c(size_t(top) + 1, 0.0);
  c[0] = 1;
  for (long i = 1; i <= n; i++)
    for (long t = top; t >= i; t--)
      c[size_t(t)] += c[size_t(t - i)];
  std::vector<double> cdf(size_t(top) + 1);
  double sum = 0, total = std::ldexp(1.0, int(n));
  for (long t = 0; t <= top; t++)
    cdf[size_t(t)] = (sum += c[size_t(t)]) / total;
  return cdf;
}

void from_estimates(std::vector<double> e, const std::vector<double> &cdf, double confidence,
                    cyclekit_shift *out) {
  *out = {NAN, NAN, NAN, 0};
  if (e.empty())
    return;
  std::sort(e.begin(), e.end());
  out->estimate = cyclekit_median(e.data(), e.size());
  long k = outside(long(e.size()), (1 - confidence) / 2, [&](long u) { return cdf[size_t(u)]; });
  if (k > 0) {
    out->low = e[size_t(k - 1)];
    out->high = e[e.size() - size_t(k)];
    out->interval = 1;
  }
}

}  // namespace

double cyclekit_median(double *v, size_t n) {
  std::vector<double> a;
  for (size_t i = 0; i < n; i++)
    if (!std::isnan(v[i]))
      a.push_back(v[i]);
  if (a.empty())
    return NAN;
  std::sort(a.begin(), a.end());
  size_t m = a.size();
  return m % 2 ? a[m / 2] : (a[m / 2 - 1] + a[m / 2]) / 2;
}

double cyclekit_resolution(double a, double b) {
  return (std::isnan(a) ? 0 : a) + (std::isnan(b) ? 0 : b);
}

int cyclekit_shift_two_samples(const double *x, size_t m, const double *y, size_t n,
                               double confidence, cyclekit_shift *out) {
  std::vector<double> d;
  for (size_t i = 0; i < m; i++)
    for (size_t j = 0; j < n; j++)
      d.push_back(y[j] - x[i]);
  from_estimates(d, mann_whitney_cdf(long(m), long(n)), confidence, out);
  return 0;
}

int cyclekit_shift_paired(const double *d, size_t n, double confidence, cyclekit_shift *out) {
  std::vector<double> walsh;
  for (size_t i = 0; i < n; i++)
    for (size_t j = i; j < n; j++)
      walsh.push_back((d[i] + d[j]) / 2);
  from_estimates(walsh, signed_rank_cdf(long(n)), confidence, out);
  return 0;
}
