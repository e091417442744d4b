// The counter's step, computed from scripted readings: the clock module is
// built with its raw read served by the test (support/scripted.h).

#include <gtest/gtest.h>

#include <vector>

#include "clock.h"
#include "support/scripted.h"

namespace {

// More readings than counter_step may take; the rest stay unread.
const int kReadings = 100000;

// Readings from 1000 on, advancing by the differences given, in turn.
void script_advances(const std::vector<uint64_t> &diffs) {
  uint64_t v = 1000;
  scripted::add_reading(v);
  for (int i = 1; i < kReadings; i++) {
    v += diffs[(size_t)i % diffs.size()];
    scripted::add_reading(v);
  }
}

class Step : public ::testing::Test {
 protected:
  void SetUp() override { scripted::reset(); }
};

TEST_F(Step, SteppedCounterWithStrayOnesGivesItsStep) {
  // Advances of one to three steps of 26, as reads a varying delay apart
  // see them, and now and then a reading caught one tick off (1 then 25).
  std::vector<uint64_t> diffs = {26, 52, 26, 78, 26, 52, 1, 25, 26, 52, 78, 26, 26, 78, 52};
  script_advances(diffs);
  EXPECT_EQ(counter_step(), 26.0);
}

TEST_F(Step, CoarseCounterReadManyTimesPerAdvanceGivesItsStep) {
  // A counter slower than the reads (a generic timer of tens of MHz) shows
  // the same value again and again; an unchanged reading is no advance.
  std::vector<uint64_t> diffs(30, 0);
  diffs[9] = 26;
  diffs[19] = 52;
  diffs[29] = 26;
  script_advances(diffs);
  EXPECT_EQ(counter_step(), 26.0);
}

TEST_F(Step, CounterOfStepOneGivesOne) {
  // Every difference a delay makes, one apart.
  script_advances({3, 4, 5, 6, 7, 5, 4});
  EXPECT_EQ(counter_step(), 1.0);
  // Back-to-back reads one tick apart.
  scripted::reset();
  script_advances({1});
  EXPECT_EQ(counter_step(), 1.0);
}

TEST_F(Step, CounterThatNeverAdvancesReturnsZero) {
  // A script runs dry (and the test fails) rather than the search spinning.
  for (int i = 0; i < kReadings; i++)
    scripted::add_reading(777);
  EXPECT_EQ(counter_step(), 0.0);
}

TEST_F(Step, LeavesTheStartReadingAlone) {
  scripted::readings({500});
  start_counter();
  script_advances({26});
  counter_step();
  scripted::reset();
  scripted::readings({800});
  EXPECT_EQ(get_counter(), 300.0);
}

}  // namespace
