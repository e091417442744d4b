// The machine's facts read from a made-up /sys under a scratch root: the
// last-level cache's size, the clocksource, the governor and turbo state.

#include "machine.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

const char *const CACHE = "/sys/devices/system/cpu/cpu0/cache/index";
const char *const CPU = "/sys/devices/system/cpu/";

// A fresh, empty root for each test; the real root again afterwards.
class FakeSysfs : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/cyclekit_machine_XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    root_ = dir;
    set_machine_root(root_.c_str());
  }
  void TearDown() override {
    set_machine_root(nullptr);
    std::string cmd = "rm -rf '" + root_ + "'";
    EXPECT_EQ(system(cmd.c_str()), 0);
  }

  // Writes text and a newline to root + path, making its folders.
  void put(const std::string &path, const std::string &text) {
    std::string full = root_ + path;
    for (size_t i = root_.size() + 1; (i = full.find('/', i)) != std::string::npos; i++)
      mkdir(full.substr(0, i).c_str(), 0755);
    std::ofstream(full) << text << "\n";
  }
  void cache(int index, const char *type, int level, const char *size) {
    std::string dir = CACHE + std::to_string(index);
    put(dir + "/type", type);
    put(dir + "/level", std::to_string(level));
    put(dir + "/size", size);
  }

  std::string root_;
};

// What sysconf says, as bestof_llc_bytes falls back to it.
long long sysconf_llc() {
#if defined(_SC_LEVEL4_CACHE_SIZE)
  for (int name : {_SC_LEVEL4_CACHE_SIZE, _SC_LEVEL3_CACHE_SIZE, _SC_LEVEL2_CACHE_SIZE}) {
    long v = sysconf(name);
    if (v > 0)
      return v > INT_MAX ? INT_MAX : v;
  }
#endif
  return 0;
}

// ---- Last-level cache ------------------------------------------------------------

TEST_F(FakeSysfs, ListedCacheWinsOverSysconf) {
  cache(0, "Data", 1, "48K");
  cache(1, "Instruction", 1, "32K");
  cache(2, "Unified", 2, "2048K");
  cache(3, "Unified", 3, "3M");
  EXPECT_EQ(bestof_llc_bytes(), 3 << 20);
}

TEST_F(FakeSysfs, HighestLevelWinsOverALargerLowerOne) {
  cache(0, "Unified", 3, "2M");
  cache(1, "Unified", 2, "8M");
  EXPECT_EQ(bestof_llc_bytes(), 2 << 20);
}

TEST_F(FakeSysfs, InstructionCachesDoNotCount) {
  cache(0, "Data", 2, "1M");
  cache(1, "Instruction", 3, "64M");
  EXPECT_EQ(bestof_llc_bytes(), 1 << 20);
}

TEST_F(FakeSysfs, LargestOfOneLevelWinsInEitherOrder) {
  cache(0, "Unified", 3, "1M");
  cache(1, "Unified", 3, "4M");
  EXPECT_EQ(bestof_llc_bytes(), 4 << 20);
  cache(0, "Unified", 3, "4M");
  cache(1, "Unified", 3, "1M");
  EXPECT_EQ(bestof_llc_bytes(), 4 << 20);
}

TEST_F(FakeSysfs, SuffixesAreBinaryMultiples) {
  cache(0, "Unified", 3, "512");
  EXPECT_EQ(bestof_llc_bytes(), 512);
  cache(0, "Unified", 3, "7K");
  EXPECT_EQ(bestof_llc_bytes(), 7 << 10);
  cache(0, "Unified", 3, "5M");
  EXPECT_EQ(bestof_llc_bytes(), 5 << 20);
  cache(0, "Unified", 3, "1G");
  EXPECT_EQ(bestof_llc_bytes(), 1 << 30);
}

TEST_F(FakeSysfs, SizesBeyondIntAreClampedNeverShrunk) {
  cache(0, "Unified", 3, "2G");
  EXPECT_EQ(bestof_llc_bytes(), INT_MAX);
  cache(0, "Unified", 3, "2097152K");  // 2^31 exactly
  EXPECT_EQ(bestof_llc_bytes(), INT_MAX);
  cache(0, "Unified", 3, "2147483647");
  EXPECT_EQ(bestof_llc_bytes(), INT_MAX);
  cache(0, "Unified", 3, "2097151K");
  EXPECT_EQ(bestof_llc_bytes(), 2097151 << 10);
}

TEST_F(FakeSysfs, OverflowingDigitsAreClampedNotWrapped) {
  // Each beside a smaller cache of the same level, which must not win.
  cache(1, "Unified", 3, "8M");
  cache(0, "Unified", 3, "99999999999999999999999K");
  EXPECT_EQ(bestof_llc_bytes(), INT_MAX);
  cache(0, "Unified", 3, "9007199254740992K");
  EXPECT_EQ(bestof_llc_bytes(), INT_MAX);
  cache(0, "Unified", 3, "18446744073709551617");
  EXPECT_EQ(bestof_llc_bytes(), INT_MAX);
}

TEST_F(FakeSysfs, UnreadableSizesAreSkipped) {
  cache(0, "Unified", 3, "big");
  cache(1, "Unified", 2, "256K");
  EXPECT_EQ(bestof_llc_bytes(), 256 << 10);
}

TEST_F(FakeSysfs, NothingListedFallsBackToSysconf) {
  EXPECT_EQ(bestof_llc_bytes(), sysconf_llc());
  cache(0, "Instruction", 1, "32K");
  EXPECT_EQ(bestof_llc_bytes(), sysconf_llc());
}

// ---- Clocksource, governor, turbo -------------------------------------------------

TEST_F(FakeSysfs, ClocksourceAndGovernorAreTheirFilesFirstLine) {
  char name[32];
  EXPECT_EQ(machine_clocksource(name, sizeof name), 0);
  EXPECT_EQ(machine_governor(name, sizeof name), 0);
  put("/sys/devices/system/clocksource/clocksource0/current_clocksource", "hpet");
  put(std::string(CPU) + "cpu0/cpufreq/scaling_governor", "powersave");
  ASSERT_EQ(machine_clocksource(name, sizeof name), 1);
  EXPECT_STREQ(name, "hpet");
  ASSERT_EQ(machine_governor(name, sizeof name), 1);
  EXPECT_STREQ(name, "powersave");
  char small[4];
  ASSERT_EQ(machine_governor(small, sizeof small), 1);
  EXPECT_STREQ(small, "pow");
}

TEST_F(FakeSysfs, AnEmptyFileIsUnknown) {
  char name[32];
  put("/sys/devices/system/clocksource/clocksource0/current_clocksource", "");
  EXPECT_EQ(machine_clocksource(name, sizeof name), 0);
}

TEST_F(FakeSysfs, TurboFromIntelPstateFirstThenBoost) {
  EXPECT_EQ(machine_turbo(), -1);
  put(std::string(CPU) + "cpufreq/boost", "1");
  EXPECT_EQ(machine_turbo(), 1);
  put(std::string(CPU) + "cpufreq/boost", "0");
  EXPECT_EQ(machine_turbo(), 0);
  put(std::string(CPU) + "intel_pstate/no_turbo", "0");
  EXPECT_EQ(machine_turbo(), 1);
  put(std::string(CPU) + "intel_pstate/no_turbo", "1");
  EXPECT_EQ(machine_turbo(), 0);
}

TEST_F(FakeSysfs, ATooLongRootIsRefused) {
  put(std::string(CPU) + "cpufreq/boost", "1");
  std::string long_root(300, 'x');
  set_machine_root(long_root.c_str());
  EXPECT_EQ(machine_turbo(), 1) << "the previous root stays";
}

// ---- The real machine ---------------------------------------------------------------

// The instruction each processor's counter header reads with: the one test
// that the chain in clock.cpp picked the header of the processor built for.
const char *counter_instruction() {
#if defined(__i386__) || defined(__x86_64__)
  return "RDTSC";
#elif defined(__aarch64__)
  return "CNTVCT_EL0";
#elif defined(__riscv)
  return "rdtime";
#elif defined(__powerpc64__)
  return "mftb";
#elif defined(__s390x__)
  return "STCKF";
#else
  return "CLOCK_MONOTONIC_RAW";
#endif
}

TEST(Machine, TheCounterIsTheOneOfTheProcessorBuiltFor) {
  EXPECT_NE(strstr(machine_counter_name(), counter_instruction()), nullptr)
      << machine_counter_name();
#if defined(__i386__) || defined(__x86_64__)
  EXPECT_STREQ(machine_counter_clocksource(), "tsc");
#else
  EXPECT_EQ(machine_counter_clocksource(), nullptr);
#endif
}

TEST(Machine, RealFactsAreWithinTheirRanges) {
  EXPECT_GE(bestof_llc_bytes(), 0);
  EXPECT_GE(machine_turbo(), -1);
  EXPECT_LE(machine_turbo(), 1);
  EXPECT_GE(machine_counter_invariant(), -1);
  EXPECT_GE(machine_hypervisor(), -1);
  ASSERT_NE(machine_counter_name(), nullptr);
  EXPECT_GT(strlen(machine_counter_name()), 0u);
}

}  // namespace
