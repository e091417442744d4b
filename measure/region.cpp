// The measured region: runs of a function that opens and closes its own
// timed intervals (region.h), kept by the K-best rule per iteration.
//
// The driver brackets every call with a counter pair of its own, so that a
// function that never opens the region is timed whole.  The bracket's start
// comes before the call and its read after it, outside the region's
// intervals; the flush and the bookkeeping lie outside both.

#include "region.h"

#include <limits.h>

#include "internal.h"

namespace bestof_internal {

static_assert(BESTOF_REGION_PLAIN == (int)pair_plain &&
                  BESTOF_REGION_COMPENSATED == (int)pair_compensated &&
                  BESTOF_REGION_FENCED == (int)pair_fenced,
              "the region reads the pair the measurement chose");

// The automatic iterations stop doubling here.
static const long region_auto_max = 1L << 30;

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

// One run of n iterations, flushed first if the settings say so; returns
// the run's count in ticks.
static double region_once(const struct measurement *m, bestof_region_fn f, void *arg, long n) {
  struct bestof_region r = {n, (enum bestof_region_pair)m->pair, 0, 0, 0};
  if (m->s.s.clear_cache)
    clear((uint32_t)m->s.s.cache_size, (uint32_t)m->s.s.cache_block);
  double whole = whole_call(f, &r, arg, m->pair);
  if (!in_measurement())
    fatal_holding_lock("Fatal error.  bestof_abandon called from inside a measurement\n");
  if (!r.started)
    return whole;
  return r.open ? r.count + whole : r.count;
}

// Doubles n from 1 until a run lasts the count the counter resolves.  A run
// that seems long enough is taken again and the lesser kept: the first call
// of a function is often slowed by cold caches, page faults or lazy binding,
// and would otherwise stop the doubling at an n whose warm runs are far too
// short for the counter.
static bool resolves(const struct measurement *m, bestof_region_fn f, void *arg, long n,
                     double need) {
  return region_once(m, f, arg, n) >= need && region_once(m, f, arg, n) >= need;
}
static long choose_iterations(const struct measurement *m, bestof_region_fn f, void *arg) {
  double need = resolving_count(m);
  long n = 1;
  while (n < region_auto_max && !resolves(m, f, arg, n, need))
    n *= 2;
  return n;
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
}

extern "C" double bestof_region_run(const struct bestof_settings *settings, bestof_region_fn f,
                                    void *arg, long iterations) {
  if (f == NULL)
    fatal_holding_lock("Fatal error.  bestof_region_run called with a null function\n");
  if (iterations < 0 || iterations > INT_MAX)
    fatal_holding_lock(
        "Fatal error.  bestof_region_run called with iterations outside 0 to INT_MAX\n");
  struct measurement *m = begin_measurement(settings, NULL);
  choose_region_method(m);
  long n = iterations > 0 ? iterations : choose_iterations(m, f, arg);
  m->batch = (int)n;
  m->cpt_start = m->core ? core_per_tick() : 0;
  do
    add_sample(m, region_once(m, f, arg, n) / (double)n);
  while (!has_converged(m) && m->runs < m->s.s.maxsamples);
  return finish_measurement(m, 1, NULL);
}

}  // namespace bestof_internal
