/*
 * suite: named measurements with a table, a result file and a command line.
 *
 *   int main(int argc, char **argv) {
 *     struct cyclekit_suite *s = cyclekit_suite_open("sums", argc, argv);
 *     cyclekit_suite_run(s, "sum 1000", sum_to, 1000);
 *     cyclekit_suite_run(s, "sum 4000", sum_to, 4000);
 *     return cyclekit_suite_close(s);
 *   }
 *
 * cyclekit_suite_run only registers a name; cyclekit_suite_close measures
 * them all, one bestof answer at a time, round-robin over the names as many
 * times as --repetitions asks, so that a drift of the machine weighs on every
 * name alike.  So --list and --filter work before anything is measured, and
 * what the functions use must stay alive until close.
 *
 * Every suite program understands the same command line (see
 * cyclekit_suite_open).  The answers are bestof's, with the settings in force
 * at close plus those the command line asks for.  The table goes to standard
 * output (to standard error under --json -), the result file, one JSON line
 * per answer after a context line, where --json says; the manual,
 * cyclekit(3), gives its fields.
 *
 * Names can come in families over an integer argument ("copy/64") or over
 * several named ones ("copy/size:64/stride:8"), carry
 * settings of their own, a throughput (bytes and items per call, shown as
 * rates) and a setup and teardown around every timed run.  Under the table
 * a line says what would resolve each answer that is not resolved; on a
 * terminal, a run longer than a second shows its progress on one line of
 * standard error.
 *
 * Like bestof it is for one thread at a time.
 */
#ifndef CYCLEKIT_SUITE_H
#define CYCLEKIT_SUITE_H

#include <stdint.h>

#include "bestof.h"
#include "params.h"

#ifdef __cplusplus
extern "C" {
#endif

struct cyclekit_suite;

/*
 * The compiler and the flags that the result file's context line names.
 * They are taken from the macros the compiler defines where the suite
 * program is compiled (not the library), through cyclekit_suite_open, an
 * inline function of this header.  A build may name its flags itself by
 * defining CYCLEKIT_SUITE_FLAGS, e.g. -DCYCLEKIT_SUITE_FLAGS="\"-O2\"".
 */
#if defined(__clang__)
#define CYCLEKIT_SUITE_COMPILER "clang " __clang_version__
#elif defined(__GNUC__)
#define CYCLEKIT_SUITE_COMPILER "gcc " __VERSION__
#else
#define CYCLEKIT_SUITE_COMPILER "unknown"
#endif

#ifndef CYCLEKIT_SUITE_FLAGS
#ifdef __OPTIMIZE__
#define CYCLEKIT_SUITE_F_OPT "__OPTIMIZE__ "
#else
#define CYCLEKIT_SUITE_F_OPT ""
#endif
#ifdef __OPTIMIZE_SIZE__
#define CYCLEKIT_SUITE_F_SIZE "__OPTIMIZE_SIZE__ "
#else
#define CYCLEKIT_SUITE_F_SIZE ""
#endif
#ifdef __FAST_MATH__
#define CYCLEKIT_SUITE_F_FAST "__FAST_MATH__ "
#else
#define CYCLEKIT_SUITE_F_FAST ""
#endif
#ifdef NDEBUG
#define CYCLEKIT_SUITE_F_NDEBUG "NDEBUG "
#else
#define CYCLEKIT_SUITE_F_NDEBUG ""
#endif
#if defined(__AVX512F__)
#define CYCLEKIT_SUITE_F_ISA "__AVX512F__ "
#elif defined(__AVX2__)
#define CYCLEKIT_SUITE_F_ISA "__AVX2__ "
#elif defined(__AVX__)
#define CYCLEKIT_SUITE_F_ISA "__AVX__ "
#else
#define CYCLEKIT_SUITE_F_ISA ""
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CYCLEKIT_SUITE_F_SAN "__SANITIZE_ADDRESS__ "
#else
#define CYCLEKIT_SUITE_F_SAN ""
#endif
#define CYCLEKIT_SUITE_FLAGS                                                               \
  CYCLEKIT_SUITE_F_OPT CYCLEKIT_SUITE_F_SIZE CYCLEKIT_SUITE_F_FAST CYCLEKIT_SUITE_F_NDEBUG \
      CYCLEKIT_SUITE_F_ISA CYCLEKIT_SUITE_F_SAN
#endif

/* cyclekit_suite_open with the compiler and flags named explicitly. */
struct cyclekit_suite *cyclekit_suite_open_as(const char *title, int argc, char **argv,
                                              const char *compiler, const char *flags);

/*
 * Starts a suite called title (used in the table's heading and the result
 * file) and reads the command line: argv[1] to argv[argc - 1], argv[0]
 * being the program's name (argc 0 and argv null: no command line).
 *
 *   --filter REGEX    only the names that the POSIX extended regular
 *                     expression matches (anywhere in the name)
 *   --list            print the names (filtered), one a line; measure nothing
 *   --repetitions N   N answers per name, round-robin (default 1)
 *   --json FILE       the result file; "-" is standard output, and the
 *                     table then goes to standard error
 *   --html FILE       the page: the table, each name's answers over the
 *                     repetitions as a plot (inline SVG), the context, the
 *                     settings and the command line, in one HTML file that
 *                     fetches nothing; "-" as for --json (not both)
 *   --markdown        the table as Markdown
 *   --csv             the table as CSV, where the table goes (over --markdown)
 *   --time-unit UNIT  ns, us or ms: answers as times from the counter's
 *                     rate (bestof_ticks_per_ns); cycles (the default):
 *                     as counted, ticks or core cycles
 *   --aggregates      mean, stddev and cv over the repetitions as columns
 *                     (the answer is the median), and "aggregate" lines in
 *                     the result file
 *   --baseline NAME   the row the ratios are to (default the first measured)
 *   --precise, --core-cycles, --fence, --flush
 *                     set_bestof_precise(1), set_bestof_core_cycles(1),
 *                     set_bestof_fence(1), set_bestof_clear_cache(1) with
 *                     set_bestof_cache_sizee(bestof_flush_bytes())
 *   --help            print the options and exit with status 0
 *
 * An option given as --name=value is the same as --name value (and only
 * the whole name is an option).  Any other argument, a missing or bad value
 * or a regular expression that does not compile: the program's name, the
 * argument and the reason go to standard error and the process exits with
 * status 2.  Fatal, status 1: "Fatal error.  Malloc returned null in the
 * suite\n".
 *
 * The --json and --html files are only named here: cyclekit_suite_close
 * writes each into a temporary file beside it and renames it over the file
 * once all of it is written, so that whatever ends the program first (a
 * bad option, --help, --list, a test function that crashes, a failed
 * write) leaves a file of that name as it was.
 */
static inline struct cyclekit_suite *cyclekit_suite_open(const char *title, int argc, char **argv) {
  return cyclekit_suite_open_as(title, argc, argv, CYCLEKIT_SUITE_COMPILER, CYCLEKIT_SUITE_FLAGS);
}

/*
 * Registers f(arg) under name, to be measured by bestof at close.  The name
 * is copied.  Fatal (a message on standard error, status 1): a null suite,
 * name or f, an empty name, or a name registered before, since the result
 * file pairs answers by name.
 */
void cyclekit_suite_run(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg);

/*
 * As cyclekit_suite_run, and setup(context), if setup is not null, is
 * called before each answer for this name, outside every timed interval:
 * to reset what f changes, or to bind f to an object (the C++ suite does).
 */
void cyclekit_suite_run_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg,
                              void (*setup)(const void *context), const void *context);

/*
 * As cyclekit_suite_run, and setup(context) runs before every timed run of
 * f, teardown(context) after it, each outside the timed interval (the
 * driver's hooks, bestof_with_hooks): to give every run the data f
 * changes, as it was.  Either may be null.  With a batch of n calls per run
 * (set_bestof_batch, 0 included) they run once per n calls, so code that
 * must find its data fresh at every call wants a batch of 1.
 */
void cyclekit_suite_run_each(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int arg,
                             void (*setup)(const void *context),
                             void (*teardown)(const void *context), const void *context);

/*
 * A family of names, one per integer argument: f(arg) registered as
 * "name/arg" (arg in decimal) for each of the count args, in their order.
 * cyclekit_suite_run_range registers lo, lo x multiplier, lo x multiplier^2,
 * ... while below hi, then hi itself (a lo of 0 is followed by 1): 8, 64,
 * 512, 1000 for 8, 1000 and 8.  The family's name stands for all of its
 * members in cyclekit_suite_set and cyclekit_suite_throughput.  Fatal as
 * cyclekit_suite_run (a member registered before among them), and for a
 * negative count or null args with a positive count, or a range not
 * 0 <= lo <= hi or a multiplier below 2.
 */
void cyclekit_suite_run_args(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                             const int *args, int count);
void cyclekit_suite_run_range(struct cyclekit_suite *s, const char *name, bestof_test_fn f, int lo,
                              int hi, int multiplier);
/* The families with setup(context) before each answer of every member, as
 * cyclekit_suite_run_setup (the C++ suite binds its callable so). */
void cyclekit_suite_run_args_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                                   const int *args, int count, void (*setup)(const void *context),
                                   const void *context);
void cyclekit_suite_run_range_setup(struct cyclekit_suite *s, const char *name, bestof_test_fn f,
                                    int lo, int hi, int multiplier,
                                    void (*setup)(const void *context), const void *context);

/*
 * A family over several arguments: f(values, context) for each member, its
 * nargs values in the family's order.
 */
typedef void (*cyclekit_suite_params_fn)(const int64_t *values, const void *context);

/*
 * Registers count members, values holding their nargs values one tuple
 * after another, each named as cyclekit_params_name names it:
 * "name/size:64/stride:8", or "name/64/8" for an argument whose name is
 * null or empty (arg_names may be null: none named).  The values are
 * copied.  cyclekit_suite_run_product registers every tuple of one value
 * from each of the nargs lists (lists[i] holding lengths[i] values), the
 * first argument changing fastest, as cyclekit_params_product orders them;
 * cyclekit_params_range and cyclekit_params_dense make such lists.
 *
 * Before each answer of a member the suite binds the driver to its f,
 * values and context, outside every timed interval, so that each timed
 * run holds only the loads of the three and a jump more than f itself.
 * The family's name, or a name and a leading part of the arguments
 * ("name/size:64"), stands for its members in cyclekit_suite_set,
 * cyclekit_suite_throughput and cyclekit_suite_counter; per unit of the
 * argument (cyclekit_suite_throughput_per_arg) is per unit of the first
 * value.  Fatal (status 1) as cyclekit_suite_run, and for fewer than one
 * argument, a negative count, null values with a positive count, null
 * lists or lengths, a negative length, a null list with a positive length,
 * or more than INT_MAX members.
 */
void cyclekit_suite_run_params(struct cyclekit_suite *s, const char *name,
                               cyclekit_suite_params_fn f, const void *context, int nargs,
                               const char *const *arg_names, const int64_t *values, int count);
void cyclekit_suite_run_product(struct cyclekit_suite *s, const char *name,
                                cyclekit_suite_params_fn f, const void *context, int nargs,
                                const char *const *arg_names, const int64_t *const *lists,
                                const int *lengths);

/*
 * The settings name is measured with, instead of those in force at close:
 * *settings is copied, and the command line's (--precise, --flush, ...) go
 * on top of it as they go on top of the settings in force.  So one name can
 * be flushed, or timed in precise mode, beside names that are not.  name
 * is a name registered before, or a family's (see cyclekit_suite_run_args
 * and cyclekit_suite_run_params):
 * the settings are then every member's.  Null settings: those in force at
 * close again.  The result file's line of such a name holds its settings.
 * Fatal (status 1): a null suite or name, or a name that nothing
 * registered answers to.
 */
void cyclekit_suite_set(struct cyclekit_suite *s, const char *name,
                        const struct bestof_settings *settings);

/*
 * What one call of name's function processes: bytes and items (either may
 * be 0, not given).  The table then shows their rates, bytes/s and items/s
 * at the counter's rate (bestof_ticks_per_ns), and the result file's lines
 * hold them (see cyclekit(3)).  cyclekit_suite_throughput_per_arg gives
 * them per unit of the argument: a call of f(n) processes n x bytes, the
 * natural form for a family whose argument is its size.  name is a name or
 * a family's, as for cyclekit_suite_set.  Fatal (status 1): a null suite or
 * name, a name nothing answers to, a negative or infinite figure or NaN.
 */
void cyclekit_suite_throughput(struct cyclekit_suite *s, const char *name, double bytes,
                               double items);
void cyclekit_suite_throughput_per_arg(struct cyclekit_suite *s, const char *name, double bytes,
                                       double items);

/*
 * A counter of the user's: per_call of something (cache misses, nodes
 * visited) in each call of name's function, under label (copied).  The
 * table's counters column shows each as "label rate", at the counter's
 * rate; the result file has a line of "type": "counter" for it after each
 * result line.  A label given again replaces its figure; up to 4 labels a
 * name.  name is a name or a family's, as for cyclekit_suite_set.  Fatal
 * (status 1): a null suite, name or label, an empty label, a name nothing
 * answers to, a negative or infinite count or NaN, a fifth label.
 */
void cyclekit_suite_counter(struct cyclekit_suite *s, const char *name, const char *label,
                            double per_call);

/*
 * Measures every name registered (those --filter selects), prints the
 * table, writes the result file and the page, frees the suite and returns
 * the program's exit status: 0; 1 when the table (or the result file or
 * the page on standard output) could not be written; 2 when --baseline
 * names nothing measured or the --json or --html file cannot be created or
 * written, before measuring or after (a message names it; the old file is
 * kept).  Under --list it prints the names and measures nothing.  It
 * measures with the settings in force and the command line's on top, given
 * with each call (bestof_with): the settings in force are never changed,
 * not even while it measures.
 */
int cyclekit_suite_close(struct cyclekit_suite *s);

#ifdef __cplusplus
}
#endif

#endif /* CYCLEKIT_SUITE_H */
