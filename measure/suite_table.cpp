// The suite's table, as text, Markdown or CSV: a row per name, its answers
// over the repetitions summed up.  Its columns are the same for every
// suite but three kinds: the rates where a name has a throughput, and the
// aggregates under --aggregates.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "figures.h"
#include "internal.h"
#include "result_format.h"
#include "suite_internal.h"

using namespace bestof_internal;
using namespace suite_internal;

enum column {
  c_name,
  c_answer,
  c_pm,
  c_unit,
  c_runs,
  c_ratio,
  c_time,
  c_bytes,
  c_items,
  c_counters,
  c_mean,
  c_stddev,
  c_cv,
  c_flags,
  c_all
};
enum { CELL = TABLE_CELL };
static_assert((int)c_all == (int)TABLE_COLUMNS && (int)c_answer == (int)TABLE_ANSWER &&
                  (int)c_pm == (int)TABLE_PM && (int)c_unit == (int)TABLE_UNIT,
              "the table's columns");
static const char *const headings[c_all] = {"name",  "answer", "+/-",     "unit",    "runs",
                                            "ratio", "time",   "bytes/s", "items/s", "counters",
                                            "mean",  "stddev", "cv",      "flags"};
// Text columns are left-aligned, numbers right-aligned.
static int left_aligned(int c) {
  return c == c_name || c == c_unit || c == c_counters || c == c_flags;
}

// "label rate, label rate": each counter's rate at the median answer.
static void counter_cell(char *cell, const struct suite_entry *e, double ns, int c_locale) {
  size_t used = 0;
  cell[0] = '\0';
  for (int i = 0; i < e->n_counters && used < CELL; i++) {
    char rate[32];
    format_rate(rate, sizeof rate, per_second(e->counters[i].per_call, ns), "", c_locale);
    int n =
        snprintf(cell + used, CELL - used, "%s%s %s", i ? ", " : "", e->counters[i].label, rate);
    used += n > 0 ? (size_t)n : 0;
  }
}

// ---- A row: one name's answers over the repetitions -----------------------------

// The median of field over the repetitions.
static double median_of(const struct suite_answer *answers, int stride, int reps, double *scratch,
                        double suite_answer::*field) {
  for (int r = 0; r < reps; r++)
    scratch[r] = answers[r * stride].*field;
  return median_in_place(scratch, reps);
}

// The answer is the median of the answers shown; the aggregates are theirs.
static void summarise_aggregates(struct suite_row *row, const struct suite_answer *answers,
                                 int stride, int reps, double *scratch) {
  for (int r = 0; r < reps; r++)
    scratch[r] = answers[r * stride].shown;
  struct cyclekit_aggregate g;
  cyclekit_aggregates(scratch, (size_t)reps, &g);
  row->answer = g.median;
  row->mean = g.mean;
  row->stddev = g.stddev;
  row->cv = g.cv;
  row->ns = median_of(answers, stride, reps, scratch, &suite_answer::ns);
}

struct suite_row suite_internal::summarise(const struct cyclekit_suite *s,
                                           const struct suite_answer *answers, int stride,
                                           double *scratch) {
  int reps = s->repetitions;
  struct suite_row row;
  memset(&row, 0, sizeof row);
  double low = 0, high = 0;
  for (int r = 0; r < reps; r++) {
    const struct suite_answer *a = &answers[r * stride];
    low = r == 0 || a->shown < low ? a->shown : low;
    high = r == 0 || a->shown > high ? a->shown : high;
    row.seconds += a->seconds;
    row.runs += a->report.runs;
    row.not_converged |= !a->report.converged;
    row.not_resolved |= !a->report.resolved;
    row.core += a->report.core_cycles;
    row.batch = a->report.batch > row.batch ? a->report.batch : row.batch;
    row.precise |= a->report.precise;
  }
  summarise_aggregates(&row, answers, stride, reps, scratch);
  row.uncertainty = median_of(answers, stride, reps, scratch, &suite_answer::shown_uncertainty);
  // Repetitions that disagree by more than one answer's uncertainty: their
  // spread is the honest figure.
  if ((high - low) / 2 > row.uncertainty)
    row.uncertainty = (high - low) / 2;
  // Times are in one unit whatever was counted.
  row.unit_mixed = s->time_unit == unit_counted && row.core != 0 && row.core != reps;
  row.core = row.core == reps;
  return row;
}

// ---- Cells --------------------------------------------------------------------

// Answers in ms or us need more places than ticks for the same resolution.
static int places(const struct cyclekit_suite *s) {
  return s->time_unit == unit_ms ? 6 : s->time_unit == unit_us ? 3 : 1;
}

// The numbers of CSV cells have '.' for their point; the text and Markdown
// tables, for people, the locale's.
static void row_cells(char cells[c_all][CELL], const struct cyclekit_suite *s,
                      const struct suite_entry *e, const struct suite_row *row,
                      const struct suite_row *base) {
  int p = places(s), c = s->csv;
  char cv[CELL - 1];
  snprintf(cells[c_name], CELL, "%.*s", CELL - 1, e->name);
  format_number(cells[c_answer], CELL, p, row->answer, c);
  format_number(cells[c_pm], CELL, p, row->uncertainty, c);
  snprintf(cells[c_unit], CELL, "%s", row->unit_mixed ? "mixed" : shown_unit(s, row->core));
  snprintf(cells[c_runs], CELL, "%d", row->runs);
  int comparable = base && base->answer > 0 && !row->unit_mixed && !base->unit_mixed &&
                   (s->time_unit != unit_counted || row->core == base->core);
  if (comparable)
    format_number(cells[c_ratio], CELL, 3, row->answer / base->answer, c);
  else
    snprintf(cells[c_ratio], CELL, "-");
  snprintf(cells[c_time], CELL, "%.0f us", row->seconds * 1e6);
  format_rate(cells[c_bytes], CELL, per_second(e->bytes, row->ns), "B", c);
  format_rate(cells[c_items], CELL, per_second(e->items, row->ns), "", c);
  counter_cell(cells[c_counters], e, row->ns, c);
  format_number(cells[c_mean], CELL, p, row->mean, c);
  format_number(cells[c_stddev], CELL, p, row->stddev, c);
  format_number(cv, sizeof cv, 2, row->cv * 100, c);
  snprintf(cells[c_cv], CELL, "%s%%", cv);
  snprintf(cells[c_flags], CELL, "%s%s%s", row->not_converged ? "not converged" : "",
           row->not_converged && row->not_resolved ? ", " : "",
           row->not_resolved ? "not resolved" : "");
}

// ---- The table ------------------------------------------------------------------

// The columns shown, in their order; returns how many.
static int choose_columns(const struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                          int *shown) {
  int bytes = 0, items = 0, counters = 0, count = 0;
  for (int j = 0; j < n; j++) {
    bytes |= chosen[j]->bytes > 0;
    items |= chosen[j]->items > 0;
    counters |= chosen[j]->n_counters > 0;
  }
  for (int c = 0; c < c_all; c++) {
    int extra = c == c_bytes ? bytes : c == c_items ? items : c == c_counters ? counters : 1;
    if (c == c_mean || c == c_stddev || c == c_cv)
      extra = s->aggregates;
    if (extra)
      shown[count++] = c;
  }
  return count;
}

// A CSV field: quoted where it holds a comma or a quote, its quotes doubled.
static void print_csv_field(FILE *out, const char *cell) {
  if (!strpbrk(cell, ",\"\n")) {
    fputs(cell, out);
    return;
  }
  fputc('"', out);
  for (const char *c = cell; *c; c++) {
    if (*c == '"')
      fputc('"', out);
    fputc(*c, out);
  }
  fputc('"', out);
}

static void print_cells(FILE *out, const struct cyclekit_suite *s, char cells[c_all][CELL],
                        const int *shown, int count, const int *width) {
  for (int i = 0; i < count; i++) {
    int c = shown[i];
    if (s->csv) {
      if (i)
        fputc(',', out);
      print_csv_field(out, cells[c]);
      continue;
    }
    int w = left_aligned(c) ? -width[i] : width[i];
    if (!s->markdown && i == count - 1 && !cells[c][0])
      break;  // no trailing blanks
    if (s->markdown)
      fprintf(out, "| %*s ", w, cells[c]);
    else
      fprintf(out, i == 0 ? "%*s" : "  %*s", w, cells[c]);
  }
  fputs(s->markdown ? "|\n" : "\n", out);
}

static void print_rule(FILE *out, const int *shown, int count, const int *width) {
  for (int i = 0; i < count; i++)
    fprintf(out, "|%s%.*s%s", left_aligned(shown[i]) ? ":" : "-", width[i],
            "------------------------------------------------------------------",
            left_aligned(shown[i]) ? "-" : ":");
  fputs("|\n", out);
}

static void print_table(FILE *out, const struct cyclekit_suite *s, char (*cells)[c_all][CELL],
                        int rows, const int *shown, int count) {
  int width[c_all];
  char head[c_all][CELL];
  for (int i = 0; i < count; i++) {
    int c = shown[i];
    snprintf(head[c], CELL, "%s", headings[c]);
    width[i] = (int)strlen(head[c]);
    for (int r = 0; r < rows; r++)
      if ((int)strlen(cells[r][c]) > width[i])
        width[i] = (int)strlen(cells[r][c]);
  }
  // The last column needs no padding in plain text.
  if (!s->markdown)
    width[count - 1] = 0;
  if (!s->csv)
    fprintf(out, "%s: %d names, %d repetition%s%s\n", s->title, rows, s->repetitions,
            s->repetitions == 1 ? "" : "s", s->markdown ? "\n" : "");
  print_cells(out, s, head, shown, count, width);
  if (s->markdown)
    print_rule(out, shown, count, width);
  for (int r = 0; r < rows; r++)
    print_cells(out, s, cells[r], shown, count, width);
}

const char *suite_internal::table_heading(int column) { return headings[column]; }

int suite_internal::table_left_aligned(int column) { return left_aligned(column); }

void suite_internal::table_make(struct suite_table *t, const struct cyclekit_suite *s,
                                struct suite_entry **chosen, int n,
                                const struct suite_answer *answers) {
  int base = 0;
  for (int j = 0; s->baseline && j < n; j++)
    if (strcmp(chosen[j]->name, s->baseline) == 0)
      base = j;
  t->n = n;
  t->rows = (struct suite_row *)suite_alloc((size_t)n * sizeof *t->rows);
  t->cells = (char(*)[c_all][CELL])suite_alloc((size_t)n * sizeof *t->cells);
  double *scratch = (double *)suite_alloc((size_t)s->repetitions * sizeof *scratch);
  for (int j = 0; j < n; j++)
    t->rows[j] = summarise(s, &answers[j], n, scratch);
  for (int j = 0; j < n; j++)
    row_cells(t->cells[j], s, chosen[j], &t->rows[j], &t->rows[base]);
  free(scratch);
  t->columns = choose_columns(s, chosen, n, t->shown);
}

void suite_internal::table_free(struct suite_table *t) {
  free(t->cells);
  free(t->rows);
}

int suite_internal::print_results(const struct cyclekit_suite *s, struct suite_entry **chosen,
                                  int n, const struct suite_answer *answers) {
  FILE *table = file_on_stdout(s) ? stderr : stdout;
  struct suite_table t;
  table_make(&t, s, chosen, n, answers);
  print_table(table, s, t.cells, n, t.shown, t.columns);
  print_hints(table, s, chosen, t.rows, n);
  table_free(&t);
  int status = 0;
  if (fflush(table) != 0 || ferror(table)) {
    fprintf(stderr, "%s: cannot write the table: %s\n", s->program, strerror(errno));
    status = 1;
  }
  return status;
}
