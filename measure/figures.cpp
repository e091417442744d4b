// The arithmetic of a report's figures (figures.h): units, rates, user
// counters and aggregates, one copy for both front ends.

#include "figures.h"

#include <math.h>
#include <string.h>

#include "stats.h"

static const struct {
  const char *name;
  double ns;
} time_units[] = {{"ns", 1}, {"us", 1e3}, {"ms", 1e6}, {"s", 1e9}};
static const int time_unit_count = (int)(sizeof time_units / sizeof time_units[0]);

static int known_unit(int unit) { return unit >= 0 && unit < time_unit_count; }

// A divisor that leaves a figure: positive and finite.
static int usable(double divisor) { return divisor > 0 && divisor < HUGE_VAL; }

// sqrt, as one instruction: this file is built without errno for the C
// maths functions, so that a C program needs no -lm for the library.
static double square_root(double x) { return __builtin_sqrt(x); }

extern "C" const char *cyclekit_time_unit_name(int unit) {
  return known_unit(unit) ? time_units[unit].name : NULL;
}

extern "C" int cyclekit_time_unit_parse(const char *name) {
  for (int u = 0; name && u < time_unit_count; u++)
    if (strcmp(name, time_units[u].name) == 0)
      return u;
  return -1;
}

extern "C" double cyclekit_ns_per_unit(int unit) {
  return known_unit(unit) ? time_units[unit].ns : NAN;
}

extern "C" double cyclekit_ticks_to_ns(double ticks, double ticks_per_ns) {
  return usable(ticks_per_ns) ? ticks / ticks_per_ns : NAN;
}

extern "C" double cyclekit_ns_to_unit(double ns, int unit) {
  return ns / cyclekit_ns_per_unit(unit);
}

extern "C" double cyclekit_cycles_to_ticks(double cycles, double core_per_tick) {
  return usable(core_per_tick) ? cycles / core_per_tick : NAN;
}

extern "C" double cyclekit_ticks_to_cycles(double ticks, double core_per_tick) {
  return usable(core_per_tick) ? ticks * core_per_tick : NAN;
}

extern "C" double cyclekit_report_ticks(const struct bestof_report *r, double count) {
  if (!r->core_cycles)
    return count;
  return cyclekit_cycles_to_ticks(count, r->core_per_tick_start / 2 + r->core_per_tick_end / 2);
}

extern "C" double cyclekit_rate(double amount, double seconds) {
  return usable(seconds) ? amount / seconds : NAN;
}

// v / d where d leaves a figure; NaN otherwise.
static double divided(double v, double d) { return d > 0 ? v / d : NAN; }

extern "C" double cyclekit_counter_figure(double value, double iterations, double seconds,
                                          double threads, unsigned flags) {
  double v = value;
  if (flags & CYCLEKIT_COUNTER_ITERATION_INVARIANT)
    v *= iterations;
  if (flags & CYCLEKIT_COUNTER_AVG_ITERATIONS)
    v = divided(v, iterations);
  if (flags & CYCLEKIT_COUNTER_RATE)
    v = cyclekit_rate(v, seconds);
  if (flags & CYCLEKIT_COUNTER_AVG_THREADS)
    v = divided(v, threads);
  if (flags & CYCLEKIT_COUNTER_INVERT)
    v = v != 0 ? 1 / v : NAN;
  return v;
}

// The mean and the sample standard deviation of the values that are not
// NaN, in their order, and how many there are.
static void moments(const double *v, size_t n, struct cyclekit_aggregate *out) {
  double sum = 0, squares = 0;
  size_t count = 0;
  for (size_t i = 0; i < n; i++)
    if (!isnan(v[i])) {
      sum += v[i];
      count++;
    }
  out->n = count;
  out->mean = count ? sum / (double)count : NAN;
  for (size_t i = 0; i < n; i++)
    if (!isnan(v[i]))
      squares += (v[i] - out->mean) * (v[i] - out->mean);
  // One value: its squares are 0 (NaN for an infinity), divided by 1.
  out->stddev = count ? square_root(squares / (double)(count > 1 ? count - 1 : 1)) : NAN;
}

extern "C" void cyclekit_aggregates(double *v, size_t n, struct cyclekit_aggregate *out) {
  moments(v, n, out);
  out->median = cyclekit_median(v, n);
  if (out->mean != 0)
    out->cv = out->stddev / out->mean;
  else
    out->cv = out->stddev == 0 ? 0 : NAN;
}
