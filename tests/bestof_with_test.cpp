// bestof_with: settings for one call, against the scripted counter.  The
// same settings made process-wide must give the same answer, runs and
// calls; the process-wide settings must come out of the call unchanged.

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "bestof.h"
#include "support/scripted.h"

namespace {

void probe(int) { scripted::note('F'); }

bestof_settings defaults() {
  set_bestof_defaults();
  bestof_settings s;
  get_bestof_settings(&s);
  return s;
}

TEST(BestofWith, AnswersAsTheSameSettingsMadeProcessWide) {
  const struct {
    const char *name;
    int k, maxsamples, core_cycles;
    std::vector<double> counts;
    double answer;
    int runs;
  } cases[] = {
      {"K of 2 stops once two agree", 2, 20, 0, {100, 200, 101}, 100, 3},
      {"a limit of 2 runs", 3, 2, 0, {105, 100}, 100, 2},
      {"core cycles at the mean of 2 and 4", 3, 20, 1, {100, 100, 100}, 300, 3},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bestof_settings s = defaults();
    s.k = c.k, s.maxsamples = c.maxsamples, s.core_cycles = c.core_cycles;
    std::string trace[2];
    for (int per_call = 0; per_call < 2; per_call++) {
      bestof_settings before = {}, after = {};
      defaults();
      get_bestof_settings(&before);
      if (!per_call)
        set_bestof_settings(&s);
      scripted::reset();
      scripted::counts(c.counts);
      scripted::core_figures({2, 4});
      EXPECT_EQ(per_call ? bestof_with(&s, probe, 0) : bestof(probe, 0), c.answer);
      bestof_report r;
      bestof_last(&r);
      EXPECT_EQ(r.runs, c.runs);
      EXPECT_EQ(r.k, c.k);
      trace[per_call] = scripted::trace_without_step();
      get_bestof_settings(&after);
      EXPECT_TRUE(!per_call || memcmp(&before, &after, sizeof before) == 0)
          << "process-wide settings changed";
    }
    EXPECT_EQ(trace[0], trace[1]);
    scripted::reset();
  }
}

// A refused field takes its default, not the process-wide value, and the
// verbose stream says so before the measurement's own line.
TEST(BestofWith, ARefusedFieldFallsBackToItsDefaultAndIsSaid) {
  const struct {
    const char *name;
    void (*spoil)(bestof_settings *);
    const char *said;  // the first line
    int k;
  } cases[] = {
      {"K of 0", [](bestof_settings *s) { s->k = 0; }, "bestof: k 0 refused, the default 3 used\n",
       3},
      {"a tolerance of NaN", [](bestof_settings *s) { s->epsilon = NAN; },
       "bestof: epsilon nan refused, the default 0.01 used\n", 5},
      {"a block of 2 is one word, not refused", [](bestof_settings *s) { s->cache_block = 2; },
       "bestof: 7.0 cycles", 5},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    bestof_settings s = defaults();
    set_bestof_k(5);
    s.k = 5, s.verbose = 1;
    c.spoil(&s);
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    set_bestof_verbose_stream(f);
    scripted::reset();
    scripted::counts(std::vector<double>((size_t)c.k, 7));
    EXPECT_EQ(bestof_with(&s, probe, 0), 7.0);
    set_bestof_verbose_stream(nullptr);
    rewind(f);
    char line[256] = "";
    EXPECT_NE(fgets(line, sizeof line, f), nullptr);
    fclose(f);
    EXPECT_EQ(std::string(line).substr(0, strlen(c.said)), c.said);
    EXPECT_EQ(scripted::left(), 0u) << "K runs, the default's or the one asked for";
  }
  defaults();
}

}  // namespace
