// The figures both front ends report, through the public header: units,
// rates, counters by their flags and aggregates, with the inputs that have
// no figure (zero divisors, unknown rates, NaN and infinities).

#include "figures.h"

#include <gtest/gtest.h>
#include <math.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

const double nan_ = NAN;
const double inf = INFINITY;

// NaN where NaN is expected, else within a few units in the last place.
void expect_figure(double expected, double got, const char *what) {
  if (isnan(expected))
    EXPECT_TRUE(isnan(got)) << what << ": " << got;
  else
    EXPECT_DOUBLE_EQ(expected, got) << what;
}

TEST(Figures, TimeUnitsFromTicks) {
  struct {
    double ticks, ticks_per_ns;
    int unit;
    double expected;
  } cases[] = {
      {3000, 3, CYCLEKIT_NS, 1000},
      {3000, 3, CYCLEKIT_US, 1},
      {3e6, 3, CYCLEKIT_MS, 1},
      {6e9, 3, CYCLEKIT_S, 2},
      {3000, 0, CYCLEKIT_NS, nan_},  // the rate unknown
      {3000, -1, CYCLEKIT_NS, nan_},
      {3000, nan_, CYCLEKIT_NS, nan_},
      {3000, inf, CYCLEKIT_NS, nan_},
      {3000, 3, 4, nan_},  // no such unit
      {3000, 3, -1, nan_},
  };
  for (auto &c : cases)
    expect_figure(c.expected,
                  cyclekit_ns_to_unit(cyclekit_ticks_to_ns(c.ticks, c.ticks_per_ns), c.unit),
                  "ticks to time");
  const char *names[] = {"ns", "us", "ms", "s"};
  for (int u = CYCLEKIT_NS; u <= CYCLEKIT_S; u++) {
    EXPECT_STREQ(cyclekit_time_unit_name(u), names[u]);
    EXPECT_EQ(cyclekit_time_unit_parse(names[u]), u);
  }
  EXPECT_EQ(cyclekit_time_unit_name(4), nullptr);
  for (const char *bad : {"sec", "", "NS", "cycles"})
    EXPECT_EQ(cyclekit_time_unit_parse(bad), -1) << bad;
  EXPECT_EQ(cyclekit_time_unit_parse(nullptr), -1);
}

TEST(Figures, CoreCyclesAndTicks) {
  struct bestof_report r = {};
  r.core_cycles = 1;
  struct {
    double start, end, count, ticks;
  } cases[] = {{2, 4, 300, 100}, {3, 3, 1.5, 0.5}, {0, 0, 300, nan_}, {nan_, 3, 300, nan_}};
  for (auto &c : cases) {
    r.core_per_tick_start = c.start;
    r.core_per_tick_end = c.end;
    expect_figure(c.ticks, cyclekit_report_ticks(&r, c.count), "report ticks");
    expect_figure(c.ticks, cyclekit_cycles_to_ticks(c.count, c.start / 2 + c.end / 2), "to ticks");
    expect_figure(isnan(c.ticks) ? nan_ : c.count,
                  cyclekit_ticks_to_cycles(c.ticks, c.start / 2 + c.end / 2), "to cycles");
  }
  r.core_cycles = 0;  // counted in ticks: no conversion, known or not
  EXPECT_EQ(cyclekit_report_ticks(&r, 300), 300);
}

TEST(Figures, RatesAndCounters) {
  struct {
    double amount, seconds, expected;
  } rates[] = {{100, 2, 50},    {0, 1, 0},       {5, 0, nan_},   {5, -1, nan_},
               {5, nan_, nan_}, {nan_, 1, nan_}, {5, inf, nan_}, {inf, 1, inf}};
  for (auto &c : rates)
    expect_figure(c.expected, cyclekit_rate(c.amount, c.seconds), "rate");

  const unsigned rate = CYCLEKIT_COUNTER_RATE, threads = CYCLEKIT_COUNTER_AVG_THREADS,
                 invariant = CYCLEKIT_COUNTER_ITERATION_INVARIANT,
                 per_iteration = CYCLEKIT_COUNTER_AVG_ITERATIONS, invert = CYCLEKIT_COUNTER_INVERT;
  // value, iterations, seconds, threads, flags.
  struct {
    double value, iterations, seconds, threads;
    unsigned flags;
    double expected;
  } counters[] = {
      {10, 5, 2, 4, 0, 10},
      {10, 5, 2, 4, rate, 5},
      {10, 5, 2, 4, threads, 2.5},
      {10, 5, 2, 4, invariant, 50},
      {10, 5, 2, 4, invariant | rate, 25},
      {10, 5, 2, 4, per_iteration, 2},
      {10, 5, 2, 4, per_iteration | rate, 1},
      {10, 5, 2, 4, rate | threads, 1.25},
      {10, 5, 2, 4, rate | invert, 0.2},
      {10, 5, 2, 4, 0x100, 10},  // a bit of no meaning
      {10, 5, 0, 4, rate, nan_},
      {10, 0, 2, 4, per_iteration, nan_},
      {10, 5, 2, 0, threads, nan_},
      {0, 5, 2, 4, rate | invert, nan_},
      {10, 0, 2, 4, rate, 5},  // the divisors not asked for do not count
      {nan_, 5, 2, 4, rate, nan_},
      {10, nan_, 2, 4, invariant, nan_},
  };
  for (auto &c : counters)
    expect_figure(c.expected,
                  cyclekit_counter_figure(c.value, c.iterations, c.seconds, c.threads, c.flags),
                  ("flags " + std::to_string(c.flags)).c_str());
}

TEST(Figures, AggregatesOfRepetitions) {
  struct {
    std::vector<double> v;
    size_t n;
    double mean, median, stddev, cv;
  } cases[] = {
      {{1, 2, 3, 4}, 4, 2.5, 2.5, sqrt(5.0 / 3), sqrt(5.0 / 3) / 2.5},
      {{4, 1, 3}, 3, 8.0 / 3, 3, sqrt(7.0 / 3), sqrt(7.0 / 3) / (8.0 / 3)},
      {{5}, 1, 5, 5, 0, 0},  // one repetition: no spread seen
      {{}, 0, nan_, nan_, nan_, nan_},
      {{nan_}, 0, nan_, nan_, nan_, nan_},
      {{0, 0}, 2, 0, 0, 0, 0},
      {{-1, 1}, 2, 0, 0, sqrt(2.0), nan_},  // spread about a mean of 0
      {{1, nan_, 3}, 2, 2, 2, sqrt(2.0), sqrt(2.0) / 2},
      {{1, inf}, 2, inf, inf, nan_, nan_},
      {{inf}, 1, inf, inf, nan_, nan_},
  };
  for (auto &c : cases) {
    std::vector<double> v = c.v;
    struct cyclekit_aggregate g;
    cyclekit_aggregates(v.data(), v.size(), &g);
    EXPECT_EQ(g.n, c.n);
    expect_figure(c.mean, g.mean, "mean");
    expect_figure(c.median, g.median, "median");
    expect_figure(c.stddev, g.stddev, "stddev");
    expect_figure(c.cv, g.cv, "cv");
  }
}

// The standard deviation is the correctly rounded root, the C++ library's
// sqrt, so the front end's figures are those it always reported.
TEST(Figures, StddevIsTheRoundedRoot) {
  std::mt19937_64 random(29);
  std::uniform_real_distribution<double> value(0, 1e6);
  for (int t = 0; t < 2000; t++) {
    std::vector<double> v(2 + t % 7);
    double sum = 0, squares = 0;
    for (double &x : v)
      sum += x = value(random);
    double mean = sum / double(v.size());
    for (double x : v)
      squares += (x - mean) * (x - mean);
    struct cyclekit_aggregate g;
    cyclekit_aggregates(v.data(), v.size(), &g);
    ASSERT_EQ(g.stddev, std::sqrt(squares / double(v.size() - 1))) << t;
  }
}

}  // namespace
