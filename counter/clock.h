/*
 * clock: time code in processor cycles.
 *
 * Time an interval with start_counter(), the code to time, get_counter().
 * The module keeps one start reading for the whole process: start_counter,
 * start_comp_counter, ovhd, ovhd_fenced, mhz and mhz_def all replace it, so none of them
 * may be called between a caller's own start and read.  Not thread-safe.
 *
 * On x86 the counter is the time-stamp counter, read with a bare RDTSC.
 * Elsewhere it is the platform's best 64-bit monotonic counter; see
 * access_counter for the unit.  Each platform's reads live in one header
 * under counter/arch/; machine.h tells which counter this build reads.
 */
#ifndef CYCLEKIT_CLOCK_H
#define CYCLEKIT_CLOCK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Reads the counter once and stores its high 32 bits through hi and its low
 * 32 bits through lo.  x86: RDTSC, no serialising instruction around it, so
 * the processor may overlap the read with neighbouring instructions.
 * AArch64: the virtual counter CNTVCT_EL0 (its own fixed frequency).
 * riscv64: the time CSR (rdtime), at the platform's timebase frequency
 * (from the device tree, often 1 to 25 MHz).  ppc64le: the time base (mftb),
 * at the rate /proc/cpuinfo calls timebase (512 MHz on POWER8 and later).
 * s390x: the TOD clock (STCKF), 4096 ticks per microsecond.  Other
 * processors (SPARC): CLOCK_MONOTONIC_RAW in nanoseconds.
 */
void access_counter(uint32_t *hi, uint32_t *lo);

/* Records the start reading. */
void start_counter(void);

/*
 * Counter ticks since the start reading, a whole non-negative number.
 * Without an earlier start_counter this is the whole counter value.  A
 * reading below the start reading (counter reset) gives a count near 2^64.
 * May be called any number of times against one start.
 */
double get_counter(void);

/* Cycles taken by one start_counter followed by one get_counter. */
double ovhd(void);

/*
 * Estimates the clock rate in MHz by counting cycles across a sleep of
 * `seconds` seconds.  With verbose non-zero, prints
 * "Processor clock rate ~= %.1f MHz\n" to standard output.  With 0 seconds
 * nothing is slept and the rate is +infinity.  A negative number of seconds
 * is treated as 0 (sleep takes an unsigned count and would otherwise sleep
 * for decades).  A signal handler that interrupts the sleep does not shorten
 * it: the sleep goes on to the end of the interval (CLOCK_MONOTONIC),
 * however often signals come, so the rate stays right.  Where sleeping is
 * forbidden (clock_nanosleep answers EPERM or ENOSYS in a sandbox) the rest
 * of the interval is waited by polling CLOCK_MONOTONIC instead.
 */
double mhz(int verbose, int seconds);

/* mhz(verbose, 2). */
double mhz_def(int verbose);

/* The counter's ticks per microsecond across a wait of `seconds` seconds
 * (fractions allowed, below an hour), divided by the interval the
 * monotonic clock saw, so a late wake-up changes nothing; waited like mhz's,
 * to the end whatever signals come or a sandbox forbids.  Prints nothing.
 * 0 when seconds is out of range or the monotonic clock cannot be read. */
double counter_mhz(double seconds);

/*
 * The tick-compensated counter: like start_counter/get_counter, but
 * get_comp_counter subtracts cyc_per_tick cycles for every tick of user CPU
 * time (times()) that passed since start_comp_counter.  A compensated count
 * may be fractional and negative.
 *
 * The charge is calibrated by the first start_comp_counter of the process,
 * which polls times() until the user-time tick count has advanced 100 times
 * and prints "Setting cyc_per_tick to %f\n".  Every poll is a system call, so
 * the process runs mostly in the kernel and 100 ticks of user time take far
 * longer than a second: on a 2.45 GHz AMD EPYC virtual machine (Linux, 100
 * ticks a second, other builds running) the first start took 13.6 to 15.0 s
 * of real time, 1.0 s user and 7.7 to 9.0 s system, in some 13 million
 * times() calls.  The charge it found differed from run to run: 8,746 to
 * 113,312 cycles per tick over five runs.  It is the shortest polling
 * interval in which the user-time count moved, not a stable measure of what
 * a tick costs.  If no interval above 3000 cycles is seen, the charge stays
 * 0 and the next start calibrates again, at the same cost.
 *
 * A failure of times() is told however the C library reports it: -1 with
 * errno set, or, where a sandbox forbids the call, glibc's 0 or -38 with
 * errno untouched; either way the structure is left unwritten.
 * Fatal: if times() fails during the calibration (a sandbox may forbid it),
 * no tick can ever be seen to pass, so instead of polling for ever it prints
 * "Fatal error.  times() failed while calibrating cyc_per_tick: <reason>\n"
 * to standard error and exits with status 1.  If times() fails at a later
 * start or read, that count is charged nothing.
 *
 * So it suits intervals spanning many ticks on an idle machine, and even
 * there the correction is small and unstable: on the machine above it took
 * 0.02 to 0.24% off a 0.2 s count, as the charge of the run decided.  For
 * intervals shorter than a tick, the usual bestof measurement, no tick
 * passes and nothing is subtracted, but each count includes the longer
 * compensated start and read (about 120 cycles more than the plain pair
 * there); a tick that does fall inside such an interval takes a whole charge
 * off and may leave the count negative.
 */
void start_comp_counter(void);
double get_comp_counter(void);

/*
 * What a "cycle" is.  Every count of this module is in ticks of the counter
 * that access_counter reads.  On x86 that is the time-stamp counter, which
 * ticks at a fixed reference rate whatever the core's clock does: a core
 * running faster than the reference (turbo) does more than one cycle per
 * tick, and counts read short.  core_per_tick converts.  On AArch64 a tick
 * is one of the generic timer (tens of MHz), on riscv64 and ppc64le one of
 * the timebase, on s390x 1/4096 microsecond, elsewhere a nanosecond.
 */

/*
 * Core cycles per counter tick, measured now: times two chains of dependent
 * register additions (one core cycle each on x86 since the P6, on AArch64,
 * RISC-V and z/Architecture cores) of different lengths, takes the least
 * fenced count of each over a few dozen runs, and divides the extra
 * additions by the extra ticks, so the counter's own overhead cancels.
 * Takes well under a millisecond on x86; a coarse counter lengthens the
 * chains, up to a few milliseconds.  Needs no privilege and no performance
 * counter, and works in a virtual machine.  The figure is only indicative on
 * POWER, where a dependent add takes two cycles on some cores (POWER8,
 * POWER9), and elsewhere (SPARC, where the counter counts nanoseconds and
 * the chain is a C loop).  Returns 0 if the counter does not advance across
 * the chains.
 * Like ovhd it replaces the start reading.
 */
double core_per_tick(void);

/*
 * A function of known latency, for the driver's precise mode (and any
 * caller's own check): core_chain runs core_chain_adds() dependent register
 * additions, one core cycle each, and stores the result, as measured code
 * typically does.  64 on x86 and AArch64; 0 where no such chain is claimed
 * (core_chain then does nothing of known length).  Its argument is ignored.
 */
void core_chain(int unused);
int core_chain_adds(void);

/*
 * The fenced counter: the count of start_counter/get_counter (same start
 * reading, same arithmetic), but the start read waits until every earlier
 * instruction has completed and the closing read waits until the measured
 * code has finished, loads included.  A bare read may run ahead of the code
 * it closes, and not only of loads: a few dependent cache-missing loads can
 * count almost nothing, and a chain of dependent multiplies a few hundred
 * cycles long reads short by a couple of hundred core cycles, the depth of
 * the processor's reorder window.  Fence whenever one call's own latency is
 * wanted; the fences cost a few dozen cycles more per pair (ovhd_fenced
 * against ovhd), the same at every run, and bestof's net setting takes that
 * cost off.
 * x86: LFENCE; RDTSC; LFENCE to start, RDTSCP; LFENCE to end, or
 * LFENCE; RDTSC; LFENCE where CPUID says the processor has no RDTSCP (asked
 * once, by the first start_fenced_counter, before its read).  AArch64: ISB
 * before and after the read of CNTVCT_EL0.  riscv64: FENCE before and after
 * rdtime.  ppc64le: ISYNC before and after mftb.  s390x: BCR 15,0
 * (serialisation) before and after STCKF.  Elsewhere: the plain read.
 * start_fenced_counter replaces the start reading like start_counter.
 */
void start_fenced_counter(void);
double get_fenced_counter(void);

/*
 * Ticks taken by one start_fenced_counter followed by one get_fenced_counter,
 * as ovhd gives the plain pair's: the cost every fenced count carries.  One
 * pair is one reading, quantised to the counter's step like any other; for a
 * figure to rely on, take the median of many.  Like ovhd it replaces the
 * start reading.
 */
double ovhd_fenced(void);

/*
 * The counter's step in ticks: the spacing of the lattice its readings lie
 * on, so that every advance is a whole number of steps, rounded to whole
 * ticks.  1 on most bare-metal x86; a virtual machine may scale the counter
 * so that it advances by 2, 26 or a fractional step, e.g. by 24 and 25 in
 * turn, a step of 24.5 (returned as such).  Code shorter than a few steps
 * cannot be resolved.  Found from a few thousand reads a varying delay
 * apart (well under a millisecond): of the spacings that explain the most
 * advances, the largest.  So one-step advances, even rare ones among mostly
 * two-step ones, halve it, but a rare difference that is no multiple of it
 * (the odd 1-tick advance among 26-tick steps) is not taken for the step.
 * Returns 0 if the counter never advanced within its bounded number of
 * reads.  Does not touch the start reading.
 */
double counter_step(void);

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_CLOCK_H */
