// The figures both front ends report, through the public header, with the
// inputs that have none: zero divisors, unknown rates, NaN and infinities.

#include "figures.h"

#include <gtest/gtest.h>
#include <math.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

const double no = NAN, inf = INFINITY;

void expect_figure(double expected, double got, const std::string &what) {
  if (isnan(expected))
    EXPECT_TRUE(isnan(got)) << what << ": " << got;
  else
    EXPECT_DOUBLE_EQ(expected, got) << what;
}

TEST(Figures, TimesFromTicksAndCoreCycles) {
  struct {
    double ticks, ticks_per_ns;
    int unit;
    double expected;
  } cases[] = {
      {3000, 3, CYCLEKIT_NS, 1000}, {3000, 3, CYCLEKIT_US, 1},  {3e6, 3, CYCLEKIT_MS, 1},
      {6e9, 3, CYCLEKIT_S, 2},      {3000, 0, CYCLEKIT_NS, no}, {3000, no, CYCLEKIT_US, no},
      {3000, inf, CYCLEKIT_NS, no}, {3000, 3, 4, no},           {3000, 3, -1, no}};
  for (auto &c : cases)
    expect_figure(c.expected,
                  cyclekit_ns_to_unit(cyclekit_ticks_to_ns(c.ticks, c.ticks_per_ns), c.unit),
                  std::to_string(c.ticks_per_ns) + " " + std::to_string(c.unit));
  for (int u = CYCLEKIT_NS; u <= CYCLEKIT_S; u++)
    EXPECT_EQ(cyclekit_time_unit_parse(cyclekit_time_unit_name(u)), u);
  for (const char *bad : {"sec", "NS", "cycles", (const char *)nullptr})
    EXPECT_EQ(cyclekit_time_unit_parse(bad), -1);
  EXPECT_EQ(cyclekit_time_unit_name(4), nullptr);

  // Core cycles at the mean of the start's and the end's ratio, if known.
  struct bestof_report r = {};
  r.core_cycles = 1;
  double ratios[][3] = {{2, 4, 100}, {0, 0, no}, {no, 3, no}};
  for (auto &q : ratios) {
    r.core_per_tick_start = q[0];
    r.core_per_tick_end = q[1];
    expect_figure(q[2], cyclekit_report_ticks(&r, 300), "ratio " + std::to_string(q[0]));
  }
  r.core_cycles = 0;
  EXPECT_EQ(cyclekit_report_ticks(&r, 300), 300);
  EXPECT_EQ(cyclekit_ticks_to_cycles(100, 3), 300);
}

TEST(Figures, CountersByTheirFlags) {
  const unsigned rate = CYCLEKIT_COUNTER_RATE, thr = CYCLEKIT_COUNTER_AVG_THREADS,
                 per = CYCLEKIT_COUNTER_AVG_ITERATIONS, inv = CYCLEKIT_COUNTER_ITERATION_INVARIANT,
                 inv_rate = inv | rate, per_rate = per | rate, rate_thr = rate | thr,
                 rate_flip = rate | CYCLEKIT_COUNTER_INVERT;
  const double neg = -1;
  // As the flags ask (a bit of no meaning ignored, divisors not asked for
  // not looked at), then no figure: a divisor of 0 or less, infinite
  // seconds, NaN.
  struct {
    double value, iterations, seconds, threads;
    unsigned flags;
    double expected;
  } cases[] = {
      {10, 5, 2, 4, 0, 10},          {10, 5, 2, 4, rate, 5},     {10, 5, 2, 4, thr, 2.5},
      {10, 5, 2, 4, inv_rate, 25},   {10, 5, 2, 4, per_rate, 1}, {10, 5, 2, 4, rate_thr, 1.25},
      {10, 5, 2, 4, rate_flip, 0.2}, {10, 5, 2, 4, 0x100, 10},   {0, 5, 2, 4, rate, 0},
      {10, 0, 2, 0, rate, 5},        {10, 5, 0, 4, rate, no},    {10, 5, neg, 4, rate, no},
      {10, 5, inf, 4, rate, no},     {10, 0, 2, 4, per, no},     {10, 5, 2, 0, thr, no},
      {0, 5, 2, 4, rate_flip, no},   {no, 5, 2, 4, rate, no},    {10, no, 2, 4, inv, no}};
  for (auto &c : cases)
    expect_figure(c.expected,
                  cyclekit_counter_figure(c.value, c.iterations, c.seconds, c.threads, c.flags),
                  "flags " + std::to_string(c.flags));
  EXPECT_EQ(cyclekit_rate(100, 2), 50);
}

TEST(Figures, AggregatesOfRepetitions) {
  const double neg = -1, third = 8.0 / 3, s4 = sqrt(5.0 / 3), s3 = sqrt(7.0 / 3), s2 = sqrt(2.0),
               cv4 = s4 / 2.5, cv3 = s3 / third, cv2 = s2 / 2;
  // NaN left out; one repetition shows no spread; none has no figure; a
  // mean of 0 with a spread has no cv.
  struct {
    std::vector<double> v;
    size_t n;
    double mean_median_stddev_cv[4];
  } cases[] = {{{1, 2, 3, 4}, 4, {2.5, 2.5, s4, cv4}},
               {{4, 1, 3}, 3, {third, 3, s3, cv3}},
               {{1, no, 3}, 2, {2, 2, s2, cv2}},
               {{5}, 1, {5, 5, 0, 0}},
               {{}, 0, {no, no, no, no}},
               {{no}, 0, {no, no, no, no}},
               {{0, 0}, 2, {0, 0, 0, 0}},
               {{neg, 1}, 2, {0, 0, s2, no}},
               {{1, inf}, 2, {inf, inf, no, no}}};
  for (auto &c : cases) {
    struct cyclekit_aggregate g;
    cyclekit_aggregates(c.v.data(), c.v.size(), &g);
    EXPECT_EQ(g.n, c.n);
    double got[] = {g.mean, g.median, g.stddev, g.cv};
    for (int k = 0; k < 4; k++)
      expect_figure(c.mean_median_stddev_cv[k], got[k],
                    std::to_string(c.n) + " values, #" + std::to_string(k));
  }
}

// The root is the correctly rounded one, the C++ library's, so the front
// end's figures are the ones it reported before it shared these.
TEST(Figures, StddevIsTheRoundedRoot) {
  std::mt19937_64 random(29);
  std::uniform_real_distribution<double> value(0, 1e6);
  for (int t = 0; t < 2000; t++) {
    double v[2] = {value(random), value(random)}, mean = (v[0] + v[1]) / 2;
    // Each square rounded on its own, as the library adds them: a compiler
    // may otherwise fuse one multiply with the add.
    volatile double first = (v[0] - mean) * (v[0] - mean), second = (v[1] - mean) * (v[1] - mean);
    double squares = first + second;
    struct cyclekit_aggregate g;
    cyclekit_aggregates(v, 2, &g);
    ASSERT_EQ(g.stddev, std::sqrt(squares)) << t;
  }
}

}  // namespace
