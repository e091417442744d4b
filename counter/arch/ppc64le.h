// 64-bit POWER, little-endian: the time base.  The primitives are those every
// counter/arch header defines (see contract.h).
#ifndef CYCLEKIT_ARCH_PPC64LE_H
#define CYCLEKIT_ARCH_PPC64LE_H

#include <stdint.h>

#include "contract.h"
#include "delay.h"

static const char *const ARCH_COUNTER_NAME = "POWER time base (mftb)";
static const char *const ARCH_COUNTER_SHORT = "time base";
static const char *const ARCH_CLOCKSOURCE = 0;

// Ticks of the time base, at the rate /proc/cpuinfo calls "timebase"
// (512 MHz on POWER8 and later), not the core clock.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("mftb %0" : "=r"(v));
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

// ISYNC: the read waits until every earlier instruction has completed, and
// no later one starts before it.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("isync\n\tmftb %0\n\tisync" : "=r"(v) : : "memory");
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_fenced_start(hi, lo); }

// A chain of dependent ADDIs.  A dependent add takes one cycle on some
// POWER cores and two on others (POWER8 and POWER9 among them), so
// core_per_tick is only indicative here: at two cycles it reads half the
// core's cycles per tick.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint64_t acc = 0;
  __asm__ volatile("1:\n\t" CHAIN_REPT
                   "addi %0, %0, 1\n\t.endr\n\taddi %1, %1, -1\n\t"
                   "cmpwi %1, 0\n\tbne 1b"
                   : "+b"(acc), "+b"(blocks)
                   :
                   : "cc");
}

// No chain of known latency is claimed here (see arch/x86.h): precise mode
// goes without one.
#define ARCH_CHAIN_ADDS 0
static inline uint32_t chain_of_adds(uint32_t acc, uint32_t) { return acc; }

static int arch_counter_invariant(void) { return -1; }
static int arch_hypervisor(void) { return -1; }

#endif
