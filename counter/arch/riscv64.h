// 64-bit RISC-V: the time CSR.  The primitives are those every counter/arch
// header defines (see contract.h).
#ifndef CYCLEKIT_ARCH_RISCV64_H
#define CYCLEKIT_ARCH_RISCV64_H

#include <stdint.h>

#include "contract.h"
#include "delay.h"

static const char *const ARCH_COUNTER_NAME = "RISC-V time CSR (rdtime)";
static const char *const ARCH_COUNTER_SHORT = "time CSR";
static const char *const ARCH_CLOCKSOURCE = 0;

// Ticks of the platform's real-time counter, at the timebase-frequency the
// device tree gives (often 1 to 25 MHz, not the core clock).  rdcycle would
// count core cycles, but recent Linux kernels make it trap in user space
// unless enabled; rdtime is always allowed.
static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("rdtime %0" : "=r"(v));
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}

// FENCE on both sides: earlier loads and stores complete before the read,
// and later ones do not start before it.
static inline void fenced_setup(void) {}
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) {
  uint64_t v;
  __asm__ volatile("fence\n\trdtime %0\n\tfence" : "=r"(v) : : "memory");
  *hi = (uint32_t)(v >> 32);
  *lo = (uint32_t)v;
}
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_fenced_start(hi, lo); }

// One core cycle per dependent ADDI on RISC-V cores, in-order and
// out-of-order alike.
static CLOCK_NOINLINE void add_chain(uint32_t blocks) {
  uint64_t acc = 0;
  __asm__ volatile("1:\n\t" CHAIN_REPT "addi %0, %0, 1\n\t.endr\n\taddiw %1, %1, -1\n\tbnez %1, 1b"
                   : "+r"(acc), "+r"(blocks));
}

// No chain of known latency is claimed here (see arch/x86.h): precise mode
// goes without one.
#define ARCH_CHAIN_ADDS 0
static inline uint32_t chain_of_adds(uint32_t acc, uint32_t) { return acc; }

static int arch_counter_invariant(void) { return -1; }
static int arch_hypervisor(void) { return -1; }

#endif
