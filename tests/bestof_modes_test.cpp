// The driver's opt-in settings against the scripted counter: the fenced
// pair, core cycles, batching, the last measurement's report and the verbose
// line.  The trace letters are those of support/scripted.h; F is a call of
// the measured function.

#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <string.h>

#include <string>
#include <vector>

#include "bestof.h"
#include "support/scripted.h"

static void probe(int) { scripted::note('F'); }

// Counts its calls without noting them, for batches too long for the trace.
static long quiet_calls = 0;
static void quiet(int) { quiet_calls++; }

namespace {

// The step every test here scripts.  The driver asks for the step once per
// process, so one value serves all the tests of a run.
const double kStep = 26;

// A fresh script with the step of every test here.
void restart() {
  scripted::reset();
  scripted::step(kStep);
}

// A start, n calls, a read.
std::string batch_run(char start, int n, char read) {
  return std::string(1, start) + std::string((size_t)n, 'F') + std::string(1, read);
}

bestof_report last() {
  bestof_report r;
  memset(&r, 0x5a, sizeof r);
  bestof_last(&r);
  return r;
}

// One measurement of probe with the verbose line captured.
std::string measure_verbose(double *result) {
  set_bestof_verbose(1);
  testing::internal::CaptureStdout();
  *result = bestof(probe, 0);
  set_bestof_verbose(0);
  return testing::internal::GetCapturedStdout();
}

class Modes : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_defaults();
    restart();
  }
  void TearDown() override { EXPECT_EQ(scripted::left(), 0u) << "scripted values left unread"; }
};

// ---- The report and the verbose line -------------------------------------------

// Exits 0 if bestof_last gives all zeros and nothing was called.
void exit_if_report_zero() {
  bestof_report zero;
  memset(&zero, 0, sizeof zero);
  bestof_report r = last();
  exit(memcmp(&r, &zero, sizeof r) == 0 && scripted::trace().empty() ? 0 : 1);
}

// These two run in a child forked before any measurement: CTest runs each
// test in a process of its own, and these come first in a whole run.  (A
// re-executed child would need the binary to run without the emulator.)
TEST(ModesFresh, ReportIsAllZerosBeforeTheFirstMeasurement) {
  EXPECT_EXIT(exit_if_report_zero(), ::testing::ExitedWithCode(0), "");
}

// Exits 0 if two verbose measurements and a report ask for the step once.
void exit_if_step_asked_once() {
  scripted::step(kStep);
  scripted::counts({10, 10, 10, 10, 10, 10});
  set_bestof_verbose(1);
  bestof(probe, 0);
  bestof(probe, 0);
  bestof_report r = last();
  std::string t = scripted::trace();
  exit(r.step == kStep && t.find('T') != std::string::npos && t.find('T') == t.rfind('T') ? 0 : 1);
}

TEST(ModesFresh, StepIsMeasuredOncePerProcess) {
  EXPECT_EXIT(exit_if_step_asked_once(), ::testing::ExitedWithCode(0), "");
}

// Exits 0 if a step that is no usable figure (a counter that never
// advanced, or worse) leaves the automatic batch counting in single ticks.
void exit_if_step_taken_as_one_tick(double step) {
  scripted::step(step);
  set_bestof_batch(0);
  // A pair that costs nothing: runs of 100 single ticks, so 1 and 2 calls
  // are probed.
  scripted::counts({0, 1, 0, 50, 100, 100, 100, 100});
  double result = bestof(probe, 0);
  exit(result == 50.0 && last().batch == 2 && scripted::left() == 0 ? 0 : 1);
}

TEST(ModesFresh, AStepThatIsNoFigureLeavesTheBatchInSingleTicks) {
  for (double step : {(double)INFINITY, 0.0})
    EXPECT_EXIT(exit_if_step_taken_as_one_tick(step), ::testing::ExitedWithCode(0), "") << step;
}

// A column of counts in a table of cases.
std::vector<double> list(std::initializer_list<double> v) { return v; }

TEST_F(Modes, ReportAndVerboseLine) {
  const double inf = HUGE_VAL;
  const struct {
    const char *name;
    int k, maxsamples;
    double tolerance;
    int compensate;
    std::string line;  // after "bestof: ", before ", counter step 26\n"
    int runs, converged, kept;
    double least, kth_least, spread;
    std::vector<double> counts;
  } cases[] = {
      // 100, 100.5 and 101 agree within 1% at the fourth run; 130 was pushed out.
      {"converged", 3, 20, 0.01, 0, "100.0 cycles, 3 of 4 runs agreed within 1.00% (tolerance 1%)",
       4, 1, 3, 100, 101, 0.01, list({100, 130, 101, 100.5})},
      {"agreement at the last run allowed", 3, 4, 0.01, 0,
       "100.0 cycles, 3 of 4 runs agreed within 1.00% (tolerance 1%)", 4, 1, 3, 100, 101, 0.01,
       list({100, 130, 101, 100.5})},
      {"the run limit ended it", 3, 5, 0.01, 0,
       "100.0 cycles, not converged: the run limit ended it after 5 runs, the 3 least 100.00% "
       "apart (tolerance 1%)",
       5, 0, 3, 100, 200, 1, list({100, 200, 300, 150, 250})},
      {"one run: the K-th least is the one kept", 3, 1, 0.01, 0,
       "70.0 cycles, not converged: the run limit ended it after 1 of the 3 runs K needs "
       "(tolerance 1%)",
       1, 0, 1, 70, 70, 0, list({70})},
      {"two runs: the largest kept stands in", 3, 2, 0.01, 0,
       "50.0 cycles, not converged: the run limit ended it after 2 of the 3 runs K needs "
       "(tolerance 1%)",
       2, 0, 2, 50, 70, 0.4, list({70, 50})},
      {"K of one", 1, 20, 0.01, 0, "42.0 cycles, 1 of 1 runs agreed within 0.00% (tolerance 1%)", 1,
       1, 1, 42, 42, 0, list({42})},
      {"the tolerance in force", 3, 20, 0.05, 0,
       "100.0 cycles, 3 of 3 runs agreed within 4.00% (tolerance 5%)", 3, 1, 3, 100, 104, 0.04,
       list({100, 104, 103})},
      // No relative spread exists for a least at or below 0: the line gives
      // the K least, and converged only where (1 + tolerance) x least >= the
      // K-th least, which a negative least meets only under a tolerance <= 0.
      {"a negative least never converges", 3, 3, 0.01, 1,
       "-5.0 cycles, not converged: the run limit ended it after 3 runs, the 3 least from -5.0 "
       "to -5.0 (tolerance 1%)",
       3, 0, 3, -5, -5, 0, list({-5, -5, -5})},
      {"a negative least under a tolerance of 0", 3, 3, 0, 1,
       "-5.0 cycles, 3 of 3 runs agreed, from -5.0 to -5.0 (tolerance 0%)", 3, 1, 3, -5, -5, 0,
       list({-5, -5, -5})},
      {"a negative least under a negative tolerance", 3, 3, -2, 1,
       "-10.0 cycles, 3 of 3 runs agreed, from -10.0 to -4.0 (tolerance -200%)", 3, 1, 3, -10, -4,
       inf, list({-10, -6, -4})},
      {"a least of 0 below larger counts", 3, 3, 0.01, 1,
       "0.0 cycles, not converged: the run limit ended it after 3 runs, the 3 least from 0.0 to "
       "3.0 (tolerance 1%)",
       3, 0, 3, 0, 3, inf, list({0, 3, 1})},
      {"counts all 0 agree, no 0/0", 3, 20, 0.01, 0,
       "0.0 cycles, 3 of 3 runs agreed, from 0.0 to 0.0 (tolerance 1%)", 3, 1, 3, 0, 0, 0,
       list({0, 0, 0})},
      // The only answer here of ten steps or more: the only one resolved.
      {"ten steps", 3, 20, 0.01, 0, "260.0 cycles, 3 of 3 runs agreed within 0.00% (tolerance 1%)",
       3, 1, 3, 260, 260, 0, list({260, 260, 260})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_k(c.k);
    set_bestof_maxsamples(c.maxsamples);
    set_bestof_epsilon(c.tolerance);
    set_bestof_compensate(c.compensate);
    scripted::counts(c.counts);
    double result;
    EXPECT_EQ(measure_verbose(&result), "bestof: " + c.line + ", counter step 26\n");
    EXPECT_EQ(result, c.least);
    EXPECT_EQ(scripted::trace_without_step(),
              scripted::repeat(c.compensate ? "sFr" : "SFR", c.runs))
        << "nothing new around an unbatched run";
    bestof_report r = last();
    EXPECT_EQ(r.runs, c.runs);
    EXPECT_EQ(r.converged, c.converged) << "the report alone must tell a stopped measurement";
    EXPECT_EQ(r.k, c.k);
    EXPECT_EQ(r.kept, c.kept);
    EXPECT_EQ(r.batch, 1);
    EXPECT_EQ(r.tolerance, c.tolerance);
    EXPECT_EQ(r.least, c.least);
    EXPECT_EQ(r.kth_least, c.kth_least);
    EXPECT_DOUBLE_EQ(r.spread, c.spread);
    EXPECT_EQ(r.step, kStep);
    EXPECT_EQ(r.compensated, c.compensate);
    EXPECT_EQ(r.fenced + r.core_cycles, 0);
    EXPECT_EQ(r.core_per_tick_start + r.core_per_tick_end, 0.0);
    // Without net counts the answer is the least, uncertain by one step.
    EXPECT_EQ(r.net + r.precise, 0);
    EXPECT_EQ(r.answer, c.least);
    EXPECT_EQ(r.pair_cost, 0.0);
    EXPECT_EQ(r.uncertainty, kStep);
    EXPECT_EQ(r.resolved, c.least >= 10 * kStep);
    EXPECT_EQ(r.window, c.kept);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

TEST_F(Modes, VerboseLinesGoToTheStreamSetAndOnlyWhenVerbose) {
  scripted::counts({10, 10, 10, 10, 10, 10, 10, 10, 10});
  testing::internal::CaptureStdout();
  bestof(probe, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "quiet unless verbose";
  bestof_last(nullptr);  // ignored
  EXPECT_EQ(last().least, 10.0);

  FILE *f = tmpfile();
  ASSERT_NE(f, nullptr);
  set_bestof_verbose_stream(f);
  double result;
  EXPECT_EQ(measure_verbose(&result), "") << "nothing on standard output";
  set_bestof_verbose_stream(nullptr);
  rewind(f);
  char line[256] = "";
  EXPECT_NE(fgets(line, sizeof line, f), nullptr);
  fclose(f);
  EXPECT_STREQ(line,
               "bestof: 10.0 cycles, 3 of 3 runs agreed within 0.00% (tolerance 1%), counter "
               "step 26\n");
  EXPECT_NE(measure_verbose(&result), "") << "null restores standard output";
}

// ---- Batching -------------------------------------------------------------------

TEST_F(Modes, BatchOfNCallsAndTheAutomaticBatch) {
  // A batch of n puts n calls in each run and divides its count by n.  The
  // automatic batch (0) times three empty runs for the pair's cost, then
  // probes runs of 1, 2, 4, ... calls until one spans 100 steps of 26 ticks
  // and 100 times that cost; the probes are no samples.  It is chosen anew
  // at every measurement, and in core cycles it probes in ticks, before the
  // first figure is taken.
  const struct {
    const char *name;
    int batch, core;  // core: in core cycles, with the fenced pair
    int chosen;
    double result;
    std::vector<double> counts;
  } cases[] = {
      // Per call 100, 101, 100.5.
      {"a batch of 4", 4, 0, 4, 100, list({400, 404, 402})},
      // A least cost of 20, below the step: runs of 2600; 2599 falls short.
      {"doubled until a run spans 100 steps", 0, 0, 8, 100,
       list({22, 20, 21, 30, 700, 2599, 2600, 800, 808, 804})},
      {"one call long enough at once", 0, 0, 1, 5000, list({20, 20, 20, 5000, 5000, 5000, 5000})},
      // A least cost of 40, above the step: runs of 4000; 3999 falls short.
      {"outlasting the pair's own cost", 0, 0, 4, 250,
       list({45, 40, 41, 2600, 3999, 4000, 1000, 1000, 1000})},
      {"probed in ticks in core cycles", 0, 1, 2, 2600,
       list({10, 10, 10, 1300, 2600, 2600, 2600, 2600})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_batch(c.batch);
    set_bestof_core_cycles(c.core);
    set_bestof_fence(c.core);
    if (c.core)
      scripted::core_figures({2.0, 2.0});
    scripted::counts(c.counts);
    double result;
    std::string line = measure_verbose(&result);
    EXPECT_EQ(result, c.result);
    char start = c.core ? 'X' : 'S', read = c.core ? 'x' : 'R';
    std::string trace = c.batch ? "" : scripted::repeat(std::string{start, read}, 3);
    for (int n = 1; c.batch == 0 && n <= c.chosen; n *= 2)
      trace += batch_run(start, n, read);  // the probes
    std::string core = c.core ? "C" : "";
    trace += core + scripted::repeat(batch_run(start, c.chosen, read), 3) + core;
    EXPECT_EQ(scripted::trace_without_step(), trace);
    bestof_report r = last();
    EXPECT_EQ(r.batch, c.chosen);
    EXPECT_EQ(r.runs, 3) << "the probing runs are no samples";
    std::string per_call = " per call (batch " + std::to_string(c.chosen) + "), 3 of 3 runs";
    EXPECT_EQ(line.find(per_call) != std::string::npos, c.chosen != 1) << line;
    EXPECT_EQ(scripted::left(), 0u);
  }
}

TEST_F(Modes, AutomaticBatchStopsForAFunctionTheCounterNeverSees) {
  set_bestof_batch(0);
  // Three empty runs, 21 probes of 1 to 2^20 calls, then three runs of 2^20,
  // every one 0.
  for (int i = 0; i < 3 + 21 + 3; i++)
    scripted::add_count(0);
  quiet_calls = 0;
  EXPECT_EQ(bestof(quiet, 0), 0.0);
  EXPECT_EQ(last().batch, 1 << 20);
  EXPECT_EQ(quiet_calls, (2L << 20) - 1 + 3L * (1 << 20));
}

// ---- The counter pairs and core cycles -------------------------------------------

TEST_F(Modes, CoreCyclesConvertAtTheMeanOfBothEnds) {
  set_bestof_core_cycles(1);
  scripted::core_figures({1.2, 1.4});
  scripted::counts({100, 100, 101});
  double result;
  EXPECT_EQ(measure_verbose(&result),
            "bestof: 130.0 core cycles, 3 of 3 runs agreed within 1.00% (tolerance 1%), "
            "1.300 core cycles per tick, counter step 26\n");
  EXPECT_DOUBLE_EQ(result, 130.0);
  EXPECT_EQ(scripted::trace_without_step(), "C" + scripted::repeat("SFR", 3) + "C")
      << "core_per_tick only outside the timed runs, before the first and after the last";
  bestof_report r = last();
  EXPECT_EQ(r.core_cycles, 1);
  EXPECT_EQ(r.core_per_tick_start, 1.2);
  EXPECT_EQ(r.core_per_tick_end, 1.4);
  EXPECT_DOUBLE_EQ(r.least, 130.0);
  EXPECT_DOUBLE_EQ(r.kth_least, 131.3);
  EXPECT_EQ(r.step, kStep) << "the step stays in ticks";
}

TEST_F(Modes, EveryPairWithAndWithoutCoreCyclesAndBatching) {
  // Each run: the pair's start, the calls, its read, and the count as read,
  // divided by the batch; the compensated counter, which has no fenced form,
  // wins over the fence.  With core cycles core_per_tick comes only outside
  // the timed runs, before the first and after the last.  Any core setting
  // but 0 is on, and the report says 1.
  const struct {
    int core, fence, compensate, batch;
    const char *run;
  } cases[] = {
      {0, 0, 0, 1, "SFR"},  {0, 0, 1, 1, "sFr"},  {0, 1, 0, 1, "XFx"},        {0, 1, 1, 1, "sFr"},
      {0, 0, 0, 2, "SFFR"}, {0, 1, 0, 2, "XFFx"}, {2, 1, 0, 1, "XFx"},        {-1, 0, 1, 1, "sFr"},
      {1, 1, 1, 1, "sFr"},  {1, 0, 0, 2, "SFFR"}, {INT_MIN, 1, 0, 2, "XFFx"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.run + std::string(c.core ? " in core cycles" : ""));
    SetUp();
    set_bestof_core_cycles(c.core);
    set_bestof_fence(c.fence);
    set_bestof_compensate(c.compensate);
    set_bestof_batch(c.batch);
    if (c.core)
      scripted::core_figures({2.0, 2.0});
    scripted::counts({50.0 * c.batch, 50.0 * c.batch, 50.5 * c.batch});
    EXPECT_EQ(bestof(probe, 0), c.core ? 100.0 : 50.0);
    std::string core = c.core ? "C" : "";
    EXPECT_EQ(scripted::trace_without_step(), core + scripted::repeat(c.run, 3) + core);
    bestof_report r = last();
    EXPECT_EQ(r.core_cycles, c.core != 0);
    EXPECT_EQ(r.fenced, c.fence && !c.compensate);
    EXPECT_EQ(r.compensated, c.compensate);
    EXPECT_EQ(r.batch, c.batch);
  }
}

TEST_F(Modes, CoreCyclesWithoutAUsableConversionStayInTicks) {
  // A figure at either end that is not a positive finite number, or a
  // product that is not finite, is no conversion: the counts stay in ticks
  // and the report says so, with the figures as they came.
  const struct {
    const char *name;
    double start, end;
    int maxsamples;
    double least, kth_least;
    std::vector<double> counts;
  } cases[] = {
      {"a product that is not finite", 1.7e308, 1.7e308, 20, 100, 100, list({100, 100, 100})},
      {"an end figure of 0", 1.5, 0, 20, 100, 100, list({100, 100, 100})},
      {"a start figure of 0", 0, 1.5, 20, 100, 100, list({100, 100, 100})},
      {"an infinite start figure", INFINITY, 1.5, 20, 100, 100, list({100, 100, 100})},
      {"an infinite end figure", 1.5, INFINITY, 20, 100, 100, list({100, 100, 100})},
      // The least converts to a finite figure, the third least does not.
      {"a K-th least that overflows", 10, 10, 3, 1e300, 1e308, list({1e300, 1e308, 1e308})},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_core_cycles(1);
    set_bestof_maxsamples(c.maxsamples);
    scripted::core_figures({c.start, c.end});
    scripted::counts(c.counts);
    double result;
    std::string line = measure_verbose(&result);
    EXPECT_EQ(result, c.least);
    EXPECT_EQ(line.find("core cycles"), std::string::npos) << line;
    bestof_report r = last();
    EXPECT_EQ(r.core_cycles, 0);
    EXPECT_EQ(r.least, c.least);
    EXPECT_EQ(r.kth_least, c.kth_least);
    EXPECT_EQ(r.core_per_tick_start, c.start);
    EXPECT_EQ(r.core_per_tick_end, c.end);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

}  // namespace
