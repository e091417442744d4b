// What the suite's sources share; not installed.  It includes only public
// headers, and no public header includes it.
//
// The rooms: suite_names.cpp (registering names and what they are given),
// suite_params.cpp (families over several named arguments),
// suite.cpp (measuring round-robin, closing),
// suite_options.cpp (the command line), suite_output.cpp (the table and the
// result file's lines), suite_file.cpp (the result file and the page written
// whole or not at all), suite_html.cpp (the page).
#ifndef CYCLEKIT_MEASURE_SUITE_INTERNAL_H
#define CYCLEKIT_MEASURE_SUITE_INTERNAL_H

#include <regex.h>
#include <stddef.h>
#include <stdio.h>

#include "bestof.h"
#include "suite.h"

// A user's counter: what one call counts of something, under its label.
enum { SUITE_COUNTERS = 4 };
struct suite_counter {
  char *label;
  double per_call;
};

struct suite_entry {
  char *name;
  bestof_test_fn f;
  int arg;
  double size;  // what throughput per unit of the argument is multiplied by
  void *owned;  // what the entry's context points into, freed with it; or null
  void (*setup)(const void *context);  // before each answer
  // Before and after each timed run (the driver's hooks).
  void (*run_setup)(const void *context);
  void (*run_teardown)(const void *context);
  const void *context;
  int selected;
  int has_settings;  // 1: settings below, not those in force at close
  struct bestof_settings settings;
  double bytes, items;  // per call; 0: not given
  struct suite_counter counters[SUITE_COUNTERS];
  int n_counters;
};

struct suite_answer {
  double answer;
  double seconds;  // wall time of the whole bestof call
  struct bestof_report report;
  // The answer and its uncertainty in the unit shown (the answer's own
  // unless --time-unit asks for a time), and the answer in nanoseconds
  // (NaN: unknown).
  double shown, shown_uncertainty, ns;
};

// --time-unit: the counter's own unit (ticks or core cycles), or a time.
enum suite_time_unit { unit_counted, unit_ns, unit_us, unit_ms };

struct cyclekit_suite {
  char *title;
  const char *program;
  const char *compiler;
  char *flags;
  int list, markdown, csv, aggregates, repetitions;
  int time_unit;        // enum suite_time_unit
  double ticks_per_ns;  // the counter's rate, where a time or a rate is shown; else 0
  int precise, core_cycles, fence, flush;
  int has_filter;
  char *filter_text;
  regex_t filter;
  char *baseline;
  char *json_path;  // null: no result file; "-": standard output
  char *html_path;  // the page, as json_path
  char *command;    // the command line, for the page
  struct suite_entry *entries;
  int count, capacity;
};

// C++ names in a namespace of their own, as the driver's helpers: a
// program's own seconds_now must neither clash with these nor be taken for
// them.
namespace suite_internal {

// ---- Small helpers (suite.cpp) ------------------------------------------------

// Ends the process, status 1, when malloc fails.
[[noreturn]] void out_of_memory(void);
// malloc that never returns null (nor takes 0 bytes for failure).
void *suite_alloc(size_t bytes);
char *copy_string(const char *s);
// The monotonic clock, in seconds.
double seconds_now(void);

// ---- Registering names (suite_names.cpp) -----------------------------------------

// Ends the process, status 1: "Fatal error.  what: why: name".
[[noreturn]] void misuse(const char *what, const char *why, const char *name);
// A new entry for f(arg) under name (copied), its size arg; fatal for a
// null suite, name or f, an empty name or one registered before.
struct suite_entry *add_entry(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                              int arg);

// ---- The result file on the disk (suite_file.cpp) ------------------------------

// The result file (--json) and the page (--html) alike; both may be open
// at once.
struct result_file {
  FILE *out;           // where the lines go
  char *temp;          // the temporary file's name; null where the lines go straight out
  char *final;         // what the temporary file is renamed to: the path, or a link's target
  int direct;          // 1: out is a device or FIFO opened by name, written in place
  int watched;         // 1: the signals are watched for the temporary file
  const char *path;    // as given
  const char *option;  // "--json": what the messages name
  const char *noun;    // "result file": what they call it on standard output
};
// Opens path's temporary file beside it (standard output for "-") and
// removes it if a fatal signal comes before the commit; 0, or 2 with a
// message naming the option and the file.
int result_file_open(const struct cyclekit_suite *s, const char *path, const char *option,
                     const char *noun, struct result_file *f);
// Flushes, syncs and renames the temporary file over the path; on any
// failure removes it, leaving the old file, and says so: 2 (1 for standard
// output).
int result_file_commit(const struct cyclekit_suite *s, struct result_file *f);
// Gives the file up unwritten (the other one could not be opened): the old
// file stays.
void result_file_abandon(struct result_file *f);

inline int is_stdout(const char *path) { return path && path[0] == '-' && !path[1]; }
// Whether the result file or the page is standard output (and the table
// goes to standard error).
inline int file_on_stdout(const struct cyclekit_suite *s) {
  return is_stdout(s->json_path) || is_stdout(s->html_path);
}

// ---- The progress line (suite_progress.cpp) -----------------------------------

struct suite_progress {
  int on;        // standard error is a terminal, and the line was asked for
  double start;  // seconds_now() at the start
  int width;     // the longest line drawn; 0: none drawn
};
void progress_begin(struct suite_progress *p, int on);
// Names the answer about to be measured, done of total, once the run has
// lasted a second.
void progress_show(struct suite_progress *p, int done, int total, const char *name);
// Blanks the line drawn, if any.
void progress_end(struct suite_progress *p);

// ---- Units (suite_units.cpp) ---------------------------------------------------

// The enum suite_time_unit that --time-unit's text names; -1 for none.
int parse_time_unit(const char *text);
// The unit's name in the table and the result file: the time unit's, or
// the counter's (core: core cycles).
const char *shown_unit(const struct cyclekit_suite *s, int core);
// Fills a's shown figures and nanoseconds from its answer and report.
void convert_answer(const struct cyclekit_suite *s, struct suite_answer *a);
// What per_call per call of ns nanoseconds makes per second; NaN: unknown.
double per_second(double per_call, double ns);
// v with places decimals: the locale's decimal point, or with c_locale '.'
// (for CSV, which a reader parses whatever its own locale).
void format_number(char *cell, size_t size, int places, double v, int c_locale);
// "2.5 GB/s" (unit "B"), "1.2 M/s" (""); "-" for a rate of 0 or unknown.
void format_rate(char *cell, size_t size, double rate, const char *unit, int c_locale);

// ---- The table (suite_table.cpp) and the result file's lines (suite_output.cpp)

// One name's answers over the repetitions, summed up for its row and its
// aggregate line: medians, mean, sample standard deviation and its share
// of the mean, in the unit shown.
struct suite_row {
  double answer, uncertainty, seconds;
  double mean, stddev, cv;
  double ns;  // the median answer in nanoseconds; NaN: unknown
  int runs, not_converged, not_resolved, core, unit_mixed;
  int batch, precise;  // the largest batch of the repetitions; 1: any was precise
};
// answers[r * stride] being repetition r's answer; scratch holds
// s->repetitions numbers.
struct suite_row summarise(const struct cyclekit_suite *s, const struct suite_answer *answers,
                           int stride, double *scratch);

// The table's cells, for the text table and the page alike: a row per name
// chosen, the columns shown in their order.
enum { TABLE_COLUMNS = 14, TABLE_CELL = 64 };
// The columns every table shows, whatever the others.
enum { TABLE_ANSWER = 1, TABLE_PM = 2, TABLE_UNIT = 3 };
struct suite_table {
  int n;        // rows
  int columns;  // columns shown
  int shown[TABLE_COLUMNS];
  struct suite_row *rows;                    // each name's summary
  char (*cells)[TABLE_COLUMNS][TABLE_CELL];  // cells[j][column]
};
void table_make(struct suite_table *t, const struct cyclekit_suite *s, struct suite_entry **chosen,
                int n, const struct suite_answer *answers);
void table_free(struct suite_table *t);
const char *table_heading(int column);
// Text columns (the name, the unit, the flags) are left-aligned.
int table_left_aligned(int column);

// Under the table: a line for each row not resolved, saying what would
// resolve it (not under --csv).
void print_hints(FILE *out, const struct cyclekit_suite *s, struct suite_entry **chosen,
                 const struct suite_row *rows, int n);
// Prints the table of the n names chosen, answers[r * n + j] being name j's
// answer of repetition r; 1 if it could not be written.
int print_results(const struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                  const struct suite_answer *answers);
// Writes the result file's lines to out: its context line with the settings
// b that the answers were measured with first.
void write_results(FILE *out, const struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                   const struct suite_answer *answers, const struct bestof_settings *b);

// ---- The page (suite_html.cpp) ---------------------------------------------------

// Writes the page to out: the table, each name's answers over the
// repetitions as a plot, the context, the settings b and the command line.
void write_page(FILE *out, const struct cyclekit_suite *s, struct suite_entry **chosen, int n,
                const struct suite_answer *answers, const struct bestof_settings *b);

}  // namespace suite_internal

#endif  // CYCLEKIT_MEASURE_SUITE_INTERNAL_H
