// The clock module's primitives for its scripted test build: every reading,
// fenced or not, comes from the test (cyclekit_scripted_read, which
// scripted_platform.cpp defines), so the arithmetic on readings can be
// checked.  Selected with CYCLEKIT_COUNTER_HEADER, like a port's header, and
// bound by the same contract (counter/arch/contract.h).
#ifndef CYCLEKIT_TESTS_SCRIPTED_ARCH_H
#define CYCLEKIT_TESTS_SCRIPTED_ARCH_H

#include <stdint.h>

#include "arch/contract.h"

extern "C" void cyclekit_scripted_read(uint32_t *hi, uint32_t *lo);
extern "C" void cyclekit_scripted_delay(int spins);
extern "C" void cyclekit_scripted_fence(void);

static const char *const ARCH_COUNTER_NAME = "scripted counter";
static const char *const ARCH_COUNTER_SHORT = "scripted";
static const char *const ARCH_CLOCKSOURCE = 0;

static inline void read_cycle_counter(uint32_t *hi, uint32_t *lo) {
  cyclekit_scripted_read(hi, lo);
}
// The test sees each delay before the read it follows.
static inline void step_delay(int spins) { cyclekit_scripted_delay(spins); }
static inline void fenced_setup(void) { cyclekit_scripted_fence(); }
static inline void read_fenced_start(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }
static inline void read_fenced_end(uint32_t *hi, uint32_t *lo) { read_cycle_counter(hi, lo); }

// Nothing to run: the readings around it are scripted.
static CLOCK_NOINLINE void add_chain(uint32_t) {}

// The clock module's own chain is not what its scripted tests look at.
#define ARCH_CHAIN_ADDS 0
static inline uint32_t chain_of_adds(uint32_t acc, uint32_t) { return acc; }

static int arch_counter_invariant(void) { return -1; }
static int arch_hypervisor(void) { return -1; }

#endif
