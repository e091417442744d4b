// The report of a measurement and its verbose line, in text or JSON, and
// the JSON writer that the comparison's lines and the suite's result file
// share.

#include <math.h>
#include <string.h>

#include "internal.h"

namespace bestof_internal {

// ---- Building it ----------------------------------------------------------------

void step_resolution(struct bestof_report *r) {
  // The least is quantised to the counter's step, and a net answer is the
  // difference of two such figures.
  double scale = r->core_cycles ? (r->core_per_tick_start + r->core_per_tick_end) / 2 : 1;
  r->uncertainty = usable_step(r->step) * (r->net ? 2 : 1) * scale / r->batch;
  r->resolved = r->answer > r->uncertainty && r->uncertainty <= resolved_share * r->answer;
}

// The K least: counts, agreement, spread.  With a least of 0 or below there
// is no relative spread: 0 when the K least are equal, +infinity otherwise.
static void report_k_least(const struct measurement *m, struct bestof_report *r) {
  int kept = m->runs < m->k ? m->runs : m->k;
  r->runs = m->runs;
  r->converged = has_converged(m);
  r->k = m->k;
  r->kept = kept;
  r->tolerance = m->s.s.epsilon;
  r->least = m->least[0] * m->scale;
  r->kth_least = m->least[kept - 1] * m->scale;
  if (r->least > 0)
    r->spread = (r->kth_least - r->least) / r->least;
  else
    r->spread = r->kth_least == r->least ? 0 : HUGE_VAL;
}

// The precise estimate's answer, net of the pair's cost (ticks), and how far
// it can be trusted.
static void report_precise(const struct measurement *m, double cost, double cost_variance,
                           struct bestof_report *r) {
  double scale = m->scale;
  int n = m->batch;
  r->converged = m->est.settled;
  r->window = m->est.window;
  double net_ticks = m->est.value - cost, variance = m->est.variance + cost_variance;
  double hidden = hidden_overhead(m, cost);
  int under_call = hidden > 0 && net_ticks <= hidden / 2;
  if (hidden > 0 && !under_call) {
    // The same as the estimate less the reference chain's intercept.
    net_ticks += hidden;
    variance = m->est.variance + (m->ref_before.variance + m->ref_after.variance) / 4;
    r->hidden_overhead = hidden * scale / n;
  }
  r->answer = net_ticks * scale / n;
  // About two standard errors.
  r->uncertainty = 2 * root_of(variance) * scale / n;
  r->resolved =
      !under_call && r->answer > r->uncertainty && r->uncertainty <= resolved_share * r->answer;
}

void build_report(struct measurement *m) {
  struct bestof_report r;
  memset(&r, 0, sizeof r);
  report_k_least(m, &r);
  r.batch = m->batch;
  r.step = m->step;
  r.fenced = m->pair == pair_fenced;
  r.compensated = m->pair == pair_compensated;
  r.core_cycles = m->core;
  r.core_per_tick_start = m->cpt_start;
  r.core_per_tick_end = m->cpt_end;
  double cost = 0, cost_variance = 0;
  if (m->net) {
    cost = (m->cost_before.value + m->cost_after.value) / 2;
    cost_variance = (m->cost_before.variance + m->cost_after.variance) / 4;
  }
  r.net = m->net;
  r.precise = m->precise;
  r.pair_cost = cost * m->scale / m->batch;
  if (m->precise) {
    report_precise(m, cost, cost_variance, &r);
  } else {
    r.answer = r.least - r.pair_cost;
    r.window = r.kept;
    // A step still unknown (0) is measured by bestof_last, which then
    // resolves the answer again.
    step_resolution(&r);
  }
  m->report = r;
}

// ---- The JSON writer --------------------------------------------------------------

void json_begin(FILE *out, const char *type) { fprintf(out, "{\"type\":\"%s\"", type); }

void json_int(FILE *out, const char *name, int v) { fprintf(out, ",\"%s\":%d", name, v); }

// printf writes the decimal point that LC_NUMERIC names: a comma (or a
// multibyte mark) under many locales, which no JSON parser accepts.  A
// number by %g or %f is a sign, digits, the point, digits and an exponent of
// 'e', a sign and digits, and nothing else; so whatever is not one of those
// is the point, and becomes '.'.  No locale is switched or allocated, which
// might fail, and the lines of other threads are left alone.
void c_point(char *text) {
  char *to = text;
  int in_point = 0;
  for (const char *p = text; *p != '\0'; p++) {
    int ours = (*p >= '0' && *p <= '9') || *p == '-' || *p == '+' || *p == 'e';
    if (!ours && !in_point)
      *to++ = '.';
    in_point = !ours;
    if (ours)
      *to++ = *p;
  }
  *to = '\0';
}

static void c_number(char *text, double v) {
  snprintf(text, 64, "%.17g", v);
  c_point(text);
}

void json_number(FILE *out, const char *name, double v) {
  if (isfinite(v)) {
    char text[64];
    c_number(text, v);
    fprintf(out, ",\"%s\":%s", name, text);
  } else {
    fprintf(out, ",\"%s\":null", name);
  }
}

void json_end(FILE *out) { fputs("}\n", out); }

// The bytes that may follow a lead byte as the second of its sequence, by
// RFC 3629: the ranges that leave out overlong forms (E0, F0), the
// surrogates (ED) and code points above U+10FFFF (F4).  Every later byte is
// 80..BF.  length 0: not a lead byte (80..C1, F5..FF).
struct utf8_lead {
  unsigned char length, low, high;
};

static struct utf8_lead utf8_lead_of(unsigned char b) {
  struct utf8_lead l = {0, 0x80, 0xbf};
  if (b >= 0xc2 && b <= 0xdf)
    l.length = 2;
  else if (b >= 0xe0 && b <= 0xef)
    l.length = 3;
  else if (b >= 0xf0 && b <= 0xf4)
    l.length = 4;
  if (b == 0xe0)
    l.low = 0xa0;
  else if (b == 0xed)
    l.high = 0x9f;
  else if (b == 0xf0)
    l.low = 0x90;
  else if (b == 0xf4)
    l.high = 0x8f;
  return l;
}

// The bytes at p that make one well-formed UTF-8 sequence (n > 0), or the
// maximal ill-formed subpart there (-n: the longest start of a sequence
// that no well-formed one continues, at least its first byte).  The string's
// terminating 0 is never a continuation byte, so nothing past it is read.
int utf8_scan(const unsigned char *p) {
  struct utf8_lead l = utf8_lead_of(p[0]);
  if (l.length == 0)
    return -1;
  if (p[1] < l.low || p[1] > l.high)
    return -1;
  for (int i = 2; i < l.length; i++)
    if ((p[i] & 0xc0) != 0x80)
      return -i;
  return l.length;
}

// A byte sequence that is not UTF-8 would make the whole line unreadable to
// a strict parser, so each maximal ill-formed subpart (as Unicode's
// practice for U+FFFD substitution has it) is written as one U+FFFD: a
// sequence cut short is one replacement, a stray byte another.
static void string_value(FILE *out, const char *v) {
  fputc('"', out);
  for (const unsigned char *p = (const unsigned char *)v; *p; p++) {
    int n;
    if (*p == '"' || *p == '\\') {
      fprintf(out, "\\%c", *p);
    } else if (*p < 0x20 || *p == 0x7f) {
      fprintf(out, "\\u%04x", *p);
    } else if (*p < 0x80) {
      fputc(*p, out);
    } else if ((n = utf8_scan(p)) > 0) {
      fwrite(p, 1, (size_t)n, out);
      p += n - 1;
    } else {
      fputs("\xef\xbf\xbd", out);
      p += -n - 1;
    }
  }
  fputc('"', out);
}

void json_string(FILE *out, const char *name, const char *v) {
  fprintf(out, ",\"%s\":", name);
  if (v)
    string_value(out, v);
  else
    fputs("null", out);
}

void json_begin_object(FILE *out, const char *name, const char *first, int v) {
  fprintf(out, ",\"%s\":{\"%s\":%d", name, first, v);
}

void json_end_object(FILE *out) { fputc('}', out); }

// ---- The verbose line ---------------------------------------------------------------

// The agreement of the K least (or the precise estimate's window).
static void print_agreement(FILE *out, const struct bestof_report *r) {
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
}

static void print_text(FILE *out, const struct bestof_report *r) {
  int net_or_precise = r->net || r->precise;
  fprintf(out, "bestof: %.1f %s", r->answer, r->core_cycles ? "core cycles" : "cycles");
  if (r->batch != 1)
    fprintf(out, " per call (batch %d)", r->batch);
  if (net_or_precise)
    fprintf(out, " +/- %.2f", r->uncertainty);
  if (r->net)
    fprintf(out, ", net of the pair's %.1f", r->pair_cost);
  if (r->hidden_overhead > 0)
    fprintf(out, " of which the code hides %.1f", r->hidden_overhead);
  print_agreement(out, r);
  if (!r->precise)
    fprintf(out, " (tolerance %g%%)", 100 * r->tolerance);
  if (r->core_cycles)
    fprintf(out, ", %.3f core cycles per tick",
            (r->core_per_tick_start + r->core_per_tick_end) / 2);
  fprintf(out, ", counter step %g", r->step);
  if (net_or_precise && !r->resolved)
    fprintf(out, ", below the counter's resolution");
  fprintf(out, "\n");
}

static void print_json(FILE *out, const struct bestof_report *r) {
  json_begin(out, "bestof");
  json_int(out, "runs", r->runs);
  json_int(out, "converged", r->converged);
  json_int(out, "k", r->k);
  json_int(out, "kept", r->kept);
  json_int(out, "batch", r->batch);
  json_number(out, "tolerance", r->tolerance);
  json_number(out, "least", r->least);
  json_number(out, "kth_least", r->kth_least);
  json_number(out, "spread", r->spread);
  json_number(out, "step", r->step);
  json_int(out, "fenced", r->fenced);
  json_int(out, "compensated", r->compensated);
  json_int(out, "core_cycles", r->core_cycles);
  json_number(out, "core_per_tick_start", r->core_per_tick_start);
  json_number(out, "core_per_tick_end", r->core_per_tick_end);
  json_int(out, "net", r->net);
  json_int(out, "precise", r->precise);
  json_int(out, "resolved", r->resolved);
  json_int(out, "window", r->window);
  json_number(out, "pair_cost", r->pair_cost);
  json_number(out, "uncertainty", r->uncertainty);
  json_number(out, "answer", r->answer);
  json_number(out, "hidden_overhead", r->hidden_overhead);
  json_end(out);
}

void print_report(const struct settings *s, const struct bestof_report *r) {
  (s->s.json ? print_json : print_text)(line_stream(s), r);
}

}  // namespace bestof_internal
