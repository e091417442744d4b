// The benchmark helpers against the scripted counter (bench.cpp built again
// without the clock library): a long loop is one start and one read around
// all of its calls and nothing else, and the fenced pair's cost comes from
// ovhd_fenced(), interleaved with ovhd() as the report says.
#include <gtest/gtest.h>

#include "bench.h"
#include "support/scripted.h"

// The counter functions that the scripted counter leaves out and bench.cpp
// calls as well (O ovhd, P ovhd_fenced).
extern "C" double ovhd(void) {
  scripted::note('O');
  return scripted::next_count();
}
extern "C" double ovhd_fenced(void) {
  scripted::note('P');
  return scripted::next_count();
}
extern "C" void access_counter(uint32_t *hi, uint32_t *lo) {
  *hi = 0;
  *lo = 0;
}

static int calls;
static void call(int arg) {
  calls++;
  EXPECT_EQ(arg, 7);
  scripted::note('f');
}

class BenchScripted : public testing::Test {
 protected:
  void SetUp() override {
    scripted::reset();
    calls = 0;
  }
  void TearDown() override { EXPECT_EQ(scripted::left(), 0u) << "scripted values not read"; }
};

TEST_F(BenchScripted, LongLoopIsOneIntervalAroundEveryCallDividedByThem) {
  scripted::counts({4000});
  EXPECT_DOUBLE_EQ(per_call_in_long_loop(call, 7, 1000), 4.0);
  EXPECT_EQ(calls, 1000);
  EXPECT_EQ(scripted::trace(), "S" + std::string(1000, 'f') + "R");

  scripted::reset();
  scripted::counts({33});
  EXPECT_DOUBLE_EQ(per_call_in_long_loop(call, 7, 1), 33.0);
  EXPECT_EQ(scripted::trace(), "SfR");
}

TEST_F(BenchScripted, FencePairsAlternateOvhdAndTheFencedPair) {
  scripted::counts({24, 50, 25, 49});
  std::vector<double> plain, fenced;
  fence_pairs(2, &plain, &fenced);
  EXPECT_EQ(plain, (std::vector<double>{24, 25}));
  EXPECT_EQ(fenced, (std::vector<double>{50, 49}));
  EXPECT_EQ(scripted::trace(), "OPOP");
}
