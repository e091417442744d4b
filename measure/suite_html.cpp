// The suite's page (--html): the table, each name's answers over the
// repetitions as a strip plot drawn here as inline SVG, and the context.
// It fetches nothing (no script, no font, no picture), its text is text,
// and it reads on a screen 400 px wide; its look is cyclekit-compare's
// page, so that the two read as one.  Plain C like the rest of the suite:
// the maths library is not linked, so the axis is worked out by hand.

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "clock.h"
#include "internal.h"
#include "machine.h"
#include "page_style.h"
#include "suite_internal.h"

#ifndef CYCLEKIT_VERSION
#define CYCLEKIT_VERSION "unknown"
#endif

using namespace bestof_internal;
using namespace suite_internal;

static const char style[] = CYCLEKIT_PAGE_STYLE
    ".summary{font-size:1.05rem;font-weight:600}"
    "td.fact{white-space:normal;overflow-wrap:anywhere}"
    "p{overflow-wrap:anywhere;margin:0.25rem 0}";

// The plot's frame, in the SVG's own units (it scales to the page).
static const double plot_width = 400, plot_left = 16, plot_right = 386;
static const double lane_y = 28, axis_y = 56, plot_height = 96;
static const double least_box_width = 12;
static const char ink[] = "#212121", point[] = "#1e88e5", unresolved[] = "#bdbdbd";
// More answers than this make a box alone: a point each would weigh more
// than the page.
enum { MOST_POINTS = 500 };

// ---- Text --------------------------------------------------------------------

// Text as HTML takes it: the markup's characters as references, valid
// UTF-8 kept, and each maximal ill-formed subpart, like a control
// character that HTML forbids, as U+FFFD.
static void html_text(FILE *out, const char *text) {
  for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
    int n;
    if (*p == '&')
      fputs("&amp;", out);
    else if (*p == '<')
      fputs("&lt;", out);
    else if (*p == '>')
      fputs("&gt;", out);
    else if (*p == '"')
      fputs("&quot;", out);
    else if (*p == '\'')
      fputs("&#39;", out);
    else if ((*p < 0x20 && *p != '\t' && *p != '\n') || *p == 0x7f)
      fputs("\xef\xbf\xbd", out);
    else if (*p < 0x80)
      fputc(*p, out);
    else if ((n = utf8_scan(p)) > 0) {
      fwrite(p, 1, (size_t)n, out);
      p += n - 1;
    } else {
      fputs("\xef\xbf\xbd", out);
      p += -n - 1;
    }
  }
}

// v with the given decimals and a point under every locale: an SVG
// attribute with a comma is no number.  printf's "%.*f" writes a sign,
// digits and the locale's point (perhaps several bytes): whatever is none
// of the first two is the point.
static const char *c_fixed(char *text, size_t size, double v, int decimals) {
  char raw[64];
  snprintf(raw, sizeof raw, "%.*f", decimals, v);
  size_t used = 0;
  int in_point = 0;
  for (const char *p = raw; *p && used + 1 < size; p++) {
    int ours = (*p >= '0' && *p <= '9') || *p == '-';
    if (!ours && !in_point)
      text[used++] = '.';
    else if (ours)
      text[used++] = *p;
    in_point = !ours;
  }
  text[used] = '\0';
  return text;
}

static void number(FILE *out, double v) {
  char text[64];
  fputs(c_fixed(text, sizeof text, v, 1), out);
}

static void svg_text(FILE *out, double x, double y, const char *anchor, const char *content) {
  fputs("<text x=\"", out);
  number(out, x);
  fputs("\" y=\"", out);
  number(out, y);
  fprintf(out, "\" text-anchor=\"%s\" fill=\"%s\">", anchor, ink);
  html_text(out, content);
  fputs("</text>", out);
}

static void svg_line(FILE *out, double x1, double y1, double x2, double y2, const char *style) {
  fputs("<line x1=\"", out);
  number(out, x1);
  fputs("\" y1=\"", out);
  number(out, y1);
  fputs("\" x2=\"", out);
  number(out, x2);
  fputs("\" y2=\"", out);
  number(out, y2);
  fprintf(out, "\" %s/>", style);
}

// ---- The axis ------------------------------------------------------------------

// Values from low to high (low < high) drawn from plot_left to plot_right.
// Linear: one name's repetitions lie close together, and a linear axis
// shows how far apart they are in the unit itself.
struct axis {
  double low, high;
  double step;   // between ticks: 1, 2 or 5 times a power of ten
  int decimals;  // that the step needs
};

static double x_of(const struct axis *a, double v) {
  return plot_left + (plot_right - plot_left) * (v - a->low) / (a->high - a->low);
}

// The whole number at or below v (|v| well below 2^63: the ticks' indices).
static double floor_of(double v) {
  double t = (double)(long long)v;
  return t > v ? t - 1 : t;
}

// About four ticks over the range, on a round step.
static void choose_step(struct axis *a) {
  double raw = (a->high - a->low) / 4, power = 1;
  for (int i = 0; i < 400 && power > raw; i++)
    power /= 10;
  for (int i = 0; i < 400 && power * 10 <= raw; i++)
    power *= 10;
  double scaled = raw / power;
  a->step = power * (scaled < 1.5 ? 1 : scaled < 3 ? 2 : scaled < 7 ? 5 : 10);
  a->decimals = 0;
  for (double t = a->step; t < 0.999999 && a->decimals < 15; t *= 10)
    a->decimals++;
}

// From the least to the largest value, a little wider so that no point
// sits on the edge; never empty.
static struct axis axis_for(const double *v, int n) {
  struct axis a = {0, 0, 1, 0};
  for (int i = 0; i < n; i++) {
    a.low = i == 0 || v[i] < a.low ? v[i] : a.low;
    a.high = i == 0 || v[i] > a.high ? v[i] : a.high;
  }
  double size = a.high > -a.low ? a.high : -a.low;
  double pad = a.high > a.low ? (a.high - a.low) * 0.08 : size > 0 ? size * 0.01 : 1;
  a.low -= pad;
  a.high += pad;
  choose_step(&a);
  return a;
}

static void ticks(FILE *out, const struct axis *a, const char *unit) {
  svg_line(out, plot_left, axis_y, plot_right, axis_y, "stroke=\"#9e9e9e\" stroke-width=\"1\"");
  for (double k = floor_of(a->low / a->step) + 1; k * a->step <= a->high; k++) {
    double v = k * a->step, x = x_of(a, v);
    char label[64];
    c_fixed(label, sizeof label, k == 0 ? 0 : v, a->decimals);
    // A label that would stick out of the picture is left off (about 7
    // units a digit).
    double half = 3.5 * (double)strlen(label);
    svg_line(out, x, axis_y, x, axis_y + 4, "stroke=\"#9e9e9e\"");
    if (x - half >= 0 && x + half <= plot_width)
      svg_text(out, x, axis_y + 16, "middle", label);
  }
  svg_text(out, (plot_left + plot_right) / 2, axis_y + 33, "middle", unit);
}

// ---- A name's plot -------------------------------------------------------------

// v[0..n) sorted (an insertion sort: the repetitions of one name).
static void sort_values(double *v, int n) {
  for (int i = 1; i < n; i++) {
    double x = v[i];
    int j = i;
    for (; j > 0 && v[j - 1] > x; j--)
      v[j] = v[j - 1];
    v[j] = x;
  }
}

// The value at fraction q of sorted v, between neighbours.
static double quantile(const double *v, int n, double q) {
  double at = q * (n - 1);
  int i = (int)at;
  return i + 1 < n ? v[i] + (v[i + 1] - v[i]) * (at - i) : v[n - 1];
}

// The quartiles' box and the whiskers to the least and the largest value,
// behind the points.
static void box(FILE *out, const struct axis *a, const double *sorted, int n) {
  double q1 = x_of(a, quantile(sorted, n, 0.25)), q3 = x_of(a, quantile(sorted, n, 0.75));
  const char *whisker = "stroke=\"#9e9e9e\" stroke-width=\"1\"";
  svg_line(out, x_of(a, sorted[0]), lane_y, q1, lane_y, whisker);
  svg_line(out, q3, lane_y, x_of(a, sorted[n - 1]), lane_y, whisker);
  // Quartiles that agree still get a box one can see: a narrow band about
  // their middle rather than a rectangle of no width.
  double left = q1, width = q3 - q1;
  if (width < least_box_width) {
    left = (q1 + q3 - least_box_width) / 2;
    width = least_box_width;
  }
  fputs("<rect class=\"box\" x=\"", out);
  number(out, left);
  fputs("\" y=\"", out);
  number(out, lane_y - 9);
  fputs("\" width=\"", out);
  number(out, width);
  fputs("\" height=\"18\" fill=\"#e3f2fd\" stroke=\"#90caf9\"/>", out);
}

// A hash of the answer's place, so that points of one value spread over
// the lane without a pattern, the same every time.
static double jitter(int i) {
  uint64_t h = (uint64_t)(i + 1) * 0x9E3779B97F4A7C15u;
  h = (h ^ (h >> 31)) * 0xBF58476D1CE4E5B9u;
  return (double)((h ^ (h >> 29)) >> 11) / 9007199254740992.0 - 0.5;
}

static void answer_point(FILE *out, const struct axis *a, const struct suite_answer *answer, int r,
                         int reps, const char *unit) {
  char value[64], title[128];
  int resolved = answer->report.resolved;
  // One answer alone shows how far it can be trusted.
  if (reps == 1 && answer->shown_uncertainty > 0)
    svg_line(out, x_of(a, answer->shown - answer->shown_uncertainty), lane_y,
             x_of(a, answer->shown + answer->shown_uncertainty), lane_y,
             "stroke=\"#90caf9\" stroke-width=\"3\"");
  fputs("<circle class=\"answer\" cx=\"", out);
  number(out, x_of(a, answer->shown));
  fputs("\" cy=\"", out);
  number(out, lane_y + (reps > 1 ? 14 * jitter(r) : 0));
  fprintf(out, "\" r=\"2.5\" fill=\"%s\" fill-opacity=\"0.7\"><title>",
          resolved ? point : unresolved);
  snprintf(title, sizeof title, "repetition %d: %s %s%s", r + 1,
           c_fixed(value, sizeof value, answer->shown, 1), unit, resolved ? "" : ", not resolved");
  html_text(out, title);
  fputs("</title></circle>", out);
}

// answers[r * stride] being repetition r's answer; scratch holds
// s->repetitions numbers.
static void name_plot(FILE *out, const struct cyclekit_suite *s, const struct suite_entry *e,
                      const struct suite_row *row, const struct suite_answer *answers, int stride,
                      double *scratch) {
  const char *unit = row->unit_mixed ? "mixed" : shown_unit(s, row->core);
  int n = 0, reps = s->repetitions;
  for (int r = 0; r < reps; r++) {
    const struct suite_answer *a = &answers[r * stride];
    if (isfinite(a->shown)) {
      scratch[n++] = a->shown;
      if (reps == 1 && isfinite(a->shown_uncertainty)) {
        scratch[n++] = a->shown - a->shown_uncertainty;
        scratch[n++] = a->shown + a->shown_uncertainty;
      }
    }
  }
  fputs("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 ", out);
  number(out, plot_width);
  fputc(' ', out);
  number(out, plot_height);
  fputs(
      "\" width=\"100%\" role=\"img\" font-family=\"system-ui, sans-serif\" font-size=\"12\">"
      "<title>",
      out);
  html_text(out, e->name);
  fputs(
      ": the answers of each repetition</title><rect width=\"100%\" height=\"100%\" "
      "fill=\"#ffffff\"/>",
      out);
  if (n == 0) {
    svg_text(out, 10, 24, "start", "No answer to draw.");
    fputs("</svg>", out);
    return;
  }
  struct axis a = axis_for(scratch, n);
  ticks(out, &a, unit);
  if (reps >= 5) {
    sort_values(scratch, n);
    box(out, &a, scratch, n);
  }
  for (int r = 0; r < reps && reps <= MOST_POINTS; r++)
    if (isfinite(answers[r * stride].shown))
      answer_point(out, &a, &answers[r * stride], r, reps, unit);
  if (isfinite(row->answer)) {
    double x = x_of(&a, row->answer);
    svg_line(out, x, lane_y - 11, x, lane_y + 11, "stroke=\"#212121\" stroke-width=\"2\"");
  }
  fputs("</svg>", out);
}

// "median 123.4 +/- 0.5 ticks over 5 repetitions", under the name.
static void name_caption(FILE *out, const struct cyclekit_suite *s, const char *cells_answer,
                         const char *cells_pm, const char *unit, const struct suite_row *row) {
  char caption[4 * TABLE_CELL + 160];
  snprintf(caption, sizeof caption, "%s %s \xc2\xb1 %s %s over %d repetition%s%s%s",
           s->repetitions > 1 ? "Median" : "Answer", cells_answer, cells_pm, unit, s->repetitions,
           s->repetitions == 1 ? "" : "s",
           s->repetitions > MOST_POINTS ? "; the box alone: too many to draw as points" : "",
           row->not_resolved ? "; grey: not resolved" : "");
  fputs("<p>", out);
  html_text(out, caption);
  fputs("</p>", out);
}

// ---- The page -------------------------------------------------------------------

static void cell(FILE *out, const char *content, int number_cell) {
  fputs(number_cell ? "<td class=\"number\">" : "<td>", out);
  html_text(out, content);
  fputs("</td>", out);
}

static void names_table(FILE *out, const struct suite_table *t) {
  fputs("<div class=\"scroll\"><table><thead><tr>", out);
  for (int i = 0; i < t->columns; i++) {
    fputs("<th>", out);
    html_text(out, table_heading(t->shown[i]));
    fputs("</th>", out);
  }
  fputs("</tr></thead><tbody>", out);
  for (int j = 0; j < t->n; j++) {
    fputs("<tr class=\"name\">", out);
    for (int i = 0; i < t->columns; i++)
      cell(out, t->cells[j][t->shown[i]], !table_left_aligned(t->shown[i]));
    fputs("</tr>", out);
  }
  fputs("</tbody></table></div>", out);
}

static void plots(FILE *out, const struct cyclekit_suite *s, struct suite_entry **chosen,
                  const struct suite_table *t, const struct suite_answer *answers) {
  double *scratch = (double *)suite_alloc(((size_t)s->repetitions + 2) * sizeof *scratch);
  for (int j = 0; j < t->n; j++) {
    const struct suite_row *row = &t->rows[j];
    fputs("<section class=\"answers\"><h3>", out);
    html_text(out, chosen[j]->name);
    fputs("</h3>", out);
    name_caption(out, s, t->cells[j][TABLE_ANSWER], t->cells[j][TABLE_PM], t->cells[j][TABLE_UNIT],
                 row);
    name_plot(out, s, chosen[j], row, &answers[j], t->n, scratch);
    fputs("</section>", out);
  }
  free(scratch);
}

// A row of the context or the settings: a long value wraps.
static void fact(FILE *out, const char *key, const char *value) {
  fputs("<tr><th>", out);
  html_text(out, key);
  fputs("</th><td class=\"fact\">", out);
  html_text(out, value ? value : "unknown");
  fputs("</td></tr>", out);
}

// none: what a figure of 0 or below means.
static void fact_number(FILE *out, const char *key, double v, int decimals, const char *none) {
  char text[64];
  fact(out, key, isfinite(v) && v > 0 ? c_fixed(text, sizeof text, v, decimals) : none);
}

static void fact_int(FILE *out, const char *key, long long v) {
  char text[32];
  snprintf(text, sizeof text, "%lld", v);
  fact(out, key, text);
}

static const char *tristate(int v) { return v < 0 ? NULL : v ? "yes" : "no"; }

static void context_table(FILE *out, const struct cyclekit_suite *s) {
  char cpu[256], clocksource[64], date[32];
  time_t now = time(NULL);
  struct tm utc;
  strftime(date, sizeof date, "%Y-%m-%d %H:%M:%S UTC", gmtime_r(&now, &utc));
  fputs("<div class=\"scroll\"><table><tbody>", out);
  fact(out, "date", date);
  fact(out, "cpu", machine_cpu_model(cpu, (int)sizeof cpu) ? cpu : NULL);
  fact(out, "counter", machine_counter_name());
  fact_number(out, "counter MHz", counter_mhz(0.05), 1, NULL);
  // Measured only where a time or a rate is shown.
  fact_number(out, "ticks per ns", s->ticks_per_ns, 4, "not measured");
  fact_number(out, "counter step, ticks", counter_step(), 1, NULL);
  fact_number(out, "core cycles per tick", core_per_tick(), 3, NULL);
  fact(out, "clocksource",
       machine_clocksource(clocksource, sizeof clocksource) ? clocksource : NULL);
  fact(out, "hypervisor", tristate(machine_hypervisor()));
  fact(out, "invariant counter", tristate(machine_counter_invariant()));
  fact_int(out, "last-level cache, bytes", bestof_llc_bytes());
  fact(out, "compiler", s->compiler);
  fact(out, "flags", s->flags[0] ? s->flags : "none");
  fact(out, "cyclekit", CYCLEKIT_VERSION);
  fputs("</tbody></table></div>", out);
}

static void settings_table(FILE *out, const struct cyclekit_suite *s,
                           const struct bestof_settings *b) {
  char epsilon[64];
  fputs("<div class=\"scroll\"><table><tbody>", out);
  fact_int(out, "repetitions", s->repetitions);
  fact(out, "filter", s->has_filter ? s->filter_text : "none");
  fact_int(out, "k", b->k);
  fact_int(out, "maxsamples", b->maxsamples);
  fact(out, "epsilon", c_fixed(epsilon, sizeof epsilon, b->epsilon, 4));
  fact_int(out, "compensate", b->compensate);
  fact_int(out, "clear_cache", b->clear_cache);
  fact_int(out, "cache_size", b->cache_size);
  fact_int(out, "fence", b->fence);
  fact_int(out, "core_cycles", b->core_cycles);
  fact_int(out, "batch", b->batch);
  fact_int(out, "net", b->net);
  fact_int(out, "precise", b->precise);
  fputs("</tbody></table></div>", out);
}

void suite_internal::write_page(FILE *out, const struct cyclekit_suite *s,
                                struct suite_entry **chosen, int n,
                                const struct suite_answer *answers,
                                const struct bestof_settings *b) {
  char summary[128];
  snprintf(summary, sizeof summary, ": %d name%s, %d repetition%s", n, n == 1 ? "" : "s",
           s->repetitions, s->repetitions == 1 ? "" : "s");
  struct suite_table t;
  table_make(&t, s, chosen, n, answers);
  fputs(
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>",
      out);
  html_text(out, s->title);
  html_text(out, summary);
  fprintf(out, "</title><style>%s</style></head><body><main><h1>", style);
  html_text(out, s->title);
  fputs("</h1><p class=\"summary\">", out);
  html_text(out, summary + 2);
  fputs("</p>", out);
  if (n > 0) {
    fputs("<h2>Names</h2>", out);
    names_table(out, &t);
    fputs("<h2>Answers of each name</h2>", out);
    plots(out, s, chosen, &t, answers);
  }
  fputs("<h2>Context</h2>", out);
  context_table(out, s);
  fputs("<h2>Settings</h2>", out);
  settings_table(out, s, b);
  fputs("<h2>Command</h2><pre><code>", out);
  html_text(out, s->command);
  fputs("</code></pre></main></body></html>\n", out);
  table_free(&t);
}
