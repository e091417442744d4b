// The command line that every suite program shares: the options, their
// checks and the help.

#include <errno.h>
#include <regex.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "suite_internal.h"

using namespace suite_internal;

static const char usage_text[] =
    "Options:\n"
    "  --filter REGEX    measure only the names this extended regex matches\n"
    "  --list            print the names, measure nothing\n"
    "  --repetitions N   N answers per name, taken round-robin (default 1)\n"
    "  --json FILE       write the results as JSON lines (- for standard output;\n"
    "                    the table then goes to standard error)\n"
    "  --html FILE       write the table, each name's answers as a plot and the\n"
    "                    context as one HTML page (- for standard output)\n"
    "  --markdown        print the table as Markdown\n"
    "  --csv             print the table as CSV\n"
    "  --time-unit UNIT  answers in ns, us or ms from the counter's rate, or in\n"
    "                    cycles: ticks or core cycles as counted (the default)\n"
    "  --aggregates      mean, median, stddev and cv over the repetitions\n"
    "  --baseline NAME   the row the ratios refer to (default the first)\n"
    "  --precise         precise mode: one call's core cycles, net of the counter\n"
    "  --core-cycles     count core cycles instead of counter ticks\n"
    "  --fence           time with the fenced counter pair\n"
    "  --flush           flush the last-level cache before every timed run\n"
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

// Only the name: the file is made when measuring starts, so that a later
// bad option, --help or --list leaves a file of that name alone.
static void set_path(char **path, const char *value) {
  free(*path);
  *path = copy_string(value);
}

// Characters a shell takes as they are: an argument of only these is shown
// bare, any other in single quotes.
static int plain_argument(const char *arg) {
  static const char plain[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_=+./:,@%^";
  return *arg && strspn(arg, plain) == strlen(arg);
}

// The command line as a shell would take it back, for the page.
static char *command_line(int argc, char **argv) {
  size_t size = 1;
  for (int i = 0; i < argc; i++)
    size += 4 * strlen(argv[i]) + 3;  // a ' becomes '\'', then the quotes and a blank
  char *out = (char *)suite_alloc(size), *p = out;
  for (int i = 0; i < argc; i++) {
    if (i)
      *p++ = ' ';
    int quoted = !plain_argument(argv[i]);
    if (quoted)
      *p++ = '\'';
    for (const char *c = argv[i]; *c; c++) {
      if (*c == '\'') {
        memcpy(p, "'\\''", 4);
        p += 4;
      } else {
        *p++ = *c;
      }
    }
    if (quoted)
      *p++ = '\'';
  }
  *p = '\0';
  return out;
}

// One argument (or two, with a separate value); false if it is no option.
static int parse_option(struct cyclekit_suite *s, int argc, char **argv, int *i) {
  const char *arg = argv[*i];
  const char *eq = strchr(arg, '=');
  size_t len = eq ? (size_t)(eq - arg) : strlen(arg);
#define IS(name) (len == sizeof(name) - 1 && strncmp(arg, name, len) == 0)
  int *flag = IS("--list")          ? &s->list
              : IS("--markdown")    ? &s->markdown
              : IS("--csv")         ? &s->csv
              : IS("--aggregates")  ? &s->aggregates
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
  } else if (IS("--time-unit")) {
    const char *value = option_value(s, argc, argv, i, eq);
    if ((s->time_unit = parse_time_unit(value)) < 0)
      usage_error(s, "--time-unit needs ns, us, ms or cycles, not", value);
  } else if (IS("--json")) {
    set_path(&s->json_path, option_value(s, argc, argv, i, eq));
  } else if (IS("--html")) {
    set_path(&s->html_path, option_value(s, argc, argv, i, eq));
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
  if (is_stdout(s->json_path) && is_stdout(s->html_path))
    usage_error(s, "--json and --html cannot both go to standard output:", "-");
  // The page renamed over the result file would leave the lines unwritten.
  if (s->json_path && s->html_path && strcmp(s->json_path, s->html_path) == 0)
    usage_error(s, "--json and --html name the same file", s->html_path);
  s->command = command_line(argv ? argc : 0, argv);
  // CSV is for programs: it wins over Markdown.
  if (s->csv)
    s->markdown = 0;
  return s;
}
