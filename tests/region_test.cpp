// The measured region against the scripted counter: what a run counts for
// each way a function may open, pause and close it, and the iterations
// chosen automatically.

#include "region.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/scripted.h"

namespace {

// Each notes 'F' per iteration, 'P' while paused.
void work(bestof_region *r) {
  for (long i = 0; i < bestof_region_iterations(r); i++)
    scripted::note('F');
}
void closes(bestof_region *r, void *) { bestof_region_start(r), work(r), bestof_region_stop(r); }
void pauses(bestof_region *r, void *) {
  bestof_region_start(r), work(r), bestof_region_pause(r);
  scripted::note('P');
  bestof_region_resume(r), bestof_region_stop(r);
}
void never_opens(bestof_region *r, void *) { work(r); }
void left_open(bestof_region *r, void *) { bestof_region_start(r), work(r); }
void closes_twice(bestof_region *r, void *) { closes(r, nullptr), bestof_region_stop(r); }

// The counter scripted with counts; the settings in force with K (and the
// run limit, where given) changed.
bestof_settings scripted_settings(const std::vector<double> &counts, int k, int maxsamples = 0) {
  scripted::reset();
  scripted::counts(counts);
  bestof_settings s;
  get_bestof_settings(&s);
  s.k = k;
  if (maxsamples > 0)
    s.maxsamples = maxsamples;
  return s;
}

// A run that pauses has the least of 15 empty pairs, timed after its
// first run, taken off for its second interval: it keeps one pair's cost,
// as the others do.
TEST(Region, ARunCountsItsIntervalsOrTheWholeCall) {
  const std::vector<double> no_pairs,
      pairs = {12, 13, 11, 14, 12, 13, 12, 12, 11, 13, 12, 12, 13, 10, 11};
  const struct {
    const char *name;
    bestof_region_fn f;
    std::vector<double> run;  // the counts one run reads
    const char *trace;        // one run's calls
    const std::vector<double> &pair_costs;
    double answer;
  } cases[] = {
      {"opened and closed: the region", closes, {200, 9999}, "SSFFRR", no_pairs, 100},
      {"paused: the intervals' sum, less one pair",
       pauses,
       {150, 50, 9999},
       "SSFFRPSRR",
       pairs,
       95},
      {"paused: never less than nothing", pauses, {5, 3, 9999}, "SSFFRPSRR", pairs, 0},
      {"never opened: the whole call", never_opens, {200}, "SFFR", no_pairs, 100},
      {"left open: closed at the return", left_open, {200}, "SSFFR", no_pairs, 100},
      {"closed twice: the second read is not counted",
       closes_twice,
       {200, 9999, 50},
       "SSFFRRR",
       no_pairs,
       100},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    scripted::reset();
    std::vector<double> all;
    for (int i = 0; i < 3; i++) {
      all.insert(all.end(), c.run.begin(), c.run.end());
      if (i == 0)
        all.insert(all.end(), c.pair_costs.begin(), c.pair_costs.end());
    }
    scripted::counts(all);
    EXPECT_EQ(bestof_region_run(nullptr, c.f, nullptr, 2), c.answer);
    bestof_report r;
    bestof_last(&r);
    EXPECT_EQ(r.runs, 3);
    EXPECT_EQ(r.batch, 2);
    std::string pairs_timed = scripted::repeat("SR", int(c.pair_costs.size()));
    EXPECT_EQ(scripted::trace_without_step(), c.trace + pairs_timed + scripted::repeat(c.trace, 2));
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// The pair's cost (3 ticks, the least of three empty runs) outweighs the
// step of 1: a run must last 300 ticks, which 8 iterations just reach.  A
// probe long enough is taken twice, so a cold first call (900) does not
// stop the doubling at one iteration.
TEST(Region, ChosenIterationsDoubleUntilARunIsResolved) {
  bestof_settings s = scripted_settings({5, 3, 4, 900, 40, 80, 160, 300, 300, 300}, 1);
  EXPECT_EQ(bestof_region_run(&s, never_opens, nullptr, 0), 37.5);
  bestof_report r;
  bestof_last(&r);
  EXPECT_EQ(r.batch, 8);
  EXPECT_EQ(r.runs, 1) << "the probes are not samples";
  std::string eight = "S" + std::string(8, 'F') + "R";
  std::string probes = "SRSRSRSFRSFRSFFRSFFFFR" + eight + eight;
  EXPECT_EQ(scripted::trace_without_step(), probes + eight);
  EXPECT_EQ(scripted::left(), 0u);
}

// A plan's fields against the counts they read.  The pair's cost, 3 ticks
// as above, asks for runs of 300.
TEST(Region, APlanStartsTheDoublingWhereAskedAndWarmsUp) {
  // A probe long enough is taken twice, then the measured run.
  const std::vector<double> doubling = {5, 3, 4, 40, 80, 160, 300, 300, 300};
  const std::string eight = "S" + std::string(8, 'F') + "R";
  const std::string from_one = "SRSRSRSFRSFFRSFFFFR" + eight + eight + eight;
  const bestof_region_plan zeroed = {0, 0, 0}, no_warmup_inf = {0, 1, INFINITY},
                           from_two = {0, 2, 0}, whole_calls = {2, 1, 250}, endless = {1, 1, 1};
  std::vector<double> pausing_probe = {5, 3, 4, 200, 150, 9999};
  pausing_probe.insert(pausing_probe.end(), 15, 300.0);
  for (int run = 0; run < 2; run++)
    pausing_probe.insert(pausing_probe.end(), {200, 150, 9999});
  std::vector<double> nothing(1 + 2 * 65536, 0.0);
  nothing.push_back(7);
  const struct {
    const char *name;
    const bestof_region_plan *plan;
    bestof_region_fn f;
    std::vector<double> counts;
    double answer;
    int batch;
    std::string trace;
  } cases[] = {
      {"no plan: as bestof_region_run", nullptr, never_opens, doubling, 37.5, 8, from_one},
      {"a zeroed plan: the same", &zeroed, never_opens, doubling, 37.5, 8, from_one},
      {"a warm-up of infinite ticks: none", &no_warmup_inf, never_opens, doubling, 37.5, 8,
       from_one},
      {"at least 2 iterations: the probes start there",
       &from_two,
       never_opens,
       {5, 3, 4, 80, 160, 300, 300, 300},
       37.5,
       8,
       "SRSRSRSFFRSFFFFR" + eight + eight + eight},
      // The bracket reads 20, from the last start: the 250 ticks are the
      // counter's own span, 0 to 300, from before the run to after it.
      {"the warm-up lasts from the first run's start to the last one's end: one run is enough",
       &whole_calls,
       pauses,
       {0,  150, 50, 20, 12, 13, 11, 14,  12,  13, 12,  12,
        11, 13,  12, 12, 13, 10, 11, 300, 150, 50, 9999},
       95,
       2,
       "ASSFFRPSRR" + scripted::repeat("SR", 15) + "ASSFFRPSRR"},
      {"a pausing probe is judged as read, before its pairs are taken off: 1 iteration", nullptr,
       pauses, pausing_probe, 50, 1,
       "SRSRSRSSFRPSRR" + scripted::repeat("SR", 15) + "SSFRPSRRSSFRPSRR"},
      {"runs that count nothing end the warm-up after 65536", &endless, never_opens, nothing, 7, 1,
       "A" + scripted::repeat("SFRA", 65536) + "SFR"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bestof_settings s = scripted_settings(c.counts, 1);
    EXPECT_EQ(bestof_region_run_plan(&s, c.f, nullptr, c.plan), c.answer);
    bestof_report r;
    bestof_last(&r);
    EXPECT_EQ(r.batch, c.batch);
    EXPECT_EQ(r.runs, 1) << "the probes and the warm-up are not samples";
    EXPECT_TRUE(scripted::trace_without_step() == c.trace);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// A window's mean against scripted runs of 2 iterations, each read as the
// region's count and the bracket's (9999), the counter read before the
// first and after each ('A').  Per iteration they count 100, 105, 300 and
// 110: the 300 exceeds twice the least by 400 ticks.
TEST(Region, AWindowsMeanLeavesOutTheRunsThatLostTheProcessor) {
  const std::vector<double> four = {0,   200,  9999, 1000, 210,  9999, 2000,
                                    600, 9999, 3000, 220,  9999, 4000},
                            three = {0, 200, 9999, 1000, 210, 9999, 2000, 600, 9999, 3000};
  const struct {
    const char *name;
    bestof_region_window window;
    const std::vector<double> &counts;
    double mean;
    int runs;
  } cases[] = {
      {"the 300 is left out; the window ends at 3500 ticks", {3500, 50, 0, 0, 0, 0}, four, 105, 4},
      {"a disturbance of 400 ticks is within 400", {3500, 400, 0, 0, 0, 0}, four, 153.75, 4},
      {"nothing is left out without a bound", {3500, 0, 0, 0, 0, 0}, four, 153.75, 4},
      {"a window of NaN ticks ends at the run limit", {NAN, 50, 0, 0, 0, 0}, three, 102.5, 3},
  };
  const bestof_region_plan plan = {2, 1, 0};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bestof_settings s = scripted_settings(c.counts, 3, 3);
    EXPECT_DOUBLE_EQ(bestof_region_mean(&s, closes, nullptr, &plan, &c.window), c.mean);
    bestof_report r;
    bestof_last(&r);
    EXPECT_EQ(r.answer, 100) << "the report is the K-best one";
    EXPECT_EQ(r.runs, c.runs);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// The warm-up of 100 ticks is one run; then spans of 200, 400, 800 while a
// span's least run is below 0.995 of the last's, within the settle ticks.
// Each warm-up run reads the region, the bracket and the counter after it;
// the first of a span reads the counter before it too.
TEST(Region, TheWarmUpGoesOnWhileTheCodeStillGetsFaster) {
  auto span = [](double count, double ticks) { return std::vector<double>{0, count, 9999, ticks}; };
  const struct {
    const char *name;
    std::vector<double> warm;  // one run per span, each long enough
    double settle;
    double mean;
    double disturbed = 0;
  } cases[] = {
      {"no settle ticks: the plan's warm-up alone", {300}, 0, 45},
      // A span no faster than the last ran settled code: its run counts in
      // the mean beside the measured one, (124.5 + 45) / 2.
      {"300, 250, 249: the third is not faster by 0.5 %", {300, 250, 249}, 1500, 84.75},
      {"300, 250, 248, 248: the third is faster by 0.8 %", {300, 250, 248, 248}, 1500, 84.5},
      {"faster each time, until 1,500 ticks in all", {300, 250, 200, 150}, 1500, 45},
      {"the next span would pass the settle ticks", {300, 250}, 699, 45},
      {"the settled run is the least: the measured one, 60 ticks over, is left out",
       {300, 30, 30},
       1500,
       15,
       40},
  };
  const bestof_region_plan plan = {2, 1, 100};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<double> counts;
    double ticks = 100;
    for (double w : c.warm) {
      std::vector<double> one = span(w, ticks);
      counts.insert(counts.end(), one.begin(), one.end());
      ticks *= 2;
    }
    counts.insert(counts.end(), {0, 90, 9999, 0});
    bestof_settings s = scripted_settings(counts, 1, 1);
    const bestof_region_window window = {NAN, c.disturbed, c.settle, 0, 0, 0};
    EXPECT_DOUBLE_EQ(bestof_region_mean(&s, closes, nullptr, &plan, &window), c.mean);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// After the warm-up (one run of 8 iterations counting 320: 40 each) the
// measured runs have run_iterations, or as many as the last span's least
// per iteration fits in run_ticks, after one run at that count not kept.
// The probes read three empty pairs (3 ticks: runs of 300) and 8
// iterations twice; each warm-up run is one count between two readings of
// the counter ('A'), the run not kept a count alone, and each measured run
// a count and a reading after it.
TEST(Region, MeasuredRunsHaveTheRunIterations) {
  const std::vector<double> probes = {5, 3, 4, 300, 300}, warm = {0, 320, 100},
                            settled = {0, 320, 100, 0, 319, 200};
  auto then = [](std::vector<double> a, const std::vector<double> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<double> as_chosen = then(then(probes, warm), {0, 328, 0});
  const bestof_region_plan chosen = {0, 8, 100}, fixed = {8, 1, 100};
  const struct {
    const char *name;
    const bestof_region_plan &plan;
    long run_iterations;
    double run_ticks, settle;
    std::vector<double> counts;
    int batch;
    double mean;
  } cases[] = {
      {"30 iterations, no bound", chosen, 30, 0, 0, then(then(probes, warm), {1200, 0, 1230, 0}),
       30, 41},
      {"30 would pass 1039 ticks: 25", chosen, 30, 1039, 0,
       then(then(probes, warm), {1000, 0, 1025, 0}), 25, 41},
      {"30 within 1200 ticks", chosen, 30, 1200, 0, then(then(probes, warm), {1200, 0, 1230, 0}),
       30, 41},
      {"fewer than the driver chose", chosen, 4, 0, 0, as_chosen, 8, 41},
      {"none asked", chosen, 0, 1200, 0, as_chosen, 8, 41},
      {"a bound below the driver's runs", chosen, 30, 200, 0, as_chosen, 8, 41},
      {"iterations the plan fixes stay", fixed, 30, 0, 0, then(warm, {0, 328, 0}), 8, 41},
      // The settled span's 39.875 counts in the mean at its own iterations...
      {"a settled span at the same iterations counts", chosen, 0, 0, 1500,
       then(then(probes, settled), {0, 328, 0}), 8, 40.4375},
      // ...not where the runs have more, as many as its least fits in 1077.
      {"a settled span at fewer iterations does not", chosen, 30, 1077, 1500,
       then(then(probes, settled), {1080, 0, 1107, 0}), 27, 41},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bestof_settings s = scripted_settings(c.counts, 1, 1);
    const bestof_region_window window = {NAN, 0, c.settle, c.run_iterations, c.run_ticks, 0};
    EXPECT_DOUBLE_EQ(bestof_region_mean(&s, never_opens, nullptr, &c.plan, &window), c.mean);
    bestof_report r;
    bestof_last(&r);
    EXPECT_EQ(r.batch, c.batch);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// Runs of 2 iterations after a warm-up run of 200 ticks, measured at 105
// and 300 a piece: a run 390 ticks over the least is left out only where
// the warm-up's run lasted no longer than the bound.
TEST(Region, OnlyShortRunsAreLeftOutAsDisturbed) {
  const struct {
    const char *name;
    double disturbed, mean;
  } cases[] = {
      {"runs of 200 within 250: short, the 300 left out", 250, 105},
      {"runs of 200 past 150: long, both kept", 150, 202.5},
      {"runs of 200 past 199.9: long", 199.9, 202.5},
      {"runs of 200 within 200: short", 200, 105},
  };
  const bestof_region_plan plan = {2, 1, 100};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bestof_settings s = scripted_settings({0, 200, 100, 0, 210, 0, 600, 0}, 1, 2);
    const bestof_region_window window = {NAN, c.disturbed, 0, 0, 0, 0};
    EXPECT_DOUBLE_EQ(bestof_region_mean(&s, never_opens, nullptr, &plan, &window), c.mean);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

TEST(RegionDeathTest, IterationsOutOfRangeEndTheProcess) {
  EXPECT_EXIT(bestof_region_run(nullptr, closes, nullptr, -1), testing::ExitedWithCode(1),
              "iterations outside 0 to INT_MAX");
  const bestof_region_plan negative = {-1, 1, 0};
  EXPECT_EXIT(bestof_region_run_plan(nullptr, closes, nullptr, &negative),
              testing::ExitedWithCode(1), "run_plan called with iterations outside 0 to INT_MAX");
  EXPECT_EXIT(bestof_region_mean(nullptr, closes, nullptr, &negative, nullptr),
              testing::ExitedWithCode(1), "mean called with iterations outside 0 to INT_MAX");
  EXPECT_EXIT(bestof_region_mean(nullptr, nullptr, nullptr, nullptr, nullptr),
              testing::ExitedWithCode(1), "mean called with a null function");
}

}  // namespace
