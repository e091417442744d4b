// The one place the front end measures: a region that the State loop opens
// and closes, run again and again by cyclekit's K-best rule.  Its names
// follow the engine's measured region, so the front end above does not
// change when the engine takes over.
#ifndef CYCLEKIT_COMPAT_ADAPTER_H
#define CYCLEKIT_COMPAT_ADAPTER_H

namespace benchmark {
namespace internal {

struct Region {
  long iterations = 0;
  double ticks = 0;  // timed so far in this run
  double mark = 0;   // the reading the running part started at
  bool fence = false;
  bool started = false;
};

long region_iterations(const Region *r);
void region_start(Region *r);
void region_stop(Region *r);
void region_pause(Region *r);
void region_resume(Region *r);

struct MeasureSettings {
  bool precise = false;
  bool core_cycles = false;
  bool flush = false;
};

struct Answer {
  double ticks = 0;  // per iteration, the K-best least
  double cycles = 0; // core cycles per iteration with core_cycles, else ticks
  long iterations = 0;
  bool converged = false;
};

typedef void (*RegionFn)(Region *r, void *arg);

// Runs f with `iterations` iterations per run (0: chosen so that a run is
// resolved by the counter) until the K least per-iteration counts agree.
Answer measure_region(const MeasureSettings &s, RegionFn f, void *arg, long iterations);

// The counter's ticks per nanosecond, measured once per process.
double ticks_per_ns();

} // namespace internal
} // namespace benchmark

#endif
