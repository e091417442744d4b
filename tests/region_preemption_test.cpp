// A window's long runs against real preemption: two busy processes share
// the measuring thread's CPU, so that every run of some milliseconds is
// switched out for theirs.  With the thread's CPU time taken into account
// the mean stays near the quiet one; without it, it is several times that.

#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdint.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>

#include "region.h"

namespace {

// About 20 µs of dependent multiplies an iteration at a few GHz: latency
// bound, so a sibling thread's spells of slow throughput leave it alone.
void chain(bestof_region *r, void *) {
  uint64_t x = 1;
  bestof_region_start(r);
  for (long i = 0; i < bestof_region_iterations(r); i++)
    for (int j = 0; j < 20000; j++) {
      x = x * 6364136223846793005u + 1;
      __asm__ volatile("" : "+r"(x));
    }
  bestof_region_stop(r);
}

// The mean of runs that each last about 8 ms, over 20 ms of runs.
double mean_per_iteration(double rate, bool correct) {
  const bestof_region_plan plan = {0, 1, 1e6 * rate};
  const bestof_region_window window = {20e6 * rate, 200e3 * rate, 0,
                                       1L << 20,    8e6 * rate,   correct ? rate : 0};
  bestof_settings s;
  get_bestof_settings(&s);
  s.maxsamples = 1;  // the window's ticks alone end the runs
  return bestof_region_mean(&s, chain, nullptr, &plan, &window);
}

void pin_to(int cpu) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  sched_setaffinity(0, sizeof one, &one);
}

TEST(RegionPreemption, ALongRunLosesTheTimeItsThreadWasSwitchedOut) {
  double rate = bestof_ticks_per_ns();
  ASSERT_GT(rate, 0);
  int cpu = sched_getcpu();
  ASSERT_GE(cpu, 0);
  pin_to(cpu);
  double quiet = mean_per_iteration(rate, true);
  pid_t hogs[2];
  for (pid_t &h : hogs) {
    h = fork();
    ASSERT_GE(h, 0);
    if (h == 0) {
      pin_to(cpu);
      for (volatile unsigned spin = 0;; spin = spin + 1) {
      }
    }
  }
  usleep(20000);  // the hogs on the CPU before the runs start
  double corrected = mean_per_iteration(rate, true);
  double uncorrected = mean_per_iteration(rate, false);
  for (pid_t h : hogs) {
    kill(h, SIGKILL);
    waitpid(h, nullptr, 0);
  }
  EXPECT_GT(uncorrected / quiet, 1.5)
      << "the hogs must have taken the CPU for this test to say anything";
  EXPECT_LT(std::fabs(corrected / quiet - 1), 0.25)
      << "quiet " << quiet << ", corrected " << corrected << ", uncorrected " << uncorrected;
}

}  // namespace
