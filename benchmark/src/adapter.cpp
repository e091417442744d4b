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
// ...and longer, in spans of 2, 4, 8 and 16 ms (31 ms in all), while a
// span's fastest run is more than 0.5 % faster than the last one's: qsort
// of 1,000 integers on the same input ran 9 % faster after 31 ms than
// after one, still 1 % short of 60 ms, and the usual library's half a
// second of loop is nearly all spent at that speed.  The spans cost the
// code that settles at once 2 ms.
const double kSettleNs = 32e6;
// The mean is taken over about 5 ms of runs: a core that another thread
// shares runs strlen of 4 KiB 1.45 times as slowly in spells of a
// millisecond or so, and half a second of loop averages over them.
const double kWindowNs = 5e6;
// ...and at least this many runs: for a sort of 400 µs an iteration in
// runs of two, 8 ms.
const int kWindowRuns = 10;
// A run this much longer than the least lost the processor to another
// task (a time slice is milliseconds); an interrupt's few microseconds,
// which a long loop pays too, stay in.
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
  struct bestof_region_window window = {kWindowNs * rate, kDisturbedNs * rate, kSettleNs * rate};
  bool mean = !s.precise && rate > 0;
  if (mean)
    b.maxsamples = kWindowRuns;
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
