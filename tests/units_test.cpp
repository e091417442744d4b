// The counter's rate in ticks per nanosecond, from a scripted counter_mhz:
// measured once over the suite's wait, and again only after a failure.

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

namespace {

TEST(Units, TicksPerNanosecondMeasuredOnceItIsKnown) {
  const struct {
    const char *name;
    double mhz, per_ns;
    int calls;  // counter_mhz's, so far
  } steps[] = {
      {"no rate: 0", 0, 0, 1},
      {"a negative rate: 0", -5, 0, 2},
      {"tried again: 2500 MHz", 2500, 2.5, 3},
      {"kept", 9999, 2.5, 3},
  };
  for (const auto &s : steps) {
    SCOPED_TRACE(s.name);
    mhz_answer = s.mhz;
    EXPECT_EQ(bestof_ticks_per_ns(), s.per_ns);
    EXPECT_EQ(mhz_calls, s.calls);
    EXPECT_EQ(seconds_asked, 0.05);
  }
}

}  // namespace
