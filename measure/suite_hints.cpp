// Under the table, for each answer that is not resolved, what would
// resolve it: the table never leaves a short kernel's answer unresolved
// without saying so.

#include <stdio.h>

#include "suite_internal.h"

using namespace suite_internal;

// The least whole number not below x, for 0 < x < 2^30 (no maths library).
static double ceil_of(double x) {
  double n = (double)(long)x;
  return n < x ? n + 1 : n;
}

// What would resolve a row's answer: K-best answers a batch of calls that
// makes a run's count ten times its uncertainty, or precise mode; a precise
// answer too short to tell from an empty call only more work per call.
static void print_hint(FILE *out, const struct suite_entry *e, const struct suite_row *row) {
  if (row->precise) {
    fprintf(out,
            "%s: not resolved in precise mode: too short to tell from an empty call, or too"
            " noisy; time a loop of calls in the function\n",
            e->name);
    return;
  }
  double batch = row->batch > 1 ? row->batch : 1;
  double need = row->answer > 0 ? batch * 10 * row->uncertainty / row->answer : 0;
  if (need > 0 && need < 1 << 30)
    fprintf(out,
            "%s: not resolved: use --precise, or a batch of %.0f calls a run (batch in"
            " cyclekit_suite_set)\n",
            e->name, ceil_of(need));
  else
    fprintf(out,
            "%s: not resolved: use --precise, or an automatic batch (batch 0 in"
            " cyclekit_suite_set)\n",
            e->name);
}

void suite_internal::print_hints(FILE *out, const struct cyclekit_suite *s,
                                 struct suite_entry **chosen, const struct suite_row *rows, int n) {
  int first = 1;
  for (int j = 0; j < n && !s->csv; j++) {
    if (!rows[j].not_resolved)
      continue;
    if (first && s->markdown)
      fputc('\n', out);
    first = 0;
    print_hint(out, chosen[j], &rows[j]);
  }
}
