// The suite's table on standard output and its result file of JSON lines,
// written through the driver's JSON writer.

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
  json_end(out);
}

static void write_result(FILE *out, const struct suite_entry *e, int repetition,
                         const struct suite_answer *a) {
  const struct bestof_report *r = &a->report;
  json_begin(out, "result");
  json_string(out, "name", e->name);
  json_int(out, "repetition", repetition);
  json_number(out, "answer", a->answer);
  json_string(out, "unit", r->core_cycles ? CYCLEKIT_UNIT_CORE_CYCLES : CYCLEKIT_UNIT_TICKS);
  json_number(out, "seconds", a->seconds);
  json_int(out, "runs", r->runs);
  json_int(out, "converged", r->converged);
  json_int(out, "resolved", r->resolved);
  json_number(out, "uncertainty", r->uncertainty);
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
  if (e->has_settings)
    write_settings(out, &e->settings);
  json_end(out);
}

void suite_internal::write_results(FILE *out, const struct cyclekit_suite *s,
                                   struct suite_entry **chosen, int n,
                                   const struct suite_answer *answers,
                                   const struct bestof_settings *b) {
  write_context(out, s, b, n);
  for (int r = 0; r < s->repetitions; r++)
    for (int j = 0; j < n; j++)
      write_result(out, chosen[j], r, &answers[r * n + j]);
}

// ---- The table -------------------------------------------------------------------

enum { COLUMNS = 8, CELL = 64 };
static const char *const headings[COLUMNS] = {"name", "answer", "+/-",  "unit",
                                              "runs", "ratio",  "time", "flags"};
// Text columns are left-aligned, numbers right-aligned.
static const int left_aligned[COLUMNS] = {1, 0, 0, 1, 0, 0, 0, 1};

// One name's answers over the repetitions, summed up for its row.
struct suite_row {
  double answer, uncertainty, seconds;
  int runs, not_converged, not_resolved, core, unit_mixed;
};

static struct suite_row summarise(const struct suite_answer *answers, int stride, int reps,
                                  double *scratch) {
  struct suite_row row;
  memset(&row, 0, sizeof row);
  double low = 0, high = 0;
  for (int r = 0; r < reps; r++) {
    const struct suite_answer *a = &answers[r * stride];
    scratch[r] = a->answer;
    low = r == 0 || a->answer < low ? a->answer : low;
    high = r == 0 || a->answer > high ? a->answer : high;
    row.seconds += a->seconds;
    row.runs += a->report.runs;
    row.not_converged |= !a->report.converged;
    row.not_resolved |= !a->report.resolved;
    row.core += a->report.core_cycles;
  }
  row.answer = median_in_place(scratch, reps);
  for (int r = 0; r < reps; r++)
    scratch[r] = answers[r * stride].report.uncertainty;
  row.uncertainty = median_in_place(scratch, reps);
  // Repetitions that disagree by more than one answer's uncertainty: their
  // spread is the honest figure.
  if ((high - low) / 2 > row.uncertainty)
    row.uncertainty = (high - low) / 2;
  row.unit_mixed = row.core != 0 && row.core != reps;
  row.core = row.core == reps;
  return row;
}

static void row_cells(char cells[COLUMNS][CELL], const char *name, const struct suite_row *row,
                      const struct suite_row *base) {
  snprintf(cells[0], CELL, "%.*s", CELL - 1, name);
  snprintf(cells[1], CELL, "%.1f", row->answer);
  snprintf(cells[2], CELL, "%.1f", row->uncertainty);
  snprintf(cells[3], CELL, "%s",
           row->unit_mixed ? "mixed"
           : row->core     ? CYCLEKIT_UNIT_CORE_CYCLES
                           : CYCLEKIT_UNIT_TICKS);
  snprintf(cells[4], CELL, "%d", row->runs);
  int comparable =
      base && base->answer > 0 && !row->unit_mixed && !base->unit_mixed && row->core == base->core;
  if (comparable)
    snprintf(cells[5], CELL, "%.3f", row->answer / base->answer);
  else
    snprintf(cells[5], CELL, "-");
  snprintf(cells[6], CELL, "%.0f us", row->seconds * 1e6);
  snprintf(cells[7], CELL, "%s%s%s", row->not_converged ? "not converged" : "",
           row->not_converged && row->not_resolved ? ", " : "",
           row->not_resolved ? "not resolved" : "");
}

static void print_cells(FILE *out, char cells[COLUMNS][CELL], const int *width, int markdown) {
  for (int c = 0; c < COLUMNS; c++) {
    int w = left_aligned[c] ? -width[c] : width[c];
    if (!markdown && c == COLUMNS - 1 && !cells[c][0])
      break;  // no trailing blanks
    if (markdown)
      fprintf(out, "| %*s ", w, cells[c]);
    else
      fprintf(out, c == 0 ? "%*s" : "  %*s", w, cells[c]);
  }
  fputs(markdown ? "|\n" : "\n", out);
}

static void print_table(FILE *out, const struct cyclekit_suite *s, char (*cells)[COLUMNS][CELL],
                        int rows) {
  int width[COLUMNS];
  char head[COLUMNS][CELL];
  for (int c = 0; c < COLUMNS; c++) {
    snprintf(head[c], CELL, "%s", headings[c]);
    width[c] = (int)strlen(head[c]);
    for (int r = 0; r < rows; r++)
      if ((int)strlen(cells[r][c]) > width[c])
        width[c] = (int)strlen(cells[r][c]);
  }
  // The last column needs no padding in plain text.
  if (!s->markdown)
    width[COLUMNS - 1] = 0;
  fprintf(out, "%s: %d names, %d repetition%s%s\n", s->title, rows, s->repetitions,
          s->repetitions == 1 ? "" : "s", s->markdown ? "\n" : "");
  print_cells(out, head, width, s->markdown);
  if (s->markdown) {
    for (int c = 0; c < COLUMNS; c++)
      fprintf(out, "|%s%.*s%s", left_aligned[c] ? ":" : "-", width[c],
              "------------------------------------------------------------------",
              left_aligned[c] ? "-" : ":");
    fputs("|\n", out);
  }
  for (int r = 0; r < rows; r++)
    print_cells(out, cells[r], width, s->markdown);
}

int suite_internal::print_results(const struct cyclekit_suite *s, struct suite_entry **chosen,
                                  int n, const struct suite_answer *answers) {
  FILE *table = json_on_stdout(s) ? stderr : stdout;
  int base = 0;
  for (int j = 0; s->baseline && j < n; j++)
    if (strcmp(chosen[j]->name, s->baseline) == 0)
      base = j;
  struct suite_row *rows = (struct suite_row *)suite_alloc((size_t)n * sizeof *rows);
  double *scratch = (double *)suite_alloc((size_t)s->repetitions * sizeof *scratch);
  char(*cells)[COLUMNS][CELL] = (char(*)[COLUMNS][CELL])suite_alloc((size_t)n * sizeof *cells);
  for (int j = 0; j < n; j++)
    rows[j] = summarise(&answers[j], n, s->repetitions, scratch);
  for (int j = 0; j < n; j++)
    row_cells(cells[j], chosen[j]->name, &rows[j], &rows[base]);
  print_table(table, s, cells, n);
  free(cells);
  free(scratch);
  free(rows);
  int status = 0;
  if (fflush(table) != 0 || ferror(table)) {
    fprintf(stderr, "%s: cannot write the table: %s\n", s->program, strerror(errno));
    status = 1;
  }
  return status;
}
