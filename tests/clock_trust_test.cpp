// Core cycles per tick, the fenced counter pair and the counter's step, on
// the real counter of this machine: only what holds on every machine, however
// loaded.  Their arithmetic is tested on scripted readings (clock_scripted_test,
// clock_step_test); what depends on the machine (how close core_per_tick
// comes to itself, how many loads the fenced pair waits for, the step found)
// is a benchmark figure (bench/report.sh).

#include <gtest/gtest.h>
#include <math.h>

#include "clock.h"

namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

TEST(FencedCounter, NonNegativeWholeAndMonotoneAgainstOneStart) {
  start_fenced_counter();
  double last = get_fenced_counter();
  for (int i = 0; i < 20000; i++) {
    double now = get_fenced_counter();
    ASSERT_GE(now, last) << "read " << i;
    ASSERT_EQ(now, floor(now)) << "counts are whole numbers";
    last = now;
  }
  EXPECT_GE(last, 0.0);
  EXPECT_LT(last, 1e12) << "the start reading was taken";
}

// The fenced and plain pairs share one start reading: either start resets
// what either read counts from.  A read is taken right after a start, so
// only a preemption between the two can make it count as far as the wait
// before: that is retried.
double count_after_restart(void (*first_start)(), double (*first_read)(), void (*restart)(),
                           double (*read)()) {
  const double far = 1e6;  // ticks: a millisecond or more on every counter
  double after = far;
  for (int attempt = 0; attempt < 5 && after >= far; attempt++) {
    first_start();
    while (first_read() < far) {
    }
    restart();
    after = read();
  }
  return after;
}

TEST(FencedCounter, SharesTheStartReadingWithThePlainPair) {
  EXPECT_LT(count_after_restart(start_counter, get_counter, start_fenced_counter, get_counter),
            1e6);
  EXPECT_LT(count_after_restart(start_fenced_counter, get_fenced_counter, start_counter,
                                get_fenced_counter),
            1e6);
}

TEST(FencedCounter, LeastPairNeverBelowThePlainPairs) {
  double plain = INFINITY, fenced = INFINITY;
  for (int i = 0; i < 5000; i++) {
    start_counter();
    plain = fmin(plain, get_counter());
    start_fenced_counter();
    fenced = fmin(fenced, get_fenced_counter());
  }
  EXPECT_GE(plain, 0.0);
  if (kX86) {
    EXPECT_GE(fenced, plain) << "the fences cost something";
  } else {
    // Without x86 fences the two pairs may be the same code: equal up to
    // one step of the counter.
    EXPECT_GE(fenced, plain - counter_step());
  }
}

}  // namespace
