// The engine's measured region with settings for this call alone: the
// flush, the fenced pair and core cycles as the command line asks.
#include "adapter.h"

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
  double per_tick = (rep.core_per_tick_start + rep.core_per_tick_end) / 2;
  a.ticks = rep.core_cycles && per_tick > 0 ? least / per_tick : least;
  return a;
}

double ticks_per_ns() {
  double rate = bestof_ticks_per_ns();
  return rate > 0 ? rate : 1;
}

}  // namespace internal
}  // namespace benchmark
