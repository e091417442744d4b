// The measured region against the scripted counter: what a run counts for
// each way a function may open, pause and close it, and the iterations
// chosen automatically.

#include "region.h"

#include <gtest/gtest.h>

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

TEST(Region, ARunCountsItsIntervalsOrTheWholeCall) {
  const struct {
    const char *name;
    bestof_region_fn f;
    std::vector<double> run;  // the counts one run reads
    const char *trace;        // one run's calls
  } cases[] = {
      {"opened and closed: the region", closes, {200, 9999}, "SSFFRR"},
      {"paused: the intervals' sum", pauses, {150, 50, 9999}, "SSFFRPSRR"},
      {"never opened: the whole call", never_opens, {200}, "SFFR"},
      {"left open: closed at the return", left_open, {200}, "SSFFR"},
      {"closed twice: the second read is not counted", closes_twice, {200, 9999, 50}, "SSFFRRR"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    scripted::reset();
    std::vector<double> all;
    for (int i = 0; i < 3; i++)
      all.insert(all.end(), c.run.begin(), c.run.end());
    scripted::counts(all);
    EXPECT_EQ(bestof_region_run(nullptr, c.f, nullptr, 2), 100.0);
    bestof_report r;
    bestof_last(&r);
    EXPECT_EQ(r.runs, 3);
    EXPECT_EQ(r.batch, 2);
    EXPECT_EQ(scripted::trace_without_step(), scripted::repeat(c.trace, 3));
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// The pair's cost (3 ticks, the least of three empty runs) outweighs the
// step of 1: a run must last 300 ticks, which 8 iterations just reach.  A
// probe long enough is taken twice, so a cold first call (900) does not
// stop the doubling at one iteration.
TEST(Region, ChosenIterationsDoubleUntilARunIsResolved) {
  scripted::reset();
  scripted::counts({5, 3, 4, 900, 40, 80, 160, 300, 300, 300});
  bestof_settings s;
  get_bestof_settings(&s);
  s.k = 1;
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

TEST(RegionDeathTest, IterationsOutOfRangeEndTheProcess) {
  EXPECT_EXIT(bestof_region_run(nullptr, closes, nullptr, -1), testing::ExitedWithCode(1),
              "iterations outside 0 to INT_MAX");
}

}  // namespace
