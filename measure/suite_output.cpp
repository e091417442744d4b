// The suite's result file of JSON lines, written through the driver's JSON
// writer.

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "clock.h"
#include "internal.h"
#include "machine.h"
#include "result_format.h"
#include "suite_internal.h"

#ifndef CYCLEKIT_VERSION
#define CYCLEKIT_VERSION "unknown"
#endif

using namespace bestof_internal;
using namespace suite_internal;

// ---- The machine, for the context line ----------------------------------------

// ---- The result file -------------------------------------------------------------

// -1 (unknown) is null.
static void json_tristate(FILE *out, const char *name, int v) {
  if (v < 0)
    json_number(out, name, NAN);
  else
    json_int(out, name, v);
}

static void write_settings(FILE *out, const struct bestof_settings *b) {
  json_begin_object(out, "settings", "k", b->k);
  json_int(out, "maxsamples", b->maxsamples);
  json_number(out, "epsilon", b->epsilon);
  json_int(out, "compensate", b->compensate);
  json_int(out, "clear_cache", b->clear_cache);
  json_int(out, "cache_size", b->cache_size);
  json_int(out, "cache_block", b->cache_block);
  json_int(out, "fence", b->fence);
  json_int(out, "core_cycles", b->core_cycles);
  json_int(out, "batch", b->batch);
  json_int(out, "net", b->net);
  json_int(out, "precise", b->precise);
  json_end_object(out);
}

static void write_context(FILE *out, const struct cyclekit_suite *s,
                          const struct bestof_settings *b, int selected) {
  char cpu[256], clocksource[64], date[32];
  time_t now = time(NULL);
  struct tm utc;
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
  json_begin(out, "context");
  json_int(out, "format", CYCLEKIT_RESULT_FORMAT);
  json_string(out, "library", "cyclekit");
  json_string(out, "version", CYCLEKIT_VERSION);
  json_string(out, "title", s->title);
  json_string(out, "date", date);
  json_string(out, "counter", machine_counter_name());
  json_number(out, "mhz", counter_mhz(0.05));
  json_number(out, "step", counter_step());
  json_number(out, "core_per_tick", core_per_tick());
  json_string(out, "clocksource",
              machine_clocksource(clocksource, sizeof clocksource) ? clocksource : NULL);
  json_tristate(out, "hypervisor", machine_hypervisor());
  json_tristate(out, "invariant", machine_counter_invariant());
  json_string(out, "cpu", machine_cpu_model(cpu, (int)sizeof cpu) ? cpu : NULL);
  json_int(out, "llc_bytes", bestof_llc_bytes());
  json_int(out, "flush_bytes", b->clear_cache ? b->cache_size : 0);
  json_string(out, "compiler", s->compiler);
  json_string(out, "flags", s->flags);
  json_int(out, "repetitions", s->repetitions);
  json_int(out, "names", selected);
  json_string(out, "filter", s->has_filter ? s->filter_text : NULL);
  write_settings(out, b);
  if (s->ticks_per_ns > 0)
    json_number(out, "ticks_per_ns", s->ticks_per_ns);
  if (s->time_unit != unit_counted)
    json_string(out, "time_unit", shown_unit(s, 0));
  json_end(out);
}

// The figures a name was given and what --time-unit changed: fields added
// after the others, each only where it has something to say.
static void write_extras(FILE *out, const struct cyclekit_suite *s, const struct suite_entry *e,
                         const struct suite_answer *a) {
  const struct bestof_report *r = &a->report;
  if (s->time_unit != unit_counted) {
    json_number(out, "counted_answer", a->answer);
    json_number(out, "counted_uncertainty", r->uncertainty);
    json_string(out, "counted_unit",
                r->core_cycles ? CYCLEKIT_UNIT_CORE_CYCLES : CYCLEKIT_UNIT_TICKS);
  }
  if (e->bytes > 0) {
    json_number(out, "bytes_per_call", e->bytes);
    json_number(out, "bytes_per_second", per_second(e->bytes, a->ns));
  }
  if (e->items > 0) {
    json_number(out, "items_per_call", e->items);
    json_number(out, "items_per_second", per_second(e->items, a->ns));
  }
  if (e->has_settings)
    write_settings(out, &e->settings);
}

static void write_result(FILE *out, const struct cyclekit_suite *s, const struct suite_entry *e,
                         int repetition, const struct suite_answer *a) {
  const struct bestof_report *r = &a->report;
  json_begin(out, "result");
  json_string(out, "name", e->name);
  json_int(out, "repetition", repetition);
  json_number(out, "answer", a->shown);
  json_string(out, "unit", shown_unit(s, r->core_cycles));
  json_number(out, "seconds", a->seconds);
  json_int(out, "runs", r->runs);
  json_int(out, "converged", r->converged);
  json_int(out, "resolved", r->resolved);
  json_number(out, "uncertainty", a->shown_uncertainty);
  json_number(out, "step", r->step);
  json_int(out, "k", r->k);
  json_int(out, "kept", r->kept);
  json_int(out, "batch", r->batch);
  json_number(out, "tolerance", r->tolerance);
  json_number(out, "least", r->least);
  json_number(out, "kth_least", r->kth_least);
  json_number(out, "spread", r->spread);
  json_int(out, "fenced", r->fenced);
  json_int(out, "compensated", r->compensated);
  json_int(out, "core_cycles", r->core_cycles);
  json_number(out, "core_per_tick_start", r->core_per_tick_start);
  json_number(out, "core_per_tick_end", r->core_per_tick_end);
  json_int(out, "net", r->net);
  json_int(out, "precise", r->precise);
  json_int(out, "window", r->window);
  json_number(out, "pair_cost", r->pair_cost);
  json_number(out, "hidden_overhead", r->hidden_overhead);
  write_extras(out, s, e, a);
  json_end(out);
}

// A name's figures over its repetitions, in the unit shown.
static void write_aggregate(FILE *out, const struct cyclekit_suite *s, const struct suite_entry *e,
                            const struct suite_answer *answers, int stride, double *scratch) {
  struct suite_row row = summarise(s, answers, stride, scratch);
  json_begin(out, "aggregate");
  json_string(out, "name", e->name);
  json_int(out, "repetitions", s->repetitions);
  json_string(out, "unit", row.unit_mixed ? "mixed" : shown_unit(s, row.core));
  json_number(out, "mean", row.mean);
  json_number(out, "median", row.answer);
  json_number(out, "stddev", row.stddev);
  json_number(out, "cv", row.cv);
  json_end(out);
}

// A line per user's counter of each answer, after its result line.
static void write_counters(FILE *out, const struct suite_entry *e, int repetition,
                           const struct suite_answer *a) {
  for (int i = 0; i < e->n_counters; i++) {
    json_begin(out, "counter");
    json_string(out, "name", e->name);
    json_int(out, "repetition", repetition);
    json_string(out, "counter", e->counters[i].label);
    json_number(out, "per_call", e->counters[i].per_call);
    json_number(out, "per_second", per_second(e->counters[i].per_call, a->ns));
    json_end(out);
  }
}

void suite_internal::write_results(FILE *out, const struct cyclekit_suite *s,
                                   struct suite_entry **chosen, int n,
                                   const struct suite_answer *answers,
                                   const struct bestof_settings *b) {
  write_context(out, s, b, n);
  for (int r = 0; r < s->repetitions; r++)
    for (int j = 0; j < n; j++) {
      write_result(out, s, chosen[j], r, &answers[r * n + j]);
      write_counters(out, chosen[j], r, &answers[r * n + j]);
    }
  if (!s->aggregates)
    return;
  double *scratch = (double *)suite_alloc((size_t)s->repetitions * sizeof *scratch);
  for (int j = 0; j < n; j++)
    write_aggregate(out, s, chosen[j], &answers[j], n, scratch);
  free(scratch);
}
