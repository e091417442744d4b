// The machine's facts read from a made-up /sys and /proc under a scratch
// root: the last-level cache's size, the clocksource, the governor, turbo
// state and the kernel command line; and a real FIFO in a file's place.

#include "machine.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

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
  // A cache index; level 0 or a null size leaves out that file.
  void cache(int index, const char *type, int level, const char *size) {
    std::string dir = CACHE + std::to_string(index);
    put(dir + "/type", type);
    if (level > 0)
      put(dir + "/level", std::to_string(level));
    if (size != nullptr)
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

struct Cache {
  int index;
  const char *type;
  int level;         // 0: no level file
  const char *size;  // null: no size file
};
struct CacheCase {
  std::vector<Cache> listed;
  int bytes;  // -1: what sysconf says
};
const CacheCase kCacheCases[] = {
    // The listed cache wins over sysconf: the highest level, data or unified.
    {{{0, "Data", 1, "48K"},
      {1, "Instruction", 1, "32K"},
      {2, "Unified", 2, "2048K"},
      {3, "Unified", 3, "3M"}},
     3 << 20},
    {{{0, "Unified", 3, "2M"}, {1, "Unified", 2, "8M"}}, 2 << 20},
    {{{0, "Data", 2, "1M"}, {1, "Instruction", 3, "64M"}}, 1 << 20},
    // The largest of one level, in either order.
    {{{0, "Unified", 3, "1M"}, {1, "Unified", 3, "4M"}}, 4 << 20},
    {{{0, "Unified", 3, "4M"}, {1, "Unified", 3, "1M"}}, 4 << 20},
    // Binary multiples; beyond INT_MAX clamped, never shrunk or wrapped.
    {{{0, "Unified", 3, "512"}}, 512},
    {{{0, "Unified", 3, "7K"}}, 7 << 10},
    {{{0, "Unified", 3, "5M"}}, 5 << 20},
    {{{0, "Unified", 3, "1G"}}, 1 << 30},
    {{{0, "Unified", 3, "2G"}}, INT_MAX},
    {{{0, "Unified", 3, "2097152K"}}, INT_MAX},  // 2^31 exactly
    {{{0, "Unified", 3, "2147483647"}}, INT_MAX},
    {{{0, "Unified", 3, "2097151K"}}, 2097151 << 10},
    {{{1, "Unified", 3, "8M"}, {0, "Unified", 3, "99999999999999999999999K"}}, INT_MAX},
    {{{1, "Unified", 3, "8M"}, {0, "Unified", 3, "9007199254740992K"}}, INT_MAX},
    {{{1, "Unified", 3, "8M"}, {0, "Unified", 3, "18446744073709551617"}}, INT_MAX},
    // An index that cannot be read is skipped, and the walk goes on.
    {{{0, "Unified", 3, "big"}, {1, "Unified", 2, "256K"}}, 256 << 10},
    {{{0, "Unified", 0, "64M"}, {1, "Unified", 2, "3M"}}, 3 << 20},
    {{{0, "Unified", 3, nullptr}, {1, "Unified", 2, "3M"}}, 3 << 20},
    // Nothing listed: sysconf.
    {{}, -1},
    {{{0, "Instruction", 1, "32K"}}, -1},
};

TEST_F(FakeSysfs, LastLevelCache) {
  std::string base = root_;
  for (size_t i = 0; i < sizeof kCacheCases / sizeof kCacheCases[0]; i++) {
    root_ = base + "/" + std::to_string(i);
    mkdir(root_.c_str(), 0755);
    set_machine_root(root_.c_str());
    for (const Cache &c : kCacheCases[i].listed)
      cache(c.index, c.type, c.level, c.size);
    int want = kCacheCases[i].bytes;
    EXPECT_EQ(bestof_llc_bytes(), want < 0 ? sysconf_llc() : want) << "case " << i;
  }
  root_ = base;
}

// cpu0's caches with how many CPUs share each, by the list the kernel gives;
// an index with no size is left out, and the count is of all listed.
TEST_F(FakeSysfs, CachesWithTheCpusSharingThem) {
  const struct {
    const char *list;
    int sharing;
  } lists[] = {{"0", 1}, {"0-1", 2}, {"0,2-3,8", 4}, {"3-1", 0}, {"0-x", 0}, {"", 0}};
  int i = 0;
  for (const auto &l : lists) {
    cache(i, "Unified", 2, "1024K");
    put(std::string(CACHE) + std::to_string(i++) + "/shared_cpu_list", l.list);
  }
  cache(i++, "Data", 1, nullptr);
  cache(i, "Instruction", 1, "32K");
  machine_cache got[8];
  ASSERT_EQ(machine_caches(got, 8), 7);
  for (size_t j = 0; j < sizeof lists / sizeof lists[0]; j++) {
    EXPECT_EQ(got[j].num_sharing, lists[j].sharing) << lists[j].list;
    EXPECT_EQ(got[j].size, 1 << 20);
    EXPECT_EQ(got[j].level, 2);
  }
  EXPECT_STREQ(got[6].type, "Instruction");
  EXPECT_EQ(got[6].num_sharing, 0) << "no list";
  EXPECT_EQ(machine_caches(got, 2), 7) << "the room does not change the count";
  set_machine_root((root_ + "/none").c_str());
  EXPECT_EQ(machine_caches(got, 8), 0);
}

// ---- Clocksource, governor, turbo -------------------------------------------------

TEST_F(FakeSysfs, ClocksourceAndGovernorAreTheirFilesFirstLineIfAny) {
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
  put("/sys/devices/system/clocksource/clocksource0/current_clocksource", "");
  EXPECT_EQ(machine_clocksource(name, sizeof name), 0) << "an empty file is unknown";
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
  std::string long_root(300, 'x');
  set_machine_root(long_root.c_str());
  EXPECT_EQ(machine_turbo(), 0) << "a root too long is refused: the previous one stays";
}

// ---- The kernel command line, and a FIFO in a file's place ---------------------

TEST_F(FakeSysfs, CommandLineWordsThatChooseTheClocksource) {
  const struct {
    const char *cmdline;
    int size;
    const char *words;  // null: none
  } cases[] = {
      {"BOOT_IMAGE=/vmlinuz ro clocksource=kvm-clock quiet tsc=unstable", 64,
       "clocksource=kvm-clock tsc=unstable"},
      {"tsc=reliable\tquiet", 64, "tsc=reliable"},
      {"ro clocksource= tsc=nowatchdog noclocksource=hpet", 64, nullptr},
      {"clocksource=acpi_pm tsc=unstable", 22, "clocksource=acpi_pm"},  // no room for both
  };
  char words[64];
  EXPECT_EQ(machine_cmdline_clocksource(words, sizeof words), 0) << "no /proc/cmdline";
  for (const auto &c : cases) {
    put("/proc/cmdline", c.cmdline);
    EXPECT_EQ(machine_cmdline_clocksource(words, c.size), c.words != nullptr) << c.cmdline;
    if (c.words != nullptr) {
      EXPECT_STREQ(words, c.words);
    }
  }
}

TEST_F(FakeSysfs, CpuModelByTheBestKeyCpuinfoHas) {
  const struct {
    const char *cpuinfo;
    const char *model;  // null: none
  } cases[] = {
      {"processor\t: 0\nvendor_id\t: GenuineIntel\nmodel name\t: Xeon E5\nmodel\t: 85", "Xeon E5"},
      {"cpu\t\t: POWER9 (raw), altivec supported\nmodel name : later wins over cpu",
       "later wins over cpu"},
      {"cpu\t\t: POWER9 (raw)\nclock\t\t: 2300.000000MHz", "POWER9 (raw)"},
      {"cpu model\t: Loongson-3A\ncpu\t: ignored", "Loongson-3A"},
      {"processor\t: 0\nBogoMIPS\t: 50.00\nCPU implementer\t: 0x41", nullptr},
  };
  char model[64];
  EXPECT_EQ(machine_cpu_model(model, sizeof model), 0) << "no /proc/cpuinfo";
  for (const auto &c : cases) {
    put("/proc/cpuinfo", c.cpuinfo);
    EXPECT_EQ(machine_cpu_model(model, sizeof model), c.model != nullptr) << c.cpuinfo;
    if (c.model != nullptr) {
      EXPECT_STREQ(model, c.model);
    }
  }
}

// Opened as a file, a FIFO without a writer blocks for ever: each fact
// must read as unknown at once.  The alarm fails a regression, not hangs it.
// A device (the governor's, here) is no file either.
TEST_F(FakeSysfs, AFifoIsUnknownWithoutWaiting) {
  const char *paths[] = {"/sys/devices/system/clocksource/clocksource0/current_clocksource",
                         "/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor",
                         "/sys/devices/system/cpu/intel_pstate/no_turbo",
                         "/sys/devices/system/cpu/cpufreq/boost",
                         "/proc/cmdline",
                         "/sys/devices/system/cpu/cpu0/cache/index0/type",
                         "/proc/cpuinfo"};
  for (const char *p : paths) {
    put(p, "");
    std::string full = root_ + p;
    ASSERT_EQ(remove(full.c_str()), 0);
    ASSERT_EQ(mkfifo(full.c_str(), 0600), 0) << full;
  }
  std::string governor = root_ + paths[1];
  ASSERT_EQ(remove(governor.c_str()) | symlink("/dev/urandom", governor.c_str()), 0);
  signal(SIGALRM, SIG_DFL);
  alarm(10);
  char name[64];
  EXPECT_EQ(machine_clocksource(name, sizeof name), 0);
  EXPECT_EQ(machine_governor(name, sizeof name), 0);
  EXPECT_EQ(machine_turbo(), -1);
  EXPECT_EQ(machine_cmdline_clocksource(name, sizeof name), 0);
  EXPECT_EQ(machine_cpu_model(name, sizeof name), 0);
  EXPECT_EQ(bestof_llc_bytes(), sysconf_llc());
  alarm(0);
}

}  // namespace
