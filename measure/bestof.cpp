// The K-best measurement driver and its cache flush.
//
// Only the counter start, the test function and the counter read lie inside
// a timed interval; the flush, the insertion and the convergence test lie
// outside it.  A batch of n calls puts the loop over those calls inside it
// and nothing else; core_per_tick and counter_step each read the counter
// many times and are called only between timed intervals.

#include "bestof.h"

#include <limits.h>
#include <math.h>
#include <pthread.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "clock.h"

// ---- Settings ---------------------------------------------------------------

// What the setters store.  A measurement copies it into the variables below
// when it starts and uses only its copy, so a setter called by the test
// function takes effect at the next measurement and changes nothing under
// the running one.
struct settings {
  int kbest;
  int maxsamples;
  double epsilon;
  int compensate;
  int clear_cache;
  int fence;
  int core_cycles;
  int verbose;
  int json;
  int net;
  int precise;
  int batch;
  uint32_t cache_bytes;
  uint32_t cache_block;
  FILE *stream;  // null: standard output
};
static struct settings wanted = {3, 20, 0.01, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1u << 19, 32, NULL};

// The running measurement's settings, copied from wanted at its start.
static int kbest = 3;
static int maxsamples = 20;
static double epsilon = 0.01;
static int compensate = 0;
static int clear_cache = 0;

static int fence = 0;
static int core_cycles = 0;
static int verbose = 0;
// Non-zero: the verbose line is a JSON object.
static int json = 0;
// Calls of the test function per timed run; 0 chooses it per measurement.
static int batch = 1;
// Net counts; precise mode (the fence, core cycles, net counts and the fine
// estimator together).
static int net = 0;
static int precise = 0;

static uint32_t cache_bytes = 1 << 19;
static uint32_t cache_block = 32;
static FILE *stream = NULL;

// ---- Measurement state ----------------------------------------------------

// The smallest counts so far, ascending; null between measurements.
static double *values = NULL;
// Length of values, fixed when the measurement starts: a K set meanwhile
// waits for the next measurement instead of resizing the array under it.
static int kvalues = 0;
// Runs made in the current measurement, kept or not.
static int samplecount = 0;

// The report of this thread's last measurement; all zeros before its first.
// One per thread, so that each thread reads its own measurement's report
// whatever other threads have measured since.  Constant-initialised, so it
// needs no run-time support.
static thread_local struct bestof_report last_report;

// The counter's step in ticks, measured once per process on first need: it
// costs many counter reads.
static double step_ticks = 0;
static int step_known = 0;

// ---- The measurement lock ---------------------------------------------------

// Held from the start of a measurement to its end, and by a setter or
// bestof_last called from another thread: measurements take turns, and a
// setter waits for the running measurement.  Every fatal exit is made with
// it held, so no exit handler runs while another thread is measuring.
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
// Non-zero while this thread is in a measurement, from just before it waits
// for the lock to just after it releases it: a bestof from its own test
// function (or from a signal handler that interrupted it) is nested, not a
// turn to wait for; its setters need no lock; bestof_abandon releases only
// its own thread's measurement.  Constant-initialised, so it needs no
// run-time support.
static thread_local int owner = 0;

// ---- Flush state ------------------------------------------------------------

// Allocated and written by the first flush, kept until the size changes.
static uint32_t *cache_buf = NULL;
// The size cache_buf was allocated at.
static uint32_t cache_buf_bytes = 0;
// Running sum of every word the flushes read; it keeps the reads live.
static uint32_t sink = 0;

static void fatal(const char *message) {
  fputs(message, stderr);
  exit(1);
}

// ---- The cache flush --------------------------------------------------------

static void clear(void) {
  uint32_t sum = sink;
  uint32_t stride = cache_block / 4;
  size_t nwords = cache_bytes / 4;
  if (cache_buf == NULL) {
    cache_buf = static_cast<uint32_t *>(malloc(cache_bytes));
    if (cache_buf == NULL) {
      // Below one word nothing is read, so no buffer is needed: a C library
      // may answer malloc(0) with null, and that is no failure.
      if (nwords == 0)
        return;
      fatal("Fatal error.  Malloc returned null when trying to clear cache\n");
    }
    // A fresh allocation maps every page to the shared zero page until it is
    // written; reading that would evict almost nothing.  Write a non-zero
    // pattern (a zero fill may be turned into calloc) so every page is real.
    memset(cache_buf, 0x01, cache_bytes);
    cache_buf_bytes = cache_bytes;
  }
  // Volatile: each read must reach memory even though the words never change.
  const volatile uint32_t *words = cache_buf;
  for (size_t i = 0; i < nwords; i += stride)
    sum += words[i];
  sink = sum;
}

// Gives the buffer back once it no longer has the size wanted.  Never while
// a measurement flushes with it: a size set by the test function waits for
// the measurement's end.
static void drop_stale_buffer(void) {
  if (cache_buf != NULL && cache_buf_bytes != wanted.cache_bytes) {
    free(cache_buf);
    cache_buf = NULL;
  }
}

// A setter called from another thread waits for the running measurement;
// one called from this thread's test function holds the lock already.
static void lock_settings(void) {
  if (!owner)
    pthread_mutex_lock(&lock);
}

static void unlock_settings(void) {
  if (!owner)
    pthread_mutex_unlock(&lock);
}

extern "C" void set_bestof_cache_sizee(int bytes) {
  if (bytes < 0)
    return;
  lock_settings();
  if ((uint32_t)bytes != wanted.cache_bytes) {
    wanted.cache_bytes = (uint32_t)bytes;
    if (!owner)
      drop_stale_buffer();
  }
  unlock_settings();
}

extern "C" void set_bestof_cache_block(int bytes) {
  if (bytes < 0)
    return;
  lock_settings();
  wanted.cache_block = bytes < 4 ? 4 : (uint32_t)bytes;
  unlock_settings();
}

// ---- The K-best driver ------------------------------------------------------

static void init_sampler(void) {
  free(values);
  kvalues = kbest;
  values = static_cast<double *>(calloc((size_t)kvalues, sizeof(double)));
  if (values == NULL)
    fatal("Fatal error.  Calloc returned null when allocating the sample array\n");
  samplecount = 0;
}

// Keeps values[0..min(samplecount, kvalues)) ascending and the smallest seen.
static void add_sample(double count) {
  int pos = 0;
  if (samplecount < kvalues) {
    pos = samplecount;
    values[pos] = count;
  } else if (count < values[kvalues - 1]) {
    pos = kvalues - 1;
    values[pos] = count;
  }
  samplecount++;
  while (pos > 0 && values[pos] < values[pos - 1]) {
    double t = values[pos];
    values[pos] = values[pos - 1];
    values[pos - 1] = t;
    pos--;
  }
}

static int has_converged(void) {
  return samplecount >= kvalues && (1 + epsilon) * values[0] >= values[kvalues - 1];
}

// Before a fatal exit outside a measurement of this thread: waits for
// another thread's measurement to end, then keeps every other thread out.
static void hold_lock_for_exit(void) {
  if (!owner) {
    owner = 1;
    pthread_mutex_lock(&lock);
  }
}

// Waits for the lock; another thread's measurement ends first.  A nested
// call ends the process: it would free and fill its caller's array.
static void enter_measurement(void) {
  if (owner)
    fatal("Fatal error.  bestof called from inside a measurement\n");
  owner = 1;
  pthread_mutex_lock(&lock);
}

// Takes this measurement's copy of the settings.
static void take_settings(void) {
  kbest = wanted.kbest;
  maxsamples = wanted.maxsamples;
  epsilon = wanted.epsilon;
  compensate = wanted.compensate;
  clear_cache = wanted.clear_cache;
  fence = wanted.fence;
  core_cycles = wanted.core_cycles;
  verbose = wanted.verbose;
  json = wanted.json;
  net = wanted.net;
  precise = wanted.precise;
  batch = wanted.batch;
  cache_bytes = wanted.cache_bytes;
  cache_block = wanted.cache_block;
  stream = wanted.stream != NULL ? wanted.stream : stdout;
}

static void leave_measurement(void) {
  double *done = values;
  values = NULL;
  free(done);
  drop_stale_buffer();
  pthread_mutex_unlock(&lock);
  owner = 0;
}

// Ends the process when the test function called bestof_abandon, which
// ended its own measurement under it: the measurement cannot go on, and
// another thread may have taken the lock since, so wait for it first.
static void check_not_abandoned(void) {
  if (owner)
    return;
  hold_lock_for_exit();
  fatal("Fatal error.  bestof_abandon called from inside a measurement\n");
}

// ---- Timed runs -------------------------------------------------------------

// The counter pair of a measurement, chosen once at its start.
enum counter_pair { PAIR_PLAIN, PAIR_COMPENSATED, PAIR_FENCED };

// One timed run of n calls of f(arg); returns the whole run's count.  With
// n = 1 the interval is exactly start, f(arg), read, as without batching; a
// batch adds only its own loop between start and read.  Inlined into its
// caller, so that a call of its own does not end (register restores and a
// tail jump) between f's return and the read.
static inline __attribute__((always_inline)) double timed_run(bestof_test_fn f, int arg,
                                                              enum counter_pair pair, int n) {
  double count;
  if (n == 1) {
    switch (pair) {
      case PAIR_COMPENSATED:
        start_comp_counter();
        f(arg);
        count = get_comp_counter();
        break;
      case PAIR_FENCED:
        start_fenced_counter();
        f(arg);
        count = get_fenced_counter();
        break;
      default:
        start_counter();
        f(arg);
        count = get_counter();
        break;
    }
    return count;
  }
  switch (pair) {
    case PAIR_COMPENSATED:
      start_comp_counter();
      for (int i = n; i > 0; i--)
        f(arg);
      count = get_comp_counter();
      break;
    case PAIR_FENCED:
      start_fenced_counter();
      for (int i = n; i > 0; i--)
        f(arg);
      count = get_fenced_counter();
      break;
    default:
      start_counter();
      for (int i = n; i > 0; i--)
        f(arg);
      count = get_counter();
      break;
  }
  return count;
}

static double step_once(void) {
  if (!step_known) {
    step_ticks = counter_step();
    step_known = 1;
  }
  return step_ticks;
}

// The automatic batch: a run must span at least this many counter steps, so
// that the step's quantisation error is at most 1% of a run, the default
// tolerance; and this many times the counter pair's own cost, so that the
// cost, which every run carries once whatever its n, is at most 1% too.  On
// a counter that advances by one tick the pair's cost is the larger.
static const double batch_auto_steps = 100;
// Empty runs (start, read) timed to find the pair's cost; the least is kept.
static const int batch_cost_tries = 3;
// Bounds the doubling for a function too short to register at all, or a
// counter that never advances: 2^20 calls, two million in all while probing.
static const int batch_auto_max = 1 << 20;

// Doubles n from 1 until one run of n calls lasts batch_auto_steps steps and
// batch_auto_steps times the pair's cost.  The probing runs are flushed like
// the measured ones but are not samples.
static int choose_batch(bestof_test_fn f, int arg, enum counter_pair pair) {
  double step = step_once();
  // A counter without a usable step is taken to advance by one tick.
  double unit = step > 0 && step < HUGE_VAL ? step : 1;
  double least_cost = 0;
  for (int i = 0; i < batch_cost_tries; i++) {
    double cost = timed_run(f, arg, pair, 0);
    if (i == 0 || cost < least_cost)
      least_cost = cost;
  }
  double need = batch_auto_steps * (least_cost > unit ? least_cost : unit);
  int n = 1;
  for (;;) {
    if (clear_cache)
      clear();
    double count = timed_run(f, arg, pair, n);
    check_not_abandoned();
    if (count >= need || n >= batch_auto_max)
      return n;
    n *= 2;
  }
}

// ---- Precise mode and net counts -------------------------------------------

// An estimate of one run's count, in ticks, and the variance of that
// estimate; runs: how many runs it drew on, window: how many it averaged.
struct run_estimate {
  double value;
  double variance;
  int runs;
  int window;
  int settled;  // 1: it reached precise_share; 0: the run cap ended it
};

// The square root of x (0 for x of 0 or below), by Newton's iteration from
// above, which falls until it reaches the root: the library must not need
// the C maths library, which a C program does not link by default.
static double root_of(double x) {
  if (!(x > 0))
    return 0;
  double r = x > 1 ? x : 1;
  for (int i = 0; i < 200; i++) {
    double next = (r + x / r) / 2;
    if (!(next < r))
      break;
    r = next;
  }
  return r;
}

// The fine estimator's window: runs within this many counter steps of the
// least are averaged.
static const double precise_window_steps = 1.5;
// Runs are taken in blocks; a precise estimate draws on at least
// precise_min_runs and at most precise_max_runs runs, and stops between the
// two once its uncertainty is within precise_share of the count.
static const int precise_block = 50;
static const int precise_min_runs = 50;
static const int precise_max_runs = 2000;
static const double precise_share = 0.001;
// An answer is resolved when its uncertainty is at most this share of it.
static const double resolved_share = 0.1;

// The window's anchor: the count of this rank, per run, among the counts
// in ascending order (0: the least).
static const int precise_anchor_per = 50;

// Every run's count of one precise estimate, in ticks, whole runs, and a
// scratch copy for finding the anchor.
static double precise_counts[precise_max_runs];
static double precise_scratch[precise_max_runs];

// The k-th smallest (from 0) of a[0..n), by selection in place: the
// partition that holds it is halved until it is one element.
static double kth_smallest(double *a, int n, int k) {
  int lo = 0, hi = n - 1;
  while (lo < hi) {
    double pivot = a[lo + (hi - lo) / 2];
    int i = lo, j = hi;
    while (i <= j) {
      while (a[i] < pivot)
        i++;
      while (a[j] > pivot)
        j--;
      if (i <= j) {
        double t = a[i];
        a[i++] = a[j];
        a[j--] = t;
      }
    }
    if (k <= j)
      hi = j;
    else if (k >= i)
      lo = i;
    else
      return a[k];
  }
  return a[k];
}

// The mean of the counts from the anchor (the least but the fastest 2%) to
// precise_window_steps steps above it.  A count of a stepped counter is the
// true duration rounded down or up to the lattice of steps, up with a
// probability equal to the fraction of a step it spans beyond the lower
// point when the start falls at a random phase of the step; the two lattice
// points both lie in the window and their mean is the duration itself,
// while the slower runs (an interrupt, a busy neighbour) lie outside.  The
// anchor skips the odd run a step or two faster than the rest (a stray
// reading), which would otherwise drag the window down with it from one
// measurement to the next.  The variance adds to the sample's a floor of
// (step / m)^2: m equal counts cannot rule out a duration that far above
// them.
static struct run_estimate fine_estimate(const double *counts, int n, double step) {
  memcpy(precise_scratch, counts, (size_t)n * sizeof counts[0]);
  double least = kth_smallest(precise_scratch, n, n / precise_anchor_per);
  double limit = least + precise_window_steps * step;
  double sum = 0;
  int m = 0;
  for (int i = 0; i < n; i++)
    if (counts[i] >= least && counts[i] <= limit) {
      sum += counts[i];
      m++;
    }
  double mean = sum / m, squares = 0;
  for (int i = 0; i < n; i++)
    if (counts[i] >= least && counts[i] <= limit)
      squares += (counts[i] - mean) * (counts[i] - mean);
  struct run_estimate e;
  e.value = mean;
  e.variance = (m > 1 ? squares / (m - 1) / m : 0) + (step / m) * (step / m);
  e.runs = n;
  e.window = m;
  e.settled = 0;
  return e;
}

// Runs f(arg) (n calls per run) in blocks until the fine estimate of a run's
// count settles or the cap is reached.  With sample set, every count (per
// call) also goes through add_sample, so the report's K least stay filled.
static struct run_estimate precise_runs(bestof_test_fn f, int arg, enum counter_pair pair, int n,
                                        double step, int sample) {
  int r = 0;
  for (;;) {
    for (int b = 0; b < precise_block; b++, r++) {
      if (clear_cache)
        clear();
      double count = timed_run(f, arg, pair, n);
      check_not_abandoned();
      precise_counts[r] = count;
      if (sample)
        add_sample(n == 1 ? count : count / n);
    }
    struct run_estimate e = fine_estimate(precise_counts, r, step);
    e.settled = r >= precise_min_runs && 2 * root_of(e.variance) <= precise_share * fabs(e.value);
    if (e.settled || r >= precise_max_runs)
      return e;
  }
}

// Timed in place of the test function to find what the pair and the call
// cost around nothing.
static void empty_call(int) {}

// The cost of one run of n empty calls, whole run in ticks, with the
// answer's own estimator: the fine one in precise mode, else the least of
// as many runs as the run limit allows (at least one).
static struct run_estimate pair_cost(enum counter_pair pair, int n, int fine, double step) {
  if (fine)
    return precise_runs(empty_call, 0, pair, n, step, 0);
  struct run_estimate e;
  memset(&e, 0, sizeof e);
  int runs = maxsamples > 1 ? maxsamples : 1;
  for (int i = 0; i < runs; i++) {
    if (clear_cache)
      clear();
    double count = timed_run(empty_call, 0, pair, n);
    if (i == 0 || count < e.value)
      e.value = count;
  }
  e.runs = e.window = runs;
  return e;
}

// What precise mode and net counts found in one measurement, in ticks of
// whole runs.
struct fine_result {
  int fine, net;
  double step;                      // the counter's step, or 1 if unknown
  struct run_estimate est;          // the test function's runs (fine only)
  struct run_estimate cost_before;  // the empty runs before the first run
  struct run_estimate cost_after;   // and after the last (net only)
  int reference;                    // 1: the reference chain was timed
  struct run_estimate ref_before;   // its runs before the first run
  struct run_estimate ref_after;    // and after the last
};

// Times the pair around the empty call and, in precise mode with single
// calls, around the reference chain: *cost and *ref.
static void time_references(const struct fine_result *fr, enum counter_pair pair, int n,
                            struct run_estimate *cost, struct run_estimate *ref) {
  *cost = pair_cost(pair, n, fr->fine, fr->step);
  if (fr->reference)
    *ref = precise_runs(core_chain, 0, pair, n, fr->step, 0);
}

// The step that the estimator and the resolution use: a counter without a
// usable step is taken to advance by one tick.
static double usable_step(double step) { return step > 0 && step < HUGE_VAL ? step : 1; }

// ---- The report and the verbose line ----------------------------------------

// Fills last_report from the finished measurement; scale converts counts
// (1 unless they become core cycles).
static void make_report(enum counter_pair pair, int n, int core, double cpt_start, double cpt_end,
                        double scale) {
  struct bestof_report r;
  memset(&r, 0, sizeof r);
  int kept = samplecount < kvalues ? samplecount : kvalues;
  r.runs = samplecount;
  r.converged = has_converged();
  r.k = kvalues;
  r.kept = kept;
  r.batch = n;
  r.tolerance = epsilon;
  r.least = values[0] * scale;
  r.kth_least = values[kept - 1] * scale;
  if (r.least > 0)
    r.spread = (r.kth_least - r.least) / r.least;
  else
    r.spread = r.kth_least == r.least ? 0 : HUGE_VAL;
  r.step = step_known ? step_ticks : 0;
  r.fenced = pair == PAIR_FENCED;
  r.compensated = pair == PAIR_COMPENSATED;
  r.core_cycles = core;
  r.core_per_tick_start = cpt_start;
  r.core_per_tick_end = cpt_end;
  last_report = r;
}

// A least of 0 or below has no relative spread to compare with the
// tolerance: the line gives the K least themselves instead.
// The K-best answer's uncertainty: the least is quantised to the counter's
// step, and a net answer is the difference of two such figures.
static void kbest_resolution(struct bestof_report *r) {
  double scale = r->core_cycles ? (r->core_per_tick_start + r->core_per_tick_end) / 2 : 1;
  r->uncertainty = usable_step(r->step) * (r->net ? 2 : 1) * scale / r->batch;
  r->resolved = r->answer > r->uncertainty && r->uncertainty <= resolved_share * r->answer;
}

// The part of the empty call's own cost that code of its length hides, in
// ticks: the empty call's count less the reference chain's intercept (its
// count less its additions, converted to ticks).  The call and return, and
// the pair's work around them, run alongside the timed code, so code that
// outlasts them pays only its own latency beyond the pair; an empty call
// pays them whole.  0 where no reference chain was timed, where counts are
// not in core cycles, or where the empty call hides nothing.
static double hidden_overhead(const struct fine_result *fr, double cost, double scale) {
  if (!fr->reference)
    return 0;
  double ref = (fr->ref_before.value + fr->ref_after.value) / 2;
  double hidden = cost - (ref - core_chain_adds() / scale);
  return hidden > 0 ? hidden : 0;
}

// Adds what net counts and precise mode found to the report that make_report
// filled: the answer, the pair's cost, how far the answer can be trusted.
static void finish_report(struct bestof_report *r, const struct fine_result *fr, double scale) {
  int n = r->batch;
  double cost = 0, cost_variance = 0;
  if (fr->net) {
    cost = (fr->cost_before.value + fr->cost_after.value) / 2;
    cost_variance = (fr->cost_before.variance + fr->cost_after.variance) / 4;
  }
  r->net = fr->net;
  r->precise = fr->fine;
  r->pair_cost = cost * scale / n;
  if (!fr->fine) {
    r->answer = r->least - r->pair_cost;
    r->window = r->kept;
    if (step_known)
      kbest_resolution(r);
    return;
  }
  r->converged = fr->est.settled;
  r->window = fr->est.window;
  double net_ticks = fr->est.value - cost, variance = fr->est.variance + cost_variance;
  double hidden = r->core_cycles ? hidden_overhead(fr, cost, scale) : 0;
  int under_call = hidden > 0 && net_ticks <= hidden / 2;
  if (hidden > 0 && !under_call) {
    // The same as the estimate less the reference chain's intercept.
    net_ticks += hidden;
    variance = fr->est.variance + (fr->ref_before.variance + fr->ref_after.variance) / 4;
    r->hidden_overhead = hidden * scale / n;
  }
  r->answer = net_ticks * scale / n;
  // About two standard errors.
  r->uncertainty = 2 * root_of(variance) * scale / n;
  r->resolved =
      !under_call && r->answer > r->uncertainty && r->uncertainty <= resolved_share * r->answer;
}

static void print_report(const struct bestof_report *r) {
  FILE *out = stream;
  int fine = r->net || r->precise;
  fprintf(out, "bestof: %.1f %s", r->answer, r->core_cycles ? "core cycles" : "cycles");
  if (r->batch != 1)
    fprintf(out, " per call (batch %d)", r->batch);
  if (fine)
    fprintf(out, " +/- %.2f", r->uncertainty);
  if (r->net)
    fprintf(out, ", net of the pair's %.1f", r->pair_cost);
  if (r->hidden_overhead > 0)
    fprintf(out, " of which the code hides %.1f", r->hidden_overhead);
  if (r->precise)
    fprintf(out, ", the mean of %d of %d runs from the 2nd percentile to %g steps above it%s",
            r->window, r->runs, precise_window_steps,
            r->converged ? "" : " (the run cap ended it)");
  else if (r->converged && r->least > 0)
    fprintf(out, ", %d of %d runs agreed within %.2f%%", r->kept, r->runs, 100 * r->spread);
  else if (r->converged)
    fprintf(out, ", %d of %d runs agreed, from %.1f to %.1f", r->kept, r->runs, r->least,
            r->kth_least);
  else if (r->kept < r->k)
    fprintf(out, ", not converged: the run limit ended it after %d of the %d runs K needs", r->runs,
            r->k);
  else if (r->least > 0)
    fprintf(out, ", not converged: the run limit ended it after %d runs, the %d least %.2f%% apart",
            r->runs, r->k, 100 * r->spread);
  else
    fprintf(out,
            ", not converged: the run limit ended it after %d runs, the %d least from %.1f to %.1f",
            r->runs, r->k, r->least, r->kth_least);
  if (!r->precise)
    fprintf(out, " (tolerance %g%%)", 100 * r->tolerance);
  if (r->core_cycles)
    fprintf(out, ", %.3f core cycles per tick",
            (r->core_per_tick_start + r->core_per_tick_end) / 2);
  fprintf(out, ", counter step %g", r->step);
  if (fine && !r->resolved)
    fprintf(out, ", below the counter's resolution");
  fprintf(out, "\n");
}

// A number as JSON has it: infinities and NaN, which it cannot write, as null.
static void print_json_number(const char *name, double v) {
  if (isfinite(v))
    fprintf(stream, ",\"%s\":%.17g", name, v);
  else
    fprintf(stream, ",\"%s\":null", name);
}

static void print_report_json(const struct bestof_report *r) {
  fprintf(stream,
          "{\"type\":\"bestof\",\"runs\":%d,\"converged\":%d,\"k\":%d,\"kept\":%d,\"batch\":%d",
          r->runs, r->converged, r->k, r->kept, r->batch);
  print_json_number("tolerance", r->tolerance);
  print_json_number("least", r->least);
  print_json_number("kth_least", r->kth_least);
  print_json_number("spread", r->spread);
  print_json_number("step", r->step);
  fprintf(stream, ",\"fenced\":%d,\"compensated\":%d,\"core_cycles\":%d", r->fenced, r->compensated,
          r->core_cycles);
  print_json_number("core_per_tick_start", r->core_per_tick_start);
  print_json_number("core_per_tick_end", r->core_per_tick_end);
  fprintf(stream, ",\"net\":%d,\"precise\":%d,\"resolved\":%d,\"window\":%d", r->net, r->precise,
          r->resolved, r->window);
  print_json_number("pair_cost", r->pair_cost);
  print_json_number("uncertainty", r->uncertainty);
  print_json_number("answer", r->answer);
  print_json_number("hidden_overhead", r->hidden_overhead);
  fprintf(stream, "}\n");
}

// ---- The K-best driver ------------------------------------------------------

extern "C" double bestof(bestof_test_fn f, int arg) {
  if (f == NULL) {
    hold_lock_for_exit();
    fatal("Fatal error.  bestof called with a null test function\n");
  }
  enter_measurement();
  take_settings();
  init_sampler();
  // The counter pair, the batch and the conversion hold for the whole
  // measurement; the compensated counter has no fenced form, so it wins.
  // Precise mode is the fence, core cycles, net counts and the fine
  // estimator together.
  int comp = compensate;
  struct fine_result fr;
  memset(&fr, 0, sizeof fr);
  fr.fine = precise;
  fr.net = net || precise;
  enum counter_pair pair = comp ? PAIR_COMPENSATED : fence || fr.fine ? PAIR_FENCED : PAIR_PLAIN;
  int n = batch > 0 ? batch : choose_batch(f, arg, pair);
  int core = core_cycles != 0 || fr.fine;
  double cpt_start = core ? core_per_tick() : 0;
  if (fr.fine || fr.net)
    fr.step = usable_step(step_once());
  fr.reference = fr.fine && n == 1 && core_chain_adds() > 0;
  if (fr.net)
    time_references(&fr, pair, n, &fr.cost_before, &fr.ref_before);
  if (fr.fine) {
    fr.est = precise_runs(f, arg, pair, n, fr.step, 1);
  } else {
    do {
      if (clear_cache)
        clear();
      double count = timed_run(f, arg, pair, n);
      check_not_abandoned();
      add_sample(n == 1 ? count : count / n);
    } while (!has_converged() && samplecount < maxsamples);
  }
  if (fr.net)
    time_references(&fr, pair, n, &fr.cost_after, &fr.ref_after);
  double cpt_end = core ? core_per_tick() : 0;
  // Counts are converted at the mean of both ends; a figure that is not a
  // positive number, or a product that is not finite, leaves them in counter
  // ticks, and the report says so.
  double scale = 1;
  if (core && cpt_start > 0 && cpt_start < HUGE_VAL && cpt_end > 0 && cpt_end < HUGE_VAL)
    scale = cpt_start / 2 + cpt_end / 2;
  else
    core = 0;
  if (core && !(isfinite(values[0] * scale) && isfinite(values[kvalues - 1] * scale))) {
    scale = 1;
    core = 0;
  }
  if (verbose)
    step_once();
  make_report(pair, n, core, cpt_start, cpt_end, scale);
  finish_report(&last_report, &fr, scale);
  if (verbose)
    (json ? print_report_json : print_report)(&last_report);
  double result = last_report.answer;
  leave_measurement();
  return result;
}

extern "C" void bestof_abandon(void) {
  // Another thread's measurement is still running: leave it alone.  Called
  // from this thread's test function, it ends the measurement all the same;
  // the driver finds that out when the function returns.
  if (owner)
    leave_measurement();
}

extern "C" void set_bestof_k(int k) {
  if (k < 1)
    return;
  lock_settings();
  wanted.kbest = k;
  unlock_settings();
}

// Stores an int setting under the lock (see lock_settings).
static void set_int(int *setting, int value) {
  lock_settings();
  *setting = value;
  unlock_settings();
}

extern "C" void set_bestof_maxsamples(int n) { set_int(&wanted.maxsamples, n); }

extern "C" void set_bestof_epsilon(double e) {
  // NaN would never compare, and an infinity says nothing a large tolerance
  // does not: both are refused like the other bad settings.
  if (!isfinite(e))
    return;
  lock_settings();
  wanted.epsilon = e;
  unlock_settings();
}

extern "C" void set_bestof_compensate(int on) { set_int(&wanted.compensate, on); }
extern "C" void set_bestof_clear_cache(int on) { set_int(&wanted.clear_cache, on); }

extern "C" void set_bestof_fence(int on) { set_int(&wanted.fence, on); }
extern "C" void set_bestof_core_cycles(int on) { set_int(&wanted.core_cycles, on); }
extern "C" void set_bestof_verbose(int on) { set_int(&wanted.verbose, on); }

extern "C" void set_bestof_verbose_stream(FILE *out) {
  lock_settings();
  wanted.stream = out;
  unlock_settings();
}

extern "C" void set_bestof_json(int on) { set_int(&wanted.json, on); }

extern "C" int bestof_verbose_form(void) {
  lock_settings();
  int form = wanted.verbose ? (wanted.json ? 2 : 1) : 0;
  unlock_settings();
  return form;
}

extern "C" FILE *get_bestof_verbose_stream(void) {
  lock_settings();
  FILE *out = wanted.stream != NULL ? wanted.stream : stdout;
  unlock_settings();
  return out;
}

extern "C" void set_bestof_net(int on) { set_int(&wanted.net, on); }
extern "C" void set_bestof_precise(int on) { set_int(&wanted.precise, on); }

extern "C" void set_bestof_batch(int n) {
  if (n >= 0)
    set_int(&wanted.batch, n);
}

extern "C" void bestof_last(struct bestof_report *out) {
  if (out == NULL)
    return;
  // The step is measured here, between measurements, unless a measurement
  // (this thread's or another's) already needed it.
  if (last_report.runs > 0 && last_report.step == 0) {
    lock_settings();
    last_report.step = step_once();
    unlock_settings();
    if (!last_report.precise)
      kbest_resolution(&last_report);
  }
  *out = last_report;
}

// ---- All settings at once -----------------------------------------------------

extern "C" void get_bestof_settings(struct bestof_settings *out) {
  if (out == NULL)
    return;
  // The settings wanted for the next measurement, not the running one's copy.
  lock_settings();
  out->k = wanted.kbest;
  out->maxsamples = wanted.maxsamples;
  out->epsilon = wanted.epsilon;
  out->compensate = wanted.compensate;
  out->clear_cache = wanted.clear_cache;
  out->cache_size = (int)wanted.cache_bytes;
  out->cache_block = (int)wanted.cache_block;
  out->fence = wanted.fence;
  out->core_cycles = wanted.core_cycles;
  out->batch = wanted.batch;
  out->verbose = wanted.verbose;
  out->json = wanted.json;
  out->net = wanted.net;
  out->precise = wanted.precise;
  unlock_settings();
}

extern "C" void set_bestof_settings(const struct bestof_settings *in) {
  if (in == NULL)
    return;
  set_bestof_k(in->k);
  set_bestof_maxsamples(in->maxsamples);
  set_bestof_epsilon(in->epsilon);
  set_bestof_compensate(in->compensate);
  set_bestof_clear_cache(in->clear_cache);
  set_bestof_cache_sizee(in->cache_size);
  set_bestof_cache_block(in->cache_block);
  set_bestof_fence(in->fence);
  set_bestof_core_cycles(in->core_cycles);
  set_bestof_batch(in->batch);
  set_bestof_verbose(in->verbose);
  set_bestof_json(in->json);
  set_bestof_net(in->net);
  set_bestof_precise(in->precise);
}

extern "C" void set_bestof_defaults(void) {
  static const struct bestof_settings defaults = {3, 20, 0.01, 0, 0, 1 << 19, 32,
                                                  0, 0,  1,    0, 0, 0,       0};
  set_bestof_settings(&defaults);
}
