// The engine's measured region with settings for this call alone: the
// flush and core cycles as the command line asks, and runs read and
// repeated so that their mean is the steady cost of a long loop on the
// machine as it is (under --precise, their least: the undisturbed cost).
#include "adapter.h"

#include <cyclekit/figures.h>

#include <climits>

#include "internal.h"

namespace benchmark {
namespace internal {

namespace {

// Every run has at least two iterations: the first after the function's
// own setup (its data made, its vectors allocated, each run) pays for the
// caches and the branch predictor that setup left, which a long loop pays
// once.  Measured on std::sort of 10,000: 1 to 2 % over the next.
const long kMinIterations = 2;
// Before the measured runs, runs not kept for about this long, so that
// the code's data and branches are as a long loop finds them.
const double kWarmupNs = 1e6;
// The mean is taken over about 5 ms of runs: a core that another thread
// shares runs strlen of 4 KiB 1.45 times as slowly in spells of a
// millisecond or so, and half a second of loop averages over them.
const double kWindowNs = 5e6;
// Each measured run has at least 512 iterations, unless that would last
// more than 20 ms: a loop that sorts one input again and again gets faster
// as the branch predictor learns it, but only without a return between
// iterations.  qsort of 1,000 integers read 4 % over the usual library's
// half second of loop in runs of 2, whatever warm-up came first, 3 % in
// one run of 128 and 1 % in one of 512 (20 ms).  A longer run is a window
// on its own.
const long kRunIterations = 512;
const double kRunNs = 15e6;
// A short run this much longer than the least lost the processor to
// another task (a time slice is milliseconds); an interrupt's few
// microseconds, which a long loop pays too, stay in.  A run longer than
// this loses, instead, the time the system preempted its thread for.
const double kDisturbedNs = 200e3;

}  // namespace

Answer measure_region(const MeasureSettings &s, RegionFn f, void *arg, long iterations) {
  struct bestof_settings b;
  get_bestof_settings(&b);
  b.verbose = 0;
  b.clear_cache = s.flush;
  if (s.flush)
    b.cache_size = bestof_flush_bytes();
  // The fenced pair always: a bare closing read runs ahead of the loop's
  // last loads and multiplies still in flight, the depth of the reorder
  // window, and a run of one 4 µs iteration of a list walk read 4 % short.
  // The fine estimator has no region form: precise here is that pair in
  // core cycles under the K-best rule.
  b.fence = 1;
  b.core_cycles = s.core_cycles || s.precise;
  if (iterations > INT_MAX) {
    say_once("an Iterations() above INT_MAX is taken as INT_MAX");
    iterations = INT_MAX;
  }
  double warmup_ns = s.warmup_seconds * 1e9 > kWarmupNs ? s.warmup_seconds * 1e9 : kWarmupNs;
  double rate = ticks_per_ns();
  struct bestof_region_plan plan = {iterations, kMinIterations, warmup_ns * rate};
  struct bestof_region_window window = {kWindowNs * rate, kDisturbedNs * rate, 0,
                                        kRunIterations,   kRunNs * rate,       rate};
  bool mean = !s.precise && rate > 0;
  if (mean)
    b.maxsamples = 1;
  double answer = mean ? bestof_region_mean(&b, f, arg, &plan, &window)
                       : bestof_region_run_plan(&b, f, arg, &plan);
  struct bestof_report rep;
  bestof_last(&rep);
  Answer a;
  a.iterations = rep.batch;
  a.converged = rep.converged != 0;
  a.resolved = rep.resolved != 0;
  a.uncertainty = rep.uncertainty;
  a.cycles = answer;
  a.least_cycles = rep.answer;
  a.ticks = cyclekit_report_ticks(&rep, answer);
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
