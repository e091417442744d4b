// bestof_with against the scripted counter: the settings given must answer
// as the same settings made process-wide do (a refused field as its
// default), and leave the process-wide ones as they were.

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "bestof.h"
#include "support/scripted.h"

namespace {

void probe(int) { scripted::note('F'); }

TEST(BestofWith, AnswersAsTheSameSettingsMadeProcessWide) {
  const struct {
    const char *name;
    void (*change)(bestof_settings *);
    std::vector<double> counts;
    double answer;
    const char *said;  // how the verbose stream's first line begins
  } cases[] = {
      {"K of 2 stops once two agree",
       [](bestof_settings *s) { s->k = 2; },
       {100, 200, 101},
       100,
       ""},
      {"a limit of 2 runs", [](bestof_settings *s) { s->maxsamples = 2; }, {105, 100}, 100, ""},
      {"core cycles at the mean of 2 and 4",
       [](bestof_settings *s) { s->core_cycles = 1; },
       {100, 100, 100},
       300,
       ""},
      {"K of 0: the default's",
       [](bestof_settings *s) { s->k = 0, s->verbose = 1; },
       {7, 7, 7},
       7,
       "bestof: k 0 refused, the default 3 used\n"},
      {"a tolerance of NaN",
       [](bestof_settings *s) { s->epsilon = NAN, s->verbose = 1; },
       {7, 7, 7},
       7,
       "bestof: epsilon nan refused, the default 0.01 used\n"},
      {"a block of 2 is one word, not refused",
       [](bestof_settings *s) { s->cache_block = 2, s->verbose = 1; },
       {7, 7, 7},
       7,
       "bestof: 7.0 cycles"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    std::string trace[2];
    for (int per_call = 0; per_call < 2; per_call++) {
      set_bestof_defaults();
      bestof_settings s = {}, before = {}, after = {};
      get_bestof_settings(&s);
      c.change(&s);
      // Given with the call, a K of 5 in force must not count.
      per_call ? set_bestof_k(5) : set_bestof_settings(&s);
      get_bestof_settings(&before);
      FILE *lines = tmpfile();
      set_bestof_verbose_stream(lines);
      scripted::reset();
      scripted::counts(c.counts);
      if (s.core_cycles)
        scripted::core_figures({2, 4});
      EXPECT_EQ(per_call ? bestof_with(&s, probe, 0) : bestof(probe, 0), c.answer);
      EXPECT_EQ(scripted::left(), 0u);
      trace[per_call] = scripted::trace_without_step();
      get_bestof_settings(&after);
      EXPECT_EQ(memcmp(&before, &after, sizeof before), 0) << "the settings in force changed";
      set_bestof_verbose_stream(nullptr);
      rewind(lines);
      char line[256] = "";
      EXPECT_TRUE(fgets(line, sizeof line, lines) || !*c.said);
      fclose(lines);
      EXPECT_TRUE(!per_call || std::string(line).find(c.said) == 0) << line;
    }
    EXPECT_EQ(trace[0], trace[1]);
  }
  set_bestof_defaults();
}

// A flush larger than the buffer made at the size in force: read through a
// buffer of its own size, not past the end of the smaller one.
TEST(BestofWith, AFlushOfItsOwnSizeGetsABufferOfThatSize) {
  set_bestof_defaults();
  set_bestof_cache_sizee(4096);
  set_bestof_clear_cache(1);
  bestof_settings s;
  get_bestof_settings(&s);
  s.cache_size = 64 << 20;
  for (int per_call = 0; per_call < 3; per_call++) {
    scripted::reset();
    scripted::counts({7, 7, 7});
    EXPECT_EQ(per_call == 1 ? bestof_with(&s, probe, 0) : bestof(probe, 0), 7.0);
  }
  set_bestof_defaults();
}

// The hooks go around every run of the test function, probes of the
// automatic batch included, and never around the empty runs that time the
// pair's cost or around the counter pair's own reads.
void before_run(const void *) { scripted::note('B'); }
void after_run(const void *) { scripted::note('A'); }

TEST(BestofWith, HooksGoAroundEveryRunOfTheTestFunctionAlone) {
  const struct {
    const char *name;
    int net, batch;
    std::vector<double> counts;
    const char *trace;
  } cases[] = {
      {"net counts: two empty runs before, two after", 1, 1, {1, 1, 50, 1, 1}, "SRSRBSFRASRSR"},
      {"the automatic batch: three empty runs, then a probe",
       0,
       0,
       {1, 1, 1, 500, 500},
       "SRSRSRBSFRABSFRA"},
  };
  const bestof_hooks hooks = {before_run, after_run, nullptr};
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    set_bestof_defaults();
    bestof_settings s;
    get_bestof_settings(&s);
    s.k = 1;
    s.maxsamples = 2;
    s.net = c.net;
    s.batch = c.batch;
    scripted::reset();
    scripted::step(4);
    scripted::counts(c.counts);
    bestof_with_hooks(&s, nullptr, probe, 0, &hooks);
    EXPECT_EQ(scripted::left(), 0u);
    EXPECT_EQ(scripted::trace_without_step(), c.trace);
  }
  set_bestof_defaults();
}

}  // namespace
