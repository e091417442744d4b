// The platform contract: what every header under counter/arch/ (and a port's
// or a test build's own header, named with CYCLEKIT_COUNTER_HEADER) gives
// clock.cpp.  Each includes this file (clock.cpp does too, before any of
// them); all definitions are static.
//
// The counter:
//   read_cycle_counter(hi, lo)   the plain read, high and low 32 bits
//   fenced_setup()               anything the fenced pair asks once, outside
//                                any timed interval (may be empty)
//   read_fenced_start(hi, lo)    a read after every earlier instruction
//   read_fenced_end(hi, lo)      a read after the measured code, loads too
// The chains of dependent additions:
//   add_chain(blocks)            CLOCK_NOINLINE; `blocks` (at least 1) blocks
//                                of CHAIN_BLOCK additions, for core_per_tick
//   ARCH_CHAIN_ADDS              a macro: the additions of chain_of_adds, 0
//                                where no chain of known latency is claimed
//   chain_of_adds(acc, one)      acc plus ARCH_CHAIN_ADDS times one, each
//                                addition one core cycle (for core_chain)
//   step_delay(spins)            the delay between counter_step's reads
//                                (arch/delay.h for a real counter)
// The facts the doctor prints:
//   ARCH_COUNTER_NAME            what the counter is, in words
//   ARCH_COUNTER_SHORT           its short name ("TSC", "CNTVCT_EL0", ...)
//   ARCH_CLOCKSOURCE             the kernel clocksource that reads the same
//                                counter, or null
//   arch_counter_invariant()     1 yes, 0 no, -1 unknown
//   arch_hypervisor()            1 yes, 0 no, -1 unknown
#ifndef CYCLEKIT_ARCH_CONTRACT_H
#define CYCLEKIT_ARCH_CONTRACT_H

// The compiler must not fold the counter's functions into their callers nor
// a chain into core_per_tick: ovhd reports what a caller pays for the two
// out-of-line calls, and a chain's length must be what it says.
#define CLOCK_NOINLINE __attribute__((noinline))

// The additions in one block of add_chain.  Each header writes the block as
// CHAIN_REPT ... ".endr", so the count in the assembly is this number.
#define CHAIN_BLOCK 100
#define ARCH_STRING_(x) #x
#define ARCH_STRING(x) ARCH_STRING_(x)
#define CHAIN_REPT ".rept " ARCH_STRING(CHAIN_BLOCK) "\n\t"
// The same for chain_of_adds's ARCH_CHAIN_ADDS additions.
#define CHAIN_OF_ADDS_REPT ".rept " ARCH_STRING(ARCH_CHAIN_ADDS) "\n\t"

#endif
