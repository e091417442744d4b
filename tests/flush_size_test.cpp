// bestof_flush_bytes on scripted last-level cache sizes: bestof_llc_bytes is
// replaced at link time (-Wl,--wrap), since the real one reads this
// machine's sysfs.

#include <gtest/gtest.h>
#include <limits.h>

#include "bestof.h"

namespace {
int llc = 0;
}  // namespace

extern "C" int __wrap_bestof_llc_bytes(void) { return llc; }

namespace {

int flush_for(int cache) {
  llc = cache;
  return bestof_flush_bytes();
}

TEST(FlushSize, TwiceTheLastLevelCache) {
  EXPECT_EQ(flush_for(48 << 10), 96 << 10);
  EXPECT_EQ(flush_for(32 << 20), 64 << 20);
  EXPECT_EQ(flush_for(1), 2);
  EXPECT_EQ(flush_for(INT_MAX / 2), INT_MAX - 1) << "the largest cache that doubles exactly";
}

TEST(FlushSize, ACacheAboveOneGibibyteGivesTheLargestInt) {
  // 2 x 1.5 GiB overflows an int: it would read as a negative size, which
  // set_bestof_cache_sizee refuses, leaving the flush at 512 KiB.
  EXPECT_EQ(flush_for(3 << 29), INT_MAX);
  EXPECT_EQ(flush_for(INT_MAX / 2 + 1), INT_MAX);
  EXPECT_EQ(flush_for(INT_MAX), INT_MAX);
}

TEST(FlushSize, UnknownCacheGivesTheFixedSize) {
  EXPECT_EQ(flush_for(0), BESTOF_FLUSH_FALLBACK_BYTES);
  EXPECT_EQ(flush_for(-1), BESTOF_FLUSH_FALLBACK_BYTES);
  EXPECT_EQ(flush_for(INT_MIN), BESTOF_FLUSH_FALLBACK_BYTES);
  EXPECT_EQ(BESTOF_FLUSH_FALLBACK_BYTES, 64 << 20);
}

}  // namespace
