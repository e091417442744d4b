// bestof_compare and bestof_cpe against the scripted counter: the order of
// the answers, the ratio, the interval and the verdict; the sizes, the robust
// line and its diagnostics; their lines, text and JSON; the C++ forms.  With
// K = 1 and a run limit of 1 every bestof answer is exactly one scripted
// count, so each test states its answers directly.

#include "compare.h"

#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bestof.h"
#include "bestof.hpp"
#include "support/scripted.h"

static void first_fn(int) { scripted::note('F'); }
static void second_fn(int) { scripted::note('G'); }

// The sizes bestof_cpe asked for, in order.
static std::vector<int> sizes_asked;
static void sized(int n) { sizes_asked.push_back(n); }

namespace {

// Scripts the answers of a comparison as (first, second) pairs, in the order
// in which the comparison must ask for them: f first in the even pairs, g
// first in the odd ones.
void script_pairs(const std::vector<std::pair<double, double>> &pairs) {
  for (size_t i = 0; i < pairs.size(); i++) {
    if (i % 2 == 0) {
      scripted::add_count(pairs[i].first);
      scripted::add_count(pairs[i].second);
    } else {
      scripted::add_count(pairs[i].second);
      scripted::add_count(pairs[i].first);
    }
  }
}

// n pairs whose first answer is 1000 and whose ratios are the given ones.
std::vector<std::pair<double, double>> with_ratios(const std::vector<double> &ratios) {
  std::vector<std::pair<double, double>> p;
  for (double r : ratios)
    p.push_back({1000, 1000 * r});
  return p;
}

bestof_comparison compare(std::vector<std::pair<double, double>> pairs) {
  set_bestof_compare_pairs((int)pairs.size());
  script_pairs(pairs);
  bestof_comparison c;
  memset(&c, 0x5a, sizeof c);
  double r = bestof_compare(first_fn, 1, second_fn, 2, &c);
  EXPECT_EQ(r, c.ratio);
  return c;
}

// C(n, k) exactly, for the sign test's own probabilities.
double choose(int n, int k) {
  double c = 1;
  for (int i = 1; i <= k; i++)
    c = c * (n - k + i) / i;
  return c;
}

// A flat JSON object of one line: "key": number, string or null.  Returns
// the members as text, or an empty map (and a failure) if the line is not
// such an object.
std::map<std::string, std::string> parse_json_line(const std::string &line) {
  std::map<std::string, std::string> m;
  size_t i = 0;
  auto fail = [&](const char *why) {
    ADD_FAILURE() << why << " at " << i << " in " << line;
    return std::map<std::string, std::string>();
  };
  auto string_at = [&](std::string *out) {
    if (line[i] != '"')
      return false;
    size_t end = line.find('"', i + 1);
    if (end == std::string::npos)
      return false;
    *out = line.substr(i + 1, end - i - 1);
    i = end + 1;
    return true;
  };
  if (line.empty() || line[i++] != '{')
    return fail("no opening brace");
  for (;;) {
    std::string key, value;
    if (!string_at(&key) || line[i++] != ':')
      return fail("no key");
    if (line[i] == '"') {
      if (!string_at(&value))
        return fail("unterminated string");
    } else if (line.compare(i, 4, "null") == 0) {
      value = "null";
      i += 4;
    } else {
      const char *start = line.c_str() + i;
      char *end;
      strtod(start, &end);
      // JSON has no inf, nan, hexadecimal or leading '+'.
      if (end == start || strchr("-0123456789", *start) == nullptr)
        return fail("not a number");
      value.assign(start, (size_t)(end - start));
      for (char c : value)
        if (strchr("0123456789+-.eE", c) == nullptr)
          return fail("not a JSON number");
      i += value.size();
    }
    if (m.count(key))
      return fail("a key twice");
    m[key] = value;
    if (line[i] == ',') {
      i++;
      continue;
    }
    if (line[i] != '}' || line.substr(i + 1) != "\n")
      return fail("no closing brace and newline");
    return m;
  }
}

double number(const std::map<std::string, std::string> &m, const char *key) {
  auto it = m.find(key);
  if (it == m.end()) {
    ADD_FAILURE() << "no field " << key;
    return NAN;
  }
  return it->second == "null" ? INFINITY : strtod(it->second.c_str(), nullptr);
}

// An empty script, on a counter whose step is negligible beside the
// answers, so that the interval is the sign test's order statistics
// themselves, not widened by the answers' uncertainty.  The driver measures
// the step at the first answer of the process.
void fresh_script() {
  scripted::reset();
  scripted::step(0x1p-60);
}

class Compare : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_k(1);
    set_bestof_maxsamples(1);
    set_bestof_epsilon(0.01);
    set_bestof_compensate(0);
    set_bestof_clear_cache(0);
    set_bestof_fence(0);
    set_bestof_core_cycles(0);
    set_bestof_batch(1);
    set_bestof_verbose(0);
    set_bestof_json(0);
    set_bestof_compare_pairs(21);
    set_bestof_compare_margin(0);
    set_bestof_cpe_sizes(8);
    set_bestof_compare_net(0);
    fresh_script();
    sizes_asked.clear();
  }
  void TearDown() override { EXPECT_EQ(scripted::left(), 0u) << "scripted values left unread"; }
};

// ---- The comparison: order, ratio and verdict ---------------------------------

TEST_F(Compare, AnswersAlternateWhichFunctionGoesFirst) {
  bestof_comparison c = compare(with_ratios({1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(scripted::trace_without_step(),
            "SFRSGR"
            "SGRSFR"
            "SFRSGR"
            "SGRSFR"
            "SFRSGR"
            "SGRSFR");
  EXPECT_EQ(c.runs, 6);
  EXPECT_EQ(c.used, 6);
}

TEST_F(Compare, ASlowerSecondVersionIsCalledSlower) {
  bestof_comparison c = compare(std::vector<std::pair<double, double>>(21, {1000, 1100}));
  EXPECT_DOUBLE_EQ(c.ratio, 1.1);
  EXPECT_DOUBLE_EQ(c.low, 1.1);
  EXPECT_DOUBLE_EQ(c.high, 1.1);
  EXPECT_EQ(c.verdict, 1);
  EXPECT_EQ(c.first, 1000.0);
  EXPECT_EQ(c.second, 1100.0);
}

TEST_F(Compare, AFasterSecondVersionIsCalledFaster) {
  bestof_comparison c = compare(std::vector<std::pair<double, double>>(21, {1000, 900}));
  EXPECT_DOUBLE_EQ(c.ratio, 0.9);
  EXPECT_EQ(c.verdict, -1);
}

TEST_F(Compare, RatiosOnBothSidesOfOneAreNotDistinguishable) {
  // 21 ratios from 0.95 to 1.05: the interval spans 1.
  std::vector<double> r;
  for (int i = 0; i < 21; i++)
    r.push_back(0.95 + 0.005 * i);
  bestof_comparison c = compare(with_ratios(r));
  EXPECT_NEAR(c.ratio, 1.0, 1e-12);
  EXPECT_LT(c.low, 1.0);
  EXPECT_GT(c.high, 1.0);
  EXPECT_EQ(c.verdict, 0);
}

TEST_F(Compare, ALinearDriftWeighsOnBothVersionsAlike) {
  // The same function, the machine 1 % slower at every answer: the version
  // measured second in a pair always looks 1 % slower.  Alternating the order
  // makes half the ratios 1.01 and half 1/1.01, not all of them 1.01.
  std::vector<std::pair<double, double>> pairs;
  double t = 1000;
  for (int i = 0; i < 21; i++, t *= 1.0201)
    pairs.push_back(i % 2 == 0 ? std::make_pair(t, t * 1.01) : std::make_pair(t * 1.01, t));
  bestof_comparison c = compare(pairs);
  EXPECT_EQ(c.verdict, 0);
  EXPECT_NEAR(c.low, 1 / 1.01, 1e-12);
  EXPECT_NEAR(c.high, 1.01, 1e-12);
}

TEST_F(Compare, OneDisturbedPairMovesNothing) {
  std::vector<std::pair<double, double>> pairs(21, {1000, 1050});
  pairs[7] = {1000, 3000};
  pairs[12] = {5000, 1050};
  bestof_comparison c = compare(pairs);
  EXPECT_DOUBLE_EQ(c.ratio, 1.05);
  EXPECT_DOUBLE_EQ(c.low, 1.05);
  EXPECT_DOUBLE_EQ(c.high, 1.05);
  EXPECT_EQ(c.verdict, 1);
}

// ---- The interval -------------------------------------------------------------

// Ratios 1.001, 1.002, ... 1 + n/1000 in a scrambled order, so that the k-th
// smallest is 1 + k/1000.
std::vector<double> scrambled_ratios(int n) {
  // The odd ranks upwards, then the even ones downwards.
  std::vector<double> r;
  for (int k = 1; k <= n; k += 2)
    r.push_back(1 + k / 1000.0);
  for (int k = n / 2 * 2; k >= 2; k -= 2)
    r.push_back(1 + k / 1000.0);
  return r;
}

TEST_F(Compare, IntervalEndsAreTheSignTestsOrderStatistics) {
  // The sign test's 95 % ranks from the published tables: n = 6 the extremes,
  // 10 the 2nd and 9th, 20 the 6th and 15th, 21 the 6th and 16th.
  const int cases[][2] = {{6, 1}, {10, 2}, {20, 6}, {21, 6}};
  for (const auto &nj : cases) {
    int n = nj[0], j = nj[1];
    fresh_script();
    bestof_comparison c = compare(with_ratios(scrambled_ratios(n)));
    EXPECT_NEAR(c.low, 1 + j / 1000.0, 1e-12) << n << " pairs";
    EXPECT_NEAR(c.high, 1 + (n + 1 - j) / 1000.0, 1e-12) << n << " pairs";
    EXPECT_NEAR(c.ratio, 1 + (n + 1) / 2000.0, 1e-12) << n << " pairs";
  }
}

TEST_F(Compare, IntervalIsTheNarrowestThatCoversNinetyFivePercent) {
  for (int n = 6; n <= 60; n++) {
    fresh_script();
    bestof_comparison c = compare(with_ratios(scrambled_ratios(n)));
    int j = (int)lround((c.low - 1) * 1000);
    ASSERT_GE(j, 1) << n;
    EXPECT_NEAR(c.high, 1 + (n + 1 - j) / 1000.0, 1e-12) << n;
    // P(B <= j - 1) and P(B <= j) for B binomial(n, 1/2).
    double below = 0;
    for (int k = 0; k < j; k++)
      below += choose(n, k) / pow(2.0, n);
    double next = below + choose(n, j) / pow(2.0, n);
    EXPECT_LE(2 * below, 0.05) << n << " pairs: the interval covers less than 95 %";
    EXPECT_GT(2 * next, 0.05) << n << " pairs: a narrower interval covers 95 %";
    EXPECT_NEAR(c.confidence, 1 - 2 * below, 1e-12) << n;
  }
}

TEST_F(Compare, AMarginKeepsSmallDifferencesFromAVerdict) {
  set_bestof_compare_margin(0.05);
  bestof_comparison c = compare(std::vector<std::pair<double, double>>(21, {1000, 1020}));
  EXPECT_EQ(c.verdict, 0);
  EXPECT_EQ(c.margin, 0.05);
  c = compare(std::vector<std::pair<double, double>>(21, {1000, 1060}));
  EXPECT_EQ(c.verdict, 1);
  // Faster needs the interval below 1 / 1.05, about 0.952, not 0.95.
  c = compare(std::vector<std::pair<double, double>>(21, {1000, 960}));
  EXPECT_EQ(c.verdict, 0);
  c = compare(std::vector<std::pair<double, double>>(21, {1000, 950}));
  EXPECT_EQ(c.verdict, -1);
}

TEST_F(Compare, AnIntervalThatTouchesTheMarginGivesNoVerdict) {
  // 1.25 and 0.8 are exact in binary, as are 1 + 0.25 and 1 / 1.25.
  set_bestof_compare_margin(0.25);
  EXPECT_EQ(compare(std::vector<std::pair<double, double>>(6, {1000, 1250})).verdict, 0);
  EXPECT_EQ(compare(std::vector<std::pair<double, double>>(6, {1000, 800})).verdict, 0);
  set_bestof_compare_margin(0);
  EXPECT_EQ(compare(std::vector<std::pair<double, double>>(6, {1000, 1000})).verdict, 0);
  EXPECT_EQ(compare(std::vector<std::pair<double, double>>(6, {1000, 1010})).verdict, 1)
      << "the margin is back at 0";
}

TEST_F(Compare, PairsWithoutARatioAreLeftOut) {
  std::vector<std::pair<double, double>> pairs(8, {1000, 1100});
  pairs[0] = {0, 1100};
  pairs[3] = {1000, 0};
  bestof_comparison c = compare(pairs);
  EXPECT_EQ(c.runs, 8);
  EXPECT_EQ(c.used, 6);
  EXPECT_DOUBLE_EQ(c.ratio, 1.1);
  EXPECT_EQ(c.verdict, 1);
}

TEST_F(Compare, TooFewRatiosGiveNoIntervalAndNoVerdict) {
  std::vector<std::pair<double, double>> pairs(6, {1000, 2000});
  pairs[2] = {0, 0};
  bestof_comparison c = compare(pairs);
  EXPECT_EQ(c.used, 5);
  EXPECT_DOUBLE_EQ(c.ratio, 2.0);
  EXPECT_EQ(c.low, 0.0);
  EXPECT_EQ(c.high, HUGE_VAL);
  EXPECT_EQ(c.verdict, 0);
  EXPECT_EQ(c.confidence, 0.0);
}

TEST_F(Compare, PairsOutsideTheirRangeAreRefused) {
  set_bestof_compare_pairs(8);
  set_bestof_compare_pairs(5);
  set_bestof_compare_pairs(1001);
  script_pairs(with_ratios(std::vector<double>(8, 1)));
  bestof_comparison c;
  bestof_compare(first_fn, 0, second_fn, 0, &c);
  EXPECT_EQ(c.runs, 8);
}

TEST_F(Compare, TheSettingsInForceHoldForEveryAnswer) {
  set_bestof_fence(1);
  set_bestof_compare_pairs(6);
  script_pairs(with_ratios(std::vector<double>(6, 1)));
  bestof_compare(first_fn, 0, second_fn, 0, nullptr);
  EXPECT_EQ(scripted::trace_without_step(),
            "XFxXGx"
            "XGxXFx"
            "XFxXGx"
            "XGxXFx"
            "XFxXGx"
            "XGxXFx");
}

TEST_F(Compare, AnswersTheRunLimitEndedAreCounted) {
  set_bestof_k(2);
  bestof_comparison c = compare(with_ratios(std::vector<double>(6, 1)));
  EXPECT_EQ(c.not_converged, 12);
}

// ---- Cycles per element ---------------------------------------------------------

// Scripts f(n) = a + b n for the sizes 1000, 2000, ... 8000 in the order
// bestof_cpe measures them, disturbing the answer at `bad` by `factor`.
void script_line(double a, double b, int bad = 0, double factor = 1) {
  const int order[] = {1000, 8000, 2000, 7000, 3000, 6000, 4000, 5000};
  for (int n : order)
    scripted::add_count((a + b * n) * (n == bad ? factor : 1));
}

TEST_F(Compare, SizesSpreadEvenlyAndMeasuredFromBothEndsInwards) {
  script_line(50, 3);
  bestof_cpe(sized, 1000, 8000, nullptr);
  EXPECT_EQ(sizes_asked, (std::vector<int>{1000, 8000, 2000, 7000, 3000, 6000, 4000, 5000}));
}

TEST_F(Compare, PointsOnALineGiveItsSlopeAndIntercept) {
  script_line(50, 3);
  bestof_fit r;
  memset(&r, 0x5a, sizeof r);
  EXPECT_DOUBLE_EQ(bestof_cpe(sized, 1000, 8000, &r), 3.0);
  EXPECT_DOUBLE_EQ(r.slope, 3.0);
  EXPECT_NEAR(r.intercept, 50.0, 1e-9);
  EXPECT_DOUBLE_EQ(r.r2, 1.0);
  EXPECT_NEAR(r.worst_residual, 0.0, 1e-9);
  EXPECT_EQ(r.sizes, 8);
  EXPECT_EQ(r.n_lo, 1000);
  EXPECT_EQ(r.n_hi, 8000);
  EXPECT_EQ(r.not_converged, 0);
  EXPECT_EQ(r.core_cycles, 0);
}

TEST_F(Compare, OneDisturbedSizeMovesTheSlopeLessThanOnePercent) {
  // Every size disturbed in turn, each far up or down: a least-squares line
  // would move by several percent.
  for (int bad = 1000; bad <= 8000; bad += 1000)
    for (double factor : {0.5, 1.5, 3.0}) {
      scripted::reset();
      // A little noise on every size, as on a real machine.
      const int order[] = {1000, 8000, 2000, 7000, 3000, 6000, 4000, 5000};
      for (int n : order) {
        double noise = 1 + 0.0005 * ((n / 1000 * 5) % 3 - 1);
        scripted::add_count((50 + 3.0 * n) * noise * (n == bad ? factor : 1));
      }
      bestof_fit r;
      bestof_cpe(sized, 1000, 8000, &r);
      EXPECT_NEAR(r.slope, 3.0, 0.03) << "size " << bad << " times " << factor;
      EXPECT_EQ(r.worst_size, bad) << "size " << bad << " times " << factor;
      EXPECT_LT(r.r2, 1.0);
    }
}

TEST_F(Compare, TheWorstResidualIsTheDisturbedOneWithItsSign) {
  script_line(50, 3, 6000, 0.9);
  bestof_fit r;
  bestof_cpe(sized, 1000, 8000, &r);
  EXPECT_DOUBLE_EQ(r.slope, 3.0);
  EXPECT_NEAR(r.intercept, 50.0, 1e-9);
  EXPECT_NEAR(r.worst_residual, -0.1 * (50 + 3 * 6000), 1e-6);
  EXPECT_EQ(r.worst_size, 6000);
  // R^2 from the residuals about the robust line: only the disturbed point
  // has one.
  double y[8], mean = 0, ss_tot = 0;
  for (int i = 0; i < 8; i++) {
    int n = 1000 * (i + 1);
    y[i] = (50 + 3.0 * n) * (n == 6000 ? 0.9 : 1);
    mean += y[i] / 8;
  }
  for (double v : y)
    ss_tot += (v - mean) * (v - mean);
  EXPECT_NEAR(r.r2, 1 - r.worst_residual * r.worst_residual / ss_tot, 1e-12);
}

TEST_F(Compare, ANarrowRangeGivesEveryWholeNumberInIt) {
  for (double n : {10, 13, 11, 12})
    scripted::add_count(2 * n);
  bestof_fit r;
  EXPECT_DOUBLE_EQ(bestof_cpe(sized, 10, 13, &r), 2.0);
  EXPECT_EQ(sizes_asked, (std::vector<int>{10, 13, 11, 12}));
  EXPECT_EQ(r.sizes, 4);
}

TEST_F(Compare, ARangeOfFewerThanTwoSizesIsNotMeasured) {
  bestof_fit r;
  EXPECT_TRUE(isnan(bestof_cpe(sized, 100, 100, &r)));
  EXPECT_TRUE(isnan(bestof_cpe(sized, 100, 50, &r)));
  EXPECT_EQ(r.sizes, 0);
  EXPECT_TRUE(isnan(r.slope));
  EXPECT_EQ(scripted::trace(), "");
}

TEST_F(Compare, TheWholeIntRangeIsSpreadWithoutOverflow) {
  set_bestof_cpe_sizes(3);
  for (int i = 0; i < 3; i++)
    scripted::add_count(1);
  bestof_cpe(sized, -2147483647 - 1, 2147483647, nullptr);
  EXPECT_EQ(sizes_asked, (std::vector<int>{-2147483647 - 1, 2147483647, 0}));
}

TEST_F(Compare, SizesOutsideTheirRangeAreRefused) {
  set_bestof_cpe_sizes(2);
  set_bestof_cpe_sizes(10001);
  script_line(0, 1);
  bestof_fit r;
  bestof_cpe(sized, 1000, 8000, &r);
  EXPECT_EQ(r.sizes, 8);
}

// ---- The lines, text and JSON ---------------------------------------------------

TEST_F(Compare, AComparisonPrintsOneLineOfItsOwn) {
  set_bestof_verbose(1);
  set_bestof_compare_pairs(6);
  script_pairs(std::vector<std::pair<double, double>>(6, {1000, 1100}));
  testing::internal::CaptureStdout();
  bestof_compare(first_fn, 0, second_fn, 0, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "compare: second/first 1.1000 (95% interval 1.1000 to 1.1000): slower; 6 pairs, "
            "first 1000.0 cycles, second 1100.0 cycles\n");
  // The verbose setting is back for the next measurement.
  scripted::add_count(10);
  testing::internal::CaptureStdout();
  bestof(first_fn, 0);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("bestof: 10.0 cycles"), std::string::npos);
}

TEST_F(Compare, AFitPrintsOneLineOfItsOwn) {
  set_bestof_verbose(1);
  script_line(50, 3, 6000, 0.9);
  testing::internal::CaptureStdout();
  bestof_cpe(sized, 1000, 8000, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, out.find(", R^2")), "cpe: 3.0000 cycles per element + 50.0");
  EXPECT_NE(out.find(", worst residual -1805.0 at n = 6000, 8 sizes from 1000 to 8000\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find('\n'), out.size() - 1) << "one line only: " << out;
}

TEST_F(Compare, TheVerboseLineAsJsonHasEveryReportField) {
  set_bestof_verbose(1);
  set_bestof_json(1);
  set_bestof_k(2);
  set_bestof_maxsamples(2);
  scripted::counts({0, 5});
  testing::internal::CaptureStdout();
  bestof(first_fn, 0);
  auto m = parse_json_line(testing::internal::GetCapturedStdout());
  bestof_report r;
  bestof_last(&r);
  EXPECT_EQ(m["type"], "bestof");
  EXPECT_EQ(number(m, "runs"), r.runs);
  EXPECT_EQ(number(m, "converged"), r.converged);
  EXPECT_EQ(number(m, "k"), r.k);
  EXPECT_EQ(number(m, "kept"), r.kept);
  EXPECT_EQ(number(m, "batch"), r.batch);
  EXPECT_EQ(number(m, "tolerance"), r.tolerance);
  EXPECT_EQ(number(m, "least"), r.least);
  EXPECT_EQ(number(m, "kth_least"), r.kth_least);
  EXPECT_EQ(m["spread"], "null") << "an infinite spread (least 0) is written as null";
  EXPECT_EQ(number(m, "step"), r.step);
  EXPECT_EQ(number(m, "fenced"), r.fenced);
  EXPECT_EQ(number(m, "compensated"), r.compensated);
  EXPECT_EQ(number(m, "core_cycles"), r.core_cycles);
  EXPECT_EQ(number(m, "core_per_tick_start"), r.core_per_tick_start);
  EXPECT_EQ(number(m, "core_per_tick_end"), r.core_per_tick_end);
  EXPECT_EQ(number(m, "net"), r.net);
  EXPECT_EQ(number(m, "precise"), r.precise);
  EXPECT_EQ(number(m, "resolved"), r.resolved);
  EXPECT_EQ(number(m, "window"), r.window);
  EXPECT_EQ(number(m, "pair_cost"), r.pair_cost);
  EXPECT_EQ(number(m, "uncertainty"), r.uncertainty);
  EXPECT_EQ(number(m, "answer"), r.answer);
  EXPECT_EQ(number(m, "hidden_overhead"), r.hidden_overhead);
  EXPECT_EQ(m.size(), 24u);
}

TEST_F(Compare, TheComparisonAsJsonHasEveryField) {
  set_bestof_verbose(1);
  set_bestof_json(1);
  std::vector<double> ratios = scrambled_ratios(21);
  ratios[4] = 1.0 / 3;  // a number that needs all its digits
  set_bestof_compare_pairs(21);
  script_pairs(with_ratios(ratios));
  bestof_comparison c;
  testing::internal::CaptureStdout();
  bestof_compare(first_fn, 0, second_fn, 0, &c);
  auto m = parse_json_line(testing::internal::GetCapturedStdout());
  EXPECT_EQ(m["type"], "comparison");
  EXPECT_EQ(number(m, "ratio"), c.ratio);
  EXPECT_EQ(number(m, "low"), c.low);
  EXPECT_EQ(number(m, "high"), c.high);
  EXPECT_EQ(number(m, "verdict"), c.verdict);
  EXPECT_EQ(number(m, "runs"), c.runs);
  EXPECT_EQ(number(m, "used"), c.used);
  EXPECT_EQ(number(m, "confidence"), c.confidence);
  EXPECT_EQ(number(m, "margin"), c.margin);
  EXPECT_EQ(number(m, "first"), c.first);
  EXPECT_EQ(number(m, "second"), c.second);
  EXPECT_EQ(number(m, "not_converged"), c.not_converged);
  EXPECT_EQ(number(m, "core_cycles"), c.core_cycles);
  EXPECT_EQ(m.size(), 16u);
}

TEST_F(Compare, TheFitAsJsonHasEveryField) {
  set_bestof_verbose(1);
  set_bestof_json(1);
  script_line(50, 3, 6000, 0.9);
  bestof_fit r;
  testing::internal::CaptureStdout();
  bestof_cpe(sized, 1000, 8000, &r);
  auto m = parse_json_line(testing::internal::GetCapturedStdout());
  EXPECT_EQ(m["type"], "fit");
  EXPECT_EQ(number(m, "slope"), r.slope);
  EXPECT_EQ(number(m, "intercept"), r.intercept);
  EXPECT_EQ(number(m, "r2"), r.r2);
  EXPECT_EQ(number(m, "worst_residual"), r.worst_residual);
  EXPECT_EQ(number(m, "worst_size"), r.worst_size);
  EXPECT_EQ(number(m, "sizes"), r.sizes);
  EXPECT_EQ(number(m, "n_lo"), r.n_lo);
  EXPECT_EQ(number(m, "n_hi"), r.n_hi);
  EXPECT_EQ(number(m, "not_converged"), r.not_converged);
  EXPECT_EQ(number(m, "core_cycles"), r.core_cycles);
  EXPECT_EQ(m.size(), 13u);
}

TEST_F(Compare, JsonAloneIsSilent) {
  set_bestof_json(1);
  set_bestof_compare_pairs(6);
  script_pairs(std::vector<std::pair<double, double>>(6, {1000, 1100}));
  script_line(50, 3);
  scripted::add_count(10);
  testing::internal::CaptureStdout();
  bestof_compare(first_fn, 0, second_fn, 0, nullptr);
  bestof_cpe(sized, 1000, 8000, nullptr);
  bestof(first_fn, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "JSON chooses the form, verbose prints";
}

TEST_F(Compare, AFitOfNoSizesPrintsNothing) {
  set_bestof_verbose(1);
  set_bestof_json(1);
  testing::internal::CaptureStdout();
  bestof_cpe(sized, 5, 5, nullptr);
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "") << "nothing measured, nothing printed";
}

// ---- The C++ forms --------------------------------------------------------------

TEST_F(Compare, CallablesAreComparedInPlace) {
  int f_calls = 0, g_calls = 0;
  set_bestof_compare_pairs(6);
  script_pairs(std::vector<std::pair<double, double>>(6, {100, 300}));
  bestof_comparison c;
  double r = cyclekit::bestof_compare([&] { f_calls++; }, [&] { g_calls++; }, &c);
  EXPECT_DOUBLE_EQ(r, 3.0);
  EXPECT_EQ(c.verdict, 1);
  EXPECT_EQ(f_calls, 6);
  EXPECT_EQ(g_calls, 6);
}

TEST_F(Compare, AFunctionAndALambdaCanBeCompared) {
  set_bestof_compare_pairs(6);
  script_pairs(std::vector<std::pair<double, double>>(6, {100, 50}));
  int g_calls = 0;
  auto g = [&] { g_calls++; };
  void (&f)() = *+[] { scripted::note('F'); };
  EXPECT_DOUBLE_EQ(cyclekit::bestof_compare(f, g), 0.5);
  EXPECT_EQ(g_calls, 6);
  EXPECT_EQ(scripted::trace_without_step(), "SFRSRSRSFRSFRSRSRSFRSFRSRSRSFR");
}

TEST_F(Compare, ACallableTakesTheSize) {
  script_line(50, 3);
  std::vector<int> seen;
  bestof_fit r;
  double slope = cyclekit::bestof_cpe([&](int n) { seen.push_back(n); }, 1000, 8000, &r);
  EXPECT_DOUBLE_EQ(slope, 3.0);
  EXPECT_EQ(seen, (std::vector<int>{1000, 8000, 2000, 7000, 3000, 6000, 4000, 5000}));
  EXPECT_EQ(r.sizes, 8);
}

}  // namespace
