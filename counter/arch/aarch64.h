// 64-bit Arm: the generic timer's virtual counter.  The primitives are those
// every counter/arch header defines (see contract.h).
#ifndef CYCLEKIT_ARCH_AARCH64_H
#define CYCLEKIT_ARCH_AARCH64_H

#include <stdint.h>

#include "contract.h"
#include "delay.h"

static const char *const ARCH_COUNTER_NAME = "AArch64 virtual counter (CNTVCT_EL0)";
static const char *const ARCH_COUNTER_SHORT = "CNTVCT_EL0";
static const char *const ARCH_CLOCKSOURCE = 0;

// Ticks of the generic timer's virtual counter, at CNTFRQ_EL0 (often tens of
// MHz, not the core clock); user code may read it on Linux.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("mrs %0, cntvct_el0" : "=r"(v));
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

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

// One core cycle per ADD of a register on AArch64 cores.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint64_t acc = 0;
  __asm__ volatile("1:\n\t" CHAIN_REPT "add %x0, %x0, #1\n\t.endr\n\tsubs %w1, %w1, #1\n\tb.ne 1b"
                   : "+r"(acc), "+r"(blocks)
                   :
                   : "cc");
}

// 64 dependent register additions, one core cycle each on AArch64 cores
// (see arch/x86.h).
#define ARCH_CHAIN_ADDS 64
static inline uint32_t chain_of_adds(uint32_t acc, uint32_t one) {
  __asm__(CHAIN_OF_ADDS_REPT "add %w0, %w0, %w1\n\t.endr" : "+r"(acc) : "r"(one));
  return acc;
}

static int arch_counter_invariant(void) { return -1; }
static int arch_hypervisor(void) { return -1; }

#endif
