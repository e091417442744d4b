// The counter's step, computed from scripted readings: the clock module is
// built with its raw read served by the test (support/scripted.h).

#include <gtest/gtest.h>

#include <numeric>
#include <string>
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

// Readings of a counter of step s (its lattice k*s, rounded to whole
// ticks), k advancing by the numbers of steps given, in turn.
void script_lattice(double s, const std::vector<int> &advances) {
  uint64_t k = 0;
  for (int i = 0; i < kReadings; i++) {
    scripted::add_reading(1000 + (uint64_t)((double)k * s + 0.5));
    k += (uint64_t)advances[(size_t)i % advances.size()];
  }
}

// Repeating patterns of 1 to 5 steps, each of 4 to 30 advances, from a
// fixed seed.  A pattern whose advances share a factor is skipped: that
// counter really does move by whole multiples of it.
std::vector<std::vector<int>> patterns(int how_many) {
  std::vector<std::vector<int>> all;
  uint32_t seed = 12345;
  auto next = [&seed](int below) {
    seed = seed * 1103515245u + 12345u;
    return (int)((seed >> 16) % (uint32_t)below);
  };
  while ((int)all.size() < how_many) {
    std::vector<int> p((size_t)(4 + next(27)));
    int shared = 0;
    for (int &a : p) {
      a = 1 + next(5);
      shared = std::gcd(shared, a);
    }
    if (shared == 1)
      all.push_back(p);
  }
  return all;
}

std::string text(const std::vector<int> &v) {
  std::string t;
  for (int a : v)
    t += std::to_string(a);
  return t;
}

class Step : public ::testing::Test {
 protected:
  void SetUp() override { scripted::reset(); }
};

// Readings advancing by the differences given, in turn: the step.
TEST_F(Step, AdvancesGiveTheirStep) {
  std::vector<uint64_t> rare_stray(60, 26), coarse(30, 0);
  rare_stray.resize(98, 52);
  rare_stray.insert(rare_stray.end(), {13, 39});
  coarse[9] = coarse[29] = 26, coarse[19] = 52;
  const struct {
    const char *what;
    std::vector<uint64_t> diffs;
    double step;
  } cases[] = {
      // Advances of one to three steps, as reads a varying delay apart see
      // them, and now and then a reading caught a tick off.
      {"strays 1 and 25 among 26s",
       {26, 52, 26, 78, 26, 52, 1, 25, 26, 52, 78, 26, 26, 78, 52},
       26},
      // Every advance is within a tick of a multiple of 1.5, but so it is of
      // any step that small.
      {"a step of 3 split as 1 and 2", {3, 6, 3, 9, 3, 6, 1, 2, 3, 6, 9, 3, 3, 9, 6}, 3},
      // 30 is a tick off 7 steps of 29/7, less a few ulps where the product
      // is rounded (x86-64): a tick off is no multiple, on every processor.
      {"strays 30 and 28 among 29s",
       {29, 58, 29, 87, 29, 58, 30, 28, 29, 58, 87, 29, 29, 87, 58},
       29},
      // Far fewer than the one-step advances: no evidence of a step of 13.
      {"a 52 caught as 13 and 39 once in a hundred", rare_stray, 26},
      // A counter slower than the reads shows the same value again and
      // again; an unchanged reading is no advance.
      {"a coarse counter read many times per advance", coarse, 26},
      {"every difference a delay makes, one apart", {3, 4, 5, 6, 7, 5, 4}, 1},
      {"back-to-back reads one tick apart", {1}, 1},
      // Neighbours well above a stray's share are a step of 1, not strays
      // around a step of 4.
      {"neighbours a third as common", {3, 4, 4, 4, 5}, 1},
  };
  for (const auto &c : cases) {
    scripted::reset();
    script_advances(c.diffs);
    EXPECT_EQ(counter_step(), c.step) << c.what;
  }
}

// Readings on a lattice k*s, k advancing by the steps given: s.
TEST_F(Step, LatticesGiveTheirSpacing) {
  std::vector<int> rare(40, 2);
  rare[39] = 1;
  const struct {
    double s;
    std::vector<int> advances;
    double within;
  } cases[] = {
      // 24.5 ticks: one step shows as 24 or 25, two as 49, three as 73 or 74.
      {24.5, {1, 2, 1, 3, 1, 1, 2}, 0.01},
      // Mostly two and four steps: rare single steps (one in ten, in twenty,
      // in forty) still make every reading a multiple of s, not of 2s.
      {26, {2, 4, 2, 2, 4, 2, 2, 4, 2, 1}, 0},
      {26.25, {2, 4, 2, 2, 4, 2, 2, 4, 2, 3, 2, 2, 4, 2, 2, 4, 2, 2, 4, 1}, 0.01},
      {26, rare, 0},
  };
  for (const auto &c : cases) {
    scripted::reset();
    script_lattice(c.s, c.advances);
    EXPECT_NEAR(counter_step(), c.s, c.within) << c.s << ", advances " << text(c.advances);
  }
}

TEST_F(Step, FractionalStepAdvancingOneToFiveSteps) {
  // 26.25 ticks: a five-step advance is 131 or 132 ticks, whose nearest
  // whole number of steps is 5 only when rounded, not truncated.
  std::vector<int> advances = {1, 3, 2, 5, 1, 4, 2, 1, 5, 3};
  script_lattice(26.25, advances);
  // Every advance is within a tick of its steps, so the figure is the whole
  // span over the steps it covers: the rounding of the readings cancels.
  // The first 2048 advances are looked at, from the 2049 first readings.
  uint64_t steps = 0;
  for (int i = 0; i < 2048; i++)
    steps += (uint64_t)advances[(size_t)i % advances.size()];
  double span = (double)(uint64_t)((double)steps * 26.25 + 0.5);
  double step = counter_step();
  EXPECT_EQ(step, span / (double)steps);
  EXPECT_NEAR(step, 26.25, 0.001);
}

TEST_F(Step, RepeatingPatternsOfOneToFiveStepsGiveTheStep) {
  // The lattice's spacing, whatever the pattern: never a multiple of it, and
  // within a thousandth of a tick, from 100,000 readings of each.
  for (double s : {3.7, 26.25, 7.3, 24.5}) {
    for (const std::vector<int> &p : patterns(27)) {
      scripted::reset();
      script_lattice(s, p);
      EXPECT_NEAR(counter_step(), s, 0.001) << "step " << s << ", advances " << text(p);
    }
  }
}

TEST_F(Step, ReadsAreSpreadOverVaryingDelays) {
  // A counter of step 1 read at a fixed period shows one difference, which
  // would pass for its step; the delays between reads must vary enough to
  // show its neighbours.  Here each read comes 20 ticks plus one per
  // iteration of delay after the last.
  static uint64_t now;
  now = 5000;
  scripted::add_reading(now);
  scripted::on_delay([](int spins) { scripted::add_reading(now += 20 + (uint64_t)spins); });
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
