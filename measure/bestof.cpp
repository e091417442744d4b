// The K-best driver: bestof, its timed runs, the automatic batch.
//
// Only the counter start, the test function and the counter read lie inside
// a timed interval; the flush, the insertion and the convergence test lie
// outside it.  A batch of n calls puts the loop over those calls inside it
// and nothing else; core_per_tick and counter_step each read the counter
// many times and are called only between timed intervals.

#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "internal.h"

namespace bestof_internal {

// The running measurement.  Measurements take turns at the lock, so there
// is one at a time in the process; it is static rather than on the stack
// for its arrays of precise counts, and so that bestof_abandon can end it.
static struct measurement running;

// The report of this thread's last measurement; all zeros before its first.
// One per thread, so that each thread reads its own measurement's report
// whatever other threads have measured since.  Constant-initialised, so it
// needs no run-time support.
static thread_local struct bestof_report last_report;

// The counter's step in ticks, measured once per process on first need: it
// costs many counter reads.  Read and written under the lock.
static struct {
  double ticks;
  int known;
} step = {0, 0};

// The figure is stored before the flag that says it is known, so that a
// child forked while another thread measures it finds it either unknown or
// whole.
double step_once(void) {
  if (!step.known) {
    step.ticks = counter_step();
    __atomic_store_n(&step.known, 1, __ATOMIC_RELEASE);
  }
  return step.ticks;
}

// Copies the step into the measurement, if it is known by now.
static void note_step(struct measurement *m) { m->step = step.known ? step.ticks : 0; }

// ---- The K least ------------------------------------------------------------

static void init_sampler(struct measurement *m) {
  m->k = m->s.s.k;
  m->least = static_cast<double *>(calloc((size_t)m->k, sizeof(double)));
  if (m->least == NULL)
    fatal("Fatal error.  Calloc returned null when allocating the sample array\n");
  m->runs = 0;
}

void add_sample(struct measurement *m, double count) {
  double *least = m->least;
  int pos = 0;
  if (m->runs < m->k) {
    pos = m->runs;
    least[pos] = count;
  } else if (count < least[m->k - 1]) {
    pos = m->k - 1;
    least[pos] = count;
  }
  m->runs++;
  while (pos > 0 && least[pos] < least[pos - 1]) {
    double t = least[pos];
    least[pos] = least[pos - 1];
    least[pos - 1] = t;
    pos--;
  }
}

int has_converged(const struct measurement *m) {
  return m->runs >= m->k && (1 + m->s.s.epsilon) * m->least[0] >= m->least[m->k - 1];
}

// Gives the array back and lets the next measurement in.
static void end_measurement(struct measurement *m) {
  double *done = m->least;
  m->least = NULL;
  free(done);
  leave_measurement();
}

// ---- Timed runs ---------------------------------------------------------------

double flushed_run(const struct measurement *m, bestof_test_fn f, int arg, int n) {
  if (m->s.s.clear_cache)
    clear((uint32_t)m->s.s.cache_size, (uint32_t)m->s.s.cache_block);
  double count = timed_run(f, arg, m->pair, n);
  // The test function called bestof_abandon, which ended its own
  // measurement under it: the measurement cannot go on, and another thread
  // may have taken the lock since, so wait for it first.
  if (!in_measurement())
    fatal_holding_lock("Fatal error.  bestof_abandon called from inside a measurement\n");
  return count;
}

double hooked_run(const struct measurement *m, bestof_test_fn f, int arg, int n) {
  const struct bestof_hooks *h = m->hooks;
  if (h != NULL && h->before != NULL)
    h->before(h->context);
  double count = flushed_run(m, f, arg, n);
  if (h != NULL && h->after != NULL)
    h->after(h->context);
  return count;
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

double resolving_count(const struct measurement *m) {
  double unit = usable_step(step_once());
  double least_cost = 0;
  for (int i = 0; i < batch_cost_tries; i++) {
    double cost = timed_run(NULL, 0, m->pair, 0);  // no call: start, read
    if (i == 0 || cost < least_cost)
      least_cost = cost;
  }
  return batch_auto_steps * (least_cost > unit ? least_cost : unit);
}

// Doubles n from 1 until one run of n calls lasts the resolving count.  The
// probing runs are flushed like the measured ones but are not samples.
static int choose_batch(const struct measurement *m, bestof_test_fn f, int arg) {
  double need = resolving_count(m);
  int n = 1;
  for (;;) {
    double count = hooked_run(m, f, arg, n);
    if (count >= need || n >= batch_auto_max)
      return n;
    n *= 2;
  }
}

// ---- The measurement ----------------------------------------------------------

// Chooses the counter pair, the batch and the conversion, which hold for
// the whole measurement.  The compensated counter has no fenced form, so it
// wins.  Precise mode is the fence, core cycles, net counts and the precise
// estimator together.  What the last measurement found is cleared.
static void choose_method(struct measurement *m, bestof_test_fn f, int arg) {
  static const struct run_estimate none = {0, 0, 0, 0, 0};
  m->est = m->cost_before = m->cost_after = m->ref_before = m->ref_after = none;
  const struct bestof_settings *s = &m->s.s;
  m->precise = s->precise != 0;
  m->net = s->net || s->precise;
  m->pair = s->compensate ? pair_compensated : s->fence || s->precise ? pair_fenced : pair_plain;
  m->batch = s->batch > 0 ? s->batch : choose_batch(m, f, arg);
  m->core = s->core_cycles != 0 || m->precise;
  m->reference = m->precise && m->batch == 1 && core_chain_adds() > 0;
}

// Counts are converted at the mean of both ends; a figure that is not a
// positive number, or a product that is not finite, leaves them in counter
// ticks, and the report says so.
static void choose_scale(struct measurement *m) {
  double a = m->cpt_start, b = m->cpt_end;
  m->scale = 1;
  if (m->core && a > 0 && a < HUGE_VAL && b > 0 && b < HUGE_VAL)
    m->scale = a / 2 + b / 2;
  else
    m->core = 0;
  if (m->core && !(isfinite(m->least[0] * m->scale) && isfinite(m->least[m->k - 1] * m->scale))) {
    m->scale = 1;
    m->core = 0;
  }
}

struct measurement *begin_measurement(const struct bestof_settings *with, FILE *stream) {
  struct measurement *m = &running;
  enter_measurement(&m->s);
  if (stream != NULL)
    m->s.stream = stream;
  if (with != NULL) {
    apply_per_call(&m->s, with);
    // The buffer may have been made at the size wanted process-wide; a
    // flush must never read past it.
    drop_stale_buffer((uint32_t)m->s.s.cache_size);
  }
  init_sampler(m);
  m->hooks = NULL;
  return m;
}

double finish_measurement(struct measurement *m, int aloud, struct bestof_report *out) {
  m->cpt_end = m->core ? core_per_tick() : 0;
  choose_scale(m);
  int verbose = aloud && m->s.s.verbose;
  if (verbose)
    step_once();
  note_step(m);
  build_report(m);
  if (verbose)
    print_report(&m->s, &m->report);
  last_report = m->report;
  if (out != NULL)
    *out = m->report;
  double result = m->report.answer;
  end_measurement(m);
  return result;
}

// The measurement of bestof, printing its line when aloud is set; net
// counts when the settings or net say so; with the settings *with and the
// stream given where they are not null.
static double measure(bestof_test_fn f, int arg, int aloud, int net, struct bestof_report *out,
                      const struct bestof_settings *with = NULL, FILE *stream = NULL,
                      const struct bestof_hooks *hooks = NULL) {
  if (f == NULL)
    fatal_holding_lock("Fatal error.  bestof called with a null test function\n");
  struct measurement *m = begin_measurement(with, stream);
  m->hooks = hooks;
  if (net)
    m->s.s.net = 1;
  choose_method(m, f, arg);
  m->cpt_start = m->core ? core_per_tick() : 0;
  if (m->net)
    step_once();
  note_step(m);
  if (m->net)
    time_references(m, &m->cost_before, &m->ref_before);
  if (m->precise) {
    precise_measure(m, f, arg);
  } else {
    do {
      double count = hooked_run(m, f, arg, m->batch);
      add_sample(m, m->batch == 1 ? count : count / m->batch);
    } while (!has_converged(m) && m->runs < m->s.s.maxsamples);
  }
  if (m->net)
    time_references(m, &m->cost_after, &m->ref_after);
  return finish_measurement(m, aloud, out);
}

double measure_quietly(bestof_test_fn f, int arg, struct bestof_report *out) {
  return measure(f, arg, 0, 0, out);
}

double measure_quietly(bestof_test_fn f, int arg, int net, struct bestof_report *out) {
  return measure(f, arg, 0, net, out);
}

extern "C" double bestof(bestof_test_fn f, int arg) { return measure(f, arg, 1, 0, NULL); }

extern "C" double bestof_with(const struct bestof_settings *settings, bestof_test_fn f, int arg) {
  return measure(f, arg, 1, 0, NULL, settings);
}

extern "C" double bestof_with_stream(const struct bestof_settings *settings, FILE *verbose,
                                     bestof_test_fn f, int arg) {
  return measure(f, arg, 1, 0, NULL, settings, verbose);
}

extern "C" double bestof_with_hooks(const struct bestof_settings *settings, FILE *verbose,
                                    bestof_test_fn f, int arg, const struct bestof_hooks *hooks) {
  return measure(f, arg, 1, 0, NULL, settings, verbose, hooks);
}

extern "C" void bestof_abandon(void) {
  // Another thread's measurement is still running: leave it alone.  Called
  // from this thread's test function, it ends the measurement all the same;
  // the driver finds that out when the function returns.
  if (in_measurement())
    end_measurement(&running);
}

extern "C" void bestof_last(struct bestof_report *out) {
  if (out == NULL)
    return;
  // The step is measured here, between measurements, unless a measurement
  // (this thread's or another's) already needed it.
  if (last_report.runs > 0 && last_report.step == 0) {
    last_report.step = under_lock(step_once);
    if (!last_report.precise)
      step_resolution(&last_report);
  }
  *out = last_report;
}

}  // namespace bestof_internal
