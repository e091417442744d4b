// The cycle counter and its tick-compensated variant.
//
// start_counter and get_counter sit inside every measured interval, so they
// do nothing but read the counter and a few integer and floating-point
// operations: no call layers, fences, system calls or allocation.

#include "clock.h"

#include <stdio.h>
#include <sys/times.h>
#include <time.h>
#include <unistd.h>

// The compiler must not fold start_counter/get_counter into ovhd: ovhd
// reports what a caller pays for the two out-of-line calls.
#define CLOCK_NOINLINE __attribute__((noinline))

// ---- Platform primitive: one read of the cycle counter ---------------------
#if defined(CYCLEKIT_SCRIPTED_READS)
// Test builds only: the readings come from the test, so the arithmetic on
// them can be checked.  The shipped library never defines this.
extern "C" void cyclekit_scripted_read(uint32_t *hi, uint32_t *lo);
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  cyclekit_scripted_read(hi, lo);
}
#else
#if defined(__i386__) || defined(__x86_64__)
// Processor cycles (TSC ticks).  RDTSC puts the high half in EDX and the low
// half in EAX on 32-bit and 64-bit x86 alike.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  __asm__ volatile("rdtsc" : "=d"(*hi), "=a"(*lo));
}
#elif defined(__aarch64__)
// Ticks of the generic timer's virtual counter, at CNTFRQ_EL0 (often tens of
// MHz, not the core clock); user code may read it on Linux.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("mrs %0, cntvct_el0" : "=r"(v));
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}
#elif defined(CLOCK_MONOTONIC_RAW)
// No cycle counter open to user code: nanoseconds of the raw monotonic clock.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  uint64_t v = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}
#else
#error "no cycle counter for this platform"
#endif
#endif

// ---- The plain counter -----------------------------------------------------

// The process-wide start reading; only start_counter writes it.
static uint32_t cyc_hi = 0;
static uint32_t cyc_lo = 0;

extern "C" void access_counter(uint32_t *hi, uint32_t *lo) {
  read_cycle_counter(hi, lo);
}

extern "C" CLOCK_NOINLINE void start_counter(void) {
  read_cycle_counter(&cyc_hi, &cyc_lo);
}

extern "C" CLOCK_NOINLINE double get_counter(void) {
  uint32_t ncyc_hi, ncyc_lo;
  read_cycle_counter(&ncyc_hi, &ncyc_lo);
  // Subtract as a two-word number: the low difference wraps and borrows from
  // the high one, so a reading below the start gives a count near 2^64
  // rather than a negative one.
  uint32_t lo = ncyc_lo - cyc_lo;
  uint32_t borrow = lo > ncyc_lo;
  uint32_t hi = ncyc_hi - cyc_hi - borrow;
  return (double)hi * 4294967296.0 + (double)lo;
}

extern "C" double ovhd(void) {
  double result = 0.0;
  // The first pair warms the cache and branch predictors; the second counts.
  for (int i = 0; i < 2; i++) {
    start_counter();
    result = get_counter();
  }
  return result;
}

extern "C" double mhz(int verbose, int seconds) {
  if (seconds < 0)
    seconds = 0;
  start_counter();
  sleep((unsigned)seconds);
  double rate = get_counter() / (seconds * 1000000.0);
  if (verbose)
    printf("Processor clock rate ~= %.1f MHz\n", rate);
  return rate;
}

extern "C" double mhz_def(int verbose) { return mhz(verbose, 2); }

// ---- The tick-compensated counter ------------------------------------------

// Cycles charged per user-time tick; 0.0 until a calibration finds a value,
// which is then kept for the rest of the process.
static double cyc_per_tick = 0.0;
// User-time tick count taken by the last start_comp_counter.
static clock_t start_tick = 0;

// The calibration ends after this many advances of the user-time tick count.
static const int NEVENT = 100;
// The tick count is looked at only once this many cycles have passed.
static const double THRESHOLD = 1000;
// A candidate charge is recorded only if strictly greater than this.
static const double RECORDTHRESH = 3000;

static clock_t user_ticks(void) {
  struct tms t;
  times(&t);
  return t.tms_utime;
}

// Finds the smallest cycles-per-tick of a polling interval (at least
// THRESHOLD cycles since the previous look) in which the user-time tick
// count advanced, over NEVENT advances, ignoring values up to RECORDTHRESH.
static void callibrate(int verbose) {
  clock_t oldt = user_ticks();
  start_counter();
  double oldc = get_counter();
  int e = 0;
  while (e < NEVENT) {
    double newc = get_counter();
    if (newc - oldc >= THRESHOLD) {
      clock_t newt = user_ticks();
      if (newt > oldt) {
        double cpt = (newc - oldc) / (double)(newt - oldt);
        if ((cyc_per_tick == 0.0 || cyc_per_tick > cpt) && cpt > RECORDTHRESH)
          cyc_per_tick = cpt;
        e++;
        oldt = newt;
      }
      // The next interval starts at this look, whether or not a tick passed.
      oldc = newc;
    }
  }
  if (verbose)
    printf("Setting cyc_per_tick to %f\n", cyc_per_tick);
}

extern "C" void start_comp_counter(void) {
  if (cyc_per_tick == 0.0)
    callibrate(1);
  start_tick = user_ticks();
  // Started last, so neither the calibration nor times() is timed.
  start_counter();
}

extern "C" double get_comp_counter(void) {
  // Read the counter first: the times() call must not be counted.
  double time = get_counter();
  double ticks = (double)(user_ticks() - start_tick);
  return time - ticks * cyc_per_tick;
}
