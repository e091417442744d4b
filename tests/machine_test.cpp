// The last-level cache's size against what the kernel lists in sysfs, read
// here on its own.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "bestof.h"

namespace {

// The size of cpu0's data or unified cache of the highest level listed, in
// bytes; -1 if sysfs lists no cache at all.
long long sysfs_largest_cache() {
  const std::string dir = "/sys/devices/system/cpu/cpu0/cache/index";
  long long best = -1;
  int best_level = 0;
  for (int i = 0;; i++) {
    std::ifstream type_file(dir + std::to_string(i) + "/type");
    std::string type;
    if (!(type_file >> type))
      break;
    if (best < 0)
      best = 0;
    if (type != "Data" && type != "Unified")
      continue;
    int level = 0;
    std::string size;
    std::ifstream(dir + std::to_string(i) + "/level") >> level;
    std::ifstream(dir + std::to_string(i) + "/size") >> size;
    long long bytes = std::stoll(size);
    switch (size.back()) {
      case 'K':
        bytes *= 1024;
        break;
      case 'M':
        bytes *= 1024 * 1024;
        break;
    }
    if (level > best_level || (level == best_level && bytes > best)) {
      best_level = level;
      best = bytes;
    }
  }
  return best;
}

TEST(LastLevelCache, AgreesWithSysfs) {
  long long listed = sysfs_largest_cache();
  int bytes = bestof_llc_bytes();
  EXPECT_GE(bytes, 0);
  if (listed <= 0)
    GTEST_SKIP() << "sysfs lists no data or unified cache here; bestof_llc_bytes gave " << bytes;
  EXPECT_EQ(bytes, listed);
  EXPECT_EQ(bestof_llc_bytes(), bytes) << "a second call reads the same";
}

}  // namespace
