// Core cycles per tick, the fenced counter pair and the counter's step, on
// the real counter of this machine.  Nothing here asserts a speed: figures
// are compared with each other (the least of many against the least of
// many) or with what any working processor gives.

#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <map>
#include <vector>

#include "bestof.h"
#include "clock.h"

namespace {

#if defined(__i386__) || defined(__x86_64__)
constexpr bool kX86 = true;
#else
constexpr bool kX86 = false;
#endif

TEST(CorePerTick, PlausibleAndRepeatable) {
  double a = core_per_tick();
  ASSERT_TRUE(isfinite(a)) << a;
  ASSERT_GT(a, 0.0) << "the counter advanced across the chains";
  if (!kX86)
    return;  // emulated processors give whatever their emulation gives
  // A core between a fifth and eight times the counter's rate covers every
  // x86 of the last twenty years, VMs included.
  EXPECT_GT(a, 0.2);
  EXPECT_LT(a, 8.0);
  // The machine is shared: a neighbour may slow one call; retry before
  // calling two calls apart.
  double b = 0.0;
  for (int attempt = 0; attempt < 4; attempt++) {
    a = core_per_tick();
    b = core_per_tick();
    if (fabs(a - b) <= 0.03 * a)
      break;
  }
  EXPECT_NEAR(a, b, 0.03 * a);
}

TEST(FencedCounter, NonNegativeWholeAndMonotoneAgainstOneStart) {
  start_fenced_counter();
  double last = get_fenced_counter();
  for (int i = 0; i < 20000; i++) {
    double now = get_fenced_counter();
    ASSERT_GE(now, last) << "read " << i;
    ASSERT_EQ(now, floor(now)) << "counts are whole numbers";
    last = now;
  }
  EXPECT_GE(last, 0.0);
  EXPECT_LT(last, 1e12) << "the start reading was taken";
}

// The fenced and plain pairs share one start reading: either start resets
// what either read counts from.
TEST(FencedCounter, SharesTheStartReadingWithThePlainPair) {
  const double far = 1e6;  // ticks: a millisecond or more on every counter
  start_counter();
  while (get_counter() < far) {
  }
  start_fenced_counter();
  EXPECT_LT(get_counter(), far);

  start_fenced_counter();
  while (get_fenced_counter() < far) {
  }
  start_counter();
  EXPECT_LT(get_fenced_counter(), far);
}

TEST(FencedCounter, LeastPairNeverBelowThePlainPairs) {
  double plain = INFINITY, fenced = INFINITY;
  for (int i = 0; i < 5000; i++) {
    start_counter();
    plain = fmin(plain, get_counter());
    start_fenced_counter();
    fenced = fmin(fenced, get_fenced_counter());
  }
  EXPECT_GE(plain, 0.0);
  if (kX86) {
    EXPECT_GE(fenced, plain) << "the fences cost something";
  } else {
    // Without x86 fences the two pairs may be the same code: equal up to
    // one step of the counter.
    EXPECT_GE(fenced, plain - counter_step());
  }
}

// A ring of cache lines in random order over twice the last-level cache:
// every step of a walk is a load that misses the caches, and the next
// load's address is the one before's value.
class Ring {
 public:
  struct Node {
    Node *next;
    char pad[64 - sizeof(Node *)];
  };

  explicit Ring(size_t bytes) : lines_(bytes / sizeof(Node)) {
    std::vector<uint32_t> order(lines_.size());
    for (size_t i = 0; i < order.size(); i++)
      order[i] = (uint32_t)i;
    // One cycle through every line (Sattolo's shuffle).
    srand(12345);
    for (size_t i = order.size() - 1; i > 0; i--) {
      size_t j = (size_t)rand() % i;
      std::swap(order[i], order[j]);
    }
    for (size_t i = 0; i < order.size(); i++)
      lines_[order[i]].next = &lines_[order[(i + 1) % order.size()]];
  }
  Node *at(size_t i) { return &lines_[i % lines_.size()]; }

 private:
  std::vector<Node> lines_;
};

// Eight dependent loads.
#define WALK(p)               \
  for (int k = 0; k < 8; k++) \
  p = p->next

static double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The fenced pair's contract: the closing read waits for the measured loads,
// so a short walk counts what its loads take.  What they take is measured
// apart, by one long walk whose few loads in flight at the closing read are
// lost in the thousand before.  How far the plain read runs ahead differs
// from processor to processor (on some it waits for most of the walk), so it
// is recorded beside the fenced figure, never asserted on.
TEST(FencedCounter, CountsTheLoadsThatThePlainReadRunsAhead) {
  if (!kX86)
    GTEST_SKIP() << "only x86 reads run ahead of loads here (emulated processors do not)";
  int llc = bestof_llc_bytes();
  size_t bytes = llc > 0 ? 2 * (size_t)llc : (size_t)64 << 20;
  if (bytes > ((size_t)256 << 20))
    bytes = (size_t)256 << 20;
  Ring ring(bytes);
  volatile uintptr_t sink = 0;
  size_t at = 0;
  // Eight loads of a long walk, at the least of a few walks.
  double long_per_8 = INFINITY;
  for (int i = 0; i < 5; i++) {
    Ring::Node *p = ring.at(at += 7919);
    start_counter();
    for (int j = 0; j < 128; j++)
      WALK(p);
    long_per_8 = fmin(long_per_8, get_counter() / 128);
    sink = sink + (uintptr_t)p;
  }
  // A median, not a least: of two thousand short walks a few find all
  // eight lines still cached.
  std::vector<double> plain, fenced;
  for (int i = 0; i < 2000; i++) {
    // Each walk starts at a line no earlier walk is likely to have touched.
    Ring::Node *p = ring.at(at += 7919);
    start_counter();
    WALK(p);
    plain.push_back(get_counter());
    sink = sink + (uintptr_t)p;
    p = ring.at(at += 7919);
    start_fenced_counter();
    WALK(p);
    fenced.push_back(get_fenced_counter());
    sink = sink + (uintptr_t)p;
  }
  double plain_median = median(plain), fenced_median = median(fenced);
  RecordProperty("long_walk_per_8_loads", (int)long_per_8);
  RecordProperty("plain_median", (int)plain_median);
  RecordProperty("fenced_median", (int)fenced_median);
  EXPECT_GT(fenced_median, 0.5 * long_per_8)
      << "eight loads take " << long_per_8 << " ticks in a long walk; fenced median "
      << fenced_median << ", plain median " << plain_median;
}

TEST(CounterStep, PositiveAndEveryCommonDifferenceIsAMultiple) {
  double step = counter_step();
  ASSERT_TRUE(isfinite(step)) << step;
  ASSERT_GE(step, 1.0) << "a counter that advances does so by at least one tick";
  if (!kX86)
    return;
  std::map<uint64_t, int> seen;
  int n = 0;
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  uint64_t prev = (uint64_t)hi << 32 | lo;
  for (int i = 0; i < 20000; i++) {
    access_counter(&hi, &lo);
    uint64_t now = (uint64_t)hi << 32 | lo;
    if (now != prev) {
      seen[now - prev]++;
      n++;
    }
    prev = now;
  }
  uint64_t most_frequent = 0;
  int most = 0;
  for (auto [d, count] : seen) {
    if (count > most) {
      most = count;
      most_frequent = d;
    }
    if (count * 20 < n)
      continue;  // under 5 %: a stray, not a step
    // A fractional step (a scaled counter) shows its multiples rounded to
    // whole ticks.
    double multiple = floor((double)d / step + 0.5);
    EXPECT_LE(fabs((double)d - multiple * step), 1.0)
        << d << " ticks (" << count << " of " << n << ") is no multiple of the step " << step;
  }
  // Back-to-back reads advance most often by one step (a coarse counter) or
  // by the loop's own period (a fine one): either way no less than the step.
  // Not the smallest common advance: some hosts split a step now and then
  // (1 and 25 ticks for one of 26), in 7 % of advances on one we saw.
  EXPECT_LE(step, most_frequent + 1.0)
      << "the step cannot exceed the advance the counter shows most often";
}

// A counter of step 1 read a varying delay apart shows advances of every
// size in a range; a coarser one only its multiples.
TEST(CounterStep, OneOnlyWhereAdvancesOfNeighbouringSizesOccur) {
  if (!kX86)
    GTEST_SKIP() << "the delays below span a few steps only of a counter as fast as the core";
  double step = counter_step();
  std::map<uint64_t, int> seen;
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  uint64_t prev = (uint64_t)hi << 32 | lo;
  for (int i = 0; i < 20000; i++) {
    for (int k = 0; k < i % 97; k++)
      __asm__ volatile("");
    access_counter(&hi, &lo);
    uint64_t now = (uint64_t)hi << 32 | lo;
    seen[now - prev]++;
    prev = now;
  }
  // Neighbours of comparable frequency: a coarse counter's split steps put
  // strays beside its multiples, but far fewer than the multiples themselves.
  bool three_neighbours = false;
  for (auto [d, count] : seen) {
    int a = count, b = seen.count(d + 1) ? seen[d + 1] : 0, c = seen.count(d + 2) ? seen[d + 2] : 0;
    int least = std::min({a, b, c}), most = std::max({a, b, c});
    if (least >= 20 && 4 * least >= most)
      three_neighbours = true;
  }
  EXPECT_EQ(step < 1.5, three_neighbours) << "step " << step;
}

}  // namespace
