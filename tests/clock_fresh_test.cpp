// What the counter does in a process that has not used it yet.  Each test
// here runs in a process of its own under CTest.

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "clock.h"

#if defined(__i386__) || defined(__x86_64__)
#include <x86intrin.h>
#endif

namespace {

TEST(FreshCounter, WithoutStartCountsTheWholeCounter) {
#if defined(__i386__) || defined(__x86_64__)
  uint64_t before = __rdtsc();
  double whole = get_counter();
  uint64_t after = __rdtsc();
  EXPECT_GE(whole, (double)before);
  EXPECT_LE(whole, (double)after);
#else
  // No independent instruction to compare with: bracket it with the
  // counter's own reads.
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  double before = (double)((uint64_t)hi << 32 | lo);
  double whole = get_counter();
  access_counter(&hi, &lo);
  double after = (double)((uint64_t)hi << 32 | lo);
  EXPECT_GE(whole, before);
  EXPECT_LE(whole, after);
#endif
}

TEST(FreshCounter, CompensatedStartsCalibrateUntilAChargeIsFound) {
  // Each start of an uncalibrated counter calibrates and prints one line; a
  // calibration that finds no candidate leaves it uncalibrated, so the next
  // start prints again.  Once a charge is found, no start prints.
  const std::string none = "Setting cyc_per_tick to 0.000000\n";
  std::string line = none;
  for (int tries = 0; tries < 5 && line == none; tries++) {
    testing::internal::CaptureStdout();
    start_comp_counter();
    line = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(std::regex_match(line, std::regex("Setting cyc_per_tick to [0-9]+\\.[0-9]{6}\n")))
        << "one line per calibration: " << line;
  }
  if (line == none)
    GTEST_SKIP() << "five calibrations found no charge above 3000 cycles per tick here";

  testing::internal::CaptureStdout();
  start_comp_counter();
  start_comp_counter();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

}  // namespace
