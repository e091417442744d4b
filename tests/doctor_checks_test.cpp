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
  f.invariant = 1;
  f.hypervisor = 0;
  f.governor = "performance";
  f.turbo = 0;
  f.clocksource = "tsc";
  f.counter_clocksource = "tsc";
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

// The one warning that f draws, which must contain `says`.
void expect_one(const doctor_facts &f, const std::string &says) {
  std::vector<std::string> w = check(f);
  ASSERT_EQ(w.size(), 1u) << (w.empty() ? "no warning" : w[0]);
  EXPECT_NE(w[0].find(says), std::string::npos) << w[0];
}

void expect_none(const doctor_facts &f) {
  std::vector<std::string> w = check(f);
  EXPECT_TRUE(w.empty()) << w[0];
}

TEST(DoctorChecks, AQuietMachineDrawsNoWarning) { expect_none(quiet()); }

TEST(DoctorChecks, CoreCyclesPerTickBeyondFivePercent) {
  doctor_facts f = quiet();
  // 1.05 and 0.95 are not exact doubles: the threshold is taken from both
  // sides a hair away.
  f.core_per_tick = 1.0499;
  expect_none(f);
  f.core_per_tick = 0.9501;
  expect_none(f);
  f.core_per_tick = 0.0;  // unknown
  expect_none(f);
  f.core_per_tick = 1.0501;
  expect_one(f, "counts are ticks, not core cycles (1.050 cycles per tick)");
  f.core_per_tick = 0.9499;
  expect_one(f, "counts are ticks, not core cycles");
}

TEST(DoctorChecks, AStepAboveOneTickOrACounterThatStood) {
  doctor_facts f = quiet();
  f.step = 1.001;
  expect_one(f, "the counter advances in steps of 1.001 ticks");
  f.step = 0.0;
  expect_one(f, "the counter did not advance; remedy: use a machine whose counter runs");
  f.step = 0.5;
  expect_none(f);
}

TEST(DoctorChecks, ACounterKnownNotInvariant) {
  doctor_facts f = quiet();
  f.invariant = 0;
  expect_one(f, "the time-stamp counter is not invariant");
  f.invariant = -1;
  expect_none(f);
}

TEST(DoctorChecks, AHypervisorKnownPresent) {
  doctor_facts f = quiet();
  f.hypervisor = 1;
  expect_one(f, "running under a hypervisor");
  f.hypervisor = -1;
  expect_none(f);
}

TEST(DoctorChecks, AnyGovernorButPerformance) {
  doctor_facts f = quiet();
  f.governor = "powersave";
  expect_one(f,
             "the frequency governor 'powersave' moves the core's clock with the load; "
             "remedy: as root, cpupower frequency-set -g performance");
  f.governor = "ondemand";  // sorts before "performance"
  expect_one(f, "'ondemand'");
  f.governor = "performancex";
  expect_one(f, "'performancex'");
  f.governor = nullptr;
  expect_none(f);
}

TEST(DoctorChecks, TurboKnownOn) {
  doctor_facts f = quiet();
  f.turbo = 1;
  expect_one(f, "turbo/boost is on");
  f.turbo = -1;
  expect_none(f);
}

TEST(DoctorChecks, AClocksourceOtherThanTheCounters) {
  doctor_facts f = quiet();
  f.clocksource = "hpet";
  expect_one(f, "the kernel's clocksource is 'hpet', not 'tsc'");
  f.clocksource = "tsc ";
  expect_one(f, "'tsc '");
  f.clocksource = nullptr;  // unknown
  expect_none(f);
  f.clocksource = "arch_sys_counter";
  f.counter_clocksource = nullptr;  // no clocksource expected
  expect_none(f);
}

TEST(DoctorChecks, ACacheOfUnknownSize) {
  doctor_facts f = quiet();
  f.llc_bytes = 0;
  expect_one(f, "the last-level cache's size is unknown");
  f.llc_bytes = 1;
  expect_none(f);
}

TEST(DoctorChecks, ALoadAboveHalfTheCpus) {
  doctor_facts f = quiet();
  f.load = 2.0;  // exactly half of 4
  expect_none(f);
  f.load = 2.01;
  expect_one(f, "load average 2.01 on 4 CPUs: other work competes");
  f.ncpu = 0;  // CPUs unknown
  expect_none(f);
  f.ncpu = 4;
  f.load = -1;  // load unknown
  expect_none(f);
}

TEST(DoctorChecks, MoreThanOneCpuAllowed) {
  doctor_facts f = quiet();
  f.cpus_allowed = 2;
  expect_one(f, "not pinned to one CPU");
  f.cpus_allowed = 0;  // unknown
  expect_none(f);
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
