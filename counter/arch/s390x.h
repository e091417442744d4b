// IBM Z (s390x, 64-bit, big-endian): the TOD clock.  The primitives are those
// every counter/arch header defines (see contract.h).
#ifndef CYCLEKIT_ARCH_S390X_H
#define CYCLEKIT_ARCH_S390X_H

#include <stdint.h>

#include "contract.h"
#include "delay.h"

static const char *const ARCH_COUNTER_NAME = "z/Architecture TOD clock (STCKF)";
static const char *const ARCH_COUNTER_SHORT = "TOD clock";
static const char *const ARCH_CLOCKSOURCE = 0;

// The TOD clock as STORE CLOCK FAST stores it: bit 51 counts microseconds,
// so a tick is 1/4096 microsecond (4096 ticks per microsecond) whatever the
// core's clock.  STCKF is not serialising and need not be unique between
// two reads, which suits a plain read.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("stckf %0" : "=Q"(v) : : "cc");
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

// BCR 15,0 serialises: every earlier instruction, stores included,
// completes before the read, and no later one starts before the second.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("bcr 15,0\n\tstckf %0\n\tbcr 15,0" : "=Q"(v) : : "cc", "memory");
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_fenced_start(hi, lo); }

// One core cycle per dependent AGHI on z/Architecture cores; BRCT counts the
// blocks down.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint64_t acc = 0;
  __asm__ volatile("1:\n\t" CHAIN_REPT "aghi %0, 1\n\t.endr\n\tbrct %1, 1b"
                   : "+d"(acc), "+d"(blocks)
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
