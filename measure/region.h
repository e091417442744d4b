/*
 * region: a measured region that the code opens and closes itself.
 *
 * A region function runs bestof_region_iterations(r) iterations of its
 * work between bestof_region_start(r) and bestof_region_stop(r), and may
 * leave out what it does not want timed (resetting its data, say) between
 * bestof_region_pause(r) and bestof_region_resume(r).  bestof_region_run
 * calls it again and again, one run per call, and keeps the K least counts
 * per iteration, as bestof keeps the K least counts per call:
 *
 *   static void sum(struct bestof_region *r, void *arg) {
 *     long n = bestof_region_iterations(r);
 *     bestof_region_start(r);
 *     for (long i = 0; i < n; i++)
 *       work(arg);
 *     bestof_region_stop(r);
 *   }
 *   double per_iteration = bestof_region_run(NULL, sum, data, 0);
 *
 * A run's count is the sum of its intervals: from a start or a resume to
 * the next pause or stop.  Each interval is one counter pair and carries
 * the pair's own cost; a run keeps that cost once, as a call timed whole
 * does, so from each interval after the first the least cost of an empty
 * pair is taken off (the least of 15, timed at the first run that
 * pauses), never leaving less than 0.  Starting an interval already open,
 * or closing one already closed, changes nothing (the closing read is
 * still made).
 * An interval still open when the function returns closes at its return.
 * A function that never starts the region is timed whole, call and all,
 * as bestof times a call; its count is divided by the iterations too.
 *
 * Like bestof, a region run takes its turn at the measurement lock, may
 * not be nested, and reports to bestof_last.  The pair's functions are
 * inline here, so that no call of this library's lies inside an interval;
 * they need C99 or later.
 */
#ifndef CYCLEKIT_REGION_H
#define CYCLEKIT_REGION_H

#include "bestof.h"
#include "clock.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The counter pair a region reads, chosen by the settings (see bestof.h). */
enum bestof_region_pair { BESTOF_REGION_PLAIN, BESTOF_REGION_COMPENSATED, BESTOF_REGION_FENCED };

/* One run of a region: filled by the driver before each call; the
 * function reads it only through the functions below. */
struct bestof_region {
  long iterations;              /* the iterations this run asks for */
  enum bestof_region_pair pair; /* the pair this measurement reads */
  int started;                  /* 1 once the function has started it */
  int open;                     /* 1 while an interval is open */
  double count;                 /* ticks of the intervals closed so far */
  int intervals;                /* intervals opened so far */
};

/* A region function; arg is bestof_region_run's. */
typedef void (*bestof_region_fn)(struct bestof_region *r, void *arg);

static inline long bestof_region_iterations(const struct bestof_region *r) { return r->iterations; }

/* Opens an interval: the counter's start read is the last thing done. */
static inline void bestof_region_resume(struct bestof_region *r) {
  if (r->open)
    return;
  r->open = 1;
  r->intervals++;
  switch (r->pair) {
    case BESTOF_REGION_COMPENSATED:
      start_comp_counter();
      break;
    case BESTOF_REGION_FENCED:
      start_fenced_counter();
      break;
    default:
      start_counter();
      break;
  }
}

/* Closes the interval: the counter's read comes first, the choice of pair
 * (a branch that always goes the same way) before it. */
static inline void bestof_region_pause(struct bestof_region *r) {
  double count;
  switch (r->pair) {
    case BESTOF_REGION_COMPENSATED:
      count = get_comp_counter();
      break;
    case BESTOF_REGION_FENCED:
      count = get_fenced_counter();
      break;
    default:
      count = get_counter();
      break;
  }
  if (r->open)
    r->count += count;
  r->open = 0;
}

static inline void bestof_region_start(struct bestof_region *r) {
  r->started = 1;
  bestof_region_resume(r);
}

static inline void bestof_region_stop(struct bestof_region *r) { bestof_region_pause(r); }

/*
 * Measures f(r, arg) by the K-best rule with the settings *settings (null:
 * the process-wide ones), checked as bestof_with checks them, and returns
 * the least count per iteration: each run's count divided by its
 * iterations.  iterations 0 chooses them: before the measured runs, runs
 * of 1, 2, 4, ... iterations (flushed like the others, not kept) until one
 * lasts at least 100 counter steps and 100 times the pair's own cost (see
 * set_bestof_batch), at most 2^30.  bestof_last's batch is the iterations
 * per run, chosen or given.
 *
 * Of the settings, K, the run limit, the tolerance, the flush, the fence,
 * the compensated counter, core cycles and the verbose lines apply as for
 * bestof; batch does not (the iterations take its place), nor do net
 * counts or precise mode (the report's net and precise are 0).
 *
 * Fatal, as bestof's are, with these besides: f null ("Fatal error.
 * bestof_region_run called with a null function\n"), iterations outside 0
 * to INT_MAX ("Fatal error.  bestof_region_run called with iterations
 * outside 0 to INT_MAX\n").
 */
double bestof_region_run(const struct bestof_settings *settings, bestof_region_fn f, void *arg,
                         long iterations);

/*
 * What a caller may ask of a region's measurement beyond the iterations,
 * for code whose cost per iteration settles only once it has run a while
 * (a branch predictor trained on its data, its caches filled: the first
 * iteration after the function's own setup is slower than the next):
 *  - iterations: per run, as bestof_region_run's (0: chosen);
 *  - min_iterations: chosen iterations double from this instead of 1
 *    (below 1: from 1; above 2^30: 2^30), so that every run, the probes
 *    too, has at least this many;
 *  - warmup_ticks: once the iterations are known, runs of that many,
 *    flushed like the others and not kept, until this many ticks have
 *    passed from the first one's start to the last one's end (the
 *    function's setup, its pauses and the flush all count), at most 65536
 *    runs; a figure that is not a positive finite number asks for none.
 * The K-best rule, the run limit and the answer are bestof_region_run's;
 * the report's runs are the measured runs alone, its batch the iterations.
 */
struct bestof_region_plan {
  long iterations;
  long min_iterations;
  double warmup_ticks;
};

/*
 * bestof_region_run with a plan; {0, 1, 0} (or a null plan) measures as
 * bestof_region_run(settings, f, arg, 0) does.  Fatal as bestof_region_run
 * is, its messages naming bestof_region_run_plan.
 */
double bestof_region_run_plan(const struct bestof_settings *settings, bestof_region_fn f, void *arg,
                              const struct bestof_region_plan *plan);

/*
 * A steady mean instead of the least, for a caller whose answer must agree
 * with the mean cost of an iteration deep inside a long loop on the machine
 * as it is (a core shared with another thread's work runs some code half
 * as fast again for spells of a millisecond; the least counts only the
 * best of them):
 *  - ticks: the measured runs go on until this many ticks have passed from
 *    the first one's start to the last one's end (a span of the counter,
 *    as the plan's warm-up is) and at least the settings' run limit of
 *    runs have been made, at most 2000 runs (not a number: the run limit);
 *  - disturbed_ticks: where the measured runs are short (n times the
 *    warm-up's least count per iteration within this many ticks), a run
 *    whose count exceeds n times the least count per iteration by more
 *    than this lost the processor to another task and is left out of the
 *    mean; longer runs are all kept, as ticks_per_ns says.  Not a positive
 *    finite number: every run is long;
 *  - settle_ticks: where the plan warms up, the warm-up goes on in spans of
 *    twice the last one's ticks, each a span of the counter as the plan's
 *    warm-up is, while a span's least run is below 0.995 of the last span's
 *    least (code still learning its data: a branch predictor trained on a
 *    sort's input) and the warm-up in all stays within this many ticks
 *    (not a positive finite number: the plan's warm-up alone); the plan's
 *    cap of 65536 warm-up runs holds over all the spans;
 *  - run_iterations, run_ticks: where the plan leaves the iterations to
 *    the driver, each measured run has at least run_iterations (0: as the
 *    driver chose them), but no more than the warm-up's least count per
 *    iteration fits in run_ticks (not a positive finite number: no such
 *    bound) unless the driver chose more.  A loop that sorts one input
 *    again and again gets faster as the branch predictor learns it, over
 *    hundreds of iterations without a return between them: qsort of 1,000
 *    integers read 4 % over a half-second loop's figure in runs of 2
 *    iterations, 3 % in one run of 128, 1 % of 512, and runs of 2 read the
 *    same after a run of 1,024.  Where the iterations grow, the settled
 *    span's runs, made with fewer, are not counted;
 *  - ticks_per_ns: where positive, each long run that the system preempted
 *    (its thread switched out involuntarily, never blocking) counts no more
 *    than its thread's CPU time over the run at this rate, so that the
 *    time it was off the processor leaves the count: all of it where the
 *    count is most of the run, less where a flush, the function's setup or
 *    its pauses may have held some of it.  0: none is corrected.
 */
struct bestof_region_window {
  double ticks;
  double disturbed_ticks;
  double settle_ticks;
  long run_iterations;
  double run_ticks;
  double ticks_per_ns;
};

/*
 * bestof_region_run_plan with the window *window (null: as
 * bestof_region_run_plan), returning the mean count per iteration over the
 * measured runs left in, in the unit of the least, or the least itself when
 * it is not positive.  Where the warm-up's spans ended because a span was
 * no faster than the one before, that span's runs (at most 1000) count in
 * the mean too: they ran settled code, and widen the window for nothing.
 * bestof_last reports the K-best measurement of the measured runs: its
 * answer is their least, its runs all of them.  Fatal as
 * bestof_region_run_plan is, its messages naming bestof_region_mean.
 */
double bestof_region_mean(const struct bestof_settings *settings, bestof_region_fn f, void *arg,
                          const struct bestof_region_plan *plan,
                          const struct bestof_region_window *window);

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_REGION_H */
