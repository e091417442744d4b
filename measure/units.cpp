// Units: the counter's rate, for answers in nanoseconds.

#include "internal.h"

namespace bestof_internal {

// The wait the suite's context line measures its rate over: long enough
// for a figure good to a few hundredths of a percent (on a 2.6 GHz counter
// 10 ms read 2599.4 to 2599.8 MHz where 50 ms read 2599.9), short enough
// to be paid once per process without notice: 50 ms was two thirds of a
// whole run of a suite of ten benchmarks.
static const double rate_seconds = 0.01;

// Ticks per nanosecond, measured on first need; 0 until a measurement
// gives a positive figure, so that a failed one is tried again.  Read and
// written under the lock, which also keeps the wait's own counter reads
// away from another thread's measurement.
static double per_ns = 0;

static double rate_once(void) {
  if (!(per_ns > 0))
    per_ns = counter_mhz(rate_seconds) / 1000;
  return per_ns > 0 ? per_ns : 0;
}

extern "C" double bestof_ticks_per_ns(void) { return under_lock(rate_once); }

}  // namespace bestof_internal
