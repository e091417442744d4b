// The median, the resolution and the two shifts against plain references:
// every estimate stored and sorted, the null distributions counted exactly
// in integers (or their normal approximation with the C++ library's erfc).

#include "stats.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <algorithm>
#include <random>
#include <vector>

using values = std::vector<double>;

// Under AddressSanitizer a request that cannot be met returns null, as it
// does without, instead of ending the test.
extern "C" const char *__asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

// The rank interval's k, cdf(u) = P(statistic <= u).
template <class Cdf>
long reference_k(long count, Cdf cdf, double confidence) {
  long k = 0;
  while (k < count / 2 && cdf(k) <= (1 - confidence) / 2)
    k++;
  return k;
}

std::vector<uint64_t> cumulative(std::vector<uint64_t> c) {
  for (size_t u = 1; u < c.size(); u++)
    c[u] += c[u - 1];
  return c;
}

// How many orderings of m x's and n y's give U = u: U counts the (x, y)
// pairs with x before y; the last value is an x (n more) or a y.
std::vector<uint64_t> mann_whitney_counts(long m, long n) {
  std::vector<std::vector<std::vector<uint64_t>>> f(
      m + 1, std::vector<std::vector<uint64_t>>(n + 1, std::vector<uint64_t>(m * n + 1)));
  for (long a = 0; a <= m; a++)
    for (long b = 0; b <= n; b++)
      for (long u = 0; u <= a * b; u++)
        f[a][b][u] = a == 0 || b == 0 ? u == 0 : (u >= b ? f[a - 1][b][u - b] : 0) + f[a][b - 1][u];
  return cumulative(f[m][n]);
}

// How many sign choices of n ranks give the sum of positive ranks t.
std::vector<uint64_t> signed_rank_counts(long n) {
  std::vector<uint64_t> c(n * (n + 1) / 2 + 1);
  c[0] = 1;
  for (long i = 1; i <= n; i++)
    for (long t = long(c.size()) - 1; t >= i; t--)
      c[t] += c[t - i];
  return cumulative(c);
}

// The interval's k: from the exact counts while cum holds them, else from
// the normal approximation of this variance.
long k_of(long count, const std::vector<uint64_t> &cum, double var, double confidence) {
  auto cdf = [&](long u) {
    return cum.empty() ? 0.5 * std::erfc(-(u + 0.5 - count / 2.0) / std::sqrt(2 * var))
                       : double(cum[u]) / double(cum.back());
  };
  return reference_k(count, cdf, confidence);
}

cyclekit_shift reference(values e, long k) {
  cyclekit_shift r = {NAN, NAN, NAN, 0};
  std::sort(e.begin(), e.end());
  size_t c = e.size();
  if (c > 0)
    r.estimate = c % 2 ? e[c / 2] : (e[c / 2 - 1] + e[c / 2]) / 2;
  if (k > 0)
    r = {r.estimate, e[size_t(k - 1)], e[c - size_t(k)], 1};
  return r;
}

values clean(const values &v) {
  values r;
  std::copy_if(v.begin(), v.end(), std::back_inserter(r), [](double a) { return !isnan(a); });
  return r;
}

cyclekit_shift reference_two(const values &x0, const values &y0, double confidence) {
  values x = clean(x0), y = clean(y0), d;
  for (double b : x)
    for (double a : y)
      d.push_back(a - b);
  long m = long(x.size()), n = long(y.size()), count = m * n;
  std::vector<uint64_t> cum = m + n <= 60 ? mann_whitney_counts(m, n) : std::vector<uint64_t>();
  return reference(d, k_of(count, cum, count * (m + n + 1) / 12.0, confidence));
}

cyclekit_shift reference_paired(const values &d0, double confidence) {
  values d = clean(d0), w;
  for (size_t i = 0; i < d.size(); i++)
    for (size_t j = i; j < d.size(); j++)
      w.push_back((d[i] + d[j]) / 2);
  long n = long(d.size()), count = n * (n + 1) / 2;
  std::vector<uint64_t> cum = n <= 60 ? signed_rank_counts(n) : std::vector<uint64_t>();
  return reference(w, k_of(count, cum, count * (2 * n + 1) / 12.0, confidence));
}

void expect_same(const cyclekit_shift &want, const cyclekit_shift &got) {
  auto same = [](double a, double b) { return (isnan(a) && isnan(b)) || a == b; };
  EXPECT_TRUE(same(want.estimate, got.estimate)) << want.estimate << " " << got.estimate;
  EXPECT_TRUE(same(want.low, got.low)) << want.low << " " << got.low;
  EXPECT_TRUE(same(want.high, got.high)) << want.high << " " << got.high;
  EXPECT_EQ(want.interval, got.interval);
}

// n values, whole numbers from a small range when ties are wanted.
values drawn(std::mt19937 &g, size_t n, bool ties) {
  std::uniform_int_distribution<int> whole(-6, 6);
  std::normal_distribution<double> real(0, 10);
  values v(n);
  for (double &a : v)
    a = ties ? whole(g) : real(g);
  return v;
}

}  // namespace

TEST(Stats, MedianLeavesOutNaNAndAveragesTheMiddleTwo) {
  const struct {
    values v;
    double median;
  } cases[] = {{{3, 1, 2}, 2},           {{4, 1, 3, 2}, 2.5},
               {{NAN, 5, 1, NAN, 3}, 3}, {{2, 2, 1, 2}, 2},
               {{-1, -6}, -3.5},         {{7}, 7},
               {{NAN, NAN}, NAN},        {{}, NAN}};
  for (const auto &c : cases) {
    values v = c.v;
    double m = cyclekit_median(v.data(), v.size());
    EXPECT_TRUE(m == c.median || (isnan(m) && isnan(c.median))) << m;
  }
  std::mt19937 g(7);
  for (size_t n : {1000, 1001}) {
    values v = drawn(g, n, true), sorted = v;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ((sorted[(n - 1) / 2] + sorted[n / 2]) / 2, cyclekit_median(v.data(), n));
  }
}

TEST(Stats, ResolutionIsTheSumOfTheUncertaintiesNaNCountingAs0) {
  EXPECT_EQ(5, cyclekit_resolution(2, 3));
  EXPECT_EQ(3, cyclekit_resolution(NAN, 3));
  EXPECT_EQ(0, cyclekit_resolution(NAN, NAN));
}

TEST(Stats, ShiftsEqualEveryEstimateSorted) {
  const struct {
    values x, y;
    double confidence;
  } cases[] = {{{1, 2, 3, 4}, {2, 4, 6, 8}, 0.95},
               {{0, 0, 1, 1, 1}, {1, 1, 1, 2, 2, 2}, 0.95},
               {{-3, NAN, -1, 2, 5, 5}, {-4, -4, 0, 3}, 0.9},
               {{}, {1, 2}, 0.95},
               {{1}, {4}, 0.5},
               {{4}, {1, 2, 3}, 0.5},  // P(U <= 0) = 1/4, the tail exactly: inside
               {{1, 2}, {0, 3, 7}, 0.5},
               {{0, 0}, {0, 0, 0, 1, 1, 1}, 0.95}};  // 12 estimates: half 0, half 1
  for (const auto &c : cases) {
    cyclekit_shift got;
    ASSERT_EQ(0, cyclekit_shift_two_samples(c.x.data(), c.x.size(), c.y.data(), c.y.size(),
                                            c.confidence, &got));
    expect_same(reference_two(c.x, c.y, c.confidence), got);
    ASSERT_EQ(0, cyclekit_shift_paired(c.x.data(), c.x.size(), c.confidence, &got));
    expect_same(reference_paired(c.x, c.confidence), got);
  }
  std::mt19937 g(11);
  for (size_t m : {1, 4, 9, 30, 31, 32, 61})
    for (size_t n : {1, 5, 29, 60})
      for (bool ties : {true, false}) {
        values x = drawn(g, m, ties), y = drawn(g, n, ties);
        cyclekit_shift got;
        cyclekit_shift_two_samples(x.data(), m, y.data(), n, 1 - 0.05 / 7, &got);
        expect_same(reference_two(x, y, 1 - 0.05 / 7), got);
        cyclekit_shift_paired(y.data(), n, 1 - 0.05 / 7, &got);
        expect_same(reference_paired(y, 1 - 0.05 / 7), got);
      }
}

// Known critical values: U <= 2 for 5 and 5, T <= 0 for 6 pairs, T <= 8 for
// 10, at 95 %.  The estimates are distinct: the k-th least and greatest.
TEST(Stats, IntervalsLeaveOutTheKnownNumberOfEstimates) {
  EXPECT_EQ(3, reference_k(
                   25, [](long u) { return mann_whitney_counts(5, 5)[u] / 252.0; }, 0.95));
  EXPECT_EQ(1, reference_k(
                   21, [](long t) { return signed_rank_counts(6)[t] / 64.0; }, 0.95));
  EXPECT_EQ(9, reference_k(
                   55, [](long t) { return signed_rank_counts(10)[t] / 1024.0; }, 0.95));
  values x = {0, 1, 2, 3, 4}, y = {0, 5, 10, 15, 20}, d6 = {1, 10, 100, 1e3, 1e4, 1e5}, d10;
  for (int i = 0; i < 10; i++)
    d10.push_back(ldexp(1, i));
  cyclekit_shift got;
  cyclekit_shift_two_samples(x.data(), 5, y.data(), 5, 0.95, &got);  // y - x: -4 .. 20
  expect_same({8, -2, 18, 1}, got);
  cyclekit_shift_paired(d6.data(), 6, 0.95, &got);
  expect_same({reference_paired(d6, 0.95).estimate, 1, 1e5, 1}, got);
  cyclekit_shift_paired(d10.data(), 10, 0.95, &got);
  // The 9th least: 1, 1.5, 2, 2.5, 3, 4, 4.5, 5, 6; greatest: 512, 384, ..., 258, 257.
  expect_same({reference_paired(d10, 0.95).estimate, 6, 257, 1}, got);
}

TEST(Stats, LargeSamplesTakeTheNormalApproximation) {
  std::mt19937 g(3);
  values x = drawn(g, 200, false), y = drawn(g, 200, true);
  for (double confidence : {0.95, 1 - 1e-7}) {
    cyclekit_shift got;
    cyclekit_shift_two_samples(x.data(), 200, y.data(), 200, confidence, &got);
    expect_same(reference_two(x, y, confidence), got);
    cyclekit_shift_paired(x.data(), 200, confidence, &got);
    expect_same(reference_paired(x, confidence), got);
  }
}

// Whole numbers shifted by 5: every difference exact, the estimate 5 and
// the interval symmetric about it.
TEST(Stats, AHundredThousandASide) {
  std::mt19937 g(5);
  values x(100000), y(100000);
  for (size_t i = 0; i < x.size(); i++)
    y[i] = (x[i] = double(g() % 1000000)) + 5;
  cyclekit_shift got;
  ASSERT_EQ(0, cyclekit_shift_two_samples(x.data(), x.size(), y.data(), y.size(), 0.95, &got));
  EXPECT_EQ(5, got.estimate);
  EXPECT_EQ(10, got.low + got.high);
  EXPECT_LT(got.low, 5);
  ASSERT_EQ(0, cyclekit_shift_paired(x.data(), x.size(), 0.95, &got));
  EXPECT_EQ(1, got.interval);
}

// More values than memory holds: malloc really fails, before any is read.
TEST(Stats, MemoryThatCannotBeHadIsMinus1AndNaN) {
  double one = 1;
  size_t huge = size_t(1) << (sizeof(size_t) > 4 ? 40 : 30);
  cyclekit_shift got;
  EXPECT_EQ(-1, cyclekit_shift_two_samples(&one, huge, &one, 1, 0.95, &got));
  EXPECT_TRUE(isnan(got.estimate) && isnan(got.low) && got.interval == 0);
  EXPECT_EQ(-1, cyclekit_shift_paired(&one, huge, 0.95, &got));
}
