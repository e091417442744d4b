// The measured region on the counter's public reads, and the K-best rule
// over runs of it.  Only counter reads and their arithmetic sit between a
// region's start and stop; the flush and the bookkeeping come before or
// after.
#include "adapter.h"

#include <cyclekit/bestof.h>
#include <cyclekit/clock.h>

#include <algorithm>
#include <vector>

namespace benchmark {
namespace internal {
namespace {

double read(const Region *r) { return r->fence ? get_fenced_counter() : get_counter(); }

// A run must last this many ticks for the counter's step and the pair's
// own cost each to be at most 1% of it.
double resolved_ticks() {
  static double least = 0;
  if (least == 0)
    least = std::max({100 * counter_step(), 100 * ovhd(), 1000.0});
  return least;
}

void flush_caches() {
  static std::vector<unsigned> buffer(static_cast<size_t>(bestof_flush_bytes()) / sizeof(unsigned),
                                      1);
  unsigned sum = 0;
  for (size_t i = 0; i < buffer.size(); i += 8)
    sum += buffer[i];
  __asm__ __volatile__("" : : "r"(sum));
}

double one_run(const MeasureSettings &s, RegionFn f, void *arg, long n) {
  if (s.flush)
    flush_caches();
  Region r;
  r.iterations = n;
  r.fence = s.precise;
  f(&r, arg);
  return r.ticks;
}

long choose_iterations(const MeasureSettings &s, RegionFn f, void *arg) {
  long n = 1;
  while (n < (1L << 30)) {
    double t = one_run(s, f, arg, n);
    if (t >= resolved_ticks())
      break;
    // Grow by the shortfall (at most tenfold), so a long kernel is found
    // in a few runs.
    double grow = t > 0 ? resolved_ticks() / t * 1.2 : 10;
    n = static_cast<long>(n * std::min(std::max(grow, 2.0), 10.0));
  }
  return n;
}

} // namespace

long region_iterations(const Region *r) { return r->iterations; }

void region_start(Region *r) {
  r->started = true;
  r->ticks = 0;
  if (r->fence)
    start_fenced_counter();
  else
    start_counter();
  r->mark = 0;
}
void region_pause(Region *r) { r->ticks += read(r) - r->mark; }
void region_resume(Region *r) { r->mark = read(r); }
void region_stop(Region *r) { region_pause(r); }

Answer measure_region(const MeasureSettings &s, RegionFn f, void *arg, long iterations) {
  struct bestof_settings b;
  get_bestof_settings(&b);
  long n = iterations > 0 ? iterations : choose_iterations(s, f, arg);
  double per_tick = s.core_cycles ? core_per_tick() : 1;
  std::vector<double> least;
  Answer a;
  a.iterations = n;
  for (int run = 0; run < std::max(b.maxsamples, 1); ++run) {
    least.push_back(one_run(s, f, arg, n) / static_cast<double>(n));
    std::sort(least.begin(), least.end());
    if (least.size() > static_cast<size_t>(b.k))
      least.pop_back();
    if (least.size() == static_cast<size_t>(b.k) && (1 + b.epsilon) * least[0] >= least.back()) {
      a.converged = true;
      break;
    }
  }
  if (s.core_cycles)
    per_tick = (per_tick + core_per_tick()) / 2;
  a.ticks = least[0];
  a.cycles = per_tick > 0 ? least[0] * per_tick : least[0];
  return a;
}

double ticks_per_ns() {
  static double rate = 0;
  if (rate <= 0)
    rate = counter_mhz(0.02) / 1000;
  return rate > 0 ? rate : 1;
}

} // namespace internal
} // namespace benchmark
