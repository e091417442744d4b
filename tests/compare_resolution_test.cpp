// bestof_compare and bestof_cpe against the counter's resolution, on the
// scripted counter: no verdict and no resolved slope for differences the
// step (and the pair's cost) can make, the pair's cost taken off the ratio.
// With K = 1 and a run limit of 1 a net answer is three scripted counts (the
// empty run before, the run, the empty run after), a plain one is one.

#include <gtest/gtest.h>
#include <math.h>

#include <string>

#include "bestof.h"
#include "compare.h"
#include "support/scripted.h"

static void f_fn(int) {}
static void g_fn(int) {}

namespace {

// An empty script, the counter's step 21 ticks.  The driver measures the
// step once per process: one step for all the tests.
void fresh() {
  scripted::reset();
  scripted::step(21);
}

class Resolution : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_defaults();
    set_bestof_k(1);
    set_bestof_maxsamples(1);
    set_bestof_compare_pairs(6);
    fresh();
  }
  void TearDown() override {
    set_bestof_defaults();
    EXPECT_EQ(scripted::left(), 0u) << "scripted values left unread";
  }
};

// One answer of work w: net, the pair's cost p around it; plain, w as read.
void script_answer(double w, double p, bool net) {
  if (net)
    for (double count : {p, w + p, p})
      scripted::add_count(count);
  else
    scripted::add_count(w);
}

struct comparison_case {
  const char *what;
  double first, second, cost;
  int net;  // set_bestof_compare_net
  int verdict, resolved, used;
  double ratio, resolution;
};

TEST_F(Resolution, AVerdictOnlyBeyondTheResolution) {
  const comparison_case cases[] = {
      // A median net answer is within a step of the work: 2 steps between two.
      {"one step apart", 2562, 2583, 300, 1, 0, 0, 6, 2583.0 / 2562, 42},
      {"two steps apart", 2562, 2604, 300, 1, 0, 0, 6, 2604.0 / 2562, 42},
      {"three steps apart", 2562, 2625, 300, 1, 1, 1, 6, 2625.0 / 2562, 42},
      {"three steps faster", 2625, 2562, 300, 1, -1, 1, 6, 2562.0 / 2625, 42},
      {"the pair's cost taken off", 2000, 2100, 300, 1, 1, 1, 6, 1.05, 42},
      // As read, a count is known to the same step: its pair's cost moves
      // with the code.
      {"as read, the cost kept", 2300, 2400, 0, 0, 1, 1, 6, 2400.0 / 2300, 42},
      {"net answers of 0 have no ratio", 0, 2100, 300, 1, 0, 1, 0, NAN, 42},
      // Within a step of 0 the first bounds no ratio: no interval, no verdict.
      {"a median within a step of 0", 20, 2100, 300, 1, 0, 1, 6, 105, 42},
  };
  for (const comparison_case &k : cases) {
    fresh();
    set_bestof_compare_net(k.net);
    for (int i = 0; i < 6; i++) {
      bool f_first = i % 2 == 0;
      script_answer(f_first ? k.first : k.second, k.cost, k.net);
      script_answer(f_first ? k.second : k.first, k.cost, k.net);
    }
    bestof_comparison c;
    bestof_compare(f_fn, 0, g_fn, 0, &c);
    EXPECT_EQ(c.verdict, k.verdict) << k.what;
    EXPECT_EQ(c.resolved, k.resolved) << k.what;
    EXPECT_EQ(c.used, k.used) << k.what;
    EXPECT_EQ(c.net, k.net) << k.what;
    EXPECT_DOUBLE_EQ(c.resolution, k.resolution) << k.what;
    EXPECT_EQ(c.first, k.first) << k.what;
    if (k.used > 0) {
      EXPECT_DOUBLE_EQ(c.ratio, k.ratio) << k.what;
    }
  }
}

TEST_F(Resolution, TheIntervalHoldsTheWorksRatioThroughTheStep) {
  // 5 % more work, 4200 and 4410 ticks, the second read a step short at
  // every answer: every pair's ratio is 1.045, and so is the sign test's
  // interval.  A median answer may lie a step from the work's count.
  for (int i = 0; i < 12; i++)
    script_answer(i % 4 == 0 || i % 4 == 3 ? 4200 : 4389, 300, true);
  bestof_comparison c;
  bestof_compare(f_fn, 0, g_fn, 0, &c);
  EXPECT_DOUBLE_EQ(c.ratio, 1.045);
  EXPECT_DOUBLE_EQ(c.low, 1.045 * (4368.0 / 4389) / (4221.0 / 4200));
  EXPECT_DOUBLE_EQ(c.high, 1.045 * (4410.0 / 4389) / (4179.0 / 4200));
  EXPECT_EQ(c.verdict, 1);
}

struct fit_case {
  const char *what;
  double intercept, slope;
  int resolved;
  double resolution;
};

TEST_F(Resolution, ASlopeIsResolvedOnlyWhenItsRiseExceedsTwoAnswers) {
  // Plain answers over sizes 1 to 8: two answers' uncertainty is 2 x 2
  // steps, as for net ones.
  const fit_case cases[] = {
      {"flat", 42, 0, 0, 84},
      {"a rise of 21", 42, 3, 0, 84},
      {"a rise of 84", 42, 12, 0, 84},
      {"a rise of 105", 42, 15, 1, 84},
      {"falling by 105", 42, -15, 1, 84},
  };
  for (const fit_case &k : cases) {
    fresh();
    for (int n : {1, 8, 2, 7, 3, 6, 4, 5})
      scripted::add_count(k.intercept + k.slope * n);
    bestof_fit r;
    EXPECT_DOUBLE_EQ(bestof_cpe(f_fn, 1, 8, &r), k.slope) << k.what;
    EXPECT_EQ(r.resolved, k.resolved) << k.what;
    EXPECT_DOUBLE_EQ(r.resolution, k.resolution) << k.what;
  }
}

TEST_F(Resolution, TheLinesSayWhenTheCounterCannotTell) {
  set_bestof_verbose(1);
  for (int json : {0, 1}) {
    set_bestof_json(json);
    for (int i = 0; i < 12; i++)
      script_answer(i % 4 == 0 || i % 4 == 3 ? 2562 : 2583, 300, true);
    for (int n = 0; n < 8; n++)
      scripted::add_count(42);
    testing::internal::CaptureStdout();
    bestof_compare(f_fn, 0, g_fn, 0, nullptr);
    bestof_cpe(f_fn, 1, 8, nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    const char *says[2][2] = {
        {"): not distinguishable (within the counter's resolution); 6 pairs",
         "8 sizes from 1 to 8, below the counter's resolution\n"},
        {",\"resolved\":0,\"resolution\":42,\"net\":1}\n", ",\"resolved\":0,\"resolution\":84}\n"}};
    for (const char *line : says[json])
      EXPECT_NE(out.find(line), std::string::npos) << line << " in " << out;
  }
}

}  // namespace
