// Net counts and precise mode against the scripted counter: what is timed
// and in which order, the pair's cost taken off, the fine estimator on
// counts of a known step and phase, the reference chain's correction, the
// uncertainty and the resolved flag, and the verbose line.  The trace
// letters are those of support/scripted.h; F is a call of the measured
// function (the driver's empty call and reference chain note nothing).

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "bestof.h"
#include "support/scripted.h"

static void probe(int) { scripted::note('F'); }

namespace {

// The step of every test here; the driver asks for it once per process.
const double kStep = 10;

bestof_report last() {
  bestof_report r;
  memset(&r, 0x5a, sizeof r);
  bestof_last(&r);
  return r;
}

// `runs` counts of a run lasting d ticks whose start falls at evenly spread
// phases of the step, 100 phases over and over: each reads the lattice point
// below d or the one above, the upper one for the share of phases that d
// spans beyond the lower point.  Over any whole number of hundreds the mean
// is d exactly when that share is a whole number of hundredths.
void lattice(double d, int runs) {
  double lower = floor(d / kStep) * kStep;
  for (int i = 0; i < runs; i++) {
    double phase = (i % 100 + 0.5) / 100;
    scripted::add_count(lower + (phase < (d - lower) / kStep ? kStep : 0));
  }
}

// `runs` equal counts.
void steady(double v, int runs) {
  for (int i = 0; i < runs; i++)
    scripted::add_count(v);
}

// A column of counts in a table of cases.
std::vector<double> list(std::initializer_list<double> v) { return v; }

// The unsettled stages run to the cap.
const int kCap = 2000;

// Equal counts of v ticks, as many as a precise stage takes of them: blocks
// of 50 until the uncertainty of m equal counts, 2 steps / m, is within 0.1 %
// of v (from 20 to 40 steps long, two blocks; from 40 on, one).  Returns m.
int settling(double v) {
  int m = 50;
  while (m < kCap && 2 * kStep / m > 0.001 * v)
    m += 50;
  steady(v, m);
  return m;
}

class Precise : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_defaults();
    scripted::reset();
    scripted::step(kStep);
  }
  void TearDown() override {
    set_bestof_defaults();
    EXPECT_EQ(scripted::left(), 0u) << "scripted values left unread";
  }
};

std::string measure_verbose(double *result) {
  set_bestof_verbose(1);
  testing::internal::CaptureStdout();
  *result = bestof(probe, 0);
  set_bestof_verbose(0);
  return testing::internal::GetCapturedStdout();
}

// ---- Before any step is known ----------------------------------------------------

// Exits 0 if a K-best answer's uncertainty, unknown while the step was not
// measured, is one step once bestof_last has measured it.
void exit_if_resolution_follows_the_step() {
  scripted::step(kStep);
  scripted::counts({1000, 1000, 1000});
  bestof(probe, 0);
  bestof_report r = last();
  exit(r.step == kStep && r.uncertainty == kStep && r.resolved == 1 ? 0 : 1);
}

// Runs in a child forked before any measurement; CTest runs each test in a
// process of its own, and this one comes first in a whole run.
TEST(PreciseFresh, UncertaintyFollowsAStepMeasuredByTheReport) {
  EXPECT_EXIT(exit_if_resolution_follows_the_step(), ::testing::ExitedWithCode(0), "");
}

// Exits 0 if a measurement on a counter whose step is no usable figure (one
// that never advanced, or worse) takes the step as one tick, and the report
// keeps the answer's own uncertainty.  Net counts: a difference of two
// single counts, 2 ticks.  Precise mode, batches of 2 (no reference chain):
// equal counts of 600 and 1600 ticks settle after a block of 50, each
// estimate uncertain by (1 / 50)^2 and the pair's cost by half that.
void exit_if_unusable_step_is_one_tick(double step, int precise) {
  scripted::step(step);
  if (precise) {
    set_bestof_precise(1);
    set_bestof_batch(2);
    scripted::core_figures({1, 1});
    for (double v : {600, 1600, 600})
      steady(v, 50);
  } else {
    set_bestof_net(1);
    set_bestof_maxsamples(1);
    scripted::counts({40, 500, 40});
  }
  double answer = bestof(probe, 0);
  bestof_report r = last();
  double uncertainty = precise ? 2 * sqrt(0.0004 + 0.0002) / 2 : 2;
  exit(answer == (precise ? 500 : 460) && fabs(r.uncertainty - uncertainty) < 1e-12 &&
               r.resolved == 1 && r.precise == precise && scripted::left() == 0
           ? 0
           : 1);
}

TEST(PreciseFresh, AStepThatIsNoFigureIsOneTick) {
  const struct {
    const char *name;
    double step;
    int precise;
  } cases[] = {{"net counts, step 0", 0, 0},
               {"net counts, infinite step", INFINITY, 0},
               {"precise mode, step 0", 0, 1},
               {"precise mode, infinite step", INFINITY, 1}};
  for (const auto &c : cases)
    EXPECT_EXIT(exit_if_unusable_step_is_one_tick(c.step, c.precise), ::testing::ExitedWithCode(0),
                "")
        << c.name;
}

// ---- Net counts with the K-best driver ----------------------------------------

TEST_F(Precise, NetCountsTakeOffTheCostOfTheEmptyRuns) {
  const struct {
    const char *name;
    int batch, fence, maxsamples;
    double core_start, core_end;  // 0: no core cycles
    std::string trace;
    double answer, pair_cost, uncertainty;
    int resolved;
    std::vector<double> counts;  // empty runs, the function's, empty runs
  } cases[] = {
      // Least 47 before, 46 after; three of the function's runs agree.
      {"the mean of the least empty runs before and after", 1, 0, 4, 0, 0,
       scripted::repeat("SR", 4) + scripted::repeat("SFR", 3) + scripted::repeat("SR", 4), 53.5,
       46.5, 2 * kStep, 0, list({50, 47, 49, 48, 100, 100.5, 100.2, 46, 49, 48, 47})},
      {"a batch takes off the cost per call", 4, 1, 1, 0, 0, "XxXFFFFxXx", 250 - 62.0 / 4, 15.5,
       2 * kStep / 4, 1, list({60, 1000, 64})},
      {"a negative count is not resolved", 1, 0, 1, 0, 0, "SRSFRSR", -20, 300, 2 * kStep, 0,
       list({300, 280, 300})},
      {"core cycles convert the answer", 1, 0, 1, 1.5, 2.5, "CSRSFRSRC", 920, 80, 4 * kStep, 1,
       list({40, 500, 40})},
      {"an uncertainty above a tenth is not resolved", 1, 0, 1, 0, 0, "SRSFRSR", 150, 40, 2 * kStep,
       0, list({40, 190, 40})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_net(1);
    set_bestof_batch(c.batch);
    set_bestof_fence(c.fence);
    set_bestof_maxsamples(c.maxsamples);
    set_bestof_core_cycles(c.core_start > 0);
    if (c.core_start > 0)
      scripted::core_figures({c.core_start, c.core_end});
    for (double v : c.counts)
      scripted::add_count(v);
    EXPECT_DOUBLE_EQ(bestof(probe, 0), c.answer);
    EXPECT_EQ(scripted::trace_without_step(), c.trace) << "empty runs outside the function's";
    bestof_report r = last();
    EXPECT_EQ(r.net, 1);
    EXPECT_EQ(r.precise, 0);
    EXPECT_DOUBLE_EQ(r.answer, c.answer);
    EXPECT_DOUBLE_EQ(r.pair_cost, c.pair_cost);
    EXPECT_DOUBLE_EQ(r.uncertainty, c.uncertainty) << "the least and the cost, a step each";
    EXPECT_EQ(r.resolved, c.resolved);
    EXPECT_DOUBLE_EQ(r.least, c.answer + c.pair_cost) << "least stays the count as read";
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// ---- Precise mode ----------------------------------------------------------------

TEST_F(Precise, PreciseIsFenceCoreCyclesNetAndTheReferencesInThisOrder) {
  // Empty calls, the reference chain (with single calls), the function, then
  // empty calls and the chain again; its intercept, 390 - 64 / 2, lies above
  // the empty call's 300, so nothing is hidden.
  const struct {
    const char *name;
    int compensate, batch;
    const char *pair, *run;  // an empty run, a run of the function
    std::vector<double> stages;
  } cases[] = {
      {"fenced pair", 0, 1, "Xx", "XFx", {300, 390, 380, 300, 390}},
      {"the compensated pair wins over the fence", 1, 1, "sr", "sFr", {300, 390, 380, 300, 390}},
      {"a batch has no reference chain", 0, 2, "Xx", "XFFx", {300, 380, 300}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_precise(1);
    set_bestof_compensate(c.compensate);
    set_bestof_batch(c.batch);
    scripted::core_figures({2, 2});
    std::string trace = "C";
    for (size_t i = 0; i < c.stages.size(); i++)
      trace += scripted::repeat(i == c.stages.size() / 2 ? c.run : c.pair, settling(c.stages[i]));
    EXPECT_DOUBLE_EQ(bestof(probe, 0), (380 - 300) * 2.0 / c.batch);
    EXPECT_EQ(scripted::trace_without_step(), trace + "C");
    bestof_report r = last();
    EXPECT_EQ(r.fenced, !c.compensate);
    EXPECT_EQ(r.compensated, c.compensate);
    EXPECT_EQ(r.core_cycles + r.net + r.precise, 3);
    EXPECT_EQ(r.runs, 100);
    EXPECT_EQ(r.converged, 1) << "equal counts of 38 steps settle after two blocks";
    EXPECT_EQ(r.window, 100);
    EXPECT_EQ(r.least, 760.0 / c.batch) << "the K least are counts per call in core cycles";
    EXPECT_EQ(r.hidden_overhead, 0.0);
    EXPECT_EQ(scripted::left(), 0u);
  }
  // The settings precise mode overrides are as they were.
  SetUp();
  scripted::counts({100, 100, 100});
  EXPECT_EQ(bestof(probe, 0), 100.0);
  EXPECT_EQ(scripted::trace_without_step(), scripted::repeat("SFR", 3))
      << "plain pair, no core cycles, no net";
}

TEST_F(Precise, FineEstimateResolvesBelowTheStep) {
  // Durations of 74.2 and 88.4 ticks on a counter of 10-tick steps: the
  // counts are 70 or 80, and 80 or 90, and none of them is the answer.  At
  // 20 core cycles a tick, neither the fine target nor the coarse one (0.075
  // ticks, or 0.5% of the net 14.2) is within reach of 2000 runs.
  set_bestof_precise(1);
  scripted::core_figures({20, 20});
  for (double d : {74.2, 134.5, 88.4, 74.2, 134.5})  // the reference chain: nothing hidden
    lattice(d, kCap);
  double answer;
  std::string line = measure_verbose(&answer);
  EXPECT_NEAR(answer, (88.4 - 74.2) * 20, 1e-9);
  bestof_report r = last();
  EXPECT_NEAR(r.pair_cost, 74.2 * 20, 1e-9);
  EXPECT_EQ(r.runs, kCap);
  EXPECT_EQ(r.converged, 0) << "the lattice's spread keeps the estimate from settling";
  EXPECT_EQ(r.window, kCap) << "both lattice points lie within 1.5 steps of the least";
  EXPECT_EQ(r.least, 80 * 20.0);
  // Two standard errors, in core cycles: the function's 2000 counts are a
  // step apart with shares 0.16 and 0.84 (variance 100 * 0.16 * 0.84 *
  // 2000 / 1999 over 2000 counts), the empty call's with 0.58 and 0.42, and
  // the mean of its two estimates halves their variance; each estimate adds
  // (step / 2000)^2 for its quantisation.
  double f_var = 100 * 0.16 * 0.84 / 1999 + 0.000025;
  double cost_var = (100 * 0.58 * 0.42 / 1999 + 0.000025) / 2;
  EXPECT_NEAR(r.uncertainty, 2 * sqrt(f_var + cost_var) * 20, 1e-6);
  EXPECT_LT(r.uncertainty, kStep * 20 / 10) << "a tenth of a step, in core cycles";
  EXPECT_EQ(r.resolved, 1);
  EXPECT_NE(
      line.find(", the mean of 2000 of 2000 runs from the 2nd percentile to 1.5 steps above it "
                "(the run cap ended it), "),
      std::string::npos)
      << line;
  EXPECT_EQ(line.find("resolution"), std::string::npos) << line;
}

TEST_F(Precise, AWideLatticeSettlesAtTheCoarseTargetBeforeTheCap) {
  // At 3.5 core cycles a tick and a batch of 2, the coarse target is 0.857
  // ticks; the fine one (0.088) lies beyond the cap.  Two standard errors of
  // the lattice at 88.4 are 1.04 ticks after 50 runs and 0.73 after 100:
  // the function's stage ends at 100, far before the cap.  The empty call's
  // equal counts are within it after the first block.
  set_bestof_precise(1);
  set_bestof_batch(2);  // no reference chain
  scripted::core_figures({3.5, 3.5});
  steady(60, 50);
  lattice(88.4, 100);
  steady(60, 50);
  EXPECT_NEAR(bestof(probe, 0), (88.4 - 60) * 3.5 / 2, 1e-9);
  bestof_report r = last();
  EXPECT_EQ(r.runs, 100);
  EXPECT_EQ(r.converged, 1);
}

// The function's counts of three estimates in batches of 2 (no reference
// chain): 50 equal counts of 160 steps with one a step faster, the stray at
// run 3 or 48; a window of 1.5 steps above the least; a lattice whose
// fastest 2 % lie a step below it, strays of a reading caught early.
std::vector<double> stray_at(int run) {
  std::vector<double> v(50, 1600);
  v[(size_t)run] = 1590;
  return v;
}
std::vector<double> window_blocks() {
  std::vector<double> v;
  for (int block = 0; block < kCap / 100; block++)  // 80, 90, 95 and 95.01
    for (double c : {80.0, 90.0, 95.0, 95.01})
      v.insert(v.end(), c < 95 ? 40 : 10, c);
  return v;
}
std::vector<double> fast_strays() {
  std::vector<double> v;
  for (int i = 0, strays = 0; i < kCap; i++) {
    double phase = (i % 100 + 0.5) / 100;
    v.push_back(phase < 0.84 ? 90 : strays++ < 20 ? 70 : 80);
  }
  return v;
}

TEST_F(Precise, TheWindowFromTheAnchorAndItsSettling) {
  const struct {
    const char *name;
    double cost;  // the empty call's equal counts, before and after
    double cpt;   // core cycles per tick; at 20 or 30 no target is within reach
    std::vector<double> counts;
    double answer;
    int runs, window, converged;
  } cases[] = {
      // Two steps / 50 is within 0.1% of 60 or 160 steps after the first
      // block, the least number of runs allowed.
      {"forty steps or more settle after the first block", 600, 1, std::vector<double>(50, 1600),
       (1600 - 600) / 2.0, 50, 50, 1},
      // The anchor is the second least count, wherever the stray lies.
      {"a stray early in the first block is no anchor", 600, 1, stray_at(2), (1600 - 600) / 2.0, 50,
       49, 1},
      {"a stray late in the first block is no anchor", 600, 1, stray_at(47), (1600 - 600) / 2.0, 50,
       49, 1},
      // 40 at the least, 40 a step above, 10 exactly 1.5 steps above, 10 just
      // beyond: the mean of the first 90 of each hundred.
      {"the window is 1.5 steps above the least, inclusive", 60, 20, window_blocks(),
       ((80 * 40 + 90 * 40 + 95 * 10) / 90.0 - 60) * 20 / 2, kCap, kCap * 9 / 10, 0},
      // The window starts at the 41st least count, so the 20 strays stay out.
      {"the fastest 2 % do not anchor the window", 60, 30, fast_strays(),
       ((90 * 1680 + 80 * 300) / 1980.0 - 60) * 30 / 2, kCap, kCap - 20, 0},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_precise(1);
    set_bestof_batch(2);
    scripted::core_figures({c.cpt, c.cpt});
    settling(c.cost);
    for (double v : c.counts)
      scripted::add_count(v);
    settling(c.cost);
    EXPECT_NEAR(bestof(probe, 0), c.answer, 1e-9);
    bestof_report r = last();
    EXPECT_EQ(r.runs, c.runs);
    EXPECT_EQ(r.window, c.window);
    EXPECT_EQ(r.converged, c.converged);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

TEST_F(Precise, TheCallsCostThatTheCodeHidesIsAddedBackOnlyBeyondHalfOfIt) {
  // Stages in ticks: the empty call, the 64-addition chain, the function,
  // the empty call and the chain again, 2 core cycles per tick.  The chain's
  // intercept is its count less 32 ticks; the empty call's cost above it is
  // what code that outlasts the call hides.  A net count at most half of
  // that may hide any part of it: it stays as it is, not resolved.
  // The chain's two timings differ, in count and in the runs they took (150
  // and 100): the mean of both (276) and each one's variance count.
  const double unequal = 4 * sqrt(0.01 + (0.01 / 2.25 + 0.01) / 4);
  const struct {
    const char *name;
    double stages[5];
    double answer, hidden, uncertainty;  // uncertainty: NAN, not checked
    int resolved;
  } cases[] = {
      {"6 ticks hidden, added back", {250, 276, 300, 250, 276}, (50 + 6) * 2, 12, NAN, 1},
      {"the chain timed unequally", {250, 192, 300, 250, 360}, (50 + 6) * 2, 12, unequal, 1},
      {"net 2, no more than half of 6", {250, 276, 252, 250, 276}, 4, 0, NAN, 0},
      // The chain at 250 too: 32 ticks hidden.
      {"net 10, less than half of 32", {250, 250, 260, 250, 250}, 20, 0, NAN, 0},
      {"net 16, exactly half of 32", {250, 250, 266, 250, 250}, 32, 0, NAN, 0},
      {"net 20, more than half of 32", {250, 250, 270, 250, 250}, (20 + 32) * 2, 64, NAN, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_precise(1);
    scripted::core_figures({2, 2});
    for (double v : c.stages)
      settling(v);
    EXPECT_DOUBLE_EQ(bestof(probe, 0), c.answer);
    bestof_report r = last();
    EXPECT_DOUBLE_EQ(r.hidden_overhead, c.hidden);
    EXPECT_DOUBLE_EQ(r.pair_cost, 500);
    EXPECT_EQ(r.resolved, c.resolved);
    // From 10 ticks on, steady counts are never unresolved for their spread.
    EXPECT_TRUE(c.answer < 20 || r.uncertainty < r.answer / 10) << r.uncertainty;
    EXPECT_TRUE(isnan(c.uncertainty) || fabs(r.uncertainty - c.uncertainty) < 1e-12)
        << r.uncertainty;
    EXPECT_EQ(scripted::left(), 0u);
  }
}

TEST_F(Precise, AnEmptyFunctionIsNeverResolved) {
  set_bestof_precise(1);
  scripted::core_figures({20, 20});  // no target in reach: every stage to the cap
  for (int i = 0; i < 5; i++)
    lattice(i == 1 || i == 4 ? 134.5 : 44.2, kCap);
  EXPECT_NEAR(bestof(probe, 0), 0, 1e-9);
  EXPECT_EQ(last().resolved, 0);
}

// ---- The verbose line --------------------------------------------------------------

TEST_F(Precise, VerboseLineOfAResolvedPreciseAnswer) {
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  for (double v : {250, 276, 300, 250, 276})
    steady(v, 100);
  double answer;
  std::string line = measure_verbose(&answer);
  bestof_report r = last();
  char expect[256];
  snprintf(expect, sizeof expect,
           "bestof: 112.0 core cycles +/- %.2f, net of the pair's 500.0 of which the code hides "
           "12.0, the mean of 100 of 100 runs from the 2nd percentile to 1.5 steps above it, 2.000 "
           "core cycles per tick, counter step 10\n",
           r.uncertainty);
  EXPECT_EQ(line, expect);
}

TEST_F(Precise, VerboseLineOfNetKBestCounts) {
  set_bestof_net(1);
  set_bestof_maxsamples(3);
  scripted::counts({47, 47, 47, 100, 100, 100, 46, 46, 46});
  double answer;
  std::string line = measure_verbose(&answer);
  EXPECT_EQ(line,
            "bestof: 53.5 cycles +/- 20.00, net of the pair's 46.5, 3 of 3 runs agreed within "
            "0.00% (tolerance 1%), counter step 10, below the counter's resolution\n");
}

}  // namespace
