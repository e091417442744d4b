// cyclekit-compare: is a new build of a suite slower than the old one?
//
// Reads the result files of two suite programs (or runs the two programs in
// alternate pairs) and, for every name, estimates the ratio new/base with a
// distribution-free 95 % interval and gives a verdict.  Every failure of the
// input ends the program with status 2 before anything is written to
// standard output.

#include <string.h>
#include <sys/wait.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "compare_error.h"
#include "compare_read.h"
#include "compare_report.h"
#include "compare_run.h"
#include "compare_verdict.h"

namespace {

// One run of one program; its answers by name (the median of its
// repetitions each) go to `pair`.
void run_once(side &s, const std::string &program, const std::vector<std::string> &args,
              const run_limits &limits, int pair, std::map<std::string, double> &medians) {
  std::vector<std::string> all{"--json", "-"};
  all.insert(all.end(), args.begin(), args.end());
  std::string label = program + " (pair " + std::to_string(pair + 1) + ")";
  finished f = run_program(program, all, limits, label);
  if (!WIFEXITED(f.status) || WEXITSTATUS(f.status) != 0) {
    std::string why = label + " " + describe_status(f.status);
    if (!f.err_tail.empty())
      why += "; its standard error ends:\n" + f.err_tail;
    throw input_error(why);
  }
  if (f.out.find_first_not_of(" \t\r\n") == std::string::npos)
    throw input_error(label + " printed no JSON lines (" + describe_status(f.status) + ")");
  std::istringstream in(f.out);
  answers_by_name run;
  read_lines(s, in, label + " output line", run);
  for (auto &[name, v] : run) {
    std::vector<double> a;
    for (const auto &x : v)
      a.push_back(x.answer);
    std::sort(a.begin(), a.end());
    size_t n = a.size();
    medians[name] = n % 2 ? a[n / 2] : (a[n / 2 - 1] + a[n / 2]) / 2;
  }
  merge(s, run);
}

struct options {
  std::vector<std::string> inputs, args;
  bool run = false, json_out = false, markdown = false;
  int pairs = 11;
  double margin = 0, timeout = 300;
  std::string fail_on;
};

struct comparison {
  side base, fresh;
  std::map<std::string, std::vector<double>> pair_logs;  // --run: log(new/old) per pair
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
    std::map<std::string, double> old_answers, new_answers;
    // Which build goes first alternates, so that neither always runs on a
    // machine the other has just warmed (or heated).
    if (p % 2 == 0) {
      run_once(c.base, o.inputs[0], o.args, limits, p, old_answers);
      run_once(c.fresh, o.inputs[1], o.args, limits, p, new_answers);
    } else {
      run_once(c.fresh, o.inputs[1], o.args, limits, p, new_answers);
      run_once(c.base, o.inputs[0], o.args, limits, p, old_answers);
    }
    for (const auto &[name, a] : old_answers) {
      auto b = new_answers.find(name);
      if (b != new_answers.end() && a > 0 && b->second > 0)
        c.pair_logs[name].push_back(std::log(b->second / a));
    }
  }
  c.heading = std::to_string(o.pairs) + " pairs, base " + o.inputs[0] + ", new " + o.inputs[1] +
              ", each first in turn";
  return c;
}

int report(const options &o, const comparison &c) {
  std::ostringstream out, warn;
  if (c.base.context && c.fresh.context)
    compare_contexts(*c.base.context, *c.fresh.context, warn);
  std::vector<row> rows;
  missing_names missing;
  for (const auto &name : c.base.order) {
    auto n = c.fresh.answers.find(name);
    if (n == c.fresh.answers.end()) {
      missing.push_back({name, "new"});
      continue;
    }
    std::optional<std::vector<double>> logs;
    if (c.paired) {
      auto it = c.pair_logs.find(name);
      logs = it == c.pair_logs.end() ? std::vector<double>() : it->second;
    }
    rows.push_back(judge(name, c.base.answers.at(name), n->second, logs, o.margin));
  }
  for (const auto &name : c.fresh.order)
    if (!c.base.answers.count(name))
      missing.push_back({name, "base"});

  if (o.json_out) {
    print_json(out, rows, missing, c.paired);
  } else {
    out << c.heading << (o.margin > 0 ? ", margin " + fixed(100 * o.margin, 1) + " %" : "") << "\n";
    print_table(out, rows, o.markdown);
    for (const auto &[name, where] : missing)
      out << "missing in " << where << ": " << name << "\n";
  }
  std::fputs(warn.str().c_str(), stderr);
  std::fputs(out.str().c_str(), stdout);
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "cyclekit-compare: cannot write the report: %s\n", strerror(errno));
    return 2;
  }
  bool regressed =
      std::any_of(rows.begin(), rows.end(), [](const row &r) { return r.verdict == "slower"; });
  return o.fail_on == "slower" && regressed ? 1 : 0;
}

}  // namespace

int main(int argc, char **argv) {
  options o;
  // Everything after "--" goes to the suite programs.
  int ours = argc;
  for (int i = 1; i < argc; i++)
    if (strcmp(argv[i], "--") == 0) {
      ours = i;
      break;
    }
  for (int i = ours + 1; i < argc; i++)
    o.args.push_back(argv[i]);

  CLI::App app{
      "Compares two suites' answers, name by name: the ratio new/base, its 95 % "
      "interval and a verdict.",
      "cyclekit-compare"};
  app.add_option("inputs", o.inputs,
                 "the two result files, or with --run the old and the new suite program")
      ->required()
      ->expected(2);
  app.add_flag("--run", o.run, "run the two programs alternately instead of reading files");
  app.add_option("--pairs", o.pairs, "runs of each program with --run (default 11)")
      ->check(CLI::Range(1, 1000));
  app.add_option("--margin", o.margin,
                 "a change must exceed this fraction to count (default 0; 0.03 is 3 %)")
      ->check(CLI::Range(0.0, 10.0));
  app.add_option("--fail-on", o.fail_on, "exit with status 1 on any such verdict")
      ->check(CLI::IsMember({"slower"}));
  app.add_option("--timeout", o.timeout,
                 "seconds a suite program may run with --run before it is ended (default 300)")
      ->check(CLI::PositiveNumber);
  app.add_flag("--json", o.json_out, "print JSON lines instead of a table");
  app.add_flag("--markdown", o.markdown, "print the table as Markdown");
  try {
    app.parse(ours, argv);
    if (!o.args.empty() && !o.run)
      throw CLI::ValidationError("arguments after -- are for the programs of --run");
    if (!std::isfinite(o.timeout))
      throw CLI::ValidationError("--timeout: must be a finite number of seconds");
  } catch (const CLI::ParseError &e) {
    int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }

  end_children_on_signals();
  try {
    comparison c = o.run ? compare_runs(o) : compare_files(o);
    return report(o, c);
  } catch (const input_error &e) {
    std::fprintf(stderr, "cyclekit-compare: %s\n", e.what());
    return 2;
  }
}
