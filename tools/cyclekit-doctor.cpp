// cyclekit-doctor: prints, one per line, the facts about this machine that
// decide how far a cycle count can be trusted, then one warning with a
// remedy for each problem found.  Reads only what needs no privilege; what
// it cannot read it calls "unknown".  Its exit status is 0 unless its output
// could not be written.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "clock.h"
#include "doctor_checks.h"
#include "machine.h"
#include "stats.h"

// ---- Reading the system -------------------------------------------------------

// The plain (ovhd) or the fenced (ovhd_fenced) pair's cost over PAIRS
// calls: the median, which is what a count carries, and the least.  On a
// stepped counter the least may be a stray reading of a tick or two, far
// below any real cost.
static const int PAIRS = 2000;
static void pair_cost(int fenced, double *median, double *least) {
  static double c[PAIRS];
  for (int i = 0; i < PAIRS; i++)
    c[i] = fenced ? ovhd_fenced() : ovhd();
  *least = c[0];
  for (int i = 1; i < PAIRS; i++)
    if (c[i] < *least)
      *least = c[i];
  *median = cyclekit_median(c, PAIRS);
}

static void print_pair_cost(const char *name, int fenced) {
  double median, least;
  pair_cost(fenced, &median, &least);
  printf("overhead %s: %.0f ticks typical (median of %d), least %.0f\n", name, median, PAIRS,
         least);
}

static const char *yes_no(int v) { return v < 0 ? "unknown" : v ? "yes" : "no"; }

// ---- The report ----------------------------------------------------------------

// Warnings wait until every fact is printed.
static const int MAX_WARNINGS = 16;
static char warnings[MAX_WARNINGS][512];
static int nwarnings = 0;

static void warn(const char *problem, const char *remedy) {
  if (nwarnings < MAX_WARNINGS)
    snprintf(warnings[nwarnings++], sizeof warnings[0], "warning: %s; remedy: %s", problem, remedy);
}

int main(void) {
  struct doctor_facts facts;
  char governor[128], clocksource[64], cmdline[256];

  double rate = counter_mhz(0.2);
  printf("counter: %s\n", machine_counter_name());
  if (rate > 0)
    printf("counter rate: %.1f MHz\n", rate);
  else
    printf("counter rate: unknown\n");

  double cpt = core_per_tick();
  facts.core_per_tick = cpt;
  if (cpt > 0)
    printf("core cycles per tick: %.3f\n", cpt);
  else
    printf("core cycles per tick: unknown\n");

  double step = counter_step();
  facts.step = step;
  if (step > 0)
    printf("counter step: %.4g ticks\n", step);
  else
    printf("counter step: unknown (the counter did not advance)\n");

  print_pair_cost("plain", 0);
  print_pair_cost("fenced", 1);

  facts.invariant = machine_counter_invariant();
  // "invariant TSC" on x86; elsewhere the line names the counter it is about.
  facts.counter = machine_counter_short_name();
  printf("invariant %s: %s\n", facts.counter, yes_no(facts.invariant));

  facts.hypervisor = machine_hypervisor();
  printf("hypervisor: %s\n", yes_no(facts.hypervisor));

  facts.governor = machine_governor(governor, sizeof governor) ? governor : NULL;
  printf("frequency governor: %s\n", facts.governor ? facts.governor : "unknown");

  facts.turbo = machine_turbo();
  printf("turbo/boost: %s\n", facts.turbo < 0 ? "unknown" : facts.turbo ? "on" : "off");

  facts.clocksource = machine_clocksource(clocksource, sizeof clocksource) ? clocksource : NULL;
  facts.counter_clocksource = machine_counter_clocksource();
  facts.cmdline_clocksource = machine_cmdline_clocksource(cmdline, sizeof cmdline) ? cmdline : NULL;
  printf("kernel clocksource: %s\n", facts.clocksource ? facts.clocksource : "unknown");

  facts.llc_bytes = bestof_llc_bytes();
  const char *llc_source = machine_llc_source();
  int unconfirmed = llc_source != NULL && strcmp(llc_source, "sysconf") == 0;
  if (facts.llc_bytes > 0)
    printf("last-level cache: %d bytes (from %s)\n", facts.llc_bytes,
           unconfirmed ? "sysconf, CPUID alone: unconfirmed" : "sysfs, the kernel's listing");
  else
    printf("last-level cache: unknown\n");
  if (facts.llc_bytes > 0 && unconfirmed)
    warn(
        "the last-level cache's size comes from CPUID alone, with no sysfs listing to confirm "
        "it; a guest may be shown its whole package's cache",
        "bestof_flush_bytes() measures the flush it needs when the figure is above 32 MiB; "
        "or set_bestof_cache_sizee() a size known to evict");

  double load[3];
  facts.ncpu = sysconf(_SC_NPROCESSORS_ONLN);
  facts.load = -1;
  if (getloadavg(load, 3) == 3) {
    facts.load = load[0];
    printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
  } else {
    printf("load average: unknown\n");
  }

  facts.cpus_allowed = machine_cpus_allowed();
  if (facts.cpus_allowed > 0) {
    printf("pinned to one CPU: %s (%d allowed)\n", facts.cpus_allowed == 1 ? "yes" : "no",
           facts.cpus_allowed);
  } else {
    printf("pinned to one CPU: unknown\n");
  }

  doctor_check(&facts, warn);
  for (int i = 0; i < nwarnings; i++)
    puts(warnings[i]);

  // Output that never arrived is the one failure worth an exit status.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "cyclekit-doctor: cannot write the report: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}
