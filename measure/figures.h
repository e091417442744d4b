/*
 * figures: the arithmetic of what a report shows, shared by the native
 * suite and the C++ micro-benchmark front end, so that one kernel shows
 * the same time, bytes/s, counter figure and aggregates in both.
 *
 * An answer comes in the counter's unit, ticks or core cycles
 * (bestof_report); a time comes from ticks at the counter's rate
 * (bestof_ticks_per_ns); a rate is an amount per second of that time.
 *
 * Where a figure would need a division by zero, or a rate or ratio that is
 * unknown, the answer is NaN, never 0 or a guess: a report writes it as
 * "nan" or null, not as a figure that looks measured.  Plain C linkage; no
 * function here allocates, reads the counter or takes the lock.
 */
#ifndef CYCLEKIT_FIGURES_H
#define CYCLEKIT_FIGURES_H

#include <stddef.h>

#include "bestof.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Units ---------------------------------------------------------------- */

/* The time units, in this order (the front end's TimeUnit has the same). */
enum cyclekit_time_unit { CYCLEKIT_NS, CYCLEKIT_US, CYCLEKIT_MS, CYCLEKIT_S };

/* "ns", "us", "ms" or "s"; NULL for a value outside the enum. */
const char *cyclekit_time_unit_name(int unit);

/* The unit that name ("ns", "us", "ms", "s") names; -1 for anything else. */
int cyclekit_time_unit_parse(const char *name);

/* Nanoseconds per unit: 1, 1e3, 1e6, 1e9; NaN for a value outside the enum. */
double cyclekit_ns_per_unit(int unit);

/*
 * Ticks in nanoseconds at ticks_per_ns; NaN where the rate is not positive
 * and finite (unknown: bestof_ticks_per_ns gave 0).
 */
double cyclekit_ticks_to_ns(double ticks, double ticks_per_ns);

/* Nanoseconds in the unit (ns / cyclekit_ns_per_unit(unit)). */
double cyclekit_ns_to_unit(double ns, int unit);

/*
 * Core cycles and ticks at core_per_tick core cycles a tick; NaN where
 * core_per_tick is not positive and finite.
 */
double cyclekit_cycles_to_ticks(double cycles, double core_per_tick);
double cyclekit_ticks_to_cycles(double ticks, double core_per_tick);

/*
 * A count in r's unit as ticks: the count itself where r counted ticks; in
 * core cycles, at the mean of r's core_per_tick_start and
 * core_per_tick_end (NaN where that is not positive).
 */
double cyclekit_report_ticks(const struct bestof_report *r, double count);

/* ---- Rates and counters ------------------------------------------------------ */

/*
 * amount per second over seconds (bytes, items, anything counted); NaN
 * where seconds is not positive and finite, or amount is NaN.  An amount
 * of 0 is a rate of 0.
 */
double cyclekit_rate(double amount, double seconds);

/* How a user's counter is shown; bits of the flags below, or-ed. */
#define CYCLEKIT_COUNTER_RATE 0x1u                /* per second of the run */
#define CYCLEKIT_COUNTER_AVG_THREADS 0x2u         /* per thread */
#define CYCLEKIT_COUNTER_ITERATION_INVARIANT 0x4u /* value counts once per iteration */
#define CYCLEKIT_COUNTER_AVG_ITERATIONS 0x8u      /* per iteration */
#define CYCLEKIT_COUNTER_INVERT 0x80000000u       /* 1 / the figure (seconds per item) */

/*
 * A user's counter as reported: value counted over a run of iterations
 * that lasted seconds on each of threads threads, by its flags, applied
 * in this order: times iterations (ITERATION_INVARIANT), divided by
 * iterations (AVG_ITERATIONS), by seconds (RATE, as cyclekit_rate), by
 * threads (AVG_THREADS), inverted (INVERT).  Flags of no meaning are
 * ignored.  NaN where a divisor that a flag asks for is not positive (0
 * iterations, seconds or threads; a figure of 0 to invert), or any input
 * used is NaN.
 */
double cyclekit_counter_figure(double value, double iterations, double seconds, double threads,
                               unsigned flags);

/* ---- Aggregates over repetitions -------------------------------------------- */

struct cyclekit_aggregate {
  size_t n;      /* the values that counted: NaN values are left out */
  double mean;   /* NaN for none; infinite where a value is */
  double median; /* cyclekit_median's */
  double stddev; /* the sample standard deviation (n - 1); 0 for one value */
  double cv;     /* stddev / mean; 0 where both are 0, NaN for a mean of 0 with a spread */
};

/*
 * The aggregates of the n values at v, which it reorders (the median is
 * found in place).  NaN values are left out of every figure, as the median
 * leaves them out; with none left, every figure is NaN.  An infinite value
 * gives an infinite (or NaN) mean and a NaN stddev and cv.
 */
void cyclekit_aggregates(double *v, size_t n, struct cyclekit_aggregate *out);

#ifdef __cplusplus
}
#endif
#endif
