// 32-bit and 64-bit x86: the time-stamp counter.  The primitives are those
// every counter/arch header defines (see contract.h).
#ifndef CYCLEKIT_ARCH_X86_H
#define CYCLEKIT_ARCH_X86_H

#include <cpuid.h>
#include <stdint.h>

#include "contract.h"
#include "delay.h"

static const char *const ARCH_COUNTER_NAME = "x86 time-stamp counter (RDTSC)";
static const char *const ARCH_COUNTER_SHORT = "TSC";
static const char *const ARCH_CLOCKSOURCE = "tsc";

// Processor cycles (TSC ticks).  RDTSC puts the high half in EDX and the low
// half in EAX on 32-bit and 64-bit x86 alike.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  __asm__ volatile("rdtsc" : "=d"(*hi), "=a"(*lo));
}

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

// One core cycle per ADD of a register on every x86 since the P6.  The loop
// counter is a second, independent chain that runs alongside.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint32_t acc = 0;
  __asm__ volatile("1:\n\t" CHAIN_REPT "addl $1, %0\n\t.endr\n\tdecl %1\n\tjnz 1b"
                   : "+r"(acc), "+r"(blocks)
                   :
                   : "cc");
}

// 64 dependent register additions, one core cycle each since the P6: the
// known latency that precise mode holds the pair's hidden cost against.  The
// addend sits in a register: some cores retire small-immediate additions
// faster than one a cycle.
#define ARCH_CHAIN_ADDS 64
static inline uint32_t chain_of_adds(uint32_t acc, uint32_t one) {
  __asm__(CHAIN_OF_ADDS_REPT "addl %1, %0\n\t.endr" : "+r"(acc) : "r"(one));
  return acc;
}

// CPUID 0x80000007 EDX bit 8: the counter ticks at one rate in every
// frequency and sleep state.
static int arch_counter_invariant(void) {
  unsigned a, b, c, d;
  return __get_cpuid(0x80000007u, &a, &b, &c, &d) ? (int)(d >> 8 & 1u) : -1;
}
// CPUID 1 ECX bit 31, which hypervisors set for their guests.
static int arch_hypervisor(void) {
  unsigned a, b, c, d;
  return __get_cpuid(1u, &a, &b, &c, &d) ? (int)(c >> 31 & 1u) : -1;
}

#endif
