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

#include <iterator>
#include <map>
#include <regex>
#include <sstream>
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

// The members of a one-line flat JSON object, each value as its text; fails
// the test unless the line is such an object whose values are numbers, null
// or strings without commas (all the lines here have).
std::map<std::string, std::string> json_members(const std::string &line) {
  static const std::regex member(
      "\"([a-z_0-9]+)\":(null|\"[^\",]*\"|-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][-+]?[0-9]+)?)");
  std::map<std::string, std::string> m;
  if (line.size() < 3 || line[0] != '{' || line.compare(line.size() - 2, 2, "}\n") != 0) {
    ADD_FAILURE() << "not one object on one line: " << line;
    return m;
  }
  std::string body = line.substr(1, line.size() - 3), item;
  std::stringstream items(body);
  while (std::getline(items, item, ',')) {
    std::smatch got;
    if (!std::regex_match(item, got, member))
      ADD_FAILURE() << "not a member: " << item << " in " << line;
    else if (!m.emplace(got[1], got[2]).second)
      ADD_FAILURE() << "a key twice: " << got[1];
  }
  return m;
}

// Equal, or within rounding of a figure worked out another way.
bool near(double got, double want) {
  return got == want || fabs(got - want) <= 1e-12 * (fabs(want) > 1 ? fabs(want) : 1);
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

// The order bestof_cpe measures the sizes 1000, 2000, ... 8000 in.
const int kOrder[] = {1000, 8000, 2000, 7000, 3000, 6000, 4000, 5000};

// Scripts f(n) = a + b n for those sizes, disturbing the answer at `bad` by
// `factor`.
void script_line(double a, double b, int bad = 0, double factor = 1) {
  for (int n : kOrder)
    scripted::add_count((a + b * n) * (n == bad ? factor : 1));
}

// ---- The comparison: order, ratio and verdict ---------------------------------

using Pairs = std::vector<std::pair<double, double>>;

Pairs same(int n, double first, double second) { return Pairs((size_t)n, {first, second}); }

// The same function with the machine 1 % slower at every answer: the version
// measured second in a pair always looks 1 % slower, so only the alternating
// order makes half the ratios 1.01 and half 1 / 1.01.
Pairs drift() {
  Pairs p;
  double t = 1000;
  for (int i = 0; i < 21; i++, t *= 1.0201)
    p.push_back(i % 2 == 0 ? std::make_pair(t, t * 1.01) : std::make_pair(t * 1.01, t));
  return p;
}

Pairs with_changes(Pairs p, std::vector<std::pair<size_t, std::pair<double, double>>> changes) {
  for (const auto &c : changes)
    p[c.first] = c.second;
  return p;
}

std::vector<double> evenly(double from, double by, int n) {
  std::vector<double> r;
  for (int i = 0; i < n; i++)
    r.push_back(from + by * i);
  return r;
}

TEST_F(Compare, RatioIntervalAndVerdict) {
  // Answers whose pairs are left out (an answer at or below 0) still count
  // in each function's median, and both versions' answers differ from pair
  // to pair, so a median over part of them would show.
  const Pairs left_out = {{0, 1100}, {1000, 1100}, {1010, 1111}, {1020, 1122},
                          {1030, 0}, {1040, 1144}, {1050, 1155}, {1060, 1166}};
  const struct {
    const char *name;
    double margin;
    Pairs pairs;
    double ratio, low, high;
    int verdict, used;
    double first, second;  // NAN: not checked
  } cases[] = {
      {"slower", 0, same(21, 1000, 1100), 1.1, 1.1, 1.1, 1, 21, 1000, 1100},
      {"faster", 0, same(21, 1000, 900), 0.9, 0.9, 0.9, -1, 21, 1000, 900},
      {"ratios on both sides of 1", 0, with_ratios(evenly(0.95, 0.005, 21)), 1, 0.975, 1.025, 0, 21,
       1000, NAN},
      {"a linear drift", 0, drift(), 1.01, 1 / 1.01, 1.01, 0, 21, NAN, NAN},
      {"two disturbed pairs move nothing", 0,
       with_changes(same(21, 1000, 1050), {{7, {1000, 3000}}, {12, {5000, 1050}}}), 1.05, 1.05,
       1.05, 1, 21, 1000, 1050},
      {"within the margin", 0.05, same(21, 1000, 1020), 1.02, 1.02, 1.02, 0, 21, NAN, NAN},
      {"beyond the margin", 0.05, same(21, 1000, 1060), 1.06, 1.06, 1.06, 1, 21, NAN, NAN},
      {"faster needs 1 / 1.05, not 0.95", 0.05, same(21, 1000, 960), 0.96, 0.96, 0.96, 0, 21, NAN,
       NAN},
      {"faster beyond 1 / 1.05", 0.05, same(21, 1000, 950), 0.95, 0.95, 0.95, -1, 21, NAN, NAN},
      // 1.25 and 0.8 are exact in binary, as are 1 + 0.25 and 1 / 1.25.
      {"touching the margin above", 0.25, same(6, 1000, 1250), 1.25, 1.25, 1.25, 0, 6, NAN, NAN},
      {"touching the margin below", 0.25, same(6, 1000, 800), 0.8, 0.8, 0.8, 0, 6, NAN, NAN},
      {"equal", 0, same(6, 1000, 1000), 1, 1, 1, 0, 6, NAN, NAN},
      {"any difference without a margin", 0, same(6, 1000, 1010), 1.01, 1.01, 1.01, 1, 6, NAN, NAN},
      {"pairs without a ratio left out", 0, left_out, 1.1, 1.1, 1.1, 1, 6, 1025, 1116.5},
      {"too few ratios: no interval", 0, with_changes(same(6, 1000, 2000), {{2, {0, 0}}}), 2, 0,
       HUGE_VAL, 0, 5, 1000, 2000},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    fresh_script();
    set_bestof_compare_margin(k.margin);
    bestof_comparison c = compare(k.pairs);
    EXPECT_PRED2(near, c.ratio, k.ratio);
    EXPECT_PRED2(near, c.low, k.low);
    EXPECT_PRED2(near, c.high, k.high);
    EXPECT_EQ(c.verdict, k.verdict);
    EXPECT_EQ(c.used, k.used);
    EXPECT_EQ(c.margin, k.margin);
    EXPECT_TRUE(isnan(k.first) || c.first == k.first) << c.first;
    EXPECT_TRUE(isnan(k.second) || c.second == k.second) << c.second;
    EXPECT_TRUE(k.used >= 6 || c.confidence == 0) << c.confidence;
    EXPECT_EQ(scripted::left(), 0u);
  }
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

// The sign test's 95 % ranks, as published tables give them: for n = 6 the
// extremes, 10 the 2nd and 9th, 20 the 6th and 15th, 21 the 6th and 16th.
TEST_F(Compare, IntervalIsTheNarrowestThatCoversNinetyFivePercent) {
  const std::map<int, int> tables = {{6, 1}, {10, 2}, {20, 6}, {21, 6}};
  for (int n = 6; n <= 60; n++) {
    fresh_script();
    bestof_comparison c = compare(with_ratios(scrambled_ratios(n)));
    int j = (int)lround((c.low - 1) * 1000);
    ASSERT_GE(j, 1) << n;
    EXPECT_TRUE(tables.count(n) == 0 || tables.at(n) == j) << n << " pairs: rank " << j;
    EXPECT_NEAR(c.high, 1 + (n + 1 - j) / 1000.0, 1e-12) << n;
    EXPECT_NEAR(c.ratio, 1 + (n + 1) / 2000.0, 1e-12) << n << " pairs: the median";
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

TEST_F(Compare, SettingsOutsideTheirRangeAreRefused) {
  set_bestof_compare_pairs(8);
  set_bestof_compare_pairs(5);
  set_bestof_compare_pairs(1001);
  set_bestof_compare_margin(0.05);
  set_bestof_compare_margin(-0.5);
  set_bestof_cpe_sizes(2);
  set_bestof_cpe_sizes(10001);
  script_pairs(with_ratios(std::vector<double>(8, 1)));
  bestof_comparison c;
  bestof_compare(first_fn, 0, second_fn, 0, &c);
  EXPECT_EQ(c.runs, 8);
  EXPECT_EQ(c.margin, 0.05);
  script_line(0, 1);
  bestof_fit r;
  bestof_cpe(sized, 1000, 8000, &r);
  EXPECT_EQ(r.sizes, 8);
}

TEST_F(Compare, AnswersAlternateWhichGoesFirstWithTheSettingsInForce) {
  set_bestof_fence(1);
  bestof_comparison c = compare(with_ratios({1, 1, 1, 1, 1, 1}));
  EXPECT_EQ(scripted::trace_without_step(), scripted::repeat("XFxXGxXGxXFx", 3));
  EXPECT_EQ(c.runs, 6);
}

// ---- Cycles per element ---------------------------------------------------------

TEST_F(Compare, PointsOnALineGiveItsSlopeAndIntercept) {
  // A rising line and a flat one: every point on the line, R^2 is 1.  The
  // sizes spread evenly, measured from both ends inwards.
  for (double slope : {3.0, 0.0}) {
    SCOPED_TRACE(slope);
    sizes_asked.clear();
    script_line(50, slope);
    bestof_fit r;
    memset(&r, 0x5a, sizeof r);
    EXPECT_DOUBLE_EQ(bestof_cpe(sized, 1000, 8000, &r), slope);
    EXPECT_DOUBLE_EQ(r.slope, slope);
    EXPECT_NEAR(r.intercept, 50.0, 1e-9);
    EXPECT_DOUBLE_EQ(r.r2, 1.0);
    EXPECT_NEAR(r.worst_residual, 0.0, 1e-9);
    EXPECT_EQ(sizes_asked, std::vector<int>(std::begin(kOrder), std::end(kOrder)));
    EXPECT_EQ(r.sizes, 8);
    EXPECT_EQ(r.n_lo, 1000);
    EXPECT_EQ(r.n_hi, 8000);
    EXPECT_EQ(r.not_converged, 0);
    EXPECT_EQ(r.core_cycles, 0);
  }
}

TEST_F(Compare, OneDisturbedSizeMovesTheSlopeLessThanOnePercent) {
  // Every size disturbed in turn, each far up or down: a least-squares line
  // would move by several percent.
  for (int bad = 1000; bad <= 8000; bad += 1000)
    for (double factor : {0.5, 1.5, 3.0}) {
      scripted::reset();
      // A little noise on every size, as on a real machine.
      for (int n : kOrder) {
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

// R^2 of the line 50 + 3 n with the answer at 6000 made 10 % less, from the
// residuals about the robust line, on which every other point lies.
double disturbed_r2() {
  double y[8], mean = 0, ss_tot = 0;
  for (int i = 0; i < 8; i++) {
    int n = 1000 * (i + 1);
    y[i] = (50 + 3.0 * n) * (n == 6000 ? 0.9 : 1);
    mean += y[i] / 8;
  }
  for (double v : y)
    ss_tot += (v - mean) * (v - mean);
  return 1 - 1805.0 * 1805.0 / ss_tot;
}

TEST_F(Compare, TheWorstResidualIsTheDisturbedOneWithItsSign) {
  script_line(50, 3, 6000, 0.9);
  bestof_fit r;
  bestof_cpe(sized, 1000, 8000, &r);
  EXPECT_DOUBLE_EQ(r.slope, 3.0);
  EXPECT_NEAR(r.intercept, 50.0, 1e-9);
  EXPECT_NEAR(r.worst_residual, -0.1 * (50 + 3 * 6000), 1e-6);
  EXPECT_EQ(r.worst_size, 6000);
  EXPECT_NEAR(r.r2, disturbed_r2(), 1e-12);
}

TEST_F(Compare, ANarrowRangeGivesEveryWholeNumberInIt) {
  // In core cycles, one per tick: the fit says its answers were.
  set_bestof_core_cycles(1);
  scripted::core_figures({1, 1, 1, 1, 1, 1, 1, 1});
  for (double n : {10, 13, 11, 12})
    scripted::add_count(2 * n);
  bestof_fit r;
  EXPECT_DOUBLE_EQ(bestof_cpe(sized, 10, 13, &r), 2.0);
  EXPECT_EQ(sizes_asked, (std::vector<int>{10, 13, 11, 12}));
  EXPECT_EQ(r.sizes, 4);
  EXPECT_EQ(r.core_cycles, 1);
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

// ---- The lines, text and JSON ---------------------------------------------------

TEST_F(Compare, AComparisonAndAFitPrintALineEachAndLeaveTheVerboseSetting) {
  set_bestof_verbose(1);
  set_bestof_compare_pairs(6);
  script_pairs(same(6, 1000, 1100));
  script_line(50, 3, 6000, 0.9);
  scripted::add_count(10);
  testing::internal::CaptureStdout();
  bestof_compare(first_fn, 0, second_fn, 0, nullptr);
  bestof_cpe(sized, 1000, 8000, nullptr);
  bestof(first_fn, 0);
  EXPECT_EQ(
      testing::internal::GetCapturedStdout(),
      "compare: second/first 1.1000 (95% sign-test interval 1.1000 to 1.1000): slower; 6 pairs, "
      "first 1000.0 cycles, second 1100.0 cycles\n"
      "cpe: 3.0000 cycles per element + 50.0, R^2 0.991064, worst residual -1805.0 at n = "
      "6000, 8 sizes from 1000 to 8000\n"
      "bestof: 10.0 cycles, 1 of 1 runs agreed within 0.00% (tolerance 1%), counter step "
      "8.67362e-19\n");
}

// What each JSON case measures, with verbose and JSON on.
void few_runs() {
  set_bestof_k(3);
  set_bestof_maxsamples(2);
  scripted::counts({0, 5});
  bestof(first_fn, 0);
}
void net_alone() {
  set_bestof_net(1);
  scripted::counts({40, 500, 40});
  bestof(first_fn, 0);
  set_bestof_net(0);
}
void precise_hiding() {
  // Empty call 250 ticks, reference chain 276 (its intercept 276 - 64 / 2),
  // the function 300: 6 ticks hidden.  Equal counts on a 1-tick counter
  // settle after a block of 50.
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  for (double v : {250, 276, 300, 250, 276})
    for (int i = 0; i < 50; i++)
      scripted::add_count(v);
  bestof(first_fn, 0);
  set_bestof_precise(0);
}
void a_third() {
  set_bestof_k(2);  // every answer ended by the run limit
  script_pairs(same(21, 3000, 1000));
  bestof_compare(first_fn, 0, second_fn, 0, nullptr);
}
void disturbed_fit() {
  script_line(50, 3, 6000, 0.9);
  bestof_cpe(sized, 1000, 8000, nullptr);
}

TEST_F(Compare, JsonLinesAreObjectsWithTheResultsByName) {
  // Each case: the line's type, its number of fields, and some of them as
  // "name value, ...", null for a value that is not finite.
  const struct {
    const char *name;
    void (*measure)();
    const char *type;
    size_t fields;
    const char *values;
  } cases[] = {
      {"fewer runs than K, least 0", few_runs, "bestof", 24,
       "runs 2, converged 0, k 3, kept 2, batch 1, tolerance 0.01, least 0, kth_least 5, "
       "spread null, step 8.6736173798840355e-19, net 0, precise 0, answer 0, "
       "uncertainty 8.6736173798840355e-19, resolved 0"},
      {"net counts alone", net_alone, "bestof", 24,
       "net 1, precise 0, fenced 0, pair_cost 40, answer 460, least 500, "
       "uncertainty 1.7347234759768071e-18, "
       "resolved 1, hidden_overhead 0"},
      {"precise mode", precise_hiding, "bestof", 24,
       "net 1, precise 1, fenced 1, core_cycles 1, core_per_tick_start 2, core_per_tick_end 2, "
       "runs 50, window 50, pair_cost 500, answer 112, hidden_overhead 12, resolved 1"},
      // The confidence is 1 - 2 P(B <= 5), B binomial(21, 1/2): 2041360 / 2^21.
      {"comparison", a_third, "comparison", 16,
       "ratio 0.33333333333333333, low 0.33333333333333333, high 0.33333333333333333, "
       "verdict -1, runs 21, used 21, confidence 0.97339630126953125, margin 0, first 3000, "
       "second 1000, not_converged 42, core_cycles 0"},
      // R^2 as disturbed_r2() works it out.
      {"fit", disturbed_fit, "fit", 13,
       "slope 3, intercept 50, r2 0.99106425281408606, worst_residual -1805, worst_size 6000, "
       "sizes 8, n_lo 1000, n_hi 8000, not_converged 0, core_cycles 0"},
  };
  for (const auto &k : cases) {
    SCOPED_TRACE(k.name);
    SetUp();
    set_bestof_verbose(1);
    set_bestof_json(1);
    testing::internal::CaptureStdout();
    k.measure();
    auto m = json_members(testing::internal::GetCapturedStdout());
    EXPECT_EQ(m["type"], std::string("\"") + k.type + "\"");
    EXPECT_EQ(m.size(), k.fields);
    std::stringstream values(k.values);
    std::string name, want;
    while (values >> name >> want) {
      if (want.back() == ',')
        want.pop_back();
      std::string text = m.count(name) ? m[name] : "missing";
      EXPECT_TRUE(text == want ||
                  (want != "null" && text != "null" && text != "missing" &&
                   near(strtod(text.c_str(), nullptr), strtod(want.c_str(), nullptr))))
          << name << ": " << text << ", not " << want;
    }
    EXPECT_EQ(scripted::left(), 0u);
  }
}

TEST_F(Compare, NothingIsPrintedUnlessVerboseNorForAFitOfNoSizes) {
  set_bestof_json(1);
  set_bestof_compare_pairs(6);
  script_pairs(same(6, 1000, 1100));
  script_line(50, 3);
  scripted::add_count(10);
  testing::internal::CaptureStdout();
  bestof_compare(first_fn, 0, second_fn, 0, nullptr);
  bestof_cpe(sized, 1000, 8000, nullptr);
  bestof(first_fn, 0);
  set_bestof_verbose(1);
  bestof_cpe(sized, 5, 5, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "")
      << "JSON chooses the form, verbose prints; nothing measured, nothing printed";
}

// ---- The C++ forms --------------------------------------------------------------

TEST_F(Compare, AFunctionAndALambdaAreComparedInPlace) {
  set_bestof_compare_pairs(6);
  script_pairs(same(6, 100, 50));
  int g_calls = 0;
  auto g = [&] { g_calls++; };
  void (&f)() = *+[] { scripted::note('F'); };
  bestof_comparison c;
  EXPECT_DOUBLE_EQ(cyclekit::bestof_compare(f, g, &c), 0.5);
  EXPECT_EQ(c.verdict, -1);
  EXPECT_EQ(g_calls, 6) << "the caller's lambda ran, not a copy";
  EXPECT_EQ(scripted::trace_without_step(), scripted::repeat("SFRSRSRSFR", 3));
}

TEST_F(Compare, ACallableTakesTheSize) {
  script_line(50, 3);
  std::vector<int> seen;
  bestof_fit r;
  double slope = cyclekit::bestof_cpe([&](int n) { seen.push_back(n); }, 1000, 8000, &r);
  EXPECT_DOUBLE_EQ(slope, 3.0);
  EXPECT_EQ(seen, (std::vector<int>(std::begin(kOrder), std::end(kOrder))));
  EXPECT_EQ(r.sizes, 8);
}

}  // namespace
