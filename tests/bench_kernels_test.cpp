// The measured functions compute what they claim: a chain that lost
// instructions, a ring with short cycles or a sum that skipped words would
// make the report's figures wrong without any sign.
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>

#include <vector>

#include "bench.h"
#include "kernels.h"

TEST(BenchKernels, AssemblyChainsRunEveryInstruction) {
  EXPECT_EQ(add_chain(5, 0), 5u);
  EXPECT_EQ(add_chain(5, 3), 5u + 3 * CHAIN_BLOCK);

  uint64_t expect = 7;
  for (int i = 0; i < 2 * CHAIN_BLOCK; i++)
    expect *= 3;
  EXPECT_EQ(imul_chain(7, 3, 2), expect);
  EXPECT_EQ(imul_chain(7, 3, 0), 7u);

  uint64_t thirty = 7;
  for (int i = 0; i < 30; i++)
    thirty *= 3;
  EXPECT_EQ(imul_tens(7, 3, 3), thirty);
  EXPECT_EQ(imul_tens(7, 3, 0), 7u);
}

TEST(BenchKernels, MultiplyChainMultipliesNTimes) {
  uint64_t expect = 11;
  for (int i = 0; i < 1000; i++)
    expect *= MUL_CHAIN_FACTOR;
  EXPECT_EQ(mul_chain(11, 1000), expect);
  EXPECT_EQ(mul_chain(11, 0), 11u);
}

TEST(BenchKernels, RingIsOneCycleThroughEverySlotInRandomOrder) {
  const uint32_t slots = 4096;
  uint32_t *ring = make_ring(slots, 99);
  std::vector<int> seen(slots, 0);
  uint32_t pos = 0;
  int sequential = 0;
  for (uint32_t i = 0; i < slots; i++) {
    ASSERT_LT(pos, slots);
    seen[pos]++;
    uint32_t next = follow_ring(ring, pos, 1);
    sequential += next == pos + 1;
    pos = next;
  }
  EXPECT_EQ(pos, 0u);  // back at the start after exactly `slots` hops
  for (uint32_t i = 0; i < slots; i++)
    EXPECT_EQ(seen[i], 1) << "slot " << i;
  // A prefetcher would hide the misses of a ring walked in address order.
  EXPECT_LT(sequential, 40);
  EXPECT_EQ(follow_ring(ring, 17, (int)slots), 17u);
  free(ring);
}

TEST(BenchKernels, SumReadsEveryWordWhateverTheCount) {
  // Past two strides of the widest loop, so its tail is reached from every
  // remainder; distinct powers of two show any word missed or read twice.
  std::vector<uint64_t> w(40);
  for (size_t i = 0; i < w.size(); i++)
    w[i] = (uint64_t)1 << i;
  for (size_t n = 0; n <= w.size(); n++)
    EXPECT_EQ(sum_words(w.data(), n), ((uint64_t)1 << n) - 1) << n << " words";
  // Unaligned start.
  EXPECT_EQ(sum_words(w.data() + 1, 20), ((uint64_t)1 << 21) - 2);
}

TEST(BenchKernels, RunFormsReadWhatTheySayAndNoMore) {
  // An array of 512 words, every byte 1: a read of more than the array sums
  // the whole array once (the sanitizer build also fails an overrun).
  const uint64_t word = 0x0101010101010101ull;
  setup_kernels(64 * 1024, 4096);
  run_read(1 << 20);
  EXPECT_EQ(last_result(), 512 * word);
  run_read(800);
  EXPECT_EQ(last_result(), 100 * word);

  // The long ring goes on where the last call stopped; the lap starts over.
  run_ring(10000);
  run_ring(5000);
  uint64_t after_two = last_result();
  setup_kernels(64 * 1024, 4096);
  run_ring(15000);
  EXPECT_EQ(last_result(), after_two);
  run_ring_lap(777);
  uint64_t lap = last_result();
  run_ring_lap(777);
  EXPECT_EQ(last_result(), lap);
  run_ring_lap(778);
  EXPECT_NE(last_result(), lap);
  run_ring_small(10000);
  EXPECT_NE(last_result(), 0u);
}

TEST(BenchClocks, PinningLeavesExactlyTheCurrentCpu) {
  int cpu = pin_to_current_cpu();
  ASSERT_GE(cpu, 0);
  cpu_set_t set;
  ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
  EXPECT_EQ(CPU_COUNT(&set), 1);
  EXPECT_TRUE(CPU_ISSET(cpu, &set));
}
