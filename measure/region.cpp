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
#include <sys/resource.h>
#include <time.h>

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
// included, or the runs left are spent: a counter that does not advance
// must not make the warm-up endless.  Counting only what the region timed,
// a function that builds 20 ms of data before a short loop was called 92
// times for a warm-up of one millisecond.  Returns the least run's count;
// the counts per iteration are kept in m->counts, *kept of them, up to
// span_max_kept.
static const int span_max_kept = precise_max_runs / 2;
static double warm_span(struct measurement *m, bestof_region_fn f, void *arg, long n, double ticks,
                        long *runs_left, int *kept) {
  uint64_t began = counter_now();
  double least = HUGE_VAL;
  *kept = 0;
  while (*runs_left > 0) {
    --*runs_left;
    double count = region_once(m, f, arg, n);
    if (count < least)
      least = count;
    if (*kept < span_max_kept)
      m->counts[(*kept)++] = count / (double)n;
    if ((double)(counter_now() - began) >= ticks)
      break;
  }
  return least;
}

// A span's least this far below the last one's says the code still learns.
static const double settled_share = 0.995;

// The plan's warm-up, then spans of twice the last while the code still
// gets faster, within settle ticks in all: a sort of 1,000 integers on the
// same input ran 15 % faster after 60 ms than after one.  A span no faster
// than the one before ran settled code, as the measured runs will: the
// count of its runs left in m->counts is returned, for the mean; 0 where
// the spans ended otherwise.  The last span's least count per iteration
// is left in *least_per_iteration (0 where there was no warm-up).
static int warm_up(struct measurement *m, bestof_region_fn f, void *arg, long n, double ticks,
                   double settle, double *least_per_iteration) {
  *least_per_iteration = 0;
  if (!(ticks > 0))
    return 0;
  long left = warmup_max_runs;
  int kept;
  double last = warm_span(m, f, arg, n, ticks, &left, &kept);
  *least_per_iteration = last / (double)n;
  for (double spent = ticks, span = 2 * ticks; spent + span <= settle && left > 0;
       spent += span, span *= 2) {
    double least = warm_span(m, f, arg, n, span, &left, &kept);
    *least_per_iteration = least / (double)n;
    if (!(least < settled_share * last))
      return kept;
    last = least;
  }
  return 0;
}

// The iterations of a measured run: at least run_iterations, unless the
// warm-up's least per iteration would then pass run_ticks, never fewer
// than n nor more than the driver's own cap.
static long lasting_iterations(long n, double least_per_iteration,
                               const struct bestof_region_window *w) {
  double want = w->run_iterations > 0 ? (double)w->run_iterations : 0;
  if (w->run_ticks > 0 && w->run_ticks < HUGE_VAL && least_per_iteration > 0 &&
      want * least_per_iteration > w->run_ticks)
    want = floor(w->run_ticks / least_per_iteration);
  return want > (double)region_auto_max ? region_auto_max : want > (double)n ? (long)want : n;
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

// What the thread has had of the processor: its CPU time and its context
// switches, ok 0 where the system would not say.
struct thread_use {
  double cpu_ns;
  long involuntary, voluntary;
  int ok;
};
static struct thread_use thread_use_now(void) {
  struct thread_use u = {0, 0, 0, 0};
#ifdef RUSAGE_THREAD
  struct timespec ts;
  struct rusage ru;
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) == 0 && getrusage(RUSAGE_THREAD, &ru) == 0) {
    u.cpu_ns = (double)ts.tv_sec * 1e9 + (double)ts.tv_nsec;
    u.involuntary = ru.ru_nivcsw;
    u.voluntary = ru.ru_nvcsw;
    u.ok = 1;
  }
#endif
  return u;
}

// A run that the system preempted (its thread switched out involuntarily,
// never blocking: a function that waits keeps its waits, as a wall clock
// would) counts no more than its thread's CPU time over the run.  The time
// off the processor may have fallen in the flush, the function's setup or
// its pauses, which the count leaves out: only what the count holds beyond
// the CPU time is certainly the system's.
static double within_cpu_time(double count, const struct thread_use *before,
                              const struct thread_use *after, double ticks_per_ns) {
  if (!before->ok || !after->ok || after->involuntary == before->involuntary ||
      after->voluntary != before->voluntary)
    return count;
  double cpu = (after->cpu_ns - before->cpu_ns) * ticks_per_ns;
  return cpu < count ? cpu : count;
}

// The measured runs of a window: each in the K-best state too, their counts
// per iteration kept in m->counts, until the counter's own span from the
// first one's start to the last one's end (setup, flush and pauses
// included, as in the warm-up) reaches the window's ticks and the run
// limit is reached, or window_max_runs with the settled span's runs kept
// before them.  Then the mean over both.  Short runs (run_length, the
// warm-up's least for n iterations, within the disturbed ticks) that are
// disturbed against their least are left
// out; a long run, where a spell of slow code would pass for a
// disturbance, instead counts no more than its thread's CPU time.
static const int window_max_runs = precise_max_runs;
static double window_mean(struct measurement *m, bestof_region_fn f, void *arg, long n,
                          const struct bestof_region_window *w, int settled, double run_length) {
  double disturbed = w->disturbed_ticks > 0 ? w->disturbed_ticks : HUGE_VAL;
  // Without a bound every run is long; without a warm-up (no length) none is.
  bool long_runs = !(disturbed < HUGE_VAL) || run_length > disturbed;
  bool correct = long_runs && w->ticks_per_ns > 0 && w->ticks_per_ns < HUGE_VAL;
  double per_n = (double)n;
  int runs = settled;
  uint64_t began = counter_now();
  bool spanned;
  do {
    struct thread_use before = {0, 0, 0, 0};
    if (correct)
      before = thread_use_now();
    double count = region_once(m, f, arg, n);
    uint64_t now = counter_now();
    if (correct) {
      struct thread_use after = thread_use_now();
      count = within_cpu_time(count, &before, &after, w->ticks_per_ns);
    }
    add_sample(m, count / per_n);
    m->counts[runs++] = count / per_n;
    spanned = !((double)(now - began) < w->ticks);  // NaN: the run limit alone
  } while ((!spanned || m->runs < m->s.s.maxsamples) && runs < window_max_runs);
  double least = m->least[0], sum = 0;
  for (int i = 0; i < settled; i++)
    least = m->counts[i] < least ? m->counts[i] : least;
  int kept = 0;
  for (int i = 0; i < runs; i++)
    if (long_runs || (m->counts[i] - least) * per_n <= disturbed) {
      sum += m->counts[i];
      kept++;
    }
  return kept > 0 ? sum / kept : least;
}

// Every entry point's measurement, with a plan already checked; window
// null for the K-best answer.
static double region_measure(const struct bestof_settings *settings, bestof_region_fn f, void *arg,
                             const struct bestof_region_plan *plan,
                             const struct bestof_region_window *window) {
  struct measurement *m = begin_measurement(settings, NULL);
  choose_region_method(m);
  long n =
      plan->iterations > 0 ? plan->iterations : choose_iterations(m, f, arg, plan->min_iterations);
  m->batch = (int)n;
  double settle = window != NULL && window->settle_ticks < HUGE_VAL ? window->settle_ticks : 0;
  double least_per_iteration;
  int settled = warm_up(m, f, arg, n, plan->warmup_ticks, settle, &least_per_iteration);
  if (window != NULL && plan->iterations == 0) {
    long lasting = lasting_iterations(n, least_per_iteration, window);
    if (lasting > n) {
      n = lasting;
      m->batch = (int)n;
      settled = 0;
      // One run at the new count, not kept: a loop learns its course only
      // in runs as long, and the first such run is still learning it.
      region_once(m, f, arg, n);
    }
  }
  m->cpt_start = m->core ? core_per_tick() : 0;
  if (window == NULL) {
    do
      add_sample(m, region_once(m, f, arg, n) / (double)n);
    while (!has_converged(m) && m->runs < m->s.s.maxsamples);
    return finish_measurement(m, 1, NULL);
  }
  double mean = window_mean(m, f, arg, n, window, settled, least_per_iteration * (double)n),
         least = m->least[0];
  double answer = finish_measurement(m, 1, NULL);
  // The report converts the least (core cycles, the scale); the mean in
  // the same unit is its multiple.
  return least > 0 ? answer * (mean / least) : answer;
}

extern "C" double bestof_region_run(const struct bestof_settings *settings, bestof_region_fn f,
                                    void *arg, long iterations) {
  if (f == NULL)
    fatal_holding_lock("Fatal error.  bestof_region_run called with a null function\n");
  if (iterations < 0 || iterations > INT_MAX)
    fatal_holding_lock(
        "Fatal error.  bestof_region_run called with iterations outside 0 to INT_MAX\n");
  struct bestof_region_plan plan = {iterations, 1, 0};
  return region_measure(settings, f, arg, &plan, NULL);
}

// The plan as measured: null as {0, 1, 0}, fields out of range brought in;
// fatal, naming the entry point, where the function is null or the
// iterations lie outside 0 to INT_MAX.
static struct bestof_region_plan checked_plan(bestof_region_fn f,
                                              const struct bestof_region_plan *plan,
                                              const char *null_message,
                                              const char *iterations_message) {
  if (f == NULL)
    fatal_holding_lock(null_message);
  struct bestof_region_plan p = {0, 1, 0};
  if (plan != NULL)
    p = *plan;
  if (p.iterations < 0 || p.iterations > INT_MAX)
    fatal_holding_lock(iterations_message);
  if (p.min_iterations < 1)
    p.min_iterations = 1;
  if (p.min_iterations > region_auto_max)
    p.min_iterations = region_auto_max;
  // Infinity would ask for the cap's 65536 runs, NaN for none: both for none.
  if (!(p.warmup_ticks > 0 && p.warmup_ticks < HUGE_VAL))
    p.warmup_ticks = 0;
  return p;
}

extern "C" double bestof_region_run_plan(const struct bestof_settings *settings, bestof_region_fn f,
                                         void *arg, const struct bestof_region_plan *plan) {
  if (f != NULL && plan == NULL)
    return bestof_region_run(settings, f, arg, 0);
  struct bestof_region_plan p = checked_plan(
      f, plan, "Fatal error.  bestof_region_run_plan called with a null function\n",
      "Fatal error.  bestof_region_run_plan called with iterations outside 0 to INT_MAX\n");
  return region_measure(settings, f, arg, &p, NULL);
}

extern "C" double bestof_region_mean(const struct bestof_settings *settings, bestof_region_fn f,
                                     void *arg, const struct bestof_region_plan *plan,
                                     const struct bestof_region_window *window) {
  struct bestof_region_plan p = checked_plan(
      f, plan, "Fatal error.  bestof_region_mean called with a null function\n",
      "Fatal error.  bestof_region_mean called with iterations outside 0 to INT_MAX\n");
  return region_measure(settings, f, arg, &p, window);
}

}  // namespace bestof_internal
