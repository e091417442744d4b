// The counter's arithmetic and calibration rule, on scripted counter and
// user-time tick readings.  The module's source is compiled here with its two
// platform reads replaced, so its file-local state is in reach and the
// shipped library keeps its own timed path.

#include <stdint.h>
#include <sys/times.h>

#include <deque>
#include <string>

static void scripted_read(uint32_t *hi, uint32_t *lo);
static clock_t scripted_times(struct tms *t);
#define CLOCK_READ_HOOK scripted_read
#define CLOCK_TIMES_HOOK scripted_times
#include "../counter/clock.cpp"

#include <gtest/gtest.h>

namespace {

// Readings are served in order; once a queue runs dry the counter advances
// 5000 cycles and the tick count 1 per read, so a calibration always ends.
std::deque<uint64_t> readings;
std::deque<clock_t> tick_readings;
uint64_t last_reading = 0;
clock_t last_ticks = 0;
bool overran = false;
std::string calls;  // "c" per counter read, "t" per times() call

void reset() {
  readings.clear();
  tick_readings.clear();
  last_reading = 0;
  last_ticks = 0;
  overran = false;
  calls.clear();
  cyc_hi = cyc_lo = 0;
  cyc_per_tick = 0.0;
  start_tick = 0;
}

uint64_t reading(uint32_t hi, uint32_t lo) { return (uint64_t)hi << 32 | lo; }

}  // namespace

static void scripted_read(uint32_t *hi, uint32_t *lo) {
  calls += 'c';
  uint64_t v;
  if (readings.empty()) {
    overran = true;
    v = last_reading + 5000;
  } else {
    v = readings.front();
    readings.pop_front();
  }
  last_reading = v;
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

static clock_t scripted_times(struct tms *t) {
  calls += 't';
  clock_t v;
  if (tick_readings.empty()) {
    overran = true;
    v = last_ticks + 1;
  } else {
    v = tick_readings.front();
    tick_readings.pop_front();
  }
  last_ticks = v;
  t->tms_utime = v;
  return 0;
}

namespace {

class Arithmetic : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
  double count(uint64_t start, uint64_t now) {
    readings = {start, now};
    start_counter();
    return get_counter();
  }
};

TEST_F(Arithmetic, LowHalfWrapBorrowsFromHighHalf) {
  EXPECT_EQ(count(reading(1, 0xFFFFFFF0u), reading(2, 0x00000010u)), 32.0);
  EXPECT_EQ(count(reading(0, 0xFFFFFFFFu), reading(1, 0)), 1.0);
}

TEST_F(Arithmetic, HighHalfWeighs2To32) {
  EXPECT_EQ(count(reading(3, 7), reading(5, 9)), 2.0 * 4294967296.0 + 2.0);
  EXPECT_EQ(count(reading(3, 9), reading(5, 7)), 2.0 * 4294967296.0 - 2.0);
}

TEST_F(Arithmetic, ReadingBelowStartIsHugeNotNegative) {
  double c = count(reading(5, 100), reading(5, 99));
  EXPECT_EQ(c, 18446744073709551616.0);  // 2^64 - 1 rounds to 2^64
  EXPECT_GT(count(reading(9, 0), reading(8, 0xFFFFFFFFu)), 1.8e19);
}

TEST_F(Arithmetic, WithoutStartCountsTheWholeCounter) {
  readings = {reading(7, 9)};
  EXPECT_EQ(get_counter(), 7.0 * 4294967296.0 + 9.0);
}

TEST_F(Arithmetic, SeveralReadsAgainstOneStart) {
  readings = {reading(0, 100), reading(0, 150), reading(0, 400)};
  start_counter();
  EXPECT_EQ(get_counter(), 50.0);
  EXPECT_EQ(get_counter(), 300.0);
}

TEST_F(Arithmetic, OvhdReturnsTheSecondPair) {
  readings = {1000, 1900, 5000, 5040};
  EXPECT_EQ(ovhd(), 40.0);
}

// Builds the readings one calibration consumes.  The calibration looks at
// times(), starts the counter and reads it; then each poll reads the counter
// and, once at least 1000 cycles have passed since the last look, looks at
// times() again.
class Calibration : public ::testing::Test {
 protected:
  uint64_t now = 1000000;
  clock_t ticks = 50;

  void SetUp() override {
    reset();
    tick_readings.push_back(ticks);
    readings.push_back(now);
    readings.push_back(now);
  }
  // A poll `cycles` after the last look; a look if cycles >= 1000, at which
  // the tick count has advanced by `advance`.
  void poll(uint64_t cycles, clock_t advance) {
    now += cycles;
    readings.push_back(now);
    if (cycles >= 1000) {
      ticks += advance;
      tick_readings.push_back(ticks);
    }
  }
  // `n` looks, each finding one tick after `cycles` cycles.
  void events(int n, uint64_t cycles) {
    for (int i = 0; i < n; i++)
      poll(cycles, 1);
  }
  std::string run() {
    testing::internal::CaptureStdout();
    callibrate(1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(overran) << "the calibration read past its script";
    EXPECT_TRUE(readings.empty() && tick_readings.empty())
        << "the calibration ended before its 100th event";
    return out;
  }
};

TEST_F(Calibration, KeepsTheSmallestCandidateAboveTheBound) {
  events(10, 9000);
  events(1, 3000);  // exactly the bound: not recorded
  events(1, 4500);
  events(1, 3001);  // the smallest above the bound
  events(1, 5000);  // larger than the charge found: does not replace it
  events(86, 8000);
  EXPECT_EQ(run(), "Setting cyc_per_tick to 3001.000000\n");
  EXPECT_EQ(cyc_per_tick, 3001.0);
}

TEST_F(Calibration, DividesByTheTicksThatPassed) {
  poll(12000, 3);  // 4000 per tick
  events(99, 9000);
  run();
  EXPECT_EQ(cyc_per_tick, 4000.0);
}

TEST_F(Calibration, ShortPollsAreNotLooks) {
  poll(400, 0);
  poll(400, 0);
  poll(3300, 1);  // 4100 since the last look, which was the start
  events(99, 9000);
  run();
  EXPECT_EQ(cyc_per_tick, 4100.0);
}

TEST_F(Calibration, LookWithoutAdvanceMovesTheIntervalStart) {
  poll(1500, 0);  // a look that finds no tick
  poll(3500, 1);  // 3500 since that look, 5000 since the last tick
  events(99, 9000);
  run();
  EXPECT_EQ(cyc_per_tick, 3500.0);
}

TEST_F(Calibration, NoCandidateLeavesItUncalibratedAndTheNextStartRetries) {
  events(100, 1000);  // 1000 cycles per tick: never above the bound
  EXPECT_EQ(run(), "Setting cyc_per_tick to 0.000000\n");
  EXPECT_EQ(cyc_per_tick, 0.0);

  // The next compensated start calibrates again, then starts as usual.
  SetUp();
  events(100, 6000);
  tick_readings.push_back(ticks);  // start_comp_counter's own look
  readings.push_back(now);         // and its start
  testing::internal::CaptureStdout();
  start_comp_counter();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setting cyc_per_tick to 6000.000000\n");
  EXPECT_FALSE(overran);
}

class Compensated : public ::testing::Test {
 protected:
  void SetUp() override { reset(); }
};

TEST_F(Compensated, SubtractsTheChargeForEachTick) {
  cyc_per_tick = 4000.0;
  tick_readings = {200, 203};
  readings = {reading(1, 0), reading(1, 100000)};
  start_comp_counter();
  EXPECT_EQ(get_comp_counter(), 100000.0 - 3 * 4000.0);
  EXPECT_EQ(calls, "tcct") << "times() before the start, counter read before times()";
}

TEST_F(Compensated, MayGoNegative) {
  cyc_per_tick = 4000.0;
  tick_readings = {200, 205};
  readings = {0, 1000};
  start_comp_counter();
  EXPECT_EQ(get_comp_counter(), 1000.0 - 20000.0);
}

TEST_F(Compensated, UncalibratedReadSubtractsNothing) {
  tick_readings = {210};
  readings = {0, 777};
  start_counter();
  start_tick = 200;
  EXPECT_EQ(get_comp_counter(), 777.0);
}

TEST_F(Compensated, OnlyTheFirstStartCalibrates) {
  tick_readings.push_back(0);
  readings = {0, 0};
  uint64_t now = 0;
  for (int i = 0; i < 100; i++) {
    readings.push_back(now += 5000);
    tick_readings.push_back(i + 1);
  }
  tick_readings.push_back(100);  // start_comp_counter's look
  readings.push_back(now);       // and its start
  testing::internal::CaptureStdout();
  start_comp_counter();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Setting cyc_per_tick to 5000.000000\n");
  EXPECT_FALSE(overran);

  calls.clear();
  testing::internal::CaptureStdout();
  start_comp_counter();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(calls, "tc") << "a calibrated start only looks at times() and starts";
}

}  // namespace
