// The flush's size where the figure needs measuring, on the library's own
// path: the eviction probe's walks timed by the scripted counter, the
// cache's figure replaced at link time, where it came from decided by a
// made-up machine root (sysfs where the root lists a cache, else sysconf).

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "bestof.h"
#include "machine.h"
#include "support/scripted.h"

static int llc = 0;
extern "C" int __real_bestof_llc_bytes(void);
// The real one notes the figure's source; the figure is the test's.
extern "C" int __wrap_bestof_llc_bytes(void) {
  __real_bestof_llc_bytes();
  return llc;
}

namespace {

const int MiB = 1 << 20;

// A made-up root, listing cpu0's L3 or not.
struct Root {
  std::string dir = "/tmp/cyclekit_probe_XXXXXX";
  explicit Root(bool listed) {
    EXPECT_NE(mkdtemp(&dir[0]), nullptr);
    std::string cache = dir + "/sys/devices/system/cpu/cpu0/cache/index0";
    std::string make = "mkdir -p " + cache + " && cd " + cache +
                       " && echo Unified >type && echo 3 >level && echo 1024K >size";
    EXPECT_EQ(listed ? system(make.c_str()) : 0, 0);
    set_machine_root(dir.c_str());
  }
  ~Root() {
    set_machine_root(nullptr);
    EXPECT_EQ(system(("rm -r " + dir).c_str()), 0);
  }
};

// Each size's five tries: a walk warm, one after its lines were evicted, one
// warm, one after the flush; a walk's figure is its count over its 65536
// lines, the try's ratio flushed over evicted.
void script_probes(const std::vector<std::vector<double>> &sizes) {
  scripted::reset();
  for (const auto &ratios : sizes)
    for (double r : ratios)
      for (double count : {1.0, 1.0, 1.0, r})
        scripted::add_count(count * 1000 * 65536);
}

bool sysconf_has_a_figure() {
  Root empty(false);
  __real_bestof_llc_bytes();
  return machine_llc_source() != nullptr;
}

#if defined(__x86_64__) || defined(__i386__)
const bool can_probe = true;
#else
const bool can_probe = false;  // no line eviction: the probe cannot measure
#endif

// The median try decides, not the least nor the greatest.  A figure from
// sysconf above 32 MiB (more than one core can fill) is measured, up to
// twice the figure: 64 MiB alone for these.
TEST(FlushProbe, TheMedianTryDecides) {
  if (!can_probe || !sysconf_has_a_figure())
    GTEST_SKIP() << "no probe, or no figure from sysconf, here";
  Root empty(false);
  const struct {
    std::vector<double> ratios;
    int llc, bytes;
  } rows[] = {{{0.9, 0.1, 0.9, 0.1, 0.9}, 40 * MiB, 64 * MiB},
              {{0.1, 0.9, 0.1, 0.9, 0.1}, 41 * MiB, 82 * MiB}};
  for (const auto &row : rows) {
    llc = row.llc;  // each a figure of its own, so that no answer is cached
    script_probes({row.ratios});
    EXPECT_EQ(bestof_flush_bytes(), row.bytes);
  }
}

// The same figure from another source is decided anew.
TEST(FlushProbe, ACachedAnswerIsForItsSourceToo) {
  if (!can_probe || !sysconf_has_a_figure())
    GTEST_SKIP() << "no probe, or no figure from sysconf, here";
  llc = 42 * MiB;
  {
    Root listed(true);
    EXPECT_EQ(bestof_flush_bytes(), 84 * MiB);
  }
  Root empty(false);
  script_probes({{0.9, 0.9, 0.9, 0.9, 0.9}});
  EXPECT_EQ(bestof_flush_bytes(), 64 * MiB);
  EXPECT_STREQ(bestof_flush_source(), "measured");
}

}  // namespace
