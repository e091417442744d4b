// cyclekit-doctor: prints, one per line, the facts about this machine that
// decide how far a cycle count can be trusted, then one warning with a
// remedy for each problem found.  Reads only what needs no privilege; what
// it cannot read it calls "unknown".  Its exit status is 0 unless its output
// could not be written.

#ifndef _GNU_SOURCE
#define _GNU_SOURCE  // sched_getaffinity, CPU_COUNT
#endif

#include <errno.h>
#include <math.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "bestof.h"
#include "clock.h"

// ---- Platform facts from CPUID ----------------------------------------------
// Each is 1 (yes), 0 (no) or -1 (unknown).
#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
static const char *const COUNTER_KIND = "x86 time-stamp counter (RDTSC)";
// CPUID 0x80000007 EDX bit 8: the counter ticks at one rate in every
// frequency and sleep state.
static int invariant_counter(void) {
  unsigned a, b, c, d;
  return __get_cpuid(0x80000007u, &a, &b, &c, &d) ? (int)(d >> 8 & 1u) : -1;
}
// CPUID 1 ECX bit 31, which hypervisors set for their guests.
static int under_hypervisor(void) {
  unsigned a, b, c, d;
  return __get_cpuid(1u, &a, &b, &c, &d) ? (int)(c >> 31 & 1u) : -1;
}
#elif defined(__aarch64__)
static const char *const COUNTER_KIND = "AArch64 virtual counter (CNTVCT_EL0)";
static int invariant_counter(void) { return -1; }
static int under_hypervisor(void) { return -1; }
#else
static const char *const COUNTER_KIND = "CLOCK_MONOTONIC_RAW nanoseconds";
static int invariant_counter(void) { return -1; }
static int under_hypervisor(void) { return -1; }
#endif

// ---- Reading the system -------------------------------------------------------

// The first line of a file, without its newline; 0 if unreadable or empty.
static int first_line(const char *path, char *line, int size) {
  FILE *f = fopen(path, "r");
  if (f == NULL)
    return 0;
  int ok = fgets(line, size, f) != NULL;
  fclose(f);
  if (ok)
    line[strcspn(line, "\n")] = '\0';
  return ok && line[0] != '\0';
}

static double seconds_now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Counter ticks per microsecond across a sleep of a fifth of a second,
// timed by the monotonic clock; 0 if the clock could not tell.
static double counter_mhz(void) {
  struct timespec nap = {0, 200000000L};
  double t0 = seconds_now();
  start_counter();
  nanosleep(&nap, NULL);
  double ticks = get_counter();
  double elapsed = seconds_now() - t0;
  return elapsed > 0 ? ticks / (elapsed * 1e6) : 0.0;
}

static int compare_doubles(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

// The plain (ovhd) or the fenced (ovhd_fenced) pair's cost over PAIRS
// calls: the median, which is what a count carries, and the least.  On a
// stepped counter the least may be a stray reading of a tick or two, far
// below any real cost.
enum { PAIRS = 2000 };
static void pair_cost(int fenced, double *median, double *least) {
  static double c[PAIRS];
  for (int i = 0; i < PAIRS; i++)
    c[i] = fenced ? ovhd_fenced() : ovhd();
  qsort(c, PAIRS, sizeof c[0], compare_doubles);
  *median = (c[PAIRS / 2 - 1] + c[PAIRS / 2]) / 2;
  *least = c[0];
}

static void print_pair_cost(const char *name, int fenced) {
  double median, least;
  pair_cost(fenced, &median, &least);
  printf("overhead %s: %.0f ticks typical (median of %d), least %.0f\n", name, median, PAIRS,
         least);
}

// 1 if boost/turbo is on, 0 if off, -1 if the system does not say.
static int turbo_state(void) {
  char line[32];
  if (first_line("/sys/devices/system/cpu/intel_pstate/no_turbo", line, sizeof line))
    return line[0] == '0';
  if (first_line("/sys/devices/system/cpu/cpufreq/boost", line, sizeof line))
    return line[0] == '1';
  return -1;
}

static const char *yes_no(int v) { return v < 0 ? "unknown" : v ? "yes" : "no"; }

// ---- The report ----------------------------------------------------------------

// Warnings wait until every fact is printed.
static char warnings[16][512];
static int nwarnings = 0;

static void warn(const char *problem, const char *remedy) {
  if (nwarnings < 16)
    snprintf(warnings[nwarnings++], sizeof warnings[0], "warning: %s; remedy: %s", problem, remedy);
}

int main(void) {
  char text[128], problem[192];

  double rate = counter_mhz();
  printf("counter: %s\n", COUNTER_KIND);
  if (rate > 0)
    printf("counter rate: %.1f MHz\n", rate);
  else
    printf("counter rate: unknown\n");

  double cpt = core_per_tick();
  if (cpt > 0)
    printf("core cycles per tick: %.3f\n", cpt);
  else
    printf("core cycles per tick: unknown\n");
  if (cpt > 0 && fabs(cpt - 1.0) > 0.05) {
    snprintf(problem, sizeof problem, "counts are ticks, not core cycles (%.3f cycles per tick)",
             cpt);
    warn(problem,
         "set_bestof_core_cycles(1), or set_bestof_precise(1) for how long one call takes");
  }

  double step = counter_step();
  if (step > 0)
    printf("counter step: %.4g ticks\n", step);
  else
    printf("counter step: unknown (the counter did not advance)\n");
  if (step > 1) {
    snprintf(problem, sizeof problem,
             "the counter advances in steps of %.4g ticks, so one count of code shorter than a "
             "few steps is mostly the step's rounding",
             step);
    warn(problem,
         "set_bestof_precise(1) for one call's latency, which it resolves below the step; "
         "set_bestof_batch(0) for the throughput of many independent calls");
  } else if (step <= 0) {
    warn("the counter did not advance", "use a machine whose counter runs");
  }

  print_pair_cost("plain", 0);
  print_pair_cost("fenced", 1);

  int invariant = invariant_counter();
  printf("invariant TSC: %s\n", yes_no(invariant));
  if (invariant == 0)
    warn("the time-stamp counter is not invariant: its rate follows the core's clock",
         "fix the core's clock (performance governor, boost off) before measuring");

  int hypervisor = under_hypervisor();
  printf("hypervisor: %s\n", yes_no(hypervisor));
  if (hypervisor == 1)
    warn("running under a hypervisor: the host may scale the counter and steal time",
         "take the least of many runs, or measure on bare metal");

  if (first_line("/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor", text, sizeof text)) {
    printf("frequency governor: %s\n", text);
    if (strcmp(text, "performance") != 0) {
      snprintf(problem, sizeof problem,
               "the frequency governor '%.64s' moves the core's clock with the load", text);
      warn(problem, "as root, cpupower frequency-set -g performance");
    }
  } else {
    printf("frequency governor: unknown\n");
  }

  int turbo = turbo_state();
  printf("turbo/boost: %s\n", turbo < 0 ? "unknown" : turbo ? "on" : "off");
  if (turbo == 1)
    warn("turbo/boost is on: the core's clock varies with temperature and load",
         "as root, write 0 to /sys/devices/system/cpu/cpufreq/boost (1 to intel_pstate/no_turbo)");

  int llc = bestof_llc_bytes();
  if (llc > 0) {
    printf("last-level cache: %d bytes\n", llc);
  } else {
    printf("last-level cache: unknown\n");
    warn("the last-level cache's size is unknown, so a flush may not evict it",
         "size the flush by hand with set_bestof_cache_sizee");
  }

  double load[3];
  long ncpu = sysconf(_SC_NPROCESSORS_ONLN);
  if (getloadavg(load, 3) == 3) {
    printf("load average: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    if (ncpu > 0 && load[0] > 0.5 * (double)ncpu) {
      snprintf(problem, sizeof problem, "load average %.2f on %ld CPUs: other work competes",
               load[0], ncpu);
      warn(problem, "measure on an idle machine, or take the least of more runs");
    }
  } else {
    printf("load average: unknown\n");
  }

  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int allowed = CPU_COUNT(&set);
    printf("pinned to one CPU: %s (%d allowed)\n", allowed == 1 ? "yes" : "no", allowed);
    if (allowed > 1)
      warn("not pinned to one CPU: the process may move between cores mid-measurement",
           "run it under taskset -c N");
  } else {
    printf("pinned to one CPU: unknown\n");
  }

  for (int i = 0; i < nwarnings; i++)
    puts(warnings[i]);

  // Output that never arrived is the one failure worth an exit status.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "cyclekit-doctor: cannot write the report: %s\n", strerror(errno));
    return 1;
  }
  return 0;
}
