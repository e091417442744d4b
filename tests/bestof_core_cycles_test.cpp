// With core cycles on, the real counter's counts grow with the work and are
// reported as core cycles.  How close a chain of known length comes to its
// length depends on the machine and its load: that is a benchmark figure
// (bench/report.sh, "ADD, core cycles per instruction").

#include <gtest/gtest.h>

#include "bestof.h"

#if defined(__x86_64__) || defined(__i386__)
// Dependent register additions: one core cycle each on x86.
static void add_chain_1000(int) {
  unsigned v = 0;
  __asm__ volatile(".rept 1000\n\taddl $1, %0\n\t.endr" : "+r"(v));
}
static void add_chain_10000(int) {
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
