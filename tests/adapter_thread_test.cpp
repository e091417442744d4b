// The adapter's pointer to the callable, under two threads, against a
// scripted driver: the adapter calls bestof by name, and this test defines
// it.  Thread 1's measurement is still running when thread 2 measures a
// callable of another type through the adapter; thread 1's next run must
// still reach its own callable.  (The real driver refuses thread 2; the
// adapter must not have redirected thread 1 before that.)

#include <gtest/gtest.h>
#include <pthread.h>
#include <unistd.h>

#include "bestof.hpp"

namespace {
int calls = 0;        // bestof calls so far
int first_ran = 0;    // thread 1's first run is done
int second_done = 0;  // thread 2's measurement has returned

void wait_for(int *flag) {
  while (!__atomic_load_n(flag, __ATOMIC_ACQUIRE))
    usleep(1000);
}
}  // namespace

// Thread 1's measurement: a run, a pause while thread 2 measures, a run.
// Any later one: a single run.
extern "C" double bestof(bestof_test_fn f, int arg) {
  if (__atomic_fetch_add(&calls, 1, __ATOMIC_ACQ_REL) == 0) {
    f(arg);
    __atomic_store_n(&first_ran, 1, __ATOMIC_RELEASE);
    wait_for(&second_done);
  }
  f(arg);
  return 0;
}

namespace {

int other_runs = 0;

void *measure_other_type(void *) {
  wait_for(&first_ran);
  struct Other {
    long pad[4] = {1, 2, 3, 4};
    void operator()() { other_runs += (int)pad[3]; }
  } other;
  cyclekit::bestof(other);
  __atomic_store_n(&second_done, 1, __ATOMIC_RELEASE);
  return nullptr;
}

TEST(AdapterThreads, ARunningMeasurementKeepsItsCallable) {
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, nullptr, measure_other_type, nullptr), 0);
  int mine = 0;
  cyclekit::bestof([&] { mine++; });
  pthread_join(thread, nullptr);
  EXPECT_EQ(mine, 2);
  EXPECT_EQ(other_runs, 4);
}

}  // namespace
