// The default flush's size by where the last-level cache's figure came
// from: the rule on scripted eviction measurements, then the real path on
// made-up machine roots with and without a sysfs cache listing.

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "internal.h"
#include "machine.h"

namespace {

const int MiB = 1 << 20;

// The shares a scripted probe answers for 64, 128 and 192 MiB, and the
// sizes it was asked about.
struct Scripted {
  std::vector<double> shares;
  std::vector<int> asked;
};

double scripted_share(void *state, uint32_t bytes) {
  Scripted *s = static_cast<Scripted *>(state);
  s->asked.push_back((int)(bytes / MiB));
  size_t i = s->asked.size() - 1;
  return i < s->shares.size() ? s->shares[i] : 0;
}

struct Row {
  const char *what;
  int llc;
  const char *source;
  std::vector<double> shares;
  int bytes;
  const char *why;
  std::vector<int> asked;  // MiB
};

const Row rows[] = {
    {"no figure", 0, nullptr, {}, 64 * MiB, "fallback", {}},
    {"listed by the kernel", 3 * MiB, "sysfs", {}, 6 * MiB, "sysfs", {}},
    {"a large listed cache is kept", 480 * MiB, "sysfs", {}, 960 * MiB, "sysfs", {}},
    {"the largest int", INT_MAX, "sysfs", {}, INT_MAX, "sysfs", {}},
    {"no known source", 100 * MiB, nullptr, {}, 200 * MiB, "sysfs", {}},
    {"CPUID's up to 32 MiB", 32 * MiB, "sysconf", {}, 64 * MiB, "sysconf", {}},
    {"64 MiB evicts", 508 * MiB, "sysconf", {0.9}, 64 * MiB, "measured", {64}},
    {"the share is inclusive", 508 * MiB, "sysconf", {0.85}, 64 * MiB, "measured", {64}},
    {"128 MiB evicts", 508 * MiB, "sysconf", {0.5, 0.86}, 128 * MiB, "measured", {64, 128}},
    {"none evicts", 508 * MiB, "sysconf", {0.5, 0.6, 0.7}, 192 * MiB, "sysconf", {64, 128, 192}},
    {"no further than twice the figure", 40 * MiB, "sysconf", {0.1}, 80 * MiB, "sysconf", {64}},
    {"cannot measure", 508 * MiB, "sysconf", {-1}, 64 * MiB, "fallback", {64}},
};

TEST(FlushSizeRule, ByWhereTheFigureCameFrom) {
  for (const Row &row : rows) {
    Scripted s = {row.shares, {}};
    bestof_internal::eviction_probe p = {scripted_share, &s};
    const char *why = nullptr;
    EXPECT_EQ(bestof_internal::flush_size_rule(row.llc, row.source, &p, &why), row.bytes)
        << row.what;
    EXPECT_STREQ(why, row.why) << row.what;
    EXPECT_EQ(s.asked, row.asked) << row.what;
  }
}

// ---- The real path on made-up roots ---------------------------------------------

// Under a root with cpu0's L3 listed, else under an empty one: the figure's
// source and the answer, whatever this machine's sysconf says.
TEST(FlushSizeRule, OnMadeUpRoots) {
  char dir[] = "/tmp/cyclekit_flush_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string root = dir, cache = root + "/sys/devices/system/cpu/cpu0/cache/index0";
  ASSERT_EQ(system(("mkdir -p " + cache + " && cd " + cache +
                    " && echo Unified >type && echo 3 >level && echo 491520K >size")
                       .c_str()),
            0);
  set_machine_root(dir);
  EXPECT_EQ(bestof_flush_bytes(), 960 * MiB);
  EXPECT_STREQ(machine_llc_source(), "sysfs");
  EXPECT_STREQ(bestof_flush_source(), "sysfs");
  ASSERT_EQ(system(("rm -r " + root + "/sys").c_str()), 0);
  int bytes = bestof_flush_bytes();
  long long llc = bestof_llc_bytes();
  std::string why = bestof_flush_source();
  set_machine_root(nullptr);
  rmdir(dir);
  if (llc <= 0) {
    EXPECT_EQ(why, "fallback");
    EXPECT_EQ(bytes, 64 * MiB);
  } else if (llc <= 32 * MiB) {
    EXPECT_EQ(why, "sysconf");
    EXPECT_EQ(bytes, 2 * llc);
  } else {
    // Measured (or not measurable): never more than twice the largest
    // one-core cache.
    EXPECT_NE(why, "sysfs");
    EXPECT_GE(bytes, 64 * MiB);
    EXPECT_LE(bytes, 192 * MiB);
  }
}

}  // namespace
