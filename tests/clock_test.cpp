// The real counter on this machine, plain, fenced and compensated: only what
// holds on every machine, however loaded.  The arithmetic is tested on
// scripted readings (clock_scripted_test, clock_step_test); what depends on
// the machine (how close core_per_tick comes to itself, how many loads the
// fenced pair waits for, the step found) is a benchmark figure
// (bench/report.sh).  Each test runs in a process of its own under CTest, so
// the first read of a test meets a fresh module.

#include "clock.h"

#include <gtest/gtest.h>
#include <math.h>
#include <signal.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/time.h>
#include <sys/times.h>
#include <time.h>

#include <regex>
#include <string>

namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

TEST(Counter, ReadsAgainstOneStartNeverDecrease) {
  // The plain and the fenced pair, 20000 reads each.
  const struct {
    void (*start)();
    double (*read)();
  } pairs[] = {{start_counter, get_counter}, {start_fenced_counter, get_fenced_counter}};
  for (const auto &p : pairs) {
    p.start();
    double last = p.read();
    for (int i = 0; i < 20000; i++) {
      double now = p.read();
      ASSERT_GE(now, last) << "read " << i << (p.read == get_counter ? ", plain" : ", fenced");
      ASSERT_EQ(now, floor(now)) << "counts are whole numbers";
      last = now;
    }
    EXPECT_GE(last, 0.0);
    EXPECT_LT(last, 1e12) << "the start reading was taken";
  }
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

TEST(Counter, FencedAndPlainPairsShareTheStartReading) {
  EXPECT_LT(count_after_restart(start_counter, get_counter, start_fenced_counter, get_counter),
            1e6);
  EXPECT_LT(count_after_restart(start_fenced_counter, get_fenced_counter, start_counter,
                                get_fenced_counter),
            1e6);
}

TEST(Counter, LeastFencedPairNeverBelowThePlainPairs) {
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
  if (kX86) {
    EXPECT_GT(least, 0.0) << "the time-stamp counter advances within any pair";
  } else {
    EXPECT_GE(least, 0.0);
    EXPECT_GT(total, 0.0);
  }
  EXPECT_LT(least, 10000.0);
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

// ---- The counter's two halves --------------------------------------------------
//
// Read through access_counter, against the platform's monotonic clock:
// assembled high half first they must make one 64-bit value that advances at
// the counter's own rate, and a wrap of the low half must carry into the high
// half.

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
