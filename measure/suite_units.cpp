// The units the suite shows its answers in: the counter's own (ticks or
// core cycles, as measured) or a time from the counter's rate, and the
// rates of a name's bytes and items per call.

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "figures.h"
#include "internal.h"
#include "result_format.h"
#include "suite_internal.h"

using namespace bestof_internal;

using namespace suite_internal;

int suite_internal::parse_time_unit(const char *text) {
  if (strcmp(text, "cycles") == 0)
    return unit_counted;
  int u = cyclekit_time_unit_parse(text);
  return u >= CYCLEKIT_NS && u <= CYCLEKIT_MS ? unit_ns + u : -1;
}

// The engine's unit for a time unit of the suite's.
static int engine_unit(int suite_unit) { return suite_unit - unit_ns; }

const char *suite_internal::shown_unit(const struct cyclekit_suite *s, int core) {
  if (s->time_unit != unit_counted)
    return cyclekit_time_unit_name(engine_unit(s->time_unit));
  return core ? CYCLEKIT_UNIT_CORE_CYCLES : CYCLEKIT_UNIT_TICKS;
}

// A count of the report's unit in nanoseconds at ticks_per_ns; NaN where
// the rate or the core clock's figure is unknown.
static double count_ns(const struct bestof_report *r, double count, double ticks_per_ns) {
  return cyclekit_ticks_to_ns(cyclekit_report_ticks(r, count), ticks_per_ns);
}

void suite_internal::convert_answer(const struct cyclekit_suite *s, struct suite_answer *a) {
  a->ns = count_ns(&a->report, a->answer, s->ticks_per_ns);
  a->shown = a->answer;
  a->shown_uncertainty = a->report.uncertainty;
  if (s->time_unit != unit_counted) {
    int unit = engine_unit(s->time_unit);
    a->shown = cyclekit_ns_to_unit(a->ns, unit);
    a->shown_uncertainty =
        cyclekit_ns_to_unit(count_ns(&a->report, a->report.uncertainty, s->ticks_per_ns), unit);
  }
}

double suite_internal::per_second(double per_call, double ns) {
  return cyclekit_rate(per_call, cyclekit_ns_to_unit(ns, CYCLEKIT_S));
}

void suite_internal::format_number(char *cell, size_t size, int places, double v, int c_locale) {
  snprintf(cell, size, "%.*f", places, v);
  if (c_locale && isfinite(v))
    c_point(cell);
}

void suite_internal::format_rate(char *cell, size_t size, double rate, const char *unit,
                                 int c_locale) {
  static const char prefixes[] = " kMGTPE";
  if (!(rate > 0)) {
    snprintf(cell, size, "-");
    return;
  }
  int p = 0;
  while (rate >= 999.95 && prefixes[p + 1]) {
    rate /= 1000;
    p++;
  }
  char number[32];
  format_number(number, sizeof number, 1, rate, c_locale);
  if (p == 0)
    snprintf(cell, size, "%s%s%s/s", number, *unit ? " " : "", unit);
  else
    snprintf(cell, size, "%s %c%s/s", number, prefixes[p], unit);
}
