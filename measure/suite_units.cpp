// The units the suite shows its answers in: the counter's own (ticks or
// core cycles, as measured) or a time from the counter's rate, and the
// rates of a name's bytes and items per call.

#include <stdio.h>
#include <string.h>

#include "internal.h"
#include "result_format.h"
#include "suite_internal.h"

using namespace suite_internal;

// Nanoseconds per unit, by enum suite_time_unit; index 0, the counter's own
// unit, has none.
static const struct {
  const char *name;
  double ns;
} time_units[] = {{"cycles", 0}, {"ns", 1}, {"us", 1e3}, {"ms", 1e6}};

int suite_internal::parse_time_unit(const char *text) {
  for (int u = 0; u < (int)(sizeof time_units / sizeof time_units[0]); u++)
    if (strcmp(text, time_units[u].name) == 0)
      return u;
  return -1;
}

const char *suite_internal::shown_unit(const struct cyclekit_suite *s, int core) {
  if (s->time_unit != unit_counted)
    return time_units[s->time_unit].name;
  return core ? CYCLEKIT_UNIT_CORE_CYCLES : CYCLEKIT_UNIT_TICKS;
}

// A count of the report's unit in nanoseconds at ticks_per_ns; 0 where the
// rate or the core clock's figure is unknown.
static double count_ns(const struct bestof_report *r, double count, double ticks_per_ns) {
  double ticks = count;
  if (r->core_cycles) {
    double per_tick = r->core_per_tick_start / 2 + r->core_per_tick_end / 2;
    if (!(per_tick > 0))
      return 0;
    ticks = count / per_tick;
  }
  return ticks_per_ns > 0 ? ticks / ticks_per_ns : 0;
}

void suite_internal::convert_answer(const struct cyclekit_suite *s, struct suite_answer *a) {
  a->ns = count_ns(&a->report, a->answer, s->ticks_per_ns);
  a->shown = a->answer;
  a->shown_uncertainty = a->report.uncertainty;
  if (s->time_unit != unit_counted) {
    double per = time_units[s->time_unit].ns;
    a->shown = a->ns / per;
    a->shown_uncertainty = count_ns(&a->report, a->report.uncertainty, s->ticks_per_ns) / per;
  }
}

double suite_internal::per_second(double per_call, double ns) {
  return per_call > 0 && ns > 0 ? per_call / (ns * 1e-9) : 0;
}

void suite_internal::format_rate(char *cell, size_t size, double rate, const char *unit) {
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
  if (p == 0)
    snprintf(cell, size, "%.1f%s%s/s", rate, *unit ? " " : "", unit);
  else
    snprintf(cell, size, "%.1f %c%s/s", rate, prefixes[p], unit);
}
