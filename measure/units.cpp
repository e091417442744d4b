// Units: the counter's rate, for answers in nanoseconds.

#include "internal.h"

namespace bestof_internal {

// The wait the suite's context line measures its rate over: long enough
// for a figure good to a fraction of a percent, short enough to be paid
// once per process without notice.
static const double rate_seconds = 0.05;

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
