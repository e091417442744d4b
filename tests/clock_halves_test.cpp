// The counter's two halves, read through access_counter, against the
// platform's monotonic clock: assembled high half first they must make one
// 64-bit value that advances at the counter's own rate, and a wrap of the low
// half must carry into the high half.

#include <gtest/gtest.h>
#include <stdint.h>
#include <time.h>

#include "clock.h"

namespace {

uint64_t reading() {
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  return (uint64_t)hi << 32 | lo;
}

double monotonic_seconds() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

// A counter reading with the monotonic time it was taken at, bracketed by two
// clock reads no more than 200 us apart so a preemption cannot skew it.
struct Stamp {
  uint64_t count;
  double seconds;
};

Stamp stamp() {
  for (;;) {
    double before = monotonic_seconds();
    uint64_t count = reading();
    double after = monotonic_seconds();
    if (after - before < 200e-6)
      return {count, (before + after) / 2};
  }
}

void pause_for(double seconds) {
  struct timespec ts = {0, (long)(seconds * 1e9)};
  nanosleep(&ts, nullptr);
}

// Counter ticks per second over a pause of about `seconds` (below one).
double rate_over(double seconds) {
  Stamp a = stamp();
  pause_for(seconds);
  Stamp b = stamp();
  EXPECT_GT(b.count, a.count) << "the 64-bit value went backwards";
  return (double)(b.count - a.count) / (b.seconds - a.seconds);
}

// The rate the counter is documented to run at, or 0 where only the
// hardware knows it.
double documented_rate() {
#if defined(__i386__) || defined(__x86_64__)
  return 0;  // the time-stamp counter runs at the processor's own clock
#elif defined(__aarch64__)
  uint64_t freq;
  __asm__ volatile("mrs %0, cntfrq_el0" : "=r"(freq));
  return (double)freq;
#elif defined(__s390x__)
  return 4096e6;  // the TOD clock: 4096 ticks per microsecond
#elif defined(__riscv) || defined(__powerpc64__)
  return 0;  // the timebase frequency: the device tree's, often 1 to 512 MHz
#else
  return 1e9;  // nanoseconds
#endif
}

TEST(CounterHalves, AdvanceAtThePlatformClocksRate) {
  double rate = rate_over(0.2);
  double documented = documented_rate();
  if (documented > 0) {
    EXPECT_NEAR(rate, documented, documented * 0.02);
  } else {
    // An unknown clock rate, but a steady one: a swapped or mis-shifted
    // half would make the value jump by multiples of 2^32, not grow evenly.
    EXPECT_GT(rate, 1e5);
    EXPECT_LT(rate, 2e10);
    EXPECT_NEAR(rate_over(0.05), rate, rate * 0.02);
  }
}

TEST(CounterHalves, LowHalfWrapCarriesIntoTheHighHalf) {
  double rate = rate_over(0.05);
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  double wait = (4294967296.0 - lo) / rate;
  if (wait > 6)
    GTEST_SKIP() << "the low half wraps only in " << wait << " s at " << rate / 1e6 << " MHz";

  double deadline = monotonic_seconds() + wait + 2;
  uint32_t last_hi = hi, last_lo = lo;
  while (monotonic_seconds() < deadline) {
    access_counter(&hi, &lo);
    if (hi != last_hi) {
      EXPECT_EQ(hi, last_hi + 1) << "the carry moves the high half by one";
      EXPECT_LT(lo, last_lo) << "the high half changed without a wrap";
      EXPECT_LT(lo, 0x80000000u) << "the wrap was long ago";
      return;
    }
    ASSERT_GE(lo, last_lo) << "the low half wrapped without a carry";
    last_lo = lo;
  }
  FAIL() << "the low half did not wrap within " << wait + 2 << " s";
}

}  // namespace
