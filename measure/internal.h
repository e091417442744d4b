// What the sources of measure/ share; not installed.  It includes only
// public headers, and no public header includes it.
//
// The rooms: settings.cpp (the settings wanted, the lock, the setters),
// bestof.cpp (the K-best driver and its timed runs), precise.cpp (precise
// mode and net counts), report.cpp (the report and its lines), flush.cpp
// (the cache flush), compare.cpp (comparisons and fits), per_call.cpp
// (settings given for one call), region.cpp (the measured region),
// units.cpp (the counter's rate).
#ifndef CYCLEKIT_MEASURE_INTERNAL_H
#define CYCLEKIT_MEASURE_INTERNAL_H

#include <stdint.h>
#include <stdio.h>

#include "bestof.h"
#include "clock.h"

// External linkage, but C++ names in a namespace of their own: a program's
// own clear or fatal must neither clash with these nor be taken for them.
namespace bestof_internal {

// ---- Settings and the lock (settings.cpp) -----------------------------------

// Every setting: the public ones and the verbose lines' stream.
struct settings {
  struct bestof_settings s;
  FILE *stream;  // null: standard output
};

// Ends the process with message on standard error, status 1.  fatal is for
// a thread inside a measurement, which holds the lock; fatal_holding_lock,
// for any other, first waits for another thread's measurement to end and
// keeps every other thread out, so that no exit handler runs under one.
[[noreturn]] void fatal(const char *message);
[[noreturn]] void fatal_holding_lock(const char *message);

// Waits for the lock (another thread's measurement ends first) and copies
// the settings wanted into *copy.  A nested call, from this thread's own
// test function or a signal handler, ends the process.
void enter_measurement(struct settings *copy);
// Releases the lock; the flush buffer, if its size was changed meanwhile, is
// given back first.
void leave_measurement(void);
// 1 while this thread is inside a measurement.
int in_measurement(void);

// A copy of the settings wanted, taken under the lock.
void copy_settings(struct settings *copy);

// Settings given with one call: the defaults, then every field of *in that
// its setter accepts.  default_settings: the defaults alone.
void checked_settings(struct bestof_settings *out, const struct bestof_settings *in);
void default_settings(struct bestof_settings *out);

// Runs step() under the lock, for work between measurements that must not
// meet one (measuring the counter's step).
double under_lock(double (*step)(void));

// The stream the settings send lines to.
static inline FILE *line_stream(const struct settings *s) {
  return s->stream != NULL ? s->stream : stdout;
}

// ---- The cache flush (flush.cpp) --------------------------------------------

// Reads through the flush buffer of bytes bytes, one word every block bytes.
void clear(uint32_t bytes, uint32_t block);
// Frees the buffer unless it has the size wanted.  Never while a measurement
// flushes with it.
void drop_stale_buffer(uint32_t wanted_bytes);

// What measuring the default flush's size needs from the machine: how slow
// a walk over a probe larger than the inner caches is after a flush of
// bytes, as a share of its cost with every line of the probe evicted one by
// one (about 1: the flush evicted the probe); negative where that cannot be
// measured.
struct eviction_probe {
  double (*evicted_share)(void *state, uint32_t bytes);
  void *state;
};
// The least flush, in steps of 64 MiB up to most bytes, that leaves the walk
// about as slow as evicting its lines does: 0 if nothing could be measured,
// -1 if none up to most did.
long long evicting_flush(const struct eviction_probe *p, long long most);
// bestof_flush_bytes's answer for a last-level cache of llc bytes whose
// figure came from source (machine_llc_source's names), measuring with p
// where the figure needs it; *why says where the answer came from.
int flush_size_rule(int llc, const char *source, const struct eviction_probe *p, const char **why);

// ---- The measurement context (bestof.cpp) -----------------------------------

// The counter pair of a measurement, chosen once at its start.
enum counter_pair { pair_plain, pair_compensated, pair_fenced };

// An estimate of one run's count, in ticks, and the variance of that
// estimate; runs: how many runs it drew on, window: how many it averaged.
struct run_estimate {
  double value;
  double variance;
  int runs;
  int window;
  int settled;  // 1: it reached precise_share; 0: the run cap ended it
};

// Runs are taken in blocks; a precise estimate draws on at least
// precise_min_runs and at most precise_max_runs runs.
static const int precise_max_runs = 2000;
// The precise estimator's window: runs within this many counter steps of
// the anchor are averaged.
static const double precise_window_steps = 1.5;
// An answer is resolved when its uncertainty is at most this share of it.
static const double resolved_share = 0.1;

// One measurement from its start to its end: its copy of the settings, the K
// least counts and the runs made, the pair, batch and conversion it uses,
// what precise mode and net counts found, and its report.  Counts are in
// ticks of whole runs unless said otherwise.
struct measurement {
  struct settings s;
  double *least;  // the K least counts per call so far, ascending
  int k;          // the length of least: K at the start
  int runs;       // runs made, kept or not
  enum counter_pair pair;
  int batch;                        // calls per run
  double step;                      // the counter's step, 0 while unknown
  int core;                         // 1: counts are converted to core cycles
  double cpt_start;                 // core_per_tick() before the first run
  double cpt_end;                   // and after the last
  double scale;                     // per-tick conversion: their mean, or 1
  int precise;                      // precise mode: the fence, core cycles, net counts and
                                    // the precise estimator together
  int net;                          // the pair's cost is taken off
  int reference;                    // 1: the reference chain was timed
  struct run_estimate est;          // the test function's runs (precise)
  struct run_estimate cost_before;  // the empty runs before the first run
  struct run_estimate cost_after;   // and after the last (net)
  struct run_estimate ref_before;   // the reference chain before
  struct run_estimate ref_after;    // and after
  // Every run's count of one precise estimate, and a scratch copy for
  // finding the anchor.
  double counts[precise_max_runs];
  double scratch[precise_max_runs];
  struct bestof_report report;
  const struct bestof_hooks *hooks;  // around every run of the test function; may be null
  double pause_cost;                 // a region's least empty pair; below 0 while unknown
};

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
      case pair_compensated:
        start_comp_counter();
        f(arg);
        count = get_comp_counter();
        break;
      case pair_fenced:
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
    case pair_compensated:
      start_comp_counter();
      for (int i = n; i > 0; i--)
        f(arg);
      count = get_comp_counter();
      break;
    case pair_fenced:
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

// One run of the measurement: the flush if it is on, then the timed run of
// m->batch calls (n calls where given), then the check that the test
// function did not abandon the measurement.  Returns the whole run's count.
double flushed_run(const struct measurement *m, bestof_test_fn f, int arg, int n);
// flushed_run with the measurement's hooks around it: a run of the test
// function itself, not of an empty call or a reference.
double hooked_run(const struct measurement *m, bestof_test_fn f, int arg, int n);
// Keeps m->least ascending and the smallest counts seen; counts the run.
void add_sample(struct measurement *m, double count);
int has_converged(const struct measurement *m);

// The measurement that bestof makes, returning its answer and filling *out
// (unless null); never prints.  For compare.cpp.
double measure_quietly(bestof_test_fn f, int arg, struct bestof_report *out);
// The same, net of the pair's cost whatever the net setting says when net
// is 1: the comparison's answers, whose ratio is the ratio of the work.
double measure_quietly(bestof_test_fn f, int arg, int net, struct bestof_report *out);

// The counter's step in ticks, measured on first need (under the lock).
double step_once(void);
// The least count of a run that the counter resolves: 100 counter steps and
// 100 times the pair's own cost (the least of 3 empty runs, start then
// read), so that neither is more than 1% of a run, the default tolerance.
double resolving_count(const struct measurement *m);

// The start and the end of every measurement, a region's too.  begin waits
// for the lock, copies the settings (those of *with instead, checked, where
// it is not null; the lines to stream where that is not null) and makes
// the array of the K least.  finish converts, reports (printing the line
// when aloud and verbose), keeps the report for bestof_last, fills *out
// unless it is null, and lets the next measurement in; it returns the
// answer.
struct measurement *begin_measurement(const struct bestof_settings *with, FILE *stream);
double finish_measurement(struct measurement *m, int aloud, struct bestof_report *out);

// ---- Settings for one call (per_call.cpp) -----------------------------------

// Replaces into->s with *in checked by the setters' rules; each field
// refused falls back to its default, said on into's stream when the
// checked settings are verbose.
void apply_per_call(struct settings *into, const struct bestof_settings *in);

// ---- Precise mode and net counts (precise.cpp) ------------------------------

// The step that the estimator and the resolution use: a counter without a
// usable step is taken to advance by one tick.
double usable_step(double step);
// The square root of x (0 for x of 0 or below), without the C maths library.
double root_of(double x);
// The median of v[0..n), whose order it changes; NaN for none.
double median_in_place(double *v, int n);
// Times the pair around the empty call and, with m->reference, around the
// reference chain: *cost and *ref.
void time_references(struct measurement *m, struct run_estimate *cost, struct run_estimate *ref);
// Runs the test function until the precise estimate settles (m->est); every
// count per call also goes through add_sample.
void precise_measure(struct measurement *m, bestof_test_fn f, int arg);
// Whether estimate e after r runs may stop: within its fine target, or
// within its coarse one where the fine one lies beyond the run cap.  net:
// the run's count less the pair's cost, ticks (0 for the references).
int precise_settled(const struct measurement *m, const struct run_estimate *e, int r, double net);
// The part of the empty call's own cost, cost in ticks, that code of its
// length hides (see precise.cpp); 0 without a reference chain.
double hidden_overhead(const struct measurement *m, double cost);

// ---- The report and its lines (report.cpp) ----------------------------------

// Builds m->report from the finished measurement.
void build_report(struct measurement *m);
// The K-best answer's uncertainty and whether it is resolved, from the
// report's step, net flag, conversion and batch.
void step_resolution(struct bestof_report *r);
// The verbose line, text or JSON as the settings ask.
void print_report(const struct settings *s, const struct bestof_report *r);

// One JSON object on one line: json_begin, fields, json_end.  Numbers that
// are not finite (JSON has no infinity or NaN) are written as null, and with
// a decimal point under every locale.  Names and types are the code's own
// and written as they are; a string's value is escaped, and a null one is
// written as null.
void json_begin(FILE *out, const char *type);
// A finite number as printf wrote it (%f, %g) with '.' for the locale's
// decimal point, in place; the suite's CSV shares it with the JSON writer.
void c_point(char *text);
void json_int(FILE *out, const char *name, int v);
void json_number(FILE *out, const char *name, double v);
void json_string(FILE *out, const char *name, const char *v);
// The bytes at p that make one well-formed UTF-8 sequence (n > 0, RFC 3629),
// or minus the length of the maximal ill-formed subpart there; p's string
// ends in a 0, past which nothing is read.  The C++ front end's JSON writer
// shares it, so that both write the same names.
int utf8_scan(const unsigned char *p);
void json_end(FILE *out);
// A field holding an object: json_begin_object, fields, json_end_object.
// The writer keeps no state, so the object's first field (a whole number)
// comes with its opening, as the type comes with json_begin.
void json_begin_object(FILE *out, const char *name, const char *first, int v);
void json_end_object(FILE *out);

}  // namespace bestof_internal

#endif  // CYCLEKIT_MEASURE_INTERNAL_H
