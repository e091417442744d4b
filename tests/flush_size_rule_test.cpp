// The default flush's size by where the last-level cache's figure came
// from: the rule on scripted eviction measurements, then the real path on
// made-up machine roots with and without a sysfs cache listing.

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
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

class FlushRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/cyclekit_flush_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    set_machine_root(root_.c_str());
  }
  void TearDown() override {
    set_machine_root(nullptr);
    EXPECT_EQ(system(("rm -rf '" + root_ + "'").c_str()), 0);
  }
  void put(const std::string &path, const std::string &text) {
    std::string full = root_ + path;
    for (size_t i = root_.size() + 1; (i = full.find('/', i)) != std::string::npos; i++)
      mkdir(full.substr(0, i).c_str(), 0755);
    std::ofstream(full) << text << "\n";
  }
  std::string root_;
};

TEST_F(FlushRoot, AListedCacheIsTheKernels) {
  const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index0/";
  put(dir + "type", "Unified");
  put(dir + "level", "3");
  put(dir + "size", "491520K");
  EXPECT_EQ(bestof_flush_bytes(), 960 * MiB);
  EXPECT_STREQ(machine_llc_source(), "sysfs");
  EXPECT_STREQ(bestof_flush_source(), "sysfs");
}

// Without a listing the figure is sysconf's, or none: what follows depends
// on this machine's figure, measured when it is above 32 MiB.
TEST_F(FlushRoot, WithoutAListingTheFigureIsSysconfs) {
  int bytes = bestof_flush_bytes();
  long long llc = bestof_llc_bytes();
  std::string source = bestof_flush_source();
  if (llc <= 0) {
    EXPECT_EQ(machine_llc_source(), nullptr);
    EXPECT_EQ(source, "fallback");
    EXPECT_EQ(bytes, 64 * MiB);
    return;
  }
  EXPECT_STREQ(machine_llc_source(), "sysconf");
  if (llc <= 32 * MiB) {
    EXPECT_EQ(source, "sysconf");
    EXPECT_EQ(bytes, 2 * llc);
    return;
  }
  EXPECT_TRUE(source == "measured" || source == "sysconf" || source == "fallback") << source;
  EXPECT_GE(bytes, 64 * MiB);
  EXPECT_LE(bytes, 192 * MiB) << "never more than twice the largest one-core cache";
  EXPECT_EQ(bytes % (64 * MiB) == 0 || bytes == 2 * llc, true) << bytes;
}

}  // namespace
