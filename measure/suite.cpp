// suite: named measurements, their table, their result file and the command
// line every suite program shares.  Plain C underneath (no exceptions, no
// allocation but malloc, no C++ library), so a C program links it.  This
// room measures the names round-robin and closes the suite.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "suite_internal.h"

// ---- Small helpers -------------------------------------------------------------

namespace suite_internal {

void out_of_memory(void) {
  fprintf(stderr, "Fatal error.  Malloc returned null in the suite\n");
  exit(1);
}

void *suite_alloc(size_t bytes) {
  void *p = malloc(bytes ? bytes : 1);
  if (!p)
    out_of_memory();
  return p;
}

char *copy_string(const char *s) {
  size_t n = strlen(s) + 1;
  char *copy = (char *)suite_alloc(n);
  memcpy(copy, s, n);
  return copy;
}

double seconds_now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

}  // namespace suite_internal

using namespace suite_internal;

// ---- Measuring -----------------------------------------------------------------

// The settings measured with: base (the settings in force, or a name's
// own), the command line's on top.  --flush evicts the last-level cache: a
// flush of the default size (512 KiB) fits in most.
static void command_line_settings(const struct cyclekit_suite *s,
                                  const struct bestof_settings *base,
                                  struct bestof_settings *used) {
  *used = *base;
  if (s->precise)
    used->precise = 1;
  if (s->core_cycles)
    used->core_cycles = 1;
  if (s->fence)
    used->fence = 1;
  if (s->flush) {
    used->cache_size = bestof_flush_bytes();
    used->clear_cache = 1;
  }
}

// Round-robin: every name once per repetition, so that a slow drift of the
// machine spreads over all of them instead of weighing on the last.
// Each name with the settings *used, its lines to verbose (null: the
// stream set process-wide).
static void measure(struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                    struct suite_answer *answers, const struct bestof_settings *used,
                    FILE *verbose) {
  // The verbose lines on standard error would break into the line.
  FILE *lines = verbose ? verbose : get_bestof_verbose_stream();
  struct suite_progress progress;
  progress_begin(&progress, !(used->verbose && lines == stderr));
  for (int r = 0; r < s->repetitions; r++) {
    for (int j = 0; j < n; j++) {
      struct suite_entry *e = chosen[j];
      struct suite_answer *a = &answers[r * n + j];
      if (e->setup)
        e->setup(e->context);
      progress_show(&progress, r * n + j + 1, s->repetitions * n, e->name);
      struct bestof_hooks hooks = {e->run_setup, e->run_teardown, e->context};
      double t0 = seconds_now();
      a->answer =
          bestof_with_hooks(e->has_settings ? &e->settings : used, verbose, e->f, e->arg, &hooks);
      a->seconds = seconds_now() - t0;
      bestof_last(&a->report);
      convert_answer(s, a);
    }
  }
  progress_end(&progress);
}

static void free_suite(struct cyclekit_suite *s) {
  for (int i = 0; i < s->count; i++) {
    free(s->entries[i].name);
    free(s->entries[i].owned);
    for (int c = 0; c < s->entries[i].n_counters; c++)
      free(s->entries[i].counters[c].label);
  }
  free(s->entries);
  if (s->has_filter) {
    regfree(&s->filter);
    free(s->filter_text);
  }
  free(s->json_path);
  free(s->html_path);
  free(s->command);
  free(s->baseline);
  free(s->title);
  free(s->flags);
  free(s);
}

static int list_names(struct cyclekit_suite *s) {
  for (int i = 0; i < s->count; i++)
    if (s->entries[i].selected)
      puts(s->entries[i].name);
  return fflush(stdout) != 0 || ferror(stdout);
}

static int baseline_known(const struct cyclekit_suite *s) {
  for (int i = 0; s->baseline && i < s->count; i++)
    if (s->entries[i].selected && strcmp(s->entries[i].name, s->baseline) == 0)
      return 1;
  return !s->baseline;
}

// Measures with the command line's settings, given with each call: the
// process-wide ones are left as they are.
static void measure_with_settings(struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                                  struct suite_answer *answers, struct bestof_settings *used) {
  struct bestof_settings in_force;
  get_bestof_settings(&in_force);
  command_line_settings(s, &in_force, used);
  // A name's own settings get the command line's once, and the result file
  // shows them as used.
  for (int j = 0; j < n; j++)
    if (chosen[j]->has_settings)
      command_line_settings(s, &chosen[j]->settings, &chosen[j]->settings);
  // The result file on standard output must hold nothing but its lines.
  FILE *verbose = file_on_stdout(s) && get_bestof_verbose_stream() == stdout ? stderr : NULL;
  measure(s, chosen, n, answers, used, verbose);
}

// The counter's rate, measured (0.05 s) only where a time or a rate is
// shown; without it the answers stay in the counter's unit.
static void need_rate(struct cyclekit_suite *s, struct suite_entry **chosen, int n) {
  int rates = 0;
  for (int j = 0; j < n; j++)
    rates |= chosen[j]->bytes > 0 || chosen[j]->items > 0 || chosen[j]->n_counters > 0;
  if (s->time_unit == unit_counted && !rates)
    return;
  s->ticks_per_ns = bestof_ticks_per_ns();
  if (s->ticks_per_ns > 0 || n == 0)
    return;
  fprintf(stderr, "%s: the counter's rate is unknown: answers in %s, no rates\n", s->program,
          "the counter's unit");
  s->time_unit = unit_counted;
}

static int measure_and_report(struct cyclekit_suite *s) {
  if (!baseline_known(s)) {
    fprintf(stderr, "%s: --baseline '%s' names nothing measured\n", s->program, s->baseline);
    return 2;
  }
  struct result_file file, page;
  memset(&file, 0, sizeof file);
  memset(&page, 0, sizeof page);
  if (s->json_path && result_file_open(s, s->json_path, "--json", "result file", &file) != 0)
    return 2;
  if (s->html_path && result_file_open(s, s->html_path, "--html", "page", &page) != 0) {
    if (file.out)
      result_file_abandon(&file);
    return 2;
  }
  struct suite_entry **chosen =
      (struct suite_entry **)suite_alloc((size_t)s->count * sizeof *chosen);
  int n = 0;
  for (int i = 0; i < s->count; i++)
    if (s->entries[i].selected)
      chosen[n++] = &s->entries[i];
  if (n == 0 && s->has_filter)
    fprintf(stderr, "%s: --filter '%s' matches no name\n", s->program, s->filter_text);
  if ((size_t)s->repetitions > SIZE_MAX / sizeof(struct suite_answer) / (size_t)(n ? n : 1))
    out_of_memory();
  struct suite_answer *answers =
      (struct suite_answer *)suite_alloc((size_t)s->repetitions * (size_t)n * sizeof *answers);
  need_rate(s, chosen, n);
  struct bestof_settings used;
  measure_with_settings(s, chosen, n, answers, &used);

  int status = print_results(s, chosen, n, answers);
  if (file.out) {
    write_results(file.out, s, chosen, n, answers, &used);
    int written = result_file_commit(s, &file);
    status = written ? written : status;
  }
  if (page.out) {
    write_page(page.out, s, chosen, n, answers, &used);
    int written = result_file_commit(s, &page);
    status = written ? written : status;
  }
  free(answers);
  free(chosen);
  return status;
}

int cyclekit_suite_close(struct cyclekit_suite *s) {
  if (!s) {
    fprintf(stderr, "Fatal error.  cyclekit_suite_close called with a null suite\n");
    exit(1);
  }
  int status = s->list ? list_names(s) : measure_and_report(s);
  free_suite(s);
  return status;
}
