// The counter's rate in ticks per nanosecond, from a scripted counter_mhz:
// measured over the suite's wait, kept once known, tried again until then.

#include <gtest/gtest.h>

#include "bestof.h"

namespace {
double mhz_answer = 0, seconds_asked = 0;
int mhz_calls = 0;
}  // namespace

extern "C" double counter_mhz(double seconds) {
  mhz_calls++;
  seconds_asked = seconds;
  return mhz_answer;
}

TEST(Units, TicksPerNanosecondMeasuredOnceItIsKnown) {
  const struct {
    double mhz, per_ns;
    int calls;  // counter_mhz's, so far
  } steps[] = {{0, 0, 1}, {-5, 0, 2}, {2500, 2.5, 3}, {9999, 2.5, 3}};
  for (const auto &s : steps) {
    SCOPED_TRACE(s.mhz);
    mhz_answer = s.mhz;
    EXPECT_EQ(bestof_ticks_per_ns(), s.per_ns);
    EXPECT_EQ(mhz_calls, s.calls);
    EXPECT_EQ(seconds_asked, 0.01);
  }
}
