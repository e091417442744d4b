// The cycle counter and its tick-compensated variant.
//
// start_counter and get_counter sit inside every measured interval, so they
// do nothing but read the counter and a few integer and floating-point
// operations: no call layers, fences, system calls or allocation.

#include "clock.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/times.h>
#include <time.h>
#include <unistd.h>

#include "machine.h"

// ---- The platform's primitives --------------------------------------------
// One header per platform under arch/, each defining the primitives that
// arch/contract.h lists.  A port outside this tree, or a test build, names
// its own header with CYCLEKIT_COUNTER_HEADER.
#include "arch/contract.h"
#if defined(CYCLEKIT_COUNTER_HEADER)
#include CYCLEKIT_COUNTER_HEADER
#elif defined(__i386__) || defined(__x86_64__)
#include "arch/x86.h"
#elif defined(__aarch64__)
#include "arch/aarch64.h"
#elif defined(__riscv) && __riscv_xlen == 64
#include "arch/riscv64.h"
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
#include "arch/ppc64le.h"
#elif defined(__s390x__)
#include "arch/s390x.h"
#elif defined(__sparc__)
#include "arch/generic.h"
#else
#error "no cycle counter for this platform: add a header to counter/arch"
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

// 1 once the monotonic clock has reached the deadline, or cannot be read.
static int deadline_passed(const struct timespec *deadline) {
  struct timespec now;
  if (clock_gettime(CLOCK_MONOTONIC, &now) != 0)
    return 1;
  return now.tv_sec > deadline->tv_sec ||
         (now.tv_sec == deadline->tv_sec && now.tv_nsec >= deadline->tv_nsec);
}

// Waits on to the deadline whatever cut sleep() short.  A signal: sleep()
// cannot tell, glibc's answers 0 for any part of a second it left, so the
// rest is slept again, until the deadline however often signals come.  A
// sandbox that forbids sleeping (EPERM, ENOSYS): sleep() returns at once,
// and the monotonic clock is polled instead.
static void sleep_until(const struct timespec *deadline) {
  int r;
  do {
    r = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, deadline, NULL);
  } while (r == EINTR && !deadline_passed(deadline));
  if (r != 0)
    while (!deadline_passed(deadline)) {
    }
}

extern "C" double mhz(int verbose, int seconds) {
  if (seconds < 0)
    seconds = 0;
  // The rate divides by the whole interval, so the whole of it is waited,
  // even when a signal handler interrupts the sleep or sleeping is forbidden.
  struct timespec deadline;
  int have_deadline = clock_gettime(CLOCK_MONOTONIC, &deadline) == 0;
  deadline.tv_sec += seconds;
  start_counter();
  sleep((unsigned)seconds);
  if (seconds > 0 && have_deadline)
    sleep_until(&deadline);
  double rate = get_counter() / (seconds * 1000000.0);
  if (verbose)
    printf("Processor clock rate ~= %.1f MHz\n", rate);
  return rate;
}

extern "C" double mhz_def(int verbose) { return mhz(verbose, 2); }

static double seconds_between(const struct timespec *a, const struct timespec *b) {
  return (double)(b->tv_sec - a->tv_sec) + (b->tv_nsec - a->tv_nsec) * 1e-9;
}

extern "C" double counter_mhz(double seconds) {
  struct timespec t0, t1;
  if (!(seconds > 0 && seconds < 3600) || clock_gettime(CLOCK_MONOTONIC, &t0) != 0)
    return 0;
  struct timespec deadline = t0;
  long long ns = (long long)(seconds * 1e9) + t0.tv_nsec;
  deadline.tv_sec += (time_t)(ns / 1000000000);
  deadline.tv_nsec = (long)(ns % 1000000000);
  start_counter();
  sleep_until(&deadline);
  double ticks = get_counter();
  // Divided by the interval the monotonic clock saw, which a late wake-up
  // lengthens, not by the one asked for.
  if (clock_gettime(CLOCK_MONOTONIC, &t1) != 0)
    return 0;
  double elapsed = seconds_between(&t0, &t1);
  return elapsed > 0 ? ticks / (elapsed * 1e6) : 0;
}

// ---- The tick-compensated counter ------------------------------------------

// Cycles charged per user-time tick; 0.0 until a calibration finds a value,
// which is then kept for the rest of the process.
static double cyc_per_tick = 0.0;
// User-time tick count taken by the last start_comp_counter.
static clock_t start_tick = 0;
// 0 if times() failed at the last start_comp_counter: no tick is charged.
static int start_tick_ok = 1;

// The calibration ends after this many advances of the user-time tick count.
static const int NEVENT = 100;
// The tick count is looked at only once this many cycles have passed.
static const double THRESHOLD = 1000;
// A candidate charge is recorded only if strictly greater than this.
static const double RECORDTHRESH = 3000;

// times() into *t; 0 if it failed, with errno saying why, else errno as it
// was.  The C library reports a failure two ways: (clock_t)-1 with errno
// set (-1 alone is also a valid count), or, when a sandbox forbids the
// call, glibc's answer of 0 (the kernel's -EPERM) or the negated error
// number (-38 for ENOSYS) with errno untouched.  Either way the structure
// is left unwritten, and that is the sure sign: it is filled with a pattern
// no kernel writes in all four fields first.
static int read_times(struct tms *t) {
  struct tms unwritten;
  memset(&unwritten, 0xA5, sizeof unwritten);
  *t = unwritten;
  int saved = errno;
  errno = 0;
  clock_t r = times(t);
  if (r == (clock_t)-1 && errno != 0)
    return 0;
  if (memcmp(t, &unwritten, sizeof unwritten) == 0) {
    errno = r < 0 && r > -4096 ? (int)-r : EPERM;
    return 0;
  }
  errno = saved;
  return 1;
}

// The user-time tick count, or 0 (and *ok cleared) if times() failed, as
// it does when a sandbox forbids it.
static clock_t user_ticks(int *ok) {
  struct tms t;
  if (!read_times(&t)) {
    *ok = 0;
    return 0;
  }
  return t.tms_utime;
}

// The calibration waits for the tick count to advance; without times() it
// would wait for ever.
static clock_t calibration_ticks(void) {
  int ok = 1;
  clock_t ticks = user_ticks(&ok);
  if (!ok) {
    fprintf(stderr, "Fatal error.  times() failed while calibrating cyc_per_tick: %s\n",
            strerror(errno));
    exit(1);
  }
  return ticks;
}

// Finds the smallest cycles-per-tick of a polling interval (at least
// THRESHOLD cycles since the previous look) in which the user-time tick
// count advanced, over NEVENT advances, ignoring values up to RECORDTHRESH.
static void calibrate(int verbose) {
  clock_t oldt = calibration_ticks();
  start_counter();
  double oldc = get_counter();
  int e = 0;
  while (e < NEVENT) {
    double newc = get_counter();
    if (newc - oldc >= THRESHOLD) {
      clock_t newt = calibration_ticks();
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
    calibrate(1);
  start_tick_ok = 1;
  start_tick = user_ticks(&start_tick_ok);
  // Started last, so neither the calibration nor times() is timed.
  start_counter();
}

extern "C" double get_comp_counter(void) {
  // Read the counter first: the times() call must not be counted.
  double time = get_counter();
  int ok = start_tick_ok;
  clock_t now = user_ticks(&ok);
  // Without both tick counts nothing can be charged.
  double ticks = ok ? (double)(now - start_tick) : 0.0;
  return time - ticks * cyc_per_tick;
}

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

// ---- A chain of known latency -----------------------------------------------

// Keeps the chain's result, as measured code typically stores its own.
static volatile uint32_t chain_sink;

extern "C" void core_chain(int) { chain_sink = chain_of_adds(0, 1); }

extern "C" int core_chain_adds(void) { return ARCH_CHAIN_ADDS; }

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
// one is a stray (a reading caught mid-update), not a step, for choosing the
// step's form (whole, fractional, or 1).
static const int STEP_RARE = 5;
// A difference seen less than a fiftieth as often as the most common one is
// left out altogether: one seen that often but not a multiple of a step is a
// real advance, and the step is a smaller one that explains it.
static const int STEP_SEEN = 50;
// A candidate step is an advance of a whole number of steps over at most
// this many parts, and no smaller than STEP_SMALLEST ticks: below it a
// difference of two rounded readings, up to a tick off, is a multiple of
// nearly any step.
static const int STEP_PARTS = 12;
static const double STEP_SMALLEST = 2.5;

static uint64_t step_diffs[STEP_DIFFS];
// The distinct differences, ascending, and how often each occurs.
static uint64_t step_value[STEP_DIFFS];
static int step_count[STEP_DIFFS];

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

// Fills step_value/step_count from n sorted differences; returns how many
// distinct ones there are.
static int histogram(const uint64_t *d, int n) {
  int k = 0;
  for (int i = 0, j; i < n; i = j) {
    for (j = i; j < n && d[j] == d[i]; j++) {
    }
    step_value[k] = d[i];
    step_count[k++] = j - i;
  }
  return k;
}

// How far from a whole number of steps an advance may lie: under a tick,
// as two readings rounded to whole ticks are, with a margin far above the
// rounding of m * s.  An advance exactly a tick off is no multiple, whether
// or not the compiler fuses the multiply and the subtraction (AArch64's
// does), which moves m * s by an ulp.
static const double STEP_NEAR = 1.0 - 1e-9;

// The number of steps of s that an advance of d ticks spans: the nearest
// whole number, if d lies less than a tick from it, else 0.
static long long steps_in(uint64_t d, double s) {
  double x = (double)d;
  long long m = (long long)(x / s + 0.5);
  double off = x - (double)m * s;
  return (off < STEP_NEAR && off > -STEP_NEAR) ? m : 0;
}

// The step near s that fits the advances s explains best: their total over
// the steps they span, so that the rounding of each reading averages out.
static double fit_step(int k, double s) {
  double ticks = 0, steps = 0;
  for (int i = 0; i < k; i++) {
    long long m = steps_in(step_value[i], s);
    ticks += m > 0 ? (double)step_value[i] * step_count[i] : 0;
    steps += (double)m * step_count[i];
  }
  return steps > 0 ? ticks / steps : s;
}

// Advances, among differences not left out, that s explains.
static long explained(int k, int maxcount, double s) {
  long n = 0;
  for (int i = 0; i < k; i++)
    if (step_count[i] * STEP_SEEN >= maxcount && steps_in(step_value[i], s) > 0)
      n += step_count[i];
  return n;
}

// The step's form, from the differences that are not strays: 1 if three
// or more of them are neighbours (a counter of step 1 read a varying delay
// apart); their greatest common divisor if above 1 (a whole step); else 0,
// a fractional step, whose multiples round to one of two neighbouring
// values (24 and 25 for 24.5).
static uint64_t step_form(int k, int maxcount) {
  uint64_t g = 0, prev = 0;
  int run = 0, longest_run = 0;
  for (int i = 0; i < k; i++) {
    if (step_count[i] * STEP_RARE < maxcount)
      continue;
    g = gcd_u64(step_value[i], g);
    run = (run > 0 && step_value[i] == prev + 1) ? run + 1 : 1;
    if (run > longest_run)
      longest_run = run;
    prev = step_value[i];
  }
  if (longest_run >= 3)
    return 1;
  return g > 1 ? g : 0;
}

// The candidate step near s, fitted; kept in *best if it explains more
// advances than *best, or as many and is larger.
static void try_step(int k, int maxcount, double s, double *best, long *best_explained) {
  s = fit_step(k, fit_step(k, s));
  long e = explained(k, maxcount, s);
  if (e > *best_explained || (e == *best_explained && s > *best)) {
    *best = s;
    *best_explained = e;
  }
}

// The step from n non-zero differences, sorted ascending.  The readings of
// a counter with step s lie on a lattice k*s rounded to whole ticks, so
// every advance is within a tick of a multiple of s.  The step is the
// candidate that explains the most advances, the largest of those that
// explain as many: so one-step advances, even rare ones among mostly
// two-step ones, make the step half of what the common advances alone
// suggest.  The candidates are a whole step's divisor over 1, 2, ...
// parts, or for a fractional step each common difference so divided.
static double step_of(const uint64_t *d, int n) {
  int k = histogram(d, n);
  int maxcount = 0;
  for (int i = 0; i < k; i++)
    if (step_count[i] > maxcount)
      maxcount = step_count[i];
  uint64_t form = step_form(k, maxcount);
  if (form == 1)
    return 1.0;
  double best = 0;
  long best_explained = -1;
  for (int i = 0; i < k; i++) {
    if (form == 0 && step_count[i] * STEP_RARE < maxcount)
      continue;
    double whole = form > 1 ? (double)form : (double)step_value[i];
    for (int parts = 1; parts <= STEP_PARTS; parts++)
      if (parts == 1 || whole / parts >= STEP_SMALLEST)
        try_step(k, maxcount, whole / parts, &best, &best_explained);
    if (form > 1)
      break;
  }
  // Candidates that explain the same advances may differ by a few
  // thousandths; the fit to all of them is the step.
  for (int i = 0; i < 4; i++)
    best = fit_step(k, best);
  return best;
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
    step_delay(r % 64);
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

// ---- The platform's facts --------------------------------------------------

extern "C" const char *machine_counter_name(void) { return ARCH_COUNTER_NAME; }
extern "C" const char *machine_counter_short_name(void) { return ARCH_COUNTER_SHORT; }
extern "C" const char *machine_counter_clocksource(void) { return ARCH_CLOCKSOURCE; }
extern "C" int machine_counter_invariant(void) { return arch_counter_invariant(); }
extern "C" int machine_hypervisor(void) { return arch_hypervisor(); }
