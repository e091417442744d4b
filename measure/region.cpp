// The measured region: runs of a function that opens and closes its own
// timed intervals (region.h), kept by the K-best rule per iteration.
//
// The driver brackets every call with a counter pair of its own, so that a
// function that never opens the region is timed whole.  The bracket's start
// comes before the call and its read after it, outside the region's
// intervals; the flush and the bookkeeping lie outside both.

#include "region.h"

#include <limits.h>
#include <math.h>

#include "internal.h"

namespace bestof_internal {

static_assert(BESTOF_REGION_PLAIN == (int)pair_plain &&
                  BESTOF_REGION_COMPENSATED == (int)pair_compensated &&
                  BESTOF_REGION_FENCED == (int)pair_fenced,
              "the region reads the pair the measurement chose");

// The automatic iterations stop doubling here.
static const long region_auto_max = 1L << 30;
// A plan's warm-up makes at most this many runs.
static const long warmup_max_runs = 1L << 16;

// The whole call, start, f, read: the count of a function that never opens
// the region, or of the interval it left open, which the region's own
// start began.
static inline __attribute__((always_inline)) double whole_call(bestof_region_fn f,
                                                               struct bestof_region *r, void *arg,
                                                               enum counter_pair pair) {
  double count;
  switch (pair) {
    case pair_compensated:
      start_comp_counter();
      f(r, arg);
      count = get_comp_counter();
      break;
    case pair_fenced:
      start_fenced_counter();
      f(r, arg);
      count = get_fenced_counter();
      break;
    default:
      start_counter();
      f(r, arg);
      count = get_counter();
      break;
  }
  return count;
}

// Empty pairs timed to find the pair's own cost; the least is kept.  On a
// counter that steps by tens of ticks a pair reads one step or the next:
// the least of many is the lower, so a pause never takes off more than it
// cost.
static const int pause_cost_tries = 15;

// The least count of an empty pair, measured the first time a run pauses:
// what each interval after a run's first carries beyond its code.
static double pause_cost(struct measurement *m) {
  if (m->pause_cost < 0) {
    double least = 0;
    for (int i = 0; i < pause_cost_tries; i++) {
      double cost = timed_run(NULL, 0, m->pair, 0);
      if (i == 0 || cost < least)
        least = cost;
    }
    m->pause_cost = least > 0 ? least : 0;
  }
  return m->pause_cost;
}

// One run of n iterations, flushed first if the settings say so; returns
// the run's count in ticks, and the count before the pauses' pairs are
// taken off in *gross where given.  A run that pauses keeps the pair's
// cost once, as a run that does not pause and a call timed whole do: the
// cost of each further interval is taken off, never below nothing.
static double region_once(struct measurement *m, bestof_region_fn f, void *arg, long n,
                          double *gross = NULL) {
  struct bestof_region r = {n, (enum bestof_region_pair)m->pair, 0, 0, 0, 0};
  if (m->s.s.clear_cache)
    clear((uint32_t)m->s.s.cache_size, (uint32_t)m->s.s.cache_block);
  double call = whole_call(f, &r, arg, m->pair);
  if (!in_measurement())
    fatal_holding_lock("Fatal error.  bestof_abandon called from inside a measurement\n");
  double count = !r.started ? call : r.open ? r.count + call : r.count;
  if (gross != NULL)
    *gross = count;
  if (r.intervals > 1) {
    count -= (r.intervals - 1) * pause_cost(m);
    if (count < 0)
      count = 0;
  }
  return count;
}

// Doubles n from least until a run lasts the count the counter resolves.  A
// run that seems long enough is taken again and the lesser kept: the first
// call of a function is often slowed by cold caches, page faults or lazy
// binding, and would otherwise stop the doubling at an n whose warm runs
// are far too short for the counter.  The intervals are judged as read,
// before the pauses' pairs are taken off: code that does next to nothing
// between its pauses would otherwise double n up to the cap, each run
// paying for every pause.
static bool resolves(struct measurement *m, bestof_region_fn f, void *arg, long n, double need) {
  double first = 0, again = 0;
  region_once(m, f, arg, n, &first);
  if (first < need)
    return false;
  region_once(m, f, arg, n, &again);
  return again >= need;
}
static long choose_iterations(struct measurement *m, bestof_region_fn f, void *arg, long least) {
  double need = resolving_count(m);
  long n = least;
  while (n < region_auto_max && !resolves(m, f, arg, n, need))
    n *= 2;
  return n;
}

// The counter as it stands, for a span that holds more than the region:
// the bracket around a call shares its start with the region's own pairs,
// so once the function opens the region it counts from the last start.
static uint64_t counter_now(void) {
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  return (uint64_t)hi << 32 | lo;
}

// Runs of n iterations, not kept, until they have lasted ticks from the
// first one's start to the last one's end, setup, flush and pauses
// included, or warmup_max_runs of them: a counter that does not advance
// must not make the warm-up endless.  Counting only what the region timed,
// a function that builds 20 ms of data before a short loop was called 92
// times for a warm-up of one millisecond.
static void warm_up(struct measurement *m, bestof_region_fn f, void *arg, long n, double ticks) {
  if (!(ticks > 0))
    return;
  uint64_t began = counter_now();
  for (long runs = 0; runs < warmup_max_runs; runs++) {
    region_once(m, f, arg, n);
    if ((double)(counter_now() - began) >= ticks)
      return;
  }
}

// The pair and the conversion as bestof chooses them, without net counts,
// precise mode's estimator or a batch; what the last measurement found is
// cleared.
static void choose_region_method(struct measurement *m) {
  static const struct run_estimate none = {0, 0, 0, 0, 0};
  m->est = m->cost_before = m->cost_after = m->ref_before = m->ref_after = none;
  const struct bestof_settings *s = &m->s.s;
  m->precise = 0;
  m->net = 0;
  m->reference = 0;
  m->pair = s->compensate ? pair_compensated : s->fence || s->precise ? pair_fenced : pair_plain;
  m->core = s->core_cycles != 0 || s->precise != 0;
  m->pause_cost = -1;
}

// Both entry points' measurement, with a plan already checked.
static double region_measure(const struct bestof_settings *settings, bestof_region_fn f, void *arg,
                             const struct bestof_region_plan *plan) {
  struct measurement *m = begin_measurement(settings, NULL);
  choose_region_method(m);
  long n =
      plan->iterations > 0 ? plan->iterations : choose_iterations(m, f, arg, plan->min_iterations);
  m->batch = (int)n;
  warm_up(m, f, arg, n, plan->warmup_ticks);
  m->cpt_start = m->core ? core_per_tick() : 0;
  do
    add_sample(m, region_once(m, f, arg, n) / (double)n);
  while (!has_converged(m) && m->runs < m->s.s.maxsamples);
  return finish_measurement(m, 1, NULL);
}

extern "C" double bestof_region_run(const struct bestof_settings *settings, bestof_region_fn f,
                                    void *arg, long iterations) {
  if (f == NULL)
    fatal_holding_lock("Fatal error.  bestof_region_run called with a null function\n");
  if (iterations < 0 || iterations > INT_MAX)
    fatal_holding_lock(
        "Fatal error.  bestof_region_run called with iterations outside 0 to INT_MAX\n");
  struct bestof_region_plan plan = {iterations, 1, 0};
  return region_measure(settings, f, arg, &plan);
}

extern "C" double bestof_region_run_plan(const struct bestof_settings *settings, bestof_region_fn f,
                                         void *arg, const struct bestof_region_plan *plan) {
  if (f == NULL)
    fatal_holding_lock("Fatal error.  bestof_region_run_plan called with a null function\n");
  if (plan == NULL)
    return bestof_region_run(settings, f, arg, 0);
  if (plan->iterations < 0 || plan->iterations > INT_MAX)
    fatal_holding_lock(
        "Fatal error.  bestof_region_run_plan called with iterations outside 0 to INT_MAX\n");
  struct bestof_region_plan p = *plan;
  if (p.min_iterations < 1)
    p.min_iterations = 1;
  if (p.min_iterations > region_auto_max)
    p.min_iterations = region_auto_max;
  // Infinity would ask for the cap's 65536 runs, NaN for none: both for none.
  if (!(p.warmup_ticks > 0 && p.warmup_ticks < HUGE_VAL))
    p.warmup_ticks = 0;
  return region_measure(settings, f, arg, &p);
}

}  // namespace bestof_internal
