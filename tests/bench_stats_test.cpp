// The summaries the benchmark report prints its figures from, and the
// programs' one option.
#include <gtest/gtest.h>

#include "bench.h"

TEST(BenchStats, MedianTakesTheMiddleOfUnsortedValues) {
  EXPECT_DOUBLE_EQ(median_of({9, 1, 5}), 5);
  EXPECT_DOUBLE_EQ(median_of({7, 1, 3, 100}), 5);  // mean of the middle two
  EXPECT_DOUBLE_EQ(median_of({4}), 4);
}

TEST(BenchStats, SpreadIsRangeOverLeast) {
  EXPECT_DOUBLE_EQ(spread_of({102, 100, 101}), 0.02);
  EXPECT_DOUBLE_EQ(spread_of({50, 50, 50}), 0);
  EXPECT_DOUBLE_EQ(min_of({3, -1, 2}), -1);
  EXPECT_DOUBLE_EQ(max_of({3, -1, 2}), 3);
}

TEST(BenchStats, FitOfScatteredPointsMatchesHandComputation) {
  line_fit f = fit_line({1, 2, 3, 4}, {2, 4, 5, 4});
  EXPECT_NEAR(f.slope, 0.7, 1e-12);
  EXPECT_NEAR(f.intercept, 2.0, 1e-12);
  EXPECT_NEAR(f.r2, 12.25 / (5 * 4.75), 1e-12);
}

TEST(BenchStats, FitRecoversAnExactLineOverDecades) {
  std::vector<double> x = {200, 386, 746, 1439, 2779, 5365, 10359, 20000}, y;
  for (double v : x)
    y.push_back(24 + 2.3 * v);
  line_fit f = fit_line(x, y);
  EXPECT_NEAR(f.slope, 2.3, 1e-9);
  EXPECT_NEAR(f.intercept, 24, 1e-6);
  EXPECT_NEAR(f.r2, 1, 1e-12);
}

TEST(BenchStats, FitKeepsPrecisionFarFromTheOrigin) {
  // Raw sums of squares near 1e16 cancel catastrophically here.
  std::vector<double> x = {1e8, 1e8 + 1, 1e8 + 2, 1e8 + 3}, y;
  for (double v : x)
    y.push_back(1 + 3 * v);
  line_fit f = fit_line(x, y);
  EXPECT_NEAR(f.slope, 3, 1e-9);
  EXPECT_NEAR(f.r2, 1, 1e-9);
}

TEST(BenchStats, FitOfFlatPointsIsPerfect) {
  line_fit f = fit_line({1, 2, 3}, {7, 7, 7});
  EXPECT_DOUBLE_EQ(f.slope, 0);
  EXPECT_DOUBLE_EQ(f.intercept, 7);
  EXPECT_DOUBLE_EQ(f.r2, 1);
}

// The programs take "--quick" after their own arguments, and refuse
// anything else instead of measuring at full length what was mistyped.
TEST(BenchArguments, QuickIsTheOnlyOptionAfterTheFirst) {
  char prog[] = "bench", section[] = "peer", quick[] = "--quick", other[] = "--fast";
  char *none[] = {prog}, *q[] = {prog, quick}, *sq[] = {prog, section, quick};
  char *bad[] = {prog, quick, other};
  EXPECT_FALSE(quick_mode(1, none, 1, "[--quick]"));
  EXPECT_TRUE(quick_mode(2, q, 1, "[--quick]"));
  EXPECT_FALSE(quick_mode(2, sq, 2, "SECTION [--quick]"));
  EXPECT_TRUE(quick_mode(3, sq, 2, "SECTION [--quick]"));
  EXPECT_EXIT(quick_mode(3, bad, 1, "[--quick]"), testing::ExitedWithCode(2),
              "usage: bench \\[--quick\\]");
  EXPECT_EXIT(quick_mode(2, sq, 1, "[--quick]"), testing::ExitedWithCode(2), "usage");
}

// A flush or ring sized from the last-level cache: unknown sizes take the
// fallback, and no size passes the cap, even where the product would not fit
// in a 32-bit long.
TEST(BenchSizes, MultipleOfTheLastLevelCacheWithinItsBounds) {
  const long MIB = 1L << 20, cap = 1L << 30;
  EXPECT_EQ(beyond_llc_bytes(32 * MIB, 4, 256 * MIB, cap), 128 * MIB);
  EXPECT_EQ(beyond_llc_bytes(32 * MIB, 2, 256 * MIB, cap), 64 * MIB);
  EXPECT_EQ(beyond_llc_bytes(0, 4, 256 * MIB, cap), 256 * MIB);
  EXPECT_EQ(beyond_llc_bytes(-1, 4, 256 * MIB, cap), 256 * MIB);
  EXPECT_EQ(beyond_llc_bytes(0, 4, cap + 1, cap), cap);
  EXPECT_EQ(beyond_llc_bytes(256 * MIB, 4, 1, cap), cap);
  EXPECT_EQ(beyond_llc_bytes(256 * MIB + 1, 4, 1, cap), cap);
  EXPECT_EQ(beyond_llc_bytes(2147483647L, 4, 1, cap), cap);
}
