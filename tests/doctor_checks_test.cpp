// cyclekit-doctor's decisions on made-up facts: from facts that call for no
// warning, each change of one fact brings its warning, and a fact at its
// threshold does not.

#include "doctor_checks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> warnings;

void collect(const char *problem, const char *remedy) {
  warnings.push_back(std::string(problem) + "; remedy: " + remedy);
}

// A machine that gives no cause for a warning.
doctor_facts quiet() {
  doctor_facts f;
  f.core_per_tick = 1.0;
  f.step = 1.0;
  f.counter = "TSC";
  f.invariant = 1;
  f.hypervisor = 0;
  f.governor = "performance";
  f.turbo = 0;
  f.clocksource = "tsc";
  f.counter_clocksource = "tsc";
  f.cmdline_clocksource = nullptr;
  f.llc_bytes = 32 << 20;
  f.load = 0.0;
  f.ncpu = 4;
  f.cpus_allowed = 1;
  return f;
}

std::vector<std::string> check(const doctor_facts &f) {
  warnings.clear();
  doctor_check(&f, collect);
  return warnings;
}

// Each case changes the quiet machine; it then draws one warning, which
// contains `says`, or none if `says` is null.  A threshold is taken from
// both sides: 1.05 and 0.95 are not exact doubles, so a hair away.
struct Case {
  void (*change)(doctor_facts &f);
  const char *says;
};
const Case kCases[] = {
    {[](doctor_facts &) {}, nullptr},
    {[](doctor_facts &f) { f.core_per_tick = 1.0499; }, nullptr},
    {[](doctor_facts &f) { f.core_per_tick = 0.9501; }, nullptr},
    {[](doctor_facts &f) { f.core_per_tick = 0.0; }, nullptr},  // unknown
    {[](doctor_facts &f) { f.core_per_tick = 1.0501; },
     "counts are ticks, not core cycles (1.050 cycles per tick)"},
    {[](doctor_facts &f) { f.core_per_tick = 0.9499; }, "counts are ticks, not core cycles"},
    {[](doctor_facts &f) { f.step = 1.001; }, "the counter advances in steps of 1.001 ticks"},
    {[](doctor_facts &f) { f.step = 0.0; },
     "the counter did not advance; remedy: use a machine whose counter runs"},
    {[](doctor_facts &f) { f.step = 0.5; }, nullptr},
    {[](doctor_facts &f) { f.invariant = 0; }, "the TSC is not invariant"},
    {[](doctor_facts &f) { f.invariant = -1; }, nullptr},
    {[](doctor_facts &f) { f.hypervisor = 1; }, "running under a hypervisor"},
    {[](doctor_facts &f) { f.hypervisor = -1; }, nullptr},
    {[](doctor_facts &f) { f.governor = "powersave"; },
     "the frequency governor 'powersave' moves the core's clock with the load; "
     "remedy: as root, cpupower frequency-set -g performance"},
    {[](doctor_facts &f) { f.governor = "ondemand"; }, "'ondemand'"},  // before "performance"
    {[](doctor_facts &f) { f.governor = "performancex"; }, "'performancex'"},
    {[](doctor_facts &f) { f.governor = nullptr; }, nullptr},
    {[](doctor_facts &f) { f.turbo = 1; }, "turbo/boost is on"},
    {[](doctor_facts &f) { f.turbo = -1; }, nullptr},
    {[](doctor_facts &f) { f.clocksource = "hpet"; },
     "the kernel's clocksource is 'hpet', not 'tsc': the kernel found the counter unreliable"},
    {[](doctor_facts &f) { f.clocksource = "tsc "; }, "'tsc '"},
    {[](doctor_facts &f) { f.clocksource = nullptr; }, nullptr},  // unknown
    {[](doctor_facts &f) {
       f.clocksource = "arch_sys_counter";
       f.counter_clocksource = nullptr;  // none expected
     },
     nullptr},
    {[](doctor_facts &f) {
       f.clocksource = "kvm-clock";
       f.cmdline_clocksource = "clocksource=kvm-clock tsc=unstable";
     },
     "not 'tsc': the kernel command line sets clocksource=kvm-clock tsc=unstable"},
    {[](doctor_facts &f) { f.cmdline_clocksource = "tsc=reliable"; }, nullptr},
    {[](doctor_facts &f) { f.llc_bytes = 0; }, "the last-level cache's size is unknown"},
    {[](doctor_facts &f) { f.llc_bytes = 1; }, nullptr},
    {[](doctor_facts &f) { f.load = 2.0; }, nullptr},  // exactly half of 4
    {[](doctor_facts &f) { f.load = 2.01; }, "load average 2.01 on 4 CPUs: other work competes"},
    {[](doctor_facts &f) { f.load = 2.01, f.ncpu = 0; }, nullptr},  // CPUs unknown
    {[](doctor_facts &f) { f.load = -1; }, nullptr},                // load unknown
    {[](doctor_facts &f) { f.cpus_allowed = 2; }, "not pinned to one CPU"},
    {[](doctor_facts &f) { f.cpus_allowed = 0; }, nullptr},  // unknown
};

TEST(DoctorChecks, EachFactAloneDrawsItsWarningOrNone) {
  for (size_t i = 0; i < sizeof kCases / sizeof kCases[0]; i++) {
    doctor_facts f = quiet();
    kCases[i].change(f);
    std::vector<std::string> w = check(f);
    if (kCases[i].says == nullptr) {
      EXPECT_TRUE(w.empty()) << "case " << i << ": " << w[0];
    } else {
      ASSERT_EQ(w.size(), 1u) << "case " << i << ": " << (w.empty() ? "no warning" : w[0]);
      EXPECT_NE(w[0].find(kCases[i].says), std::string::npos) << "case " << i << ": " << w[0];
    }
  }
}

TEST(DoctorChecks, WarningsComeInTheOrderOfTheFacts) {
  doctor_facts f = quiet();
  f.core_per_tick = 2.0;
  f.hypervisor = 1;
  f.clocksource = "hpet";
  f.cpus_allowed = 2;
  std::vector<std::string> w = check(f);
  ASSERT_EQ(w.size(), 4u);
  EXPECT_NE(w[0].find("core cycles"), std::string::npos);
  EXPECT_NE(w[1].find("hypervisor"), std::string::npos);
  EXPECT_NE(w[2].find("clocksource"), std::string::npos);
  EXPECT_NE(w[3].find("pinned"), std::string::npos);
}

}  // namespace
