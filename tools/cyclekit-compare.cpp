// cyclekit-compare: is a new build of a suite slower than the old one?
//
// Reads the result files of two suite programs (or runs the two programs in
// alternate pairs) and, for every name, estimates the ratio new/base with a
// distribution-free 95 % interval and gives a verdict.  Every failure of the
// input, of an option or of a resource ends the program with status 2 and
// nothing on standard output.

#include <string.h>
#include <sys/wait.h>

#include <CLI/CLI.hpp>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "compare_error.h"
#include "compare_page_facts.h"
#include "compare_read.h"
#include "compare_report.h"
#include "compare_run.h"
#include "compare_verdict.h"
#include "compare_write.h"
#include "trend_main.h"

namespace {

// One run of one program; its answers join the side's as run `pair`.
void run_once(side &s, const std::string &program, const std::vector<std::string> &args,
              const run_limits &limits, int pair) {
  std::vector<std::string> all{"--json", "-"};
  all.insert(all.end(), args.begin(), args.end());
  std::string label = program + " (pair " + std::to_string(pair + 1) + ")";
  finished f = run_program(program, all, limits, label);
  std::string err = f.err_tail.empty() ? "" : "; its standard error ends:\n" + f.err_tail;
  if (!WIFEXITED(f.status) || WEXITSTATUS(f.status) != 0)
    throw input_error(label + " " + describe_status(f.status) + err);
  if (f.out.find_first_not_of(" \t\r\n") == std::string::npos)
    throw input_error(label + " printed no JSON lines (" + describe_status(f.status) + ")" + err);
  std::istringstream in(f.out);
  long before = s.results;
  if (read_lines(s, in, label + " output line", pair) != 1)
    throw input_error(label + " printed more than one context line");
  if (s.results == before)
    throw input_error(label + " gave no answers, nothing to compare" + err);
}

struct options {
  std::vector<std::string> inputs, args;
  bool run = false, json_out = false, markdown = false;
  int pairs = 11;
  double margin = 0, timeout = 300;
  std::string fail_on;
  std::string html, svg, command;  // the pictures asked for, and what asked
  // --trend: a history of result files instead of two sides.
  trend_options trend;
};

struct comparison {
  side base, fresh;
  bool paired = false;
  std::string heading;
};

comparison compare_files(const options &o) {
  comparison c;
  c.base = read_file(o.inputs[0]);
  c.fresh = read_file(o.inputs[1]);
  c.heading = "base " + o.inputs[0] + ", new " + o.inputs[1];
  return c;
}

comparison compare_runs(const options &o) {
  comparison c;
  c.base.label = o.inputs[0];
  c.fresh.label = o.inputs[1];
  c.paired = true;
  const run_limits limits{o.timeout};
  for (int p = 0; p < o.pairs; p++) {
    // Which build goes first alternates, so that neither always runs on a
    // machine the other has just warmed (or heated).
    bool old_first = p % 2 == 0;
    run_once(old_first ? c.base : c.fresh, o.inputs[old_first ? 0 : 1], o.args, limits, p);
    run_once(old_first ? c.fresh : c.base, o.inputs[old_first ? 1 : 0], o.args, limits, p);
  }
  c.heading = std::to_string(o.pairs) + " pairs, base " + o.inputs[0] + ", new " + o.inputs[1] +
              ", each first in turn";
  return c;
}

std::string heading(const options &o, const comparison &c, size_t family) {
  std::string text = c.heading;
  if (o.margin > 0)
    text += ", margin " + fixed(100 * o.margin, 1) + " %";
  if (!o.fail_on.empty())
    text += "; the gate fails on a name slower at " + fixed(100 * kGateLevel, 0) +
            " % family-wise over the " + std::to_string(family) +
            (family == 1 ? " name" : " names") + " with an interval (Holm)";
  return text + "\n";
}

// ---- The pictures: --html and --svg ----------------------------------------

void add_picture_options(CLI::App &app, options &o) {
  app.add_option("--html", o.html,
                 "write the comparison as one page (plots, table, context, settings, command); "
                 "with --trend, the trend page");
  app.add_option("--svg", o.svg, "write the forest plot alone, as SVG");
}

// A Markdown link's target ends at a space or a parenthesis unless bracketed.
std::string markdown_link(const std::string &words, const std::string &path) {
  bool plain = path.find_first_of(" ()<>") == std::string::npos;
  return "\n[" + words + "](" + (plain ? path : "<" + path + ">") + ")\n";
}

// Writes the page and the plot asked for, all whole or none; returns the
// Markdown lines that link them.
std::string write_pictures(const options &o, const std::vector<name_data> &data,
                           const std::vector<row> &rows, const std::string &warnings,
                           const comparison &c) {
  if (o.html.empty() && o.svg.empty())
    return "";
  page_facts facts = facts_of(data, rows, o.margin, warnings, c.base, c.fresh);
  facts.command = o.command;
  std::vector<std::pair<std::string, std::string>> files;
  std::string links;
  if (!o.html.empty()) {
    files.push_back({o.html, compare_page(facts)});
    links += markdown_link("comparison page", o.html);
  }
  if (!o.svg.empty()) {
    files.push_back({o.svg, forest_svg(facts.rows, facts.margin)});
    links += markdown_link("forest plot", o.svg);
  }
  write_whole(files);
  return links;
}

// ---------------------------------------------------------------------------

int report(const options &o, const comparison &c) {
  std::ostringstream out, warn;
  missing_names missing;
  std::vector<name_data> data = pair_up(c.base, c.fresh, c.paired, missing);
  if (c.base.context && c.fresh.context)
    compare_contexts(*c.base.context, *c.fresh.context, warn);
  std::vector<row> rows;
  for (const auto &d : data)
    rows.push_back(judge(d, o.margin));
  size_t family = gate(data, rows, o.margin);
  bool with_gate = !o.fail_on.empty();
  std::string links = write_pictures(o, data, rows, warn.str(), c);
  if (o.json_out) {
    print_json(out, rows, missing, c.paired, with_gate);
  } else {
    out << heading(o, c, family);
    print_table(out, rows, o.markdown, with_gate);
    for (const auto &[name, where] : missing)
      out << "missing in " << where << ": " << name << "\n";
    if (o.markdown)
      out << links;
  }
  std::fputs(warn.str().c_str(), stderr);
  std::fputs(out.str().c_str(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout))
    throw input_error(std::string("cannot write the report: ") + strerror(errno));
  bool failed = false;
  for (const auto &r : rows)
    failed = failed || r.gate;
  return with_gate && failed ? 1 : 0;
}

// ---- --trend ----
void add_trend_options(CLI::App &app, options &o) {
  app.add_option("--trend", o.trend.files,
                 "the answers over many result files, oldest first, and their change points")
      ->expected(2, -1);
}

void check_trend_options(const options &o) {
  if (o.trend.files.empty() && o.inputs.size() != 2)
    throw CLI::ValidationError("inputs: two files (or programs with --run) are required");
  if (!o.trend.files.empty() && !o.svg.empty())
    throw CLI::ValidationError("--svg: the forest plot is of two sides, not of a --trend");
  if (!o.trend.files.empty() && (!o.inputs.empty() || o.run || !o.fail_on.empty()))
    throw CLI::ValidationError("--trend: takes the files itself, without --run or --fail-on");
}

int trend(options o) {
  o.trend.html = o.html;  // with --trend, --html writes the trend page
  o.trend.json = o.json_out;
  o.trend.markdown = o.markdown;
  return trend_command(o.trend);
}
// ---- end of --trend ----

void add_options(CLI::App &app, options &o) {
  app.add_option("inputs", o.inputs,
                 "the two result files, or with --run the old and the new suite program")
      ->expected(2);
  app.add_flag("--run", o.run, "run the two programs alternately instead of reading files");
  app.add_option("--pairs", o.pairs, "runs of each program with --run (default 11)")
      ->check(CLI::Range(1, 1000));
  app.add_option("--margin", o.margin,
                 "a change must exceed this fraction to count (default 0; 0.03 is 3 %)")
      ->check(CLI::Range(0.0, 10.0));
  app.add_option("--timeout", o.timeout,
                 "seconds a suite program may run with --run before it is ended (default 300)");
  app.add_option("--fail-on", o.fail_on,
                 "exit with status 1 when a name is slower for the gate (family-wise 5 %)")
      ->check(CLI::IsMember({"slower"}));
  app.add_flag("--json", o.json_out, "print JSON lines instead of a table");
  app.add_flag("--markdown", o.markdown, "print the table as Markdown");
  add_trend_options(app, o);
}

// The checks CLI11 leaves: NaN passes its ranges, as every comparison with
// it is false.
void check_options(const options &o) {
  if (!o.args.empty() && !o.run)
    throw CLI::ValidationError("arguments after -- are for the programs of --run");
  if (!std::isfinite(o.margin))
    throw CLI::ValidationError("--margin: must be a finite fraction");
  if (!(std::isfinite(o.timeout) && o.timeout > 0))
    throw CLI::ValidationError("--timeout: must be a finite number of seconds above 0");
  check_trend_options(o);
}

// 0 to go on; otherwise the exit status (the help printed, or an error).
int parse(CLI::App &app, options &o, int argc, char **argv) {
  // Everything after "--" goes to the suite programs.
  int ours = argc;
  for (int i = 1; i < argc; i++)
    if (strcmp(argv[i], "--") == 0) {
      ours = i;
      break;
    }
  for (int i = ours + 1; i < argc; i++)
    o.args.push_back(argv[i]);
  try {
    app.parse(ours, argv);
    check_options(o);
    return -1;
  } catch (const CLI::ParseError &e) {
    int status = app.exit(e);
    std::cout.flush();
    // The help is this call's output: one that could not be written failed.
    if (status == 0 && (!std::cout || std::fflush(stdout) != 0 || std::ferror(stdout))) {
      std::fprintf(stderr, "cyclekit-compare: cannot write the help: %s\n", strerror(errno));
      return 2;
    }
    return status == 0 ? 0 : 2;
  }
}

}  // namespace

int main(int argc, char **argv) {
  try {
    options o;
    CLI::App app{
        "Compares two suites' answers, name by name: the ratio new/base, its 95 % "
        "interval and a verdict.",
        "cyclekit-compare"};
    add_options(app, o);
    add_picture_options(app, o);
    o.command = command_of(argc, argv);
    int status = parse(app, o, argc, argv);
    if (status >= 0)
      return status;
    if (!o.trend.files.empty())
      return trend(o);
    end_children_on_signals();
    comparison c = o.run ? compare_runs(o) : compare_files(o);
    return report(o, c);
  } catch (const input_error &e) {
    std::fprintf(stderr, "cyclekit-compare: %s\n", e.what());
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "cyclekit-compare: out of memory\n");
  } catch (const std::exception &e) {
    std::fprintf(stderr, "cyclekit-compare: %s\n", e.what());
  }
  return 2;
}
