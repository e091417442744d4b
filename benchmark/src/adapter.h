// The one place the front end measures: the State loop is cyclekit's
// measured region, run again and again by the engine with
// settings of its own (the process-wide ones are neither read for more
// than a start nor changed).
#ifndef CYCLEKIT_COMPAT_ADAPTER_H
#define CYCLEKIT_COMPAT_ADAPTER_H

#include <benchmark/benchmark.h>
#include <cyclekit/region.h>

namespace benchmark {
namespace internal {

inline long region_iterations(const Region *r) { return bestof_region_iterations(r); }
inline void region_start(Region *r) { bestof_region_start(r); }
inline void region_stop(Region *r) { bestof_region_stop(r); }
inline void region_pause(Region *r) { bestof_region_pause(r); }
inline void region_resume(Region *r) { bestof_region_resume(r); }

struct MeasureSettings {
  bool precise = false;
  bool core_cycles = false;
  bool flush = false;
  double warmup_seconds = 0;  // MinWarmUpTime: runs not kept for at least this long
};

struct Answer {
  double ticks = 0;         // per iteration: the steady mean, or under precise the least
  double cycles = 0;        // core cycles per iteration with core cycles on, else ticks
  double least_cycles = 0;  // the K-best least of the same runs, in the unit of cycles
  long iterations = 0;
  bool converged = false;
  bool resolved = false;
  double uncertainty = 0;  // of cycles, +/-
};

typedef bestof_region_fn RegionFn;

// Runs f with `iterations` iterations per run (0: at least 2, and enough
// for the counter to resolve a run), first for about a millisecond (or the
// settings' warm-up, if longer) of runs not kept; then, with iterations
// left to it, in runs of at least 512 iterations (at most 15 ms, after one
// such run not kept) over about 5 ms for their mean, the time the
// processor was taken away left out, or under precise until the K least
// per-iteration counts agree.
Answer measure_region(const MeasureSettings &s, RegionFn f, void *arg, long iterations);

// The counter's ticks per nanosecond.
double ticks_per_ns();

}  // namespace internal
}  // namespace benchmark

#endif
