// hertzle's count, against scripted times() and sleep().  The program's
// source is compiled here with its main renamed and its two POSIX calls
// replaced; the system headers are included first so only the calls in the
// program are redirected.

#include <gtest/gtest.h>

#include <limits.h>
#include <stdio.h>
#include <sys/times.h>
#include <unistd.h>

#include <deque>
#include <string>

static clock_t scripted_times(struct tms *t);
static unsigned scripted_sleep(unsigned seconds);
#define times scripted_times
#define sleep scripted_sleep
#define main hertzle_main
#include "../tools/hertzle.cpp"
#undef main
#undef sleep
#undef times

namespace {
std::deque<clock_t> elapsed;  // what successive times() calls return
std::string calls;            // "t" per times() call, "s<n>" per sleep(n)
}  // namespace

static clock_t scripted_times(struct tms *t) {
  calls += 't';
  // The fields are not the program's business; fill them with noise it must
  // not use.
  t->tms_utime = t->tms_stime = t->tms_cutime = t->tms_cstime = 12345;
  if (elapsed.empty())
    return (clock_t)-1;
  clock_t v = elapsed.front();
  elapsed.pop_front();
  return v;
}

static unsigned scripted_sleep(unsigned seconds) {
  calls += 's' + std::to_string(seconds);
  return 0;
}

namespace {

class Hertzle : public ::testing::Test {
 protected:
  void SetUp() override {
    elapsed.clear();
    calls.clear();
  }
  void TearDown() override { EXPECT_TRUE(elapsed.empty()) << "times() read too little"; }
};

TEST_F(Hertzle, OneSecondSleepBetweenTwoReadsAndThePlainDifference) {
  elapsed = {5000, 5101};
  EXPECT_EQ(tps(), 101);
  EXPECT_EQ(calls, "ts1t") << "one read, one sleep of a second, one read";

  // Whatever the two reads say is the answer, untouched.
  for (clock_t gap : {0L, 1L, 99L, 1000L, 250L}) {
    elapsed = {777, (clock_t)(777 + gap)};
    EXPECT_EQ(tps(), (int)gap);
  }
}

TEST_F(Hertzle, TickCountWrappingPastTheTopOfClockT) {
  // clock_t is a long: 32 bits on 32-bit Linux, where the count of ticks
  // since boot wraps after some 250 days at 100 ticks a second.
  elapsed = {(clock_t)(LONG_MAX - 40), (clock_t)LONG_MIN + 59};
  EXPECT_EQ(tps(), 100);
}

TEST_F(Hertzle, MainPrintsOneLineAndSucceeds) {
  elapsed = {100, 200};
  testing::internal::CaptureStdout();
  int status = hertzle_main();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "100 ticks/second\n");
  EXPECT_EQ(status, 0);

  elapsed = {1000, 940};  // a clock stepped back is printed as it is
  testing::internal::CaptureStdout();
  hertzle_main();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "-60 ticks/second\n");
}

}  // namespace
