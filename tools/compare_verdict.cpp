#include "compare_verdict.h"

#include <algorithm>

namespace {

double median_of(std::vector<double> v) {
  if (v.empty())
    return NAN;
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The number k of the least (and of the greatest) values of a sorted list of
// `count` estimates that lie outside a two-sided 95 % interval: the largest
// k with P(statistic < k) <= 0.025 under the null hypothesis, whose
// distribution `cdf(u)` = P(statistic <= u) gives.  0: no such interval.
template <class Cdf>
long outside(long count, Cdf cdf) {
  long k = 0;
  while (k < count / 2 && cdf(k) <= 0.025)
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

struct estimate {
  double shift = NAN, low = NAN, high = NAN;  // of log answers
  bool interval = false;
};

// Hodges-Lehmann: the median of the estimates (all differences, or the
// pairs' Walsh averages), and the interval between the k-th least and the
// k-th greatest of them.
estimate from_estimates(std::vector<double> e, const std::vector<double> &cdf) {
  estimate r;
  if (e.empty())
    return r;
  std::sort(e.begin(), e.end());
  r.shift = median_of(e);
  long k = outside(long(e.size()), [&](long u) { return cdf[size_t(u)]; });
  if (k > 0) {
    r.low = e[size_t(k - 1)];
    r.high = e[e.size() - size_t(k)];
    r.interval = true;
  }
  return r;
}

estimate two_samples(const std::vector<double> &x, const std::vector<double> &y) {
  std::vector<double> d;
  for (double b : x)
    for (double a : y)
      d.push_back(a - b);
  return from_estimates(d, mann_whitney_cdf(long(x.size()), long(y.size())));
}

estimate paired(const std::vector<double> &d) {
  std::vector<double> walsh;
  for (size_t i = 0; i < d.size(); i++)
    for (size_t j = i; j < d.size(); j++)
      walsh.push_back((d[i] + d[j]) / 2);
  return from_estimates(walsh, signed_rank_cdf(long(d.size())));
}

std::vector<double> logs_of(const std::vector<sample> &v) {
  std::vector<double> l;
  for (const auto &x : v)
    if (x.answer > 0 && std::isfinite(x.answer))
      l.push_back(std::log(x.answer));
  return l;
}

double median_field(const std::vector<sample> &v, double sample::*f) {
  std::vector<double> a;
  for (const auto &x : v)
    if (std::isfinite(x.*f))
      a.push_back(x.*f);
  return median_of(a);
}

}  // namespace

row judge(const std::string &name, const std::vector<sample> &b, const std::vector<sample> &n,
          const std::optional<std::vector<double>> &pair_logs, double margin) {
  row r;
  r.name = name;
  r.base = median_field(b, &sample::answer);
  r.fresh = median_field(n, &sample::answer);
  r.base_n = b.size();
  r.new_n = n.size();
  // The counter cannot tell apart answers closer than the larger of the two
  // sides' uncertainties (one counter step for a K-best answer).
  r.resolution =
      std::max(median_field(b, &sample::uncertainty), median_field(n, &sample::uncertainty));
  estimate e = pair_logs ? paired(*pair_logs) : two_samples(logs_of(b), logs_of(n));
  r.ratio = std::exp(e.shift);
  if (e.interval) {
    r.low = std::exp(e.low);
    r.high = std::exp(e.high);
  }
  if (std::fabs(r.fresh - r.base) <= r.resolution) {
    r.verdict = "not resolved";
  } else if (!e.interval) {
    r.verdict = "not distinguishable";
    r.note = pair_logs ? "too few pairs for a 95 % interval: 6 needed"
                       : "too few repetitions for a 95 % interval: 4 a side needed";
  } else if (r.low > 1 + margin) {
    r.verdict = "slower";
  } else if (r.high < 1 / (1 + margin)) {
    r.verdict = "faster";
  } else {
    r.verdict = "not distinguishable";
  }
  return r;
}
