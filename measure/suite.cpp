// suite: named measurements, their table, their result file and the command
// line every suite program shares.  Plain C underneath (no exceptions, no
// allocation but malloc, no C++ library), so a C program links it.

#include "suite.h"

#include <errno.h>
#include <limits.h>
#include <locale.h>
#include <regex.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "clock.h"
#include "internal.h"
#include "machine.h"

#ifndef CYCLEKIT_VERSION
#define CYCLEKIT_VERSION "unknown"
#endif

// What the result file's context line says the file is; a reader refuses
// other files and other formats.
#define SUITE_FORMAT 1

struct suite_entry {
  char *name;
  bestof_test_fn f;
  int arg;
  void (*setup)(const void *context);
  const void *context;
  int selected;
};

struct suite_answer {
  double answer;
  double seconds;  // wall time of the whole bestof call
  struct bestof_report report;
};

struct cyclekit_suite {
  char *title;
  const char *program;
  const char *compiler;
  char *flags;
  int list, markdown, repetitions;
  int precise, core_cycles, fence, flush;
  int has_filter;
  char *filter_text;
  regex_t filter;
  char *baseline;
  FILE *json;  // null: no result file
  struct suite_entry *entries;
  int count, capacity;
};

// ---- Small helpers -------------------------------------------------------------

static void out_of_memory(void) {
  fprintf(stderr, "Fatal error.  Malloc returned null in the suite\n");
  exit(1);
}

static void *suite_alloc(size_t bytes) {
  void *p = malloc(bytes ? bytes : 1);
  if (!p)
    out_of_memory();
  return p;
}

static char *copy_string(const char *s) {
  size_t n = strlen(s) + 1;
  char *copy = (char *)suite_alloc(n);
  memcpy(copy, s, n);
  return copy;
}

static double seconds_now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

static int compare_doubles(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return x < y ? -1 : x > y;
}

// The median of n values (sorted in place); NaN for none.
static double median(double *v, int n) {
  if (n <= 0)
    return 0.0 / 0.0;
  qsort(v, (size_t)n, sizeof v[0], compare_doubles);
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// ---- The command line ----------------------------------------------------------

static const char usage_text[] =
    "Options:\n"
    "  --filter REGEX    measure only the names this extended regex matches\n"
    "  --list            print the names, measure nothing\n"
    "  --repetitions N   N answers per name, taken round-robin (default 1)\n"
    "  --json FILE       write the results as JSON lines (- for standard output;\n"
    "                    the table then goes to standard error)\n"
    "  --markdown        print the table as Markdown\n"
    "  --baseline NAME   the row the ratios refer to (default the first)\n"
    "  --precise         precise mode: one call's core cycles, net of the counter\n"
    "  --core-cycles     count core cycles instead of counter ticks\n"
    "  --fence           time with the fenced counter pair\n"
    "  --flush           flush the caches before every timed run\n"
    "  --help            print this and exit\n";

static void usage_error(const struct cyclekit_suite *s, const char *what, const char *arg) {
  fprintf(stderr, "%s: %s '%s'\nTry '%s --help'.\n", s->program, what, arg, s->program);
  exit(2);
}

// "--name=value" or "--name" "value": the value; a missing one ends the process.
static const char *option_value(struct cyclekit_suite *s, int argc, char **argv, int *i,
                                const char *eq) {
  if (eq)
    return eq + 1;
  if (*i + 1 >= argc)
    usage_error(s, "missing value for option", argv[*i]);
  return argv[++*i];
}

static void set_repetitions(struct cyclekit_suite *s, const char *value) {
  char *end;
  errno = 0;
  long n = strtol(value, &end, 10);
  if (errno || end == value || *end || n < 1 || n > 1000000)
    usage_error(s, "--repetitions needs a whole number from 1 to 1000000, not", value);
  s->repetitions = (int)n;
}

static void set_filter(struct cyclekit_suite *s, const char *value) {
  if (s->has_filter) {
    regfree(&s->filter);
    free(s->filter_text);
  }
  int status = regcomp(&s->filter, value, REG_EXTENDED | REG_NOSUB);
  if (status != 0) {
    char why[256];
    regerror(status, &s->filter, why, sizeof why);
    fprintf(stderr, "%s: bad --filter regular expression '%s': %s\n", s->program, value, why);
    exit(2);
  }
  s->has_filter = 1;
  s->filter_text = copy_string(value);
}

static void set_json(struct cyclekit_suite *s, const char *value) {
  if (s->json && s->json != stdout)
    fclose(s->json);
  if (strcmp(value, "-") == 0) {
    s->json = stdout;
    return;
  }
  s->json = fopen(value, "w");
  if (!s->json) {
    fprintf(stderr, "%s: cannot create the --json file '%s': %s\n", s->program, value,
            strerror(errno));
    exit(2);
  }
}

// One argument (or two, with a separate value); false if it is no option.
static int parse_option(struct cyclekit_suite *s, int argc, char **argv, int *i) {
  const char *arg = argv[*i];
  const char *eq = strchr(arg, '=');
  size_t len = eq ? (size_t)(eq - arg) : strlen(arg);
#define IS(name) (len == sizeof(name) - 1 && strncmp(arg, name, len) == 0)
  int *flag = IS("--list")          ? &s->list
              : IS("--markdown")    ? &s->markdown
              : IS("--precise")     ? &s->precise
              : IS("--core-cycles") ? &s->core_cycles
              : IS("--fence")       ? &s->fence
              : IS("--flush")       ? &s->flush
                                    : NULL;
  if (flag) {
    if (eq)
      usage_error(s, "option takes no value", arg);
    *flag = 1;
  } else if (IS("--help")) {
    printf("Usage: %s [options]\nMeasures the suite '%s' and prints a table.\n%s", s->program,
           s->title, usage_text);
    exit(0);
  } else if (IS("--filter")) {
    set_filter(s, option_value(s, argc, argv, i, eq));
  } else if (IS("--repetitions")) {
    set_repetitions(s, option_value(s, argc, argv, i, eq));
  } else if (IS("--json")) {
    set_json(s, option_value(s, argc, argv, i, eq));
  } else if (IS("--baseline")) {
    free(s->baseline);
    s->baseline = copy_string(option_value(s, argc, argv, i, eq));
  } else {
    return 0;
  }
#undef IS
  return 1;
}

struct cyclekit_suite *cyclekit_suite_open_as(const char *title, int argc, char **argv,
                                              const char *compiler, const char *flags) {
  struct cyclekit_suite *s = (struct cyclekit_suite *)suite_alloc(sizeof *s);
  memset(s, 0, sizeof *s);
  s->title = copy_string(title ? title : "suite");
  s->program = argc > 0 && argv && argv[0] ? argv[0] : s->title;
  s->compiler = compiler ? compiler : "unknown";
  s->flags = copy_string(flags ? flags : "");
  // The header's list of macros ends in a space.
  for (size_t n = strlen(s->flags); n > 0 && s->flags[n - 1] == ' '; n--)
    s->flags[n - 1] = '\0';
  s->repetitions = 1;
  for (int i = 1; i < argc && argv; i++) {
    if (!parse_option(s, argc, argv, &i))
      usage_error(s, strncmp(argv[i], "--", 2) == 0 ? "unknown option" : "unexpected argument",
                  argv[i]);
  }
  return s;
}

// ---- Registering -----------------------------------------------------------------

static void misuse(const char *why, const char *name) {
  fprintf(stderr, "Fatal error.  cyclekit_suite_run: %s%s%s\n", why, name ? ": " : "",
          name ? name : "");
  exit(1);
}

void cyclekit_suite_run_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg,
                              void (*setup)(const void *context), const void *context) {
  if (!s || !name || !f)
    misuse("a null suite, name or function", NULL);
  if (!*name)
    misuse("an empty name", NULL);
  for (int i = 0; i < s->count; i++)
    if (strcmp(s->entries[i].name, name) == 0)
      misuse("a name registered twice", name);
  if (s->count == s->capacity) {
    int capacity = s->capacity ? 2 * s->capacity : 16;
    void *grown = realloc(s->entries, (size_t)capacity * sizeof s->entries[0]);
    if (!grown)
      out_of_memory();
    s->entries = (struct suite_entry *)grown;
    s->capacity = capacity;
  }
  struct suite_entry *e = &s->entries[s->count++];
  e->name = copy_string(name);
  e->f = f;
  e->arg = arg;
  e->setup = setup;
  e->context = context;
  e->selected = !s->has_filter || regexec(&s->filter, name, 0, NULL, 0) == 0;
}

void cyclekit_suite_run(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg) {
  cyclekit_suite_run_setup(s, name, f, arg, NULL, NULL);
}

// ---- The machine, for the context line ----------------------------------------

// Counter ticks per microsecond across a sleep of 50 ms, timed by the
// monotonic clock; 0 if it could not tell.
static double counter_mhz(void) {
  struct timespec nap = {0, 50000000L};
  double t0 = seconds_now();
  start_counter();
  nanosleep(&nap, NULL);
  double ticks = get_counter();
  double elapsed = seconds_now() - t0;
  return elapsed > 0 ? ticks / (elapsed * 1e6) : 0.0;
}

// The value of a "key : value" line of /proc/cpuinfo, or null.
static const char *cpuinfo_value(const char *line, const char *key) {
  size_t n = strlen(key);
  if (strncmp(line, key, n) != 0)
    return NULL;
  const char *p = line + n + strspn(line + n, " \t");
  return *p == ':' ? p + 1 + strspn(p + 1, " \t") : NULL;
}

// The processor's model as /proc/cpuinfo names it: x86's "model name", else
// "cpu model" (MIPS, SPARC) or "cpu" (POWER); 0 if it does not.
static int cpu_model(char *out, size_t size) {
  static const char *const keys[] = {"model name", "cpu model", "cpu"};
  FILE *f = fopen("/proc/cpuinfo", "r");
  if (!f)
    return 0;
  char line[512];
  int rank = 3;  // the best key found so far; 3: none
  while (fgets(line, sizeof line, f)) {
    for (int k = 0; k < rank; k++) {
      const char *v = cpuinfo_value(line, keys[k]);
      if (v) {
        snprintf(out, size, "%.*s", (int)strcspn(v, "\n"), v);
        rank = k;
        break;
      }
    }
  }
  fclose(f);
  return rank < 3;
}

// ---- JSON ------------------------------------------------------------------------

// Numbers come out the same under every locale: printf's decimal point is
// the locale's (a comma in many), so it is put back to a point.
static void json_number(FILE *out, double v) {
  if (v != v || v - v != 0) {  // NaN or an infinity: JSON has neither
    fputs("null", out);
    return;
  }
  char text[64];
  snprintf(text, sizeof text, "%.17g", v);
  const char *point = localeconv()->decimal_point;
  size_t n = point ? strlen(point) : 0;
  char *at = n && strcmp(point, ".") != 0 ? strstr(text, point) : NULL;
  if (at) {
    *at = '.';
    memmove(at + 1, at + n, strlen(at + n) + 1);
  }
  fputs(text, out);
}

// A byte sequence that is not UTF-8 would make the whole line unreadable to
// a strict parser, so a stray byte is written as the Latin-1 character of
// that value.
static int utf8_length(const unsigned char *p) {
  int n = p[0] >= 0xf0 && p[0] <= 0xf4 ? 4 : p[0] >= 0xe0 ? 3 : p[0] >= 0xc2 && p[0] < 0xe0 ? 2 : 0;
  for (int i = 1; i < n; i++)
    if ((p[i] & 0xc0) != 0x80)
      return 0;
  return n;
}

static void json_string(FILE *out, const char *s) {
  if (!s) {
    fputs("null", out);
    return;
  }
  fputc('"', out);
  for (const unsigned char *p = (const unsigned char *)s; *p; p++) {
    int n;
    if (*p == '"' || *p == '\\') {
      fprintf(out, "\\%c", *p);
    } else if (*p < 0x20 || *p == 0x7f) {
      fprintf(out, "\\u%04x", *p);
    } else if (*p < 0x80) {
      fputc(*p, out);
    } else if ((n = utf8_length(p)) > 0) {
      fwrite(p, 1, (size_t)n, out);
      p += n - 1;
    } else {
      fprintf(out, "\\u%04x", *p);
    }
  }
  fputc('"', out);
}

static void json_key(FILE *out, const char *key) {
  fputc(',', out);
  json_string(out, key);
  fputc(':', out);
}

static void json_int_field(FILE *out, const char *key, int v) {
  json_key(out, key);
  fprintf(out, "%d", v);
}

static void json_number_field(FILE *out, const char *key, double v) {
  json_key(out, key);
  json_number(out, v);
}

static void json_string_field(FILE *out, const char *key, const char *v) {
  json_key(out, key);
  json_string(out, v);
}

// -1 (unknown) is null.
static void json_tristate_field(FILE *out, const char *key, int v) {
  json_key(out, key);
  if (v < 0)
    fputs("null", out);
  else
    fprintf(out, "%d", v);
}

static void write_settings(FILE *out, const struct bestof_settings *b) {
  fputs("{\"k\":", out);
  fprintf(out, "%d", b->k);
  json_int_field(out, "maxsamples", b->maxsamples);
  json_number_field(out, "epsilon", b->epsilon);
  json_int_field(out, "compensate", b->compensate);
  json_int_field(out, "clear_cache", b->clear_cache);
  json_int_field(out, "cache_size", b->cache_size);
  json_int_field(out, "cache_block", b->cache_block);
  json_int_field(out, "fence", b->fence);
  json_int_field(out, "core_cycles", b->core_cycles);
  json_int_field(out, "batch", b->batch);
  json_int_field(out, "net", b->net);
  json_int_field(out, "precise", b->precise);
  fputc('}', out);
}

static void write_context(const struct cyclekit_suite *s, const struct bestof_settings *b,
                          int selected) {
  FILE *out = s->json;
  char cpu[256], clocksource[64], date[32];
  time_t now = time(NULL);
  struct tm utc;
  strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", gmtime_r(&now, &utc));
  fprintf(out, "{\"type\":\"context\",\"format\":%d", SUITE_FORMAT);
  json_string_field(out, "library", "cyclekit");
  json_string_field(out, "version", CYCLEKIT_VERSION);
  json_string_field(out, "title", s->title);
  json_string_field(out, "date", date);
  json_string_field(out, "counter", machine_counter_name());
  json_number_field(out, "mhz", counter_mhz());
  json_number_field(out, "step", counter_step());
  json_number_field(out, "core_per_tick", core_per_tick());
  json_string_field(out, "clocksource",
                    machine_clocksource(clocksource, sizeof clocksource) ? clocksource : NULL);
  json_tristate_field(out, "hypervisor", machine_hypervisor());
  json_tristate_field(out, "invariant", machine_counter_invariant());
  json_string_field(out, "cpu", cpu_model(cpu, sizeof cpu) ? cpu : NULL);
  json_int_field(out, "llc_bytes", bestof_llc_bytes());
  json_string_field(out, "compiler", s->compiler);
  json_string_field(out, "flags", s->flags);
  json_int_field(out, "repetitions", s->repetitions);
  json_int_field(out, "names", selected);
  json_string_field(out, "filter", s->has_filter ? s->filter_text : NULL);
  json_key(out, "settings");
  write_settings(out, b);
  fputs("}\n", out);
}

static void write_result(FILE *out, const char *name, int repetition,
                         const struct suite_answer *a) {
  const struct bestof_report *r = &a->report;
  fputs("{\"type\":\"result\"", out);
  json_string_field(out, "name", name);
  json_int_field(out, "repetition", repetition);
  json_number_field(out, "answer", a->answer);
  json_string_field(out, "unit", r->core_cycles ? "core cycles" : "cycles");
  json_number_field(out, "seconds", a->seconds);
  json_int_field(out, "runs", r->runs);
  json_int_field(out, "converged", r->converged);
  json_int_field(out, "resolved", r->resolved);
  json_number_field(out, "uncertainty", r->uncertainty);
  json_number_field(out, "step", r->step);
  json_int_field(out, "k", r->k);
  json_int_field(out, "kept", r->kept);
  json_int_field(out, "batch", r->batch);
  json_number_field(out, "tolerance", r->tolerance);
  json_number_field(out, "least", r->least);
  json_number_field(out, "kth_least", r->kth_least);
  json_number_field(out, "spread", r->spread);
  json_int_field(out, "fenced", r->fenced);
  json_int_field(out, "compensated", r->compensated);
  json_int_field(out, "core_cycles", r->core_cycles);
  json_number_field(out, "core_per_tick_start", r->core_per_tick_start);
  json_number_field(out, "core_per_tick_end", r->core_per_tick_end);
  json_int_field(out, "net", r->net);
  json_int_field(out, "precise", r->precise);
  json_int_field(out, "window", r->window);
  json_number_field(out, "pair_cost", r->pair_cost);
  json_number_field(out, "hidden_overhead", r->hidden_overhead);
  fputs("}\n", out);
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
  row.answer = median(scratch, reps);
  for (int r = 0; r < reps; r++)
    scratch[r] = answers[r * stride].report.uncertainty;
  row.uncertainty = median(scratch, reps);
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
  snprintf(cells[3], CELL, "%s", row->unit_mixed ? "mixed" : row->core ? "core cycles" : "cycles");
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

// ---- Measuring -----------------------------------------------------------------

static void apply_command_line(const struct cyclekit_suite *s) {
  if (s->precise)
    set_bestof_precise(1);
  if (s->core_cycles)
    set_bestof_core_cycles(1);
  if (s->fence)
    set_bestof_fence(1);
  if (s->flush)
    set_bestof_clear_cache(1);
}

// Round-robin: every name once per repetition, so that a slow drift of the
// machine spreads over all of them instead of weighing on the last.
static void measure(struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                    struct suite_answer *answers) {
  for (int r = 0; r < s->repetitions; r++) {
    for (int j = 0; j < n; j++) {
      struct suite_entry *e = chosen[j];
      struct suite_answer *a = &answers[r * n + j];
      if (e->setup)
        e->setup(e->context);
      double t0 = seconds_now();
      a->answer = bestof(e->f, e->arg);
      a->seconds = seconds_now() - t0;
      bestof_last(&a->report);
    }
  }
}

static int report(struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                  const struct suite_answer *answers) {
  FILE *table = s->json == stdout ? stderr : stdout;
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

static int write_results(struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                         const struct suite_answer *answers, const struct bestof_settings *b) {
  write_context(s, b, n);
  for (int r = 0; r < s->repetitions; r++)
    for (int j = 0; j < n; j++)
      write_result(s->json, chosen[j]->name, r, &answers[r * n + j]);
  int failed = fflush(s->json) != 0 || ferror(s->json);
  if (s->json != stdout && fclose(s->json) != 0)
    failed = 1;
  s->json = NULL;
  if (failed)
    fprintf(stderr, "%s: cannot write the result file: %s\n", s->program, strerror(errno));
  return failed;
}

static void free_suite(struct cyclekit_suite *s) {
  for (int i = 0; i < s->count; i++)
    free(s->entries[i].name);
  free(s->entries);
  if (s->has_filter) {
    regfree(&s->filter);
    free(s->filter_text);
  }
  if (s->json && s->json != stdout)
    fclose(s->json);
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

static int measure_and_report(struct cyclekit_suite *s) {
  if (!baseline_known(s)) {
    fprintf(stderr, "%s: --baseline '%s' names nothing measured\n", s->program, s->baseline);
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

  struct bestof_settings saved, used;
  get_bestof_settings(&saved);
  bestof_internal::settings current;
  bestof_internal::copy_settings(&current);
  FILE *verbose = current.stream;  // null: standard output
  // The result file on standard output must hold nothing but its lines.
  if (s->json == stdout && line_stream(&current) == stdout)
    set_bestof_verbose_stream(stderr);
  apply_command_line(s);
  get_bestof_settings(&used);
  measure(s, chosen, n, answers);
  set_bestof_settings(&saved);
  set_bestof_verbose_stream(verbose);

  int status = report(s, chosen, n, answers);
  if (s->json && write_results(s, chosen, n, answers, &used))
    status = 1;
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
