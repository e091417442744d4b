// lullwatch and hertzle, each built a second time for the test: lullwatch
// against the scripted counter, hertzle with times() and sleep() wrapped to
// scripted ones and signed overflow trapping, so a tick difference worked
// out in the signed clock_t fails in every build, not only under the
// sanitizers.  Each test runs the program with a script in its environment
// and checks what it prints and the calls it made.

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <time.h>

#include <string>

#include "support/child.h"

namespace {

struct Outcome {
  int status;         // exit status, or 128 + the signal that ended it
  std::string out;    // standard output
  std::string trace;  // the scripted calls, one letter each
};

// Runs `program` with the environment variable `name` set to `value`; the
// trace is the last line of its standard error.
Outcome run(const char *program, const char *name, const std::string &value) {
  child::Result r = child::run([&] {
    setenv(name, value.c_str(), 1);
    setenv("SCRIPTED_TRACE", "1", 1);
    child::exec(program, CYCLEKIT_EMULATOR);
  });
  std::string err = r.err;
  if (!err.empty() && err.back() == '\n')
    err.pop_back();
  return {r.status, r.out, err.substr(err.rfind('\n') + 1)};
}

// ---- lullwatch -------------------------------------------------------------------

// lullwatch's five searches, each given as the counts it reads.
Outcome lullwatch(const std::string &counts) {
  return run(LULLWATCH_SCRIPTED, "SCRIPTED_COUNTS", counts);
}

// Five searches that each end at their second read with these gaps.
std::string gaps(std::initializer_list<const char *> g) {
  std::string s;
  for (const char *x : g)
    s += std::string(" 0 ") + x;
  return s;
}

const char *const kThousands = "1000 cycles\n1000 cycles\n1000 cycles\n1000 cycles\n";

TEST(Lullwatch, PrintsTheFirstGapOfEachOfFiveSearches) {
  const struct {
    std::string counts;
    std::string out;
    const char *trace;  // null: not checked
  } cases[] = {
      // Each search starts the counter afresh.
      {gaps({"1000", "2500", "99999", "1e6", "123456789"}),
       "1000 cycles\n2500 cycles\n99999 cycles\n1000000 cycles\n123456789 cycles\n",
       "SRRSRRSRRSRRSRR"},
      // Gaps 500 and 999 are not lulls; 1000 is.
      {"0 500 1499 2499" + gaps({"1000", "1000", "1000", "1000"}),
       std::string("1000 cycles\n") + kThousands, "SRRRRSRRSRRSRRSRR"},
      // Between consecutive reads (800 each, then 1200.9), truncated.
      {"100 900 1700 2500 3700.9" + gaps({"1000", "1000", "1000", "1000"}),
       std::string("1200 cycles\n") + kThousands, nullptr},
      // Past INT_MAX, and a pause of some seconds on a gigahertz counter.
      {gaps({"2147483647", "2147483648", "5000000000", "9.2e18", "1000"}),
       "2147483647 cycles\n2147483648 cycles\n5000000000 cycles\n9200000000000000000 "
       "cycles\n1000 cycles\n",
       nullptr},
      // A reading below the start counts as almost 2^64 cycles on: no pause.
      {"5000 1.8446744073709552e19 1.8446744073709556e19"  // then a gap of 4096
       " 0 9.3e18 9.3e18 9.300000000000002e18" +           // 2^63 and more, then 2048
           gaps({"1000", "1000", "1000"}),
       "4096 cycles\n2048 cycles\n1000 cycles\n1000 cycles\n1000 cycles\n", nullptr},
  };
  for (const auto &c : cases) {
    Outcome r = lullwatch(c.counts);
    EXPECT_EQ(r.status, 0) << c.counts;
    EXPECT_EQ(r.out, c.out) << c.counts;
    if (c.trace != nullptr) {
      EXPECT_EQ(r.trace, c.trace) << c.counts;
    }
  }
}

TEST(Lullwatch, ARunawaySearchStopsWithAMessage) {
  // The script ends before any lull: the scripted counter ends the program.
  Outcome r = lullwatch("0 1 2 3");
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "");
}

// ---- hertzle ---------------------------------------------------------------------

Outcome hertzle(clock_t before, clock_t after) {
  return run(HERTZLE_SCRIPTED, "SCRIPTED_TICKS",
             std::to_string(before) + " " + std::to_string(after));
}

TEST(Hertzle, OneSecondBetweenTwoReadsAndThePlainDifference) {
  const struct {
    clock_t before, after;
    int ticks;
  } cases[] = {{5000, 5101, 101},
               {777, 777, 0},
               {777, 778, 1},
               {777, 876, 99},
               {777, 1777, 1000},
               {1000, 940, -60},  // a clock stepped back, as it is
               // times() fails with (clock_t)-1 and errno set, but -1 is also a
               // count: first, and last just after a sleep that left errno set.
               {-1, 99, 100},
               {-101, -1, 100},
               // clock_t is a long: 32 bits on 32-bit Linux, where the count of
               // ticks since boot wraps after some 250 days at 100 ticks a second.
               {LONG_MAX - 40, LONG_MIN + 59, 100}};
  for (const auto &c : cases) {
    Outcome r = hertzle(c.before, c.after);
    EXPECT_EQ(r.status, 0) << c.before;
    EXPECT_EQ(r.out, std::to_string(c.ticks) + " ticks/second\n") << c.before;
    EXPECT_EQ(r.trace, "tz1nt") << "one read, a second slept to its deadline, one read";
  }
}

TEST(Hertzle, FailingTimesIsReportedNotCountedAsZero) {
  Outcome r = run(HERTZLE_SCRIPTED, "SCRIPTED_TIMES_ERRNO", "1");  // EPERM
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.trace, "t") << "stops at the first failure";
}

}  // namespace
