// The real counter on this machine.  Each test runs in a process of its own
// under CTest, so the first read of a test meets a fresh module.

#include "clock.h"

#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/times.h>
#include <time.h>

#include <regex>
#include <string>

namespace {

TEST(Counter, ReadsAgainstOneStartNeverDecrease) {
  start_counter();
  double last = get_counter();
  for (int i = 0; i < 100000; i++) {
    double now = get_counter();
    ASSERT_GE(now, last) << "read " << i;
    ASSERT_EQ(now, floor(now)) << "counts are whole numbers";
    last = now;
  }
  EXPECT_LT(last, 1e15) << "the start reading was taken";
}

TEST(Counter, HalvesMakeOneAdvancingValue) {
  uint32_t hi0, lo0, hi1, lo1;
  access_counter(&hi0, &lo0);
  for (volatile int i = 0; i < 1000000; i = i + 1) {
  }
  access_counter(&hi1, &lo1);
  uint64_t a = (uint64_t)hi0 << 32 | lo0, b = (uint64_t)hi1 << 32 | lo1;
  EXPECT_GT(b, a);
  EXPECT_LT(b - a, 1ull << 40) << "high halves differ by more than a few seconds' worth";
}

TEST(Counter, OverheadIsPositiveAndSmall) {
  // At least a thousand pairs, and pairs for at least 50 ms of wall time: a
  // counter slower than the processor (AArch64's virtual counter, coarser
  // still under an emulator) may not tick within one pair, but must within
  // some of them over that long.
  struct timespec t0, t;
  clock_gettime(CLOCK_MONOTONIC, &t0);
  double least = ovhd(), total = 0;
  for (long i = 0;; i++) {
    double o = ovhd();
    least = fmin(least, o);
    total += o;
    clock_gettime(CLOCK_MONOTONIC, &t);
    double ms = (t.tv_sec - t0.tv_sec) * 1e3 + (t.tv_nsec - t0.tv_nsec) / 1e6;
    if (i >= 1000 && ms >= 50)
      break;
  }
#if defined(__i386__) || defined(__x86_64__)
  EXPECT_GT(least, 0.0) << "the time-stamp counter advances within any pair";
#else
  EXPECT_GE(least, 0.0);
  EXPECT_GT(total, 0.0);
#endif
  EXPECT_LT(least, 10000.0);
}

TEST(Rate, ZeroSecondsIsInfiniteAndQuiet) {
  testing::internal::CaptureStdout();
  double r = mhz(0, 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(isinf(r) && r > 0) << r;
}

TEST(Rate, NegativeSecondsAreTakenAsZero) {
  // Passed on to sleep, -1 would become an unsigned count of decades.
  EXPECT_TRUE(isinf(mhz(0, -1)));
  EXPECT_TRUE(isinf(mhz(0, -2147483647 - 1)));
}

TEST(Rate, VerbosePrintsTheRateItReturns) {
  // The exact text is checked on scripted readings; here the line the real
  // counter gives is one line, and its figure is the rate returned.
  testing::internal::CaptureStdout();
  double r = mhz(1, 1);
  std::string out = testing::internal::GetCapturedStdout();
  std::smatch m;
  ASSERT_TRUE(
      std::regex_match(out, m, std::regex("Processor clock rate ~= ([0-9]+\\.[0-9]) MHz\n")))
      << out;
  EXPECT_NEAR(strtod(m[1].str().c_str(), nullptr), r, 0.05 + 1e-9 * r) << out;
  EXPECT_GT(r, 1.0) << "a counter of at least a million ticks a second";
}

volatile sig_atomic_t alarms = 0;
void on_alarm(int) { alarms = alarms + 1; }

TEST(Rate, ASignalDuringTheSleepDoesNotShortenIt) {
  // A handler that restarts calls, and a signal 0.3 s into a one-second
  // sleep: the rate divides by one second, so a whole second must pass.
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = on_alarm;
  sa.sa_flags = SA_RESTART;
  ASSERT_EQ(sigaction(SIGALRM, &sa, nullptr), 0);
  struct itimerval once;
  memset(&once, 0, sizeof once);
  once.it_value.tv_usec = 300000;
  struct timespec before, after;
  clock_gettime(CLOCK_MONOTONIC, &before);
  ASSERT_EQ(setitimer(ITIMER_REAL, &once, nullptr), 0);
  double rate = mhz(0, 1);
  clock_gettime(CLOCK_MONOTONIC, &after);
  signal(SIGALRM, SIG_DFL);
  EXPECT_EQ(alarms, 1) << "the signal came during the sleep";
  double slept = (double)(after.tv_sec - before.tv_sec) + (after.tv_nsec - before.tv_nsec) / 1e9;
  EXPECT_GE(slept, 1.0);
  EXPECT_GT(rate, 0.0);
}

TEST(Compensated, SubtractsTheChargeForTheTicksThatPassed) {
  // The first start calibrates; one that finds no candidate charge leaves
  // 0.0 and the next start tries again.
  double charge = 0;
  for (int tries = 0; tries < 5 && charge == 0; tries++) {
    testing::internal::CaptureStdout();
    start_comp_counter();
    std::string out = testing::internal::GetCapturedStdout();
    if (out.empty())
      GTEST_SKIP() << "calibrated earlier in this process; run the test alone";
    ASSERT_EQ(sscanf(out.c_str(), "Setting cyc_per_tick to %lf", &charge), 1) << out;
    ASSERT_TRUE(charge == 0 || charge > 3000.0) << out;
  }
  // Uncalibrated, every start would calibrate again, for a second each.
  if (charge == 0)
    GTEST_SKIP() << "five calibrations found no charge above 3000 counter ticks";

  // Span a few ticks of user time.  Retry when a tick lands between the
  // start and the look around it, or between the reads that bracket the
  // compensated one, since then the ticks it charged are not known.
  for (int attempt = 0; attempt < 20; attempt++) {
    struct tms t;
    clock_t t0 = (times(&t), t.tms_utime);
    start_comp_counter();
    clock_t t1 = (times(&t), t.tms_utime);
    while ((times(&t), t.tms_utime) < t0 + 3) {
    }
    clock_t before = (times(&t), t.tms_utime);
    double earlier = get_counter();
    double comp = get_comp_counter();
    double later = get_counter();
    clock_t after = (times(&t), t.tms_utime);
    if (t0 != t1 || before != after)
      continue;
    double charged = (double)(after - t0) * charge;
    // The compensated read's own counter read lies between the two plain
    // ones, however long the times() call after it takes.  On a slow counter
    // it may equal either, and the charge known here went through a
    // six-decimal print: allow for that rounding, nothing more.
    const double rounding = 1e-5 * (double)(after - t0);
    EXPECT_GE(comp, earlier - charged - rounding);
    EXPECT_LE(comp, later - charged + rounding);
    return;
  }
  FAIL() << "no attempt without a tick in the way";
}

}  // namespace
