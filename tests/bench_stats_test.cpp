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

TEST(BenchStats, FitRecoversExactLines) {
  // Over decades, far from the origin (where raw sums of squares near 1e16
  // cancel catastrophically), and flat; y = a + b x.
  const struct {
    std::vector<double> x;
    double a, b, within;
  } cases[] = {
      {{200, 386, 746, 1439, 2779, 5365, 10359, 20000}, 24, 2.3, 1e-9},
      {{1e8, 1e8 + 1, 1e8 + 2, 1e8 + 3}, 1, 3, 1e-9},
      {{1, 2, 3}, 7, 0, 0},
  };
  for (const auto &c : cases) {
    std::vector<double> y;
    for (double v : c.x)
      y.push_back(c.a + c.b * v);
    line_fit f = fit_line(c.x, y);
    EXPECT_NEAR(f.slope, c.b, c.within) << c.x[0];
    EXPECT_NEAR(f.r2, 1, c.within) << c.x[0];
    if (c.x[0] < 1e8) {  // far out, the intercept is lost to rounding
      EXPECT_NEAR(f.intercept, c.a, c.within * 1000) << c.x[0];
    }
  }
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
