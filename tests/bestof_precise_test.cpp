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

// `runs` equal counts.  From 20 to 40 steps long, the fine estimate settles
// at its second block of 50: its uncertainty, 2 steps / 100, is then within
// 0.1% of the count, while 2 steps / 50 was not.  Every steady stage below
// is that long.
void steady(double v, int runs) {
  for (int i = 0; i < runs; i++)
    scripted::add_count(v);
}

// The unsettled stages run to the cap.
const int kCap = 2000;

class Precise : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_k(3);
    set_bestof_maxsamples(20);
    set_bestof_epsilon(0.01);
    set_bestof_compensate(0);
    set_bestof_fence(0);
    set_bestof_core_cycles(0);
    set_bestof_batch(1);
    set_bestof_verbose(0);
    set_bestof_net(0);
    set_bestof_precise(0);
    scripted::reset();
    scripted::step(kStep);
  }
  void TearDown() override {
    set_bestof_net(0);
    set_bestof_precise(0);
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

// Exits 0 if net counts on a counter whose step is no usable figure take
// the step as one tick: the uncertainty of a difference of two is 2.
void exit_if_unusable_step_is_one_tick(double step) {
  scripted::step(step);
  set_bestof_net(1);
  set_bestof_maxsamples(1);
  scripted::counts({40, 500, 40});
  double answer = bestof(probe, 0);
  bestof_report r = last();
  exit(answer == 460 && r.uncertainty == 2 && r.resolved == 1 ? 0 : 1);
}

TEST(PreciseFresh, NetCountsTakeAnInfiniteStepAsOneTick) {
  EXPECT_EXIT(exit_if_unusable_step_is_one_tick(INFINITY), ::testing::ExitedWithCode(0), "");
}

// ---- Net counts with the K-best driver ----------------------------------------

TEST_F(Precise, NetTakesOffTheMeanOfTheLeastEmptyRunsBeforeAndAfter) {
  set_bestof_net(1);
  set_bestof_maxsamples(4);
  scripted::counts({50, 47, 49, 48,     // empty runs before: least 47
                    100, 100.5, 100.2,  // the function: three agree
                    46, 49, 48, 47});   // empty runs after: least 46
  EXPECT_DOUBLE_EQ(bestof(probe, 0), 100 - 46.5);
  EXPECT_EQ(scripted::trace_without_step(),
            scripted::repeat("SR", 4) + scripted::repeat("SFR", 3) + scripted::repeat("SR", 4))
      << "the empty runs use the plain pair, outside the function's runs";
  bestof_report r = last();
  EXPECT_EQ(r.net, 1);
  EXPECT_EQ(r.precise, 0);
  EXPECT_DOUBLE_EQ(r.pair_cost, 46.5);
  EXPECT_DOUBLE_EQ(r.answer, 53.5);
  EXPECT_EQ(r.least, 100.0) << "least stays the count as read";
  EXPECT_EQ(r.converged, 1);
  EXPECT_EQ(r.runs, 3);
  // The least and the pair's cost are each quantised to a step.
  EXPECT_DOUBLE_EQ(r.uncertainty, 2 * kStep);
  EXPECT_EQ(r.resolved, 0) << "20 is more than a tenth of 53.5";
}

TEST_F(Precise, NetWithABatchTakesOffTheCostPerCall) {
  set_bestof_net(1);
  set_bestof_batch(4);
  set_bestof_fence(1);
  set_bestof_maxsamples(1);
  scripted::counts({60, 1000, 64});
  EXPECT_DOUBLE_EQ(bestof(probe, 0), 250 - 62.0 / 4);
  EXPECT_EQ(scripted::trace_without_step(), "XxXFFFFxXx") << "four empty calls, the fenced pair";
  bestof_report r = last();
  EXPECT_DOUBLE_EQ(r.pair_cost, 15.5);
  EXPECT_DOUBLE_EQ(r.uncertainty, 2 * kStep / 4);
  EXPECT_EQ(r.resolved, 1);
}

TEST_F(Precise, NetCountsMayBeNegativeAndAreThenNotResolved) {
  set_bestof_net(1);
  set_bestof_maxsamples(1);
  scripted::counts({300, 280, 300});
  EXPECT_DOUBLE_EQ(bestof(probe, 0), -20);
  EXPECT_EQ(last().resolved, 0);
}

TEST_F(Precise, NetCountsInCoreCyclesAreConvertedWithTheAnswer) {
  set_bestof_net(1);
  set_bestof_core_cycles(1);
  set_bestof_maxsamples(1);
  scripted::core_figures({1.5, 2.5});
  scripted::counts({40, 500, 40});
  EXPECT_DOUBLE_EQ(bestof(probe, 0), (500 - 40) * 2.0);
  EXPECT_EQ(scripted::trace_without_step(), "CSRSFRSRC")
      << "the empty runs lie inside core_per_tick's";
  bestof_report r = last();
  EXPECT_DOUBLE_EQ(r.pair_cost, 80);
  EXPECT_DOUBLE_EQ(r.uncertainty, 2 * kStep * 2);
}

// ---- The K-best answer's resolution without net counts ---------------------------

TEST_F(Precise, WithoutNetTheAnswerIsTheLeastAndItsUncertaintyOneStep) {
  set_bestof_verbose(1);
  scripted::counts({1000, 1000, 1000});
  testing::internal::CaptureStdout();
  EXPECT_EQ(bestof(probe, 0), 1000.0);
  std::string line = testing::internal::GetCapturedStdout();
  bestof_report r = last();
  EXPECT_EQ(r.net, 0);
  EXPECT_EQ(r.answer, 1000.0);
  EXPECT_EQ(r.pair_cost, 0.0);
  EXPECT_EQ(r.uncertainty, kStep);
  EXPECT_EQ(r.resolved, 1);
  EXPECT_EQ(r.window, 3) << "the K least";
  EXPECT_EQ(line.find("+/-"), std::string::npos) << line;

  scripted::reset();
  scripted::step(kStep);
  scripted::counts({12, 12, 12});
  testing::internal::CaptureStdout();
  bestof(probe, 0);
  line = testing::internal::GetCapturedStdout();
  EXPECT_EQ(last().resolved, 0) << "12 ticks on a counter of 10-tick steps";
  EXPECT_EQ(line.find("resolution"), std::string::npos)
      << "the default line is unchanged: " << line;
}

// ---- Precise mode ----------------------------------------------------------------

TEST_F(Precise, PreciseIsFenceCoreCyclesNetAndTheReferencesInThisOrder) {
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  steady(300, 100);  // empty calls
  steady(390, 100);  // the reference chain
  steady(380, 100);  // the function
  steady(300, 100);
  steady(390, 100);
  bestof(probe, 0);
  EXPECT_EQ(scripted::trace_without_step(), "C" + scripted::repeat("Xx", 200) +
                                                scripted::repeat("XFx", 100) +
                                                scripted::repeat("Xx", 200) + "C");
  bestof_report r = last();
  EXPECT_EQ(r.fenced, 1);
  EXPECT_EQ(r.core_cycles, 1);
  EXPECT_EQ(r.net, 1);
  EXPECT_EQ(r.precise, 1);
  EXPECT_EQ(r.runs, 100);
  EXPECT_EQ(r.converged, 1) << "equal counts of 38 steps settle after two blocks";
  EXPECT_EQ(r.window, 100);
  EXPECT_EQ(r.least, 760.0);
  // The reference's intercept, 390 - 64 / 2, lies above the empty call's 300:
  // nothing is hidden.
  EXPECT_EQ(r.hidden_overhead, 0.0);
  EXPECT_DOUBLE_EQ(r.answer, (380 - 300) * 2.0);
}

TEST_F(Precise, PreciseLeavesTheSettingsItOverridesAsTheyWere) {
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  for (double v : {300, 390, 380, 300, 390})
    steady(v, 100);
  bestof(probe, 0);
  set_bestof_precise(0);
  scripted::reset();
  scripted::step(kStep);
  scripted::counts({100, 100, 100});
  EXPECT_EQ(bestof(probe, 0), 100.0);
  EXPECT_EQ(scripted::trace_without_step(), scripted::repeat("SFR", 3))
      << "plain pair, no core cycles, no net";
}

TEST_F(Precise, CompensatedCounterWinsOverPrecisesFence) {
  set_bestof_precise(1);
  set_bestof_compensate(1);
  scripted::core_figures({2, 2});
  for (double v : {300, 390, 380, 300, 390})
    steady(v, 100);
  bestof(probe, 0);
  set_bestof_compensate(0);
  EXPECT_EQ(scripted::trace_without_step(), "C" + scripted::repeat("sr", 200) +
                                                scripted::repeat("sFr", 100) +
                                                scripted::repeat("sr", 200) + "C");
  EXPECT_EQ(last().compensated, 1);
  EXPECT_EQ(last().fenced, 0);
}

TEST_F(Precise, BatchedPreciseHasNoReferenceChain) {
  set_bestof_precise(1);
  set_bestof_batch(2);
  scripted::core_figures({2, 2});
  for (double v : {300, 380, 300})
    steady(v, 100);
  EXPECT_DOUBLE_EQ(bestof(probe, 0), (380 - 300) * 2.0 / 2);
  EXPECT_EQ(scripted::trace_without_step(), "C" + scripted::repeat("Xx", 100) +
                                                scripted::repeat("XFFx", 100) +
                                                scripted::repeat("Xx", 100) + "C");
  EXPECT_EQ(last().least, 380.0) << "the K least are counts per call: 190 ticks, 2 per tick";
}

TEST_F(Precise, FineEstimateResolvesBelowTheStep) {
  // Durations of 44.2 and 88.4 ticks on a counter of 10-tick steps: the
  // counts are 40 or 50, and 80 or 90, and none of them is the answer.
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  lattice(44.2, kCap);
  lattice(134.5, kCap);  // the reference chain: nothing hidden
  lattice(88.4, kCap);
  lattice(44.2, kCap);
  lattice(134.5, kCap);
  double answer = bestof(probe, 0);
  EXPECT_NEAR(answer, (88.4 - 44.2) * 2, 1e-9);
  bestof_report r = last();
  EXPECT_NEAR(r.pair_cost, 44.2 * 2, 1e-9);
  EXPECT_EQ(r.runs, kCap);
  EXPECT_EQ(r.converged, 0) << "the lattice's spread keeps the estimate from settling";
  EXPECT_EQ(r.window, kCap) << "both lattice points lie within 1.5 steps of the least";
  EXPECT_EQ(r.least, 80 * 2.0);
  // Two standard errors, in core cycles: the function's 2000 counts are a
  // step apart with shares 0.16 and 0.84 (variance 100 * 0.16 * 0.84 *
  // 2000 / 1999 over 2000 counts), the empty call's with 0.58 and 0.42, and
  // the mean of its two estimates halves their variance; each estimate adds
  // (step / 2000)^2 for its quantisation.
  double f_var = 100 * 0.16 * 0.84 / 1999 + 0.000025;
  double cost_var = (100 * 0.58 * 0.42 / 1999 + 0.000025) / 2;
  EXPECT_NEAR(r.uncertainty, 2 * sqrt(f_var + cost_var) * 2, 1e-6);
  EXPECT_LT(r.uncertainty, kStep * 2 / 10) << "a tenth of a step, in core cycles";
  EXPECT_EQ(r.resolved, 1);
}

TEST_F(Precise, CountsOfFortyStepsOrMoreSettleAfterTheFirstBlock) {
  // Equal counts of 60 or 160 steps: two steps / 50 is within 0.1% of them
  // after the first block, so each stage is 50 runs, the least allowed.
  set_bestof_precise(1);
  set_bestof_batch(2);  // no reference chain
  scripted::core_figures({1, 1});
  steady(600, 50);
  steady(1600, 50);
  steady(600, 50);
  EXPECT_DOUBLE_EQ(bestof(probe, 0), (1600 - 600) / 2.0);
  bestof_report r = last();
  EXPECT_EQ(r.runs, 50);
  EXPECT_EQ(r.converged, 1);
}

TEST_F(Precise, AStrayInTheFirstBlockIsNotTheAnchor) {
  // 50 runs, one of them a step faster: the anchor is the second least
  // count, wherever the stray lies among the runs.
  set_bestof_precise(1);
  set_bestof_batch(2);
  for (int stray : {2, 47}) {
    scripted::core_figures({1, 1});
    steady(600, 50);
    for (int i = 0; i < 50; i++)
      scripted::add_count(i == stray ? 1590 : 1600);
    steady(600, 50);
    EXPECT_DOUBLE_EQ(bestof(probe, 0), (1600 - 600) / 2.0) << "stray at run " << stray;
    EXPECT_EQ(last().window, 49);
  }
}

TEST_F(Precise, WindowIsOneAndAHalfStepsAboveTheLeastInclusive) {
  set_bestof_precise(1);
  set_bestof_batch(2);  // no reference chain: one stage fewer to script
  scripted::core_figures({1, 1});
  steady(300, 100);
  // 40 at the least, 40 a step above, 10 exactly 1.5 steps above, 10 just
  // beyond: the mean of the first 90.
  for (int block = 0; block < kCap / 100; block++) {
    steady(80, 40);
    steady(90, 40);
    steady(95, 10);
    steady(95.01, 10);
  }
  steady(300, 100);
  double answer = bestof(probe, 0);
  EXPECT_NEAR(answer, ((80 * 40 + 90 * 40 + 95 * 10) / 90.0 - 300) / 2, 1e-9);
  EXPECT_EQ(last().window, kCap * 9 / 10);
}

TEST_F(Precise, TheFastestTwoPercentDoNotAnchorTheWindow) {
  // 20 of 2000 counts a step below the lattice, strays of a reading caught
  // early: the window starts at the 41st least count, so they stay out.
  set_bestof_precise(1);
  set_bestof_batch(2);  // no reference chain
  scripted::core_figures({1, 1});
  steady(300, 100);
  double sum = 0;
  int strays = 0, kept = 0;
  for (int i = 0; i < kCap; i++) {
    double phase = (i % 100 + 0.5) / 100, v = phase < 0.84 ? 90 : 80;
    if (v == 80 && strays < 20) {
      v = 70;
      strays++;
    } else {
      sum += v;
      kept++;
    }
    scripted::add_count(v);
  }
  steady(300, 100);
  EXPECT_NEAR(bestof(probe, 0), (sum / kept - 300) / 2, 1e-9);
  EXPECT_EQ(last().window, kCap - 20);
}

TEST_F(Precise, TheCodesHiddenShareOfTheEmptyCallIsAddedBack) {
  // The empty call costs 250 ticks; the 64-addition chain 276, so its
  // intercept is 276 - 64 / 2 = 244: code that outlasts the call hides 6
  // ticks of the empty call's cost.
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  for (double v : {250, 276, 300, 250, 276})
    steady(v, 100);
  EXPECT_DOUBLE_EQ(bestof(probe, 0), (300 - 244) * 2.0);
  bestof_report r = last();
  EXPECT_DOUBLE_EQ(r.hidden_overhead, 12);
  EXPECT_DOUBLE_EQ(r.pair_cost, 500);
  EXPECT_EQ(r.resolved, 1);
}

TEST_F(Precise, CodeNoLongerThanTheHiddenShareIsNotResolved) {
  // Net 2 ticks, no more than half of the 6 hidden: an empty call's twin.
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  for (double v : {250, 276, 252, 250, 276})
    steady(v, 100);
  double answer;
  std::string line = measure_verbose(&answer);
  EXPECT_DOUBLE_EQ(answer, 4);
  bestof_report r = last();
  EXPECT_EQ(r.hidden_overhead, 0.0);
  EXPECT_EQ(r.resolved, 0);
  EXPECT_NE(line.find(", below the counter's resolution\n"), std::string::npos) << line;
}

// The empty call costs 250 ticks and the chain 250 too: its intercept is
// 250 - 64 / 2 = 218, so code that outlasts the call hides 32 ticks.
void hidden_share_of_32(double function) {
  scripted::core_figures({2, 2});
  for (double v : {250.0, 250.0, function, 250.0, 250.0})
    steady(v, 100);
}

TEST_F(Precise, CodeUpToHalfTheHiddenShareIsNotResolvedHoweverSteady) {
  // Net 10 and 16 ticks, each well above its uncertainty: code this short
  // may hide any part of the call, so the answer stays the plain net count.
  set_bestof_precise(1);
  for (double function : {260.0, 266.0}) {
    hidden_share_of_32(function);
    EXPECT_DOUBLE_EQ(bestof(probe, 0), (function - 250) * 2);
    bestof_report r = last();
    EXPECT_LT(r.uncertainty, r.answer / 10);
    EXPECT_EQ(r.hidden_overhead, 0.0);
    EXPECT_EQ(r.resolved, 0) << "net " << function - 250;
  }
}

TEST_F(Precise, CodeBeyondHalfTheHiddenShareGetsItBack) {
  // Net 20 ticks, more than half the 32 hidden: they are added back.
  set_bestof_precise(1);
  hidden_share_of_32(270);
  EXPECT_DOUBLE_EQ(bestof(probe, 0), (20 + 32) * 2.0);
  bestof_report r = last();
  EXPECT_DOUBLE_EQ(r.hidden_overhead, 64);
  EXPECT_EQ(r.resolved, 1);
}

TEST_F(Precise, AnEmptyFunctionIsNeverResolved) {
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  for (int i = 0; i < 5; i++)
    lattice(i == 1 || i == 4 ? 134.5 : 44.2, kCap);
  EXPECT_NEAR(bestof(probe, 0), 0, 1e-9);
  EXPECT_EQ(last().resolved, 0);
}

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
           "core cycles "
           "per tick, counter step 10\n",
           r.uncertainty);
  EXPECT_EQ(line, expect);
}

TEST_F(Precise, JsonLineGivesThePairsCostAndTheHiddenShare) {
  set_bestof_precise(1);
  set_bestof_json(1);
  scripted::core_figures({2, 2});
  for (double v : {250, 276, 300, 250, 276})
    steady(v, 100);
  double answer;
  std::string line = measure_verbose(&answer);
  set_bestof_json(0);
  EXPECT_NE(line.find(",\"pair_cost\":500,"), std::string::npos) << line;
  EXPECT_NE(line.find(",\"answer\":112,\"hidden_overhead\":12}\n"), std::string::npos) << line;
}

TEST_F(Precise, VerboseLineSaysWhenTheRunCapEndedIt) {
  set_bestof_precise(1);
  scripted::core_figures({2, 2});
  lattice(44.2, kCap);
  lattice(134.5, kCap);
  lattice(88.4, kCap);
  lattice(44.2, kCap);
  lattice(134.5, kCap);
  double answer;
  std::string line = measure_verbose(&answer);
  EXPECT_NE(
      line.find(", the mean of 2000 of 2000 runs from the 2nd percentile to 1.5 steps above it "
                "(the run cap ended it), "),
      std::string::npos)
      << line;
  EXPECT_EQ(line.find("resolution"), std::string::npos) << line;
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
