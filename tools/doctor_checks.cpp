// cyclekit-doctor's warnings, each with its remedy.

#include "doctor_checks.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

static void check_counter(const struct doctor_facts *f, doctor_warn_fn warn) {
  char problem[192];
  double cpt = f->core_per_tick;
  if (cpt > 0 && fabs(cpt - 1.0) > 0.05) {
    snprintf(problem, sizeof problem, "counts are ticks, not core cycles (%.3f cycles per tick)",
             cpt);
    warn(problem,
         "set_bestof_core_cycles(1), or set_bestof_precise(1) for how long one call takes");
  }
  if (f->step > 1) {
    snprintf(problem, sizeof problem,
             "the counter advances in steps of %.4g ticks, so one count of code shorter than a "
             "few steps is mostly the step's rounding",
             f->step);
    warn(problem,
         "set_bestof_precise(1) for one call's latency, which it resolves below the step; "
         "set_bestof_batch(0) for the throughput of many independent calls");
  } else if (f->step <= 0) {
    warn("the counter did not advance", "use a machine whose counter runs");
  }
  if (f->invariant == 0) {
    snprintf(problem, sizeof problem,
             "the %.32s is not invariant: its rate follows the core's clock",
             f->counter != NULL ? f->counter : "counter");
    warn(problem, "fix the core's clock (performance governor, boost off) before measuring");
  }
  if (f->hypervisor == 1)
    warn("running under a hypervisor: the host may scale the counter and steal time",
         "take the least of many runs, or measure on bare metal");
}

static void check_clock(const struct doctor_facts *f, doctor_warn_fn warn) {
  char problem[256];
  if (f->governor != NULL && strcmp(f->governor, "performance") != 0) {
    snprintf(problem, sizeof problem,
             "the frequency governor '%.64s' moves the core's clock with the load", f->governor);
    warn(problem, "as root, cpupower frequency-set -g performance");
  }
  if (f->turbo == 1)
    warn("turbo/boost is on: the core's clock varies with temperature and load",
         "as root, write 0 to /sys/devices/system/cpu/cpufreq/boost (1 to intel_pstate/no_turbo)");
  if (f->clocksource != NULL && f->counter_clocksource != NULL &&
      strcmp(f->clocksource, f->counter_clocksource) != 0) {
    if (f->cmdline_clocksource != NULL) {
      snprintf(problem, sizeof problem,
               "the kernel's clocksource is '%.32s', not '%.32s': the kernel command line sets "
               "%.96s",
               f->clocksource, f->counter_clocksource, f->cmdline_clocksource);
      warn(problem,
           "boot without those words, or measure on a machine whose kernel uses the "
           "counter");
    } else {
      snprintf(problem, sizeof problem,
               "the kernel's clocksource is '%.32s', not '%.32s': the kernel found the counter "
               "unreliable on this machine",
               f->clocksource, f->counter_clocksource);
      warn(problem,
           "see why in dmesg (grep clocksource), or measure on a machine whose kernel "
           "uses the counter");
    }
  }
}

static void check_machine(const struct doctor_facts *f, doctor_warn_fn warn) {
  char problem[192];
  if (f->llc_bytes <= 0)
    warn("the last-level cache's size is unknown, so a flush may not evict it",
         "size the flush by hand with set_bestof_cache_sizee");
  if (f->load >= 0 && f->ncpu > 0 && f->load > 0.5 * (double)f->ncpu) {
    snprintf(problem, sizeof problem, "load average %.2f on %ld CPUs: other work competes", f->load,
             f->ncpu);
    warn(problem, "measure on an idle machine, or take the least of more runs");
  }
  if (f->cpus_allowed > 1)
    warn("not pinned to one CPU: the process may move between cores mid-measurement",
         "run it under taskset -c N");
}

void doctor_check(const struct doctor_facts *facts, doctor_warn_fn warn) {
  check_counter(facts, warn);
  check_clock(facts, warn);
  check_machine(facts, warn);
}
