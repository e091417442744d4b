// The counter's arithmetic, the rate and the calibration rule, on scripted
// counter readings, times() and sleep().  The module is a test build of
// clock.cpp whose raw read comes from the script; times() and sleep() are
// wrapped at link time.  Every test runs in a process of its own under CTest,
// so each meets the module as a program does: no start reading, uncalibrated.

#include <errno.h>
#include <gtest/gtest.h>
#include <math.h>

#include <string>

#include "clock.h"
#include "support/scripted.h"

namespace {

uint64_t reading(uint32_t hi, uint32_t lo) { return (uint64_t)hi << 32 | lo; }

class ScriptedClock : public ::testing::Test {
 protected:
  void SetUp() override { scripted::reset(); }
  void TearDown() override { EXPECT_EQ(scripted::left(), 0u) << "script not used up"; }
};

using Arithmetic = ScriptedClock;

double count(uint64_t start, uint64_t now) {
  scripted::readings({start, now});
  start_counter();
  return get_counter();
}

TEST_F(Arithmetic, LowHalfWrapBorrowsFromHighHalf) {
  EXPECT_EQ(count(reading(1, 0xFFFFFFF0u), reading(2, 0x00000010u)), 32.0);
  EXPECT_EQ(count(reading(0, 0xFFFFFFFFu), reading(1, 0)), 1.0);
  EXPECT_EQ(count(reading(4, 5), reading(4, 5)), 0.0);
}

TEST_F(Arithmetic, HighHalfWeighs2To32) {
  EXPECT_EQ(count(reading(3, 7), reading(5, 9)), 2.0 * 4294967296.0 + 2.0);
  EXPECT_EQ(count(reading(3, 9), reading(5, 7)), 2.0 * 4294967296.0 - 2.0);
}

TEST_F(Arithmetic, ReadingBelowStartIsHugeNotNegative) {
  EXPECT_EQ(count(reading(5, 100), reading(5, 99)), 18446744073709551616.0);  // 2^64 - 1
  EXPECT_GT(count(reading(9, 0), reading(8, 0xFFFFFFFFu)), 1.8e19);
}

TEST_F(Arithmetic, WithoutStartCountsTheWholeCounter) {
  scripted::readings({reading(7, 9)});
  EXPECT_EQ(get_counter(), 7.0 * 4294967296.0 + 9.0);
}

TEST_F(Arithmetic, SeveralReadsAgainstOneStart) {
  scripted::readings({reading(0, 100), reading(0, 150), reading(0, 400)});
  start_counter();
  EXPECT_EQ(get_counter(), 50.0);
  EXPECT_EQ(get_counter(), 300.0);
  EXPECT_EQ(scripted::trace(), "ccc");
}

// The scripted build serves fenced reads from the same readings, so the
// trace cannot tell the pairs apart; the count of reads and fences and the
// second pair's difference can.
TEST_F(Arithmetic, OvhdAndOvhdFencedReturnTheSecondPair) {
  scripted::readings({1000, 1900, 5000, 5040, 1000, 1900, 5000, 5044});
  EXPECT_EQ(ovhd(), 40.0);
  EXPECT_EQ(scripted::fences(), 0);
  EXPECT_EQ(ovhd_fenced(), 44.0);
  EXPECT_EQ(scripted::trace(), "cccccccc");
  EXPECT_EQ(scripted::fences(), 2) << "each fenced pair starts fenced";
}

TEST_F(Arithmetic, AccessCounterGivesBothHalves) {
  scripted::readings({reading(0x12345678u, 0x9abcdef0u)});
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  EXPECT_EQ(hi, 0x12345678u);
  EXPECT_EQ(lo, 0x9abcdef0u);
}

using Rate = ScriptedClock;

TEST_F(Rate, CyclesAcrossTheSleepPerMicrosecond) {
  // 2.5e9 cycles a second over a sleep of two: 2500 MHz, printed when
  // verbose; mhz_def sleeps two seconds, quietly.
  scripted::readings({reading(1, 0), reading(1, 0) + 5000000000u, 0, 3000000});
  testing::internal::CaptureStdout();
  EXPECT_EQ(mhz(1, 2), 2500.0);
  EXPECT_EQ(mhz_def(0), 1.5);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Processor clock rate ~= 2500.0 MHz\n");
  EXPECT_EQ(scripted::trace(), scripted::repeat("cz2nc", 2))
      << "start, sleep, sleep on to the deadline (a signal may have cut the sleep short), read";
}

TEST_F(Rate, SleepsOnToTheDeadlineWhileSignalsCutItShort) {
  // The deadline is the whole interval after the start on the monotonic
  // clock, however often the sleep towards it is interrupted.
  scripted::readings({0, 4000000});
  scripted::sleep_answers({EINTR, EINTR, 0});
  struct timespec before, after;
  clock_gettime(CLOCK_MONOTONIC, &before);
  EXPECT_EQ(mhz(0, 2), 2.0);
  clock_gettime(CLOCK_MONOTONIC, &after);
  EXPECT_EQ(scripted::trace(), "cz2nnnc");
  struct timespec d = scripted::last_deadline();
  EXPECT_GE(d.tv_sec, before.tv_sec + 2);
  EXPECT_LE(d.tv_sec, after.tv_sec + 2);
}

TEST_F(Rate, NoSecondsOrNegativeOnesSleepNoneAndGiveInfinity) {
  // Passed on to sleep, -1 would become an unsigned count of decades.
  for (int seconds : {0, -1, -2147483647 - 1}) {
    scripted::reset();
    scripted::readings({0, 10});
    double r = mhz(0, seconds);
    EXPECT_TRUE(isinf(r) && r > 0) << seconds << ": " << r;
    EXPECT_EQ(scripted::trace(), "cz0c") << seconds;
  }
}

// counter_mhz over a scripted monotonic clock (NaN: a reading that fails).
// It divides by the interval the clock saw, and a sandbox that forbids
// sleeping makes it poll the clock, which may fail too: then the wait ends
// and there is no rate.
struct CounterRate {
  const char *what;
  std::initializer_list<double> clock;
  int sleep_answer;
  double rate;
};
const CounterRate kCounterRates[] = {
    {"woken late: the interval seen", {10.0, 10.75}, 0, 2.0},
    {"sleeping forbidden: polled to the deadline", {10.0, 10.25, 10.5, 10.5}, EPERM, 3.0},
    {"the clock fails while polled", {10.0, NAN, NAN}, EPERM, 0.0},
};

TEST_F(Rate, CounterMhzDividesByTheIntervalTheMonotonicClockSaw) {
  for (const CounterRate &c : kCounterRates) {
    scripted::reset();
    scripted::clock_readings(c.clock);
    scripted::sleep_answers({c.sleep_answer});
    scripted::readings({0, 1500000});
    EXPECT_DOUBLE_EQ(counter_mhz(0.5), c.rate) << c.what;
    struct timespec d = scripted::last_deadline();
    EXPECT_TRUE(d.tv_sec == 10 && d.tv_nsec == 500000000) << c.what;
    EXPECT_EQ(scripted::left(), 0u) << c.what << ": the clock read as often as it must";
  }
}

// Scripts one calibration as start_comp_counter runs it: a look at times(),
// the counter started and read; then each poll reads the counter and, once
// at least 1000 cycles have passed since the last look, looks at times()
// again.  finish() adds start_comp_counter's own look and start.
class Calibration : public ScriptedClock {
 protected:
  uint64_t now = 1000000;
  clock_t ticks = 50;

  void SetUp() override {
    ScriptedClock::SetUp();
    scripted::add_tick(ticks);
    scripted::add_reading(now);
    scripted::add_reading(now);
  }
  // A poll `cycles` after the last; a look if cycles >= 1000, finding the
  // tick count `advance` further on.
  void poll(uint64_t cycles, clock_t advance) {
    now += cycles;
    scripted::add_reading(now);
    if (cycles >= 1000) {
      ticks += advance;
      scripted::add_tick(ticks);
    }
  }
  void events(int n, uint64_t cycles) {
    for (int i = 0; i < n; i++)
      poll(cycles, 1);
  }
  // Runs start_comp_counter and returns what it printed.
  std::string start() {
    scripted::add_tick(ticks);
    scripted::add_reading(now);
    testing::internal::CaptureStdout();
    start_comp_counter();
    return testing::internal::GetCapturedStdout();
  }
  // The charge in force: a compensated read ten ticks and 10^6 cycles on.
  double charge() {
    scripted::add_reading(now + 1000000);
    scripted::add_tick(ticks + 10);
    return (1000000 - get_comp_counter()) / 10;
  }
};

TEST_F(Calibration, KeepsTheSmallestCandidateAboveTheBound) {
  events(10, 9000);
  events(1, 3000);  // exactly the bound: not recorded
  events(1, 4500);
  events(1, 3001);  // the smallest above the bound
  events(1, 5000);  // larger than the charge found: does not replace it
  events(86, 8000);
  EXPECT_EQ(start(), "Setting cyc_per_tick to 3001.000000\n");
  EXPECT_EQ(charge(), 3001.0);
}

TEST_F(Calibration, DividesByTheTicksThatPassed) {
  poll(12000, 3);  // 4000 per tick
  events(99, 9000);
  EXPECT_EQ(start(), "Setting cyc_per_tick to 4000.000000\n");
}

TEST_F(Calibration, ShortPollsAreNotLooks) {
  poll(400, 0);
  poll(599, 0);   // 999 since the start: still no look
  poll(2900, 1);  // 3899 since the last look, which was the start
  events(99, 9000);
  EXPECT_EQ(start(), "Setting cyc_per_tick to 3899.000000\n");
}

TEST_F(Calibration, APollOfExactlyTheThresholdIsALook) {
  poll(1000, 0);  // a look that finds no tick
  poll(3500, 1);  // 3500 since that look, 4500 since the last tick
  events(99, 9000);
  EXPECT_EQ(start(), "Setting cyc_per_tick to 3500.000000\n");
}

TEST_F(Calibration, NoCandidateLeavesItUncalibratedAndTheNextStartRetries) {
  events(100, 1000);  // 1000 cycles per tick: never above the bound
  EXPECT_EQ(start(), "Setting cyc_per_tick to 0.000000\n");
  EXPECT_EQ(charge(), 0.0) << "an uncalibrated read subtracts nothing";

  SetUp();
  events(100, 6000);
  EXPECT_EQ(start(), "Setting cyc_per_tick to 6000.000000\n");
}

TEST_F(Calibration, OnlyTheFirstStartCalibrates) {
  events(100, 5000);
  EXPECT_EQ(start(), "Setting cyc_per_tick to 5000.000000\n");
  scripted::reset();
  EXPECT_EQ(start(), "");
  EXPECT_EQ(scripted::trace(), "tc") << "a calibrated start only looks at times() and starts";
}

using CalibrationDeathTest = Calibration;

TEST_F(CalibrationDeathTest, FailingTimesEndsTheCalibrationWithAMessage) {
  // Without times() no tick ever advances: the calibration would poll for
  // ever.
  scripted::reset();
  scripted::fail_times(EPERM);
  EXPECT_EXIT(start_comp_counter(), testing::ExitedWithCode(1),
              "^Fatal error.  times\\(\\) failed while calibrating cyc_per_tick: "
              "Operation not permitted\n$");
}

TEST_F(Calibration, ChargesEachTickBetweenTwoWorkingLooksAtTimes) {
  events(100, 4000);
  start();
  // times() failing (errno) at the start, the read or both charges nothing;
  // the next pair that has it charges again.  (clock_t)-1 is also a count
  // (errno, cleared before the call, tells a failure), and a compensated
  // count may go negative.
  const struct {
    int at_start, at_read;
    clock_t from, to;
    uint32_t cycles;
    double count;
  } pairs[] = {{EPERM, 0, 200, 203, 100000, 100000},
               {0, EPERM, 200, 203, 100000, 100000},
               {ENOSYS, ENOSYS, 200, 203, 100000, 100000},
               {0, 0, 200, 203, 100000, 88000},
               {0, 0, -1, 1, 100000, 92000},
               {0, 0, 200, 205, 1000, -19000}};
  for (const auto &p : pairs) {
    scripted::reset();
    scripted::readings({reading(1, 0), reading(1, p.cycles)});
    scripted::ticks({p.from, p.to});
    scripted::fail_times(p.at_start);
    errno = EDOM;
    start_comp_counter();
    EXPECT_EQ(errno, p.at_start ? p.at_start : EDOM) << "a call that succeeds leaves errno";
    scripted::fail_times(p.at_read);
    EXPECT_EQ(get_comp_counter(), p.count) << p.at_start << " " << p.at_read << " " << p.from;
    if (p.at_start == 0 && p.at_read == 0) {
      EXPECT_EQ(scripted::trace(), "tcct") << "times() first, then the counter; the reverse";
    }
  }
}

// Core cycles per tick on scripted readings.  Each round times the short
// and the long chain of dependent additions 32 times (a fenced start and
// read each, four readings a try); the chains' lengths in additions are
// 1000 and 11000 in the first round and grow fourfold each round after.
class CorePerTick : public ScriptedClock {
 protected:
  static const int kTries = 32;
  uint64_t now = 1000;
  // One try whose chains count `short_ticks` and `long_ticks`.
  void script_try(uint64_t short_ticks, uint64_t long_ticks) {
    for (uint64_t ticks : {short_ticks, long_ticks}) {
      scripted::add_reading(now);
      now += ticks;
      scripted::add_reading(now);
      now += 7;  // time passes between the tries as well
    }
  }
  // A round whose every try counts the same.
  void script_round(uint64_t short_ticks, uint64_t long_ticks) {
    for (int i = 0; i < kTries; i++)
      script_try(short_ticks, long_ticks);
  }
};

TEST_F(CorePerTick, ExtraAdditionsOverTheLeastCountsExtraTicks) {
  // The least of each length, wherever in the round it falls and whatever
  // the first try counted: short 500 (try 5), long 1600 (try 20); 10000
  // extra additions over 1100 extra ticks.
  for (int i = 0; i < kTries; i++)
    script_try(i == 5 ? 500 : i == 0 ? 9000 : 600 + i, i == 20 ? 1600 : i == 0 ? 40000 : 2000 + i);
  EXPECT_DOUBLE_EQ(core_per_tick(), 10000.0 / 1100.0);
  EXPECT_EQ(scripted::trace(), std::string(4 * kTries, 'c')) << "one round, fenced reads only";
}

TEST_F(CorePerTick, ChainsGrowUntilTheyDifferByAThousandTicks) {
  // 999 extra ticks are too few: the chains grow fourfold.  Exactly 1000
  // are enough: 40000 extra additions over 1000 ticks.
  script_round(100, 1099);
  script_round(400, 1400);
  EXPECT_EQ(core_per_tick(), 40.0);

  scripted::reset();
  script_round(0, 0);
  script_round(0, 10);
  script_round(0, 999);
  script_round(3000, 5000);  // the fourth round: 640000 extra additions
  EXPECT_EQ(core_per_tick(), 320.0);
}

TEST_F(CorePerTick, StoppedCounterGivesZeroAfterSixRounds) {
  for (int round = 0; round < 6; round++)
    script_round(0, 0);
  EXPECT_EQ(core_per_tick(), 0.0);
  EXPECT_EQ(scripted::trace().size(), 6u * 4 * kTries) << "then it stops reading";
}

}  // namespace
