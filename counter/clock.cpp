// The cycle counter and its tick-compensated variant.
//
// start_counter and get_counter sit inside every measured interval, so they
// do nothing but read the counter and a few integer and floating-point
// operations: no call layers, fences, system calls or allocation.

#include "clock.h"

#include <stdio.h>
#include <stdlib.h>
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

extern "C" void access_counter(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }

extern "C" CLOCK_NOINLINE void start_counter(void) { read_cycle_counter(&cyc_hi, &cyc_lo); }

// Ticks from the start reading to a new reading.  Subtracted as a two-word
// number: the low difference wraps and borrows from the high one, so a
// reading below the start gives a count near 2^64 rather than a negative
// one.  Always inlined: it is part of every timed read.
static inline __attribute__((always_inline)) double since_start(uint32_t ncyc_hi,
                                                                uint32_t ncyc_lo) {
  uint32_t lo = ncyc_lo - cyc_lo;
  uint32_t borrow = lo > ncyc_lo;
  uint32_t hi = ncyc_hi - cyc_hi - borrow;
  return (double)hi * 4294967296.0 + (double)lo;
}

extern "C" CLOCK_NOINLINE double get_counter(void) {
  uint32_t ncyc_hi, ncyc_lo;
  read_cycle_counter(&ncyc_hi, &ncyc_lo);
  return since_start(ncyc_hi, ncyc_lo);
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

// ---- Platform primitive: fenced reads of the counter -----------------------
#if defined(CYCLEKIT_SCRIPTED_READS)
// A scripted build serves the fenced reads from the same script.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }
#elif defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
// 1 if the processor has RDTSCP (CPUID 0x80000001, EDX bit 27); -1 until the
// first fenced start asks, outside any timed interval.
static int has_rdtscp = -1;
static inline void fenced_setup(void) {
  if (has_rdtscp < 0) {
    unsigned a, b, c, d;
    has_rdtscp = __get_cpuid(0x80000001u, &a, &b, &c, &d) && (d >> 27 & 1u);
  }
}
// The first LFENCE lets the read start only once every earlier instruction
// has completed; the second keeps the timed code from starting before it.
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) {
  __asm__ volatile("lfence\n\trdtsc\n\tlfence" : "=d"(*hi), "=a"(*lo) : : "memory");
}
// RDTSCP reads only once every earlier instruction, loads included, has
// completed; it also writes the processor number into ECX.
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) {
  if (has_rdtscp > 0)
    __asm__ volatile("rdtscp\n\tlfence" : "=d"(*hi), "=a"(*lo) : : "ecx", "memory");
  else
    __asm__ volatile("lfence\n\trdtsc\n\tlfence" : "=d"(*hi), "=a"(*lo) : : "memory");
}
#elif defined(__aarch64__)
// ISB: the read happens after every earlier instruction, and no later one
// begins before it.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("isb\n\tmrs %0, cntvct_el0\n\tisb" : "=r"(v) : : "memory");
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_fenced_start(hi, lo); }
#else
// The clock_gettime fallback is a system call, ordered enough already.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }
#endif

// ---- Platform primitive: a chain of dependent additions --------------------
// Runs `blocks` (at least 1) blocks of CHAIN_BLOCK additions, each addition
// depending on the one before.  The loop counter is a second, independent
// chain that runs alongside.
static const uint32_t CHAIN_BLOCK = 100;  // the .rept count below
#if defined(__i386__) || defined(__x86_64__)
// One core cycle per ADD of a register on every x86 since the P6.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint32_t acc = 0;
  __asm__ volatile("1:\n\t.rept 100\n\taddl $1, %0\n\t.endr\n\tdecl %1\n\tjnz 1b"
                   : "+r"(acc), "+r"(blocks)
                   :
                   : "cc");
}
#elif defined(__aarch64__)
// One core cycle per ADD of a register on AArch64 cores.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint64_t acc = 0;
  __asm__ volatile("1:\n\t.rept 100\n\tadd %x0, %x0, #1\n\t.endr\n\tsubs %w1, %w1, #1\n\tb.ne 1b"
                   : "+r"(acc), "+r"(blocks)
                   :
                   : "cc");
}
#else
// Fallback: C additions that the empty asm keeps the compiler from folding.
// Their cost per step is not known to be one cycle (the loop's own work
// may add to it), so the figure is only indicative here.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint32_t acc = 0;
  for (uint32_t i = 0; i < blocks * CHAIN_BLOCK; i++) {
    acc += 1;
    __asm__ volatile("" : "+r"(acc));
  }
}
#endif

// ---- The fenced counter ----------------------------------------------------

extern "C" CLOCK_NOINLINE void start_fenced_counter(void) {
  fenced_setup();
  read_fenced_start(&cyc_hi, &cyc_lo);
}

extern "C" CLOCK_NOINLINE double get_fenced_counter(void) {
  uint32_t ncyc_hi, ncyc_lo;
  read_fenced_end(&ncyc_hi, &ncyc_lo);
  return since_start(ncyc_hi, ncyc_lo);
}

extern "C" double ovhd_fenced(void) {
  double result = 0.0;
  // As in ovhd: the first pair warms the code, the second counts.
  for (int i = 0; i < 2; i++) {
    start_fenced_counter();
    result = get_fenced_counter();
  }
  return result;
}

// ---- Core cycles per tick --------------------------------------------------

// Runs timed per chain length; the least of them is kept.
static const int CHAIN_TRIES = 32;
// The two lengths' least counts must differ by at least this many ticks,
// so that the counter's step (up to a few dozen ticks) costs under 3 %.
static const double CHAIN_MIN_TICKS = 1000.0;

extern "C" double core_per_tick(void) {
  uint32_t short_blocks = 10, long_blocks = 110;
  // A coarse counter (a generic timer at tens of MHz) needs longer chains.
  // Five quadruplings reach 11 million additions; a counter that still
  // shows under CHAIN_MIN_TICKS across them (a stopped one) gives 0 after
  // about a fifth of a second.
  for (int grow = 0; grow < 6; grow++) {
    add_chain(long_blocks);  // warms the code and the core's clock
    double least_short = 0.0, least_long = 0.0;
    for (int i = 0; i < CHAIN_TRIES; i++) {
      start_fenced_counter();
      add_chain(short_blocks);
      double s = get_fenced_counter();
      start_fenced_counter();
      add_chain(long_blocks);
      double l = get_fenced_counter();
      if (i == 0 || s < least_short)
        least_short = s;
      if (i == 0 || l < least_long)
        least_long = l;
    }
    double ticks = least_long - least_short;
    if (ticks >= CHAIN_MIN_TICKS)
      return (double)(long_blocks - short_blocks) * CHAIN_BLOCK / ticks;
    short_blocks *= 4;
    long_blocks *= 4;
  }
  return 0.0;
}

// ---- The counter's step ----------------------------------------------------

// At most this many reads, and no more than STEP_DIFFS advances kept.
static const int STEP_READS = 40000;
static const int STEP_DIFFS = 2048;
// A difference that occurs less than a fifth as often as the most common
// one is a stray (a reading caught mid-update), not a step.
static const int STEP_RARE = 5;

static uint64_t step_diffs[STEP_DIFFS];

static int compare_u64(const void *a, const void *b) {
  uint64_t x = *(const uint64_t *)a, y = *(const uint64_t *)b;
  return x < y ? -1 : x > y;
}

static uint64_t gcd_u64(uint64_t a, uint64_t b) {
  while (b != 0) {
    uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// The step from n non-zero differences, sorted ascending.  The readings of
// a counter with step s lie on a lattice k*s (rounded to whole ticks), so
// every common difference is near a multiple of s:
//  - their greatest common divisor, if above 1, is s;
//  - a run of three or more consecutive values means a step of 1;
//  - otherwise s is fractional: the common values form clusters of one or
//    two neighbours (24 and 25, 49, 73 and 74 for s = 24.5), and s is the
//    distance between the outer clusters' centres over the number of steps
//    between them, counted with the closest two clusters' distance.
static double step_of(const uint64_t *d, int n) {
  int maxcount = 0;
  for (int i = 0, j; i < n; i = j) {
    for (j = i; j < n && d[j] == d[i]; j++) {
    }
    if (j - i > maxcount)
      maxcount = j - i;
  }
  uint64_t g = 0, prev = 0, cluster_last = 0;
  int run = 0, longest_run = 0, clusters = 0;
  double weight = 0.0, sum = 0.0;  // of the current cluster
  double first = 0.0, last = 0.0, closest = 0.0;
  for (int i = 0, j; i < n; i = j) {
    for (j = i; j < n && d[j] == d[i]; j++) {
    }
    if ((j - i) * STEP_RARE < maxcount)
      continue;
    uint64_t v = d[i];
    g = gcd_u64(v, g);
    run = (run > 0 && v == prev + 1) ? run + 1 : 1;
    if (run > longest_run)
      longest_run = run;
    prev = v;
    if (clusters > 0 && v == cluster_last + 1) {
      weight += j - i;
      sum += (double)v * (j - i);
    } else {
      if (clusters > 0) {
        double centre = sum / weight;
        if (clusters == 1)
          first = centre;
        else if (closest == 0.0 || centre - last < closest)
          closest = centre - last;
        last = centre;
      }
      clusters++;
      weight = j - i;
      sum = (double)v * (j - i);
    }
    cluster_last = v;
  }
  if (g > 1)
    return (double)g;
  if (longest_run >= 3)
    return 1.0;
  // Close the last cluster.
  double centre = sum / weight;
  if (clusters == 1)
    return centre;
  if (centre - last < closest || closest == 0.0)
    closest = centre - last;
  double steps = (double)(long long)((centre - first) / closest + 0.5);
  return (centre - first) / steps;
}

extern "C" double counter_step(void) {
  int n = 0;
  uint32_t hi, lo;
  read_cycle_counter(&hi, &lo);
  uint64_t prev = (uint64_t)hi << 32 | lo;
  for (int r = 0; r < STEP_READS && n < STEP_DIFFS; r++) {
    // A delay of 0 to 63 empty iterations spreads the gaps between reads
    // over a few steps: a counter of step 1 then shows every difference,
    // one of a larger step only its multiples.
    for (int k = 0; k < r % 64; k++)
      __asm__ volatile("");
    read_cycle_counter(&hi, &lo);
    uint64_t now = (uint64_t)hi << 32 | lo;
    if (now != prev)
      step_diffs[n++] = now - prev;
    prev = now;
  }
  if (n == 0)
    return 0.0;
  qsort(step_diffs, (size_t)n, sizeof step_diffs[0], compare_u64);
  return step_of(step_diffs, n);
}
