// Any POSIX system without a counter open to user code (SPARC among them):
// the raw monotonic clock.  Chosen by name in clock.cpp, never by falling
// through.  The primitives are those every counter/arch header defines (see
// contract.h).
#ifndef CYCLEKIT_ARCH_GENERIC_H
#define CYCLEKIT_ARCH_GENERIC_H

#include <stdint.h>
#include <time.h>

#include "contract.h"
#include "delay.h"

static const char *const ARCH_COUNTER_NAME = "CLOCK_MONOTONIC_RAW nanoseconds";
static const char *const ARCH_COUNTER_SHORT = "CLOCK_MONOTONIC_RAW";
static const char *const ARCH_CLOCKSOURCE = 0;

// Nanoseconds of the raw monotonic clock.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
  uint64_t v = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

// A system call, ordered enough already.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }

// C additions that the empty asm keeps the compiler from folding.  Their
// cost per step is not known to be one cycle (the loop's own work may add to
// it), so core_per_tick is only indicative here.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint32_t acc = 0;
  for (uint32_t i = 0; i < blocks * CHAIN_BLOCK; i++) {
    acc += 1;
    __asm__ volatile("" : "+r"(acc));
  }
}

// No chain of known latency is claimed here (see arch/x86.h): precise mode
// goes without one.
#define ARCH_CHAIN_ADDS 0
static inline uint32_t chain_of_adds(uint32_t acc, uint32_t) { return acc; }

static int arch_counter_invariant(void) { return -1; }
static int arch_hypervisor(void) { return -1; }

#endif
