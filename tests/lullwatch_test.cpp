// lullwatch's search for gaps, against scripted counter readings.  The
// program's source is compiled here with its main renamed, so the test can
// call both of its functions.

#include <gtest/gtest.h>

#include <deque>
#include <string>

#define main lullwatch_main
#include "../tools/lullwatch.cpp"
#undef main

namespace {
std::deque<double> counts;
int starts = 0;
}  // namespace

extern "C" void start_counter(void) { starts++; }
extern "C" double get_counter(void) {
  // A dry script is a test fault: give a gap every threshold accepts.
  if (counts.empty())
    return 1e6 * ++starts;
  double c = counts.front();
  counts.pop_front();
  return c;
}

namespace {

class Lullwatch : public ::testing::Test {
 protected:
  void SetUp() override {
    counts.clear();
    starts = 0;
  }
  void TearDown() override { EXPECT_TRUE(counts.empty()) << "search ended early"; }
};

TEST_F(Lullwatch, GapOfExactlyTheThresholdIsReported) {
  counts = {0, 500, 1499, 2499};  // gaps 500, 999, then 1000
  EXPECT_EQ(inactive_duration(1000), 1000);
  EXPECT_EQ(starts, 1) << "each search starts the counter afresh";
}

TEST_F(Lullwatch, GapsAreBetweenConsecutiveReadsAndTruncated) {
  counts = {100, 900, 1700, 2500, 3700.9};  // 800 each, then 1200.9
  EXPECT_EQ(inactive_duration(1000), 1200);
}

TEST_F(Lullwatch, GapTooLargeForAnIntIsSkipped) {
  // A counter that runs backwards reads as almost 2^64 cycles on.
  counts = {5000, 1.8446744073709552e19, 1.8446744073709552e19 + 4096};
  EXPECT_EQ(inactive_duration(1000), 4096);
  counts = {0, 2147483648.0, 2147483648.0 + 2000};  // just past INT_MAX
  EXPECT_EQ(inactive_duration(1000), 2000);
  counts = {0, 2147483647.0};  // INT_MAX itself fits
  EXPECT_EQ(inactive_duration(1000), 2147483647);
}

TEST_F(Lullwatch, ZeroThresholdTakesTheFirstGapUnlessNegative) {
  counts = {100, 100};
  EXPECT_EQ(inactive_duration(0), 0);
  counts = {100, 50, 60};  // -50 is skipped, then 10
  EXPECT_EQ(inactive_duration(0), 10);
}

TEST_F(Lullwatch, MainPrintsFiveGaps) {
  for (double g : {1000.0, 2500.0, 99999.0, 1e6, 123456789.0}) {
    counts.push_back(0);
    counts.push_back(g);
  }
  testing::internal::CaptureStdout();
  int status = lullwatch_main();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "1000 cycles\n2500 cycles\n99999 cycles\n1000000 cycles\n123456789 cycles\n");
  EXPECT_EQ(starts, 5);
}

}  // namespace
