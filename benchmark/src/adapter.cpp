// The engine's measured region with settings for this call alone: the
// flush, the fenced pair and core cycles as the command line asks.
#include "adapter.h"

#include <cyclekit/figures.h>

#include <climits>

#include "internal.h"

namespace benchmark {
namespace internal {

Answer measure_region(const MeasureSettings &s, RegionFn f, void *arg, long iterations) {
  struct bestof_settings b;
  get_bestof_settings(&b);
  b.verbose = 0;
  b.clear_cache = s.flush;
  if (s.flush)
    b.cache_size = bestof_flush_bytes();
  // The fine estimator has no region form: precise here is the fenced
  // pair in core cycles under the K-best rule.
  b.fence = s.precise;
  b.core_cycles = s.core_cycles || s.precise;
  if (iterations > INT_MAX) {
    say_once("an Iterations() above INT_MAX is taken as INT_MAX");
    iterations = INT_MAX;
  }
  double least = bestof_region_run(&b, f, arg, iterations);
  struct bestof_report rep;
  bestof_last(&rep);
  Answer a;
  a.iterations = rep.batch;
  a.converged = rep.converged != 0;
  a.resolved = rep.resolved != 0;
  a.uncertainty = rep.uncertainty;
  a.cycles = least;
  a.ticks = cyclekit_report_ticks(&rep, least);
  return a;
}

// Unknown, the rate is 0 and every time NaN: ticks are not nanoseconds.
double ticks_per_ns() {
  double rate = bestof_ticks_per_ns();
  if (!(rate > 0))
    say_once("the counter's rate is unknown: no times, only counts");
  return rate > 0 ? rate : 0;
}

}  // namespace internal
}  // namespace benchmark
