// The driver's guard rails, through the public API with the real counter:
// a null test function, a nested call, a second thread, and the way out
// after a test function left by longjmp.  Misuse must end the process with
// its message and status 1, never crash and never corrupt the next
// measurement.

#include <gtest/gtest.h>
#include <pthread.h>
#include <setjmp.h>
#include <unistd.h>

#include "bestof.h"

namespace {

const char kNested[] = "Fatal error.  bestof called from inside a measurement\n";
const char kConcurrent[] = "Fatal error.  bestof called while another thread is measuring\n";

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

TEST(GuardDeathTest, NullTestFunctionIsFatal) {
  EXPECT_EXIT(bestof(nullptr, 3), testing::ExitedWithCode(1),
              only("Fatal error.  bestof called with a null test function\n"));
}

void nest(int) { bestof(count_run, 0); }

TEST(GuardDeathTest, NestedCallKeepsItsOwnMessage) {
  EXPECT_EXIT(bestof(nest, 0), testing::ExitedWithCode(1), only(kNested));
}

// ---- Two threads --------------------------------------------------------------

int entered = 0;  // set by the first thread's test function
int refused = 0;  // set if the second thread's bestof returned

void hold_until_refused(int) {
  __atomic_store_n(&entered, 1, __ATOMIC_RELEASE);
  // Waits for the second thread; a guard that lets it through ends the wait,
  // so a broken guard fails the test instead of hanging it.
  while (!__atomic_load_n(&refused, __ATOMIC_ACQUIRE))
    usleep(1000);
}

void *measure_while_held(void *) {
  while (!__atomic_load_n(&entered, __ATOMIC_ACQUIRE))
    usleep(1000);
  bestof(count_run, 0);
  __atomic_store_n(&refused, 1, __ATOMIC_RELEASE);
  return nullptr;
}

void second_thread_during_a_measurement() {
  pthread_t other;
  pthread_create(&other, nullptr, measure_while_held, nullptr);
  bestof(hold_until_refused, 0);
  pthread_join(other, nullptr);
}

TEST(GuardDeathTest, SecondThreadIsRefusedWithTheCause) {
  EXPECT_EXIT(second_thread_during_a_measurement(), testing::ExitedWithCode(1), only(kConcurrent));
}

// Many short measurements in two threads, the calls overlapping at random.
// The only endings allowed: both finish, or the process exits 1 with the
// message.  A fault, an abort or a sanitizer report fails it.
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
  for (int i = 0; i < 20000; i++)
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

TEST(GuardDeathTest, RacingThreadsEndCleanlyOrWithTheMessage) {
  for (int trial = 0; trial < 50; trial++) {
    EXPECT_EXIT(
        two_threads_racing(),
        [](int status) {
          return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 1);
        },
        "^(Fatal error.  bestof called while another thread is measuring\n)?$")
        << "trial " << trial;
  }
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

}  // namespace
