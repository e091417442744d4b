// The driver through the public API with the real counter: its guard rails
// (a null test function, a nested call, two threads, and the way out after a
// test function left by longjmp) and core cycles.  Misuse must end the
// process with its message and status 1, never crash and never corrupt the
// next measurement.

#include <gtest/gtest.h>
#include <pthread.h>
#include <setjmp.h>
#include <unistd.h>

#include "bestof.h"

namespace {

const char kNested[] = "Fatal error.  bestof called from inside a measurement\n";

// A whole message, alone on standard error.
std::string only(const char *message) { return std::string("^") + message + "$"; }

int runs = 0;
void count_run(int) { runs++; }

// Runs that must leave a clean driver behind: one run, its count returned.
void expect_one_clean_measurement() {
  runs = 0;
  set_bestof_maxsamples(1);
  bestof(count_run, 0);
  EXPECT_EQ(runs, 1);
  set_bestof_maxsamples(20);
}

void calls_null(int) { bestof(nullptr, 3); }

TEST(GuardDeathTest, NullTestFunctionIsFatal) {
  // Also from inside a measurement, which holds the lock already: the child
  // must exit, not wait for ever (the alarm ends a child that hangs).
  for (bestof_test_fn f : {(bestof_test_fn) nullptr, calls_null})
    EXPECT_EXIT(
        {
          alarm(20);
          bestof(f, 3);
        },
        testing::ExitedWithCode(1), only("Fatal error.  bestof called with a null test function\n"))
        << (f ? "inside a measurement" : "outside");
}

void nest(int) { bestof(count_run, 0); }

// ---- Two threads --------------------------------------------------------------

// Many short measurements in two threads, the calls overlapping at random
// (bestof_threads_test orders them deliberately).  They take turns: both
// finish, and nothing is written.  A fault, an abort, an exit or a sanitizer
// report fails it.
volatile int tiny_sink;
void tiny(int n) {
  for (int i = 0; i < n; i++)
    tiny_sink = i;
}

int at_start = 0;

void *measure_many(void *) {
  // Both threads start their first measurement together: spin until both
  // are here.
  __atomic_add_fetch(&at_start, 1, __ATOMIC_ACQ_REL);
  while (__atomic_load_n(&at_start, __ATOMIC_ACQUIRE) < 2) {
  }
  for (int i = 0; i < 5000; i++)
    bestof(tiny, 10);
  return nullptr;
}

void two_threads_racing() {
  pthread_t a, b;
  pthread_create(&a, nullptr, measure_many, nullptr);
  pthread_create(&b, nullptr, measure_many, nullptr);
  pthread_join(a, nullptr);
  pthread_join(b, nullptr);
  _exit(0);
}

TEST(GuardDeathTest, RacingThreadsBothFinish) {
  for (int trial = 0; trial < 10; trial++)
    EXPECT_EXIT(two_threads_racing(), testing::ExitedWithCode(0), "^$") << "trial " << trial;
}

// ---- Leaving a test function by longjmp ------------------------------------

jmp_buf escape;
void leave_by_longjmp(int) { longjmp(escape, 1); }

void measure_and_escape() {
  if (setjmp(escape) == 0)
    bestof(leave_by_longjmp, 0);
}

TEST(GuardDeathTest, AfterLongjmpTheNextMeasurementIsRefused) {
  EXPECT_EXIT(
      {
        measure_and_escape();
        bestof(count_run, 0);
      },
      testing::ExitedWithCode(1), only(kNested));
}

TEST(Guard, AbandonAfterLongjmpLetsMeasurementsGoOn) {
  for (int i = 0; i < 3; i++) {  // the guard and the array are released each time
    measure_and_escape();
    bestof_abandon();
    expect_one_clean_measurement();
  }
}

void *abandon_elsewhere(void *) {
  bestof_abandon();
  return nullptr;
}

void abandon_from_another_thread(int) {
  pthread_t other;
  pthread_create(&other, nullptr, abandon_elsewhere, nullptr);
  pthread_join(other, nullptr);
  nest(0);  // still inside the measurement: must be refused as nested
}

TEST(GuardDeathTest, AbandonLeavesAnotherThreadsMeasurementAlone) {
  EXPECT_EXIT(bestof(abandon_from_another_thread, 0), testing::ExitedWithCode(1), only(kNested));
}

// ---- Core cycles ------------------------------------------------------------
//
// With core cycles on, the real counter's counts grow with the work and are
// reported as core cycles.  How close a chain of known length comes to its
// length depends on the machine and its load: that is a benchmark figure
// (bench/report.sh, "ADD, core cycles per instruction").

#if defined(__x86_64__) || defined(__i386__)
// Dependent register additions: one core cycle each on x86.
void add_chain_1000(int) {
  unsigned v = 0;
  __asm__ volatile(".rept 1000\n\taddl $1, %0\n\t.endr" : "+r"(v));
}
void add_chain_10000(int) {
  unsigned v = 0;
  __asm__ volatile(".rept 10000\n\taddl $1, %0\n\t.endr" : "+r"(v));
}
#endif

TEST(CoreCycles, CountsGrowWithTheWork) {
#if defined(__x86_64__) || defined(__i386__)
  set_bestof_core_cycles(1);
  for (int fence = 0; fence <= 1; fence++) {
    SCOPED_TRACE(fence ? "fenced" : "bare");
    set_bestof_fence(fence);
    double short_chain = bestof(add_chain_1000, 0);
    bestof_report r;
    bestof_last(&r);
    EXPECT_EQ(r.core_cycles, 1) << "core_per_tick gave a usable figure";
    double long_chain = bestof(add_chain_10000, 0);
    EXPECT_GT(short_chain, 0.0);
    EXPECT_GT(long_chain, short_chain);
  }
#else
  GTEST_SKIP() << "the one-cycle addition chain is written for x86 only";
#endif
}

}  // namespace
