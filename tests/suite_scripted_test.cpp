// The suite against the scripted counter: every answer is known, so the
// table and the result file are checked to the digit.  The machine's
// figures for the context line are this file's own (so the real counter
// module is not linked), and clock_gettime goes through -Wl,--wrap, so a
// setup can move the wall clock and show whether it was timed.

#include <cyclekit/suite.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/scripted.h"

using nlohmann::json;

// ---- The machine and the wall clock, as the test has them -----------------------

namespace {
int hypervisor = 0, invariant = -1;
double clock_offset = 0;  // seconds added to CLOCK_MONOTONIC
}  // namespace

extern "C" {
double counter_mhz(double) { return 2500; }
const char *machine_counter_name(void) { return "scripted counter"; }
int machine_hypervisor(void) { return hypervisor; }
int machine_counter_invariant(void) { return invariant; }

int __real_clock_gettime(clockid_t id, struct timespec *ts);
int __wrap_clock_gettime(clockid_t id, struct timespec *ts) {
  int status = __real_clock_gettime(id, ts);
  if (id == CLOCK_MONOTONIC)
    ts->tv_sec += (time_t)clock_offset;
  return status;
}
}

namespace {

// The process-wide settings as the last measured function saw them.
bestof_settings seen;
void nothing(int) { get_bestof_settings(&seen); }
// Before every answer: a setup that takes 1000 s of the wall clock.
void slow_setup(const void *) { clock_offset += 1000; }

// ---- Running a suite in this process -------------------------------------------------

struct outcome {
  int status;
  std::string out, err;
  std::vector<json> lines;  // the result file
};

// Everything written to fd while f runs.
std::string captured(int fd, FILE *stream, const std::function<void()> &f) {
  fflush(stream);
  FILE *text = tmpfile();
  int saved = dup(fd);
  dup2(fileno(text), fd);
  f();
  fflush(stream);
  dup2(saved, fd);
  close(saved);
  std::string all;
  rewind(text);
  for (int c; (c = fgetc(text)) != EOF;)
    all += (char)c;
  fclose(text);
  return all;
}

std::vector<json> json_lines(const std::string &text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);)
    lines.push_back(json::parse(line));
  return lines;
}

// The suite of names, each measuring nothing, with the command line args
// (--json FILE added unless they name one) and the counts scripted.
outcome run_suite(std::vector<std::string> args, const std::vector<std::string> &names,
                  const std::vector<double> &counts) {
  char path[] = "/tmp/cyclekit_scripted_XXXXXX";
  int fd = mkstemp(path);
  close(fd);
  bool to_stdout = std::find(args.begin(), args.end(), "--json=-") != args.end();
  if (!to_stdout)
    args.push_back(std::string("--json=") + path);
  args.insert(args.begin(), "suite_scripted_test");
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  scripted::reset();
  scripted::step(4);
  scripted::counts(counts);
  scripted::core_figures({1.5});  // the context line's core_per_tick
  outcome o;
  o.err = captured(2, stderr, [&] {
    o.out = captured(1, stdout, [&] {
      struct cyclekit_suite *s = cyclekit_suite_open("scripted", (int)args.size(), argv.data());
      for (const std::string &name : names)
        cyclekit_suite_run_setup(s, name.c_str(), nothing, 0, slow_setup, nullptr);
      o.status = cyclekit_suite_close(s);
    });
  });
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  unlink(path);
  o.lines = json_lines(to_stdout ? o.out : text.str());
  return o;
}

// A table's rows by name: their cells but the time, split at two spaces.
std::vector<std::string> row_of(const std::string &table, const std::string &name) {
  std::istringstream in(table);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, name.size() + 2, name + "  ") != 0)
      continue;
    std::vector<std::string> cells;
    std::regex gap(" {2,}");
    for (std::sregex_token_iterator i(line.begin(), line.end(), gap, -1), end; i != end; ++i)
      if (!std::regex_match(i->str(), std::regex("[0-9]+ us")))
        cells.push_back(*i);
    return cells;
  }
  return {"no row for " + name};
}

using cells = std::vector<std::string>;

// ---- The rows and the result file ---------------------------------------------------

struct suite_case {
  const char *what;
  std::vector<std::string> args, names;
  int k, maxsamples;
  std::vector<double> counts;   // in the order measured
  std::vector<double> answers;  // the result file's, in its order; none: the counts
  std::vector<cells> rows;      // name, answer, +/-, unit, runs, ratio, flags
};

TEST(SuiteScripted, RowsAndResultFileHoldTheAnswersAsMeasured) {
  const suite_case cases[] = {
      {"median, half the range over the step's 4, ratio to the first; c filtered out",
       {"--repetitions=3", "--filter=^[ab]$"},
       {"a", "b", "c"},
       1,
       20,
       {1000, 2000, 1100, 2000, 1040, 2000},
       {},
       {{"a", "1040.0", "50.0", "ticks", "3", "1.000"},
        {"b", "2000.0", "4.0", "ticks", "3", "1.923"}}},
      {"an even count's median; a baseline named",
       {"--repetitions=4", "--baseline=y"},
       {"x", "y"},
       1,
       20,
       {10, 100, 40, 100, 20, 100, 30, 100},
       {},
       {{"x", "25.0", "15.0", "ticks", "4", "0.250", "not resolved"},
        {"y", "100.0", "4.0", "ticks", "4", "1.000"}}},
      {"not converged in the first repetition only is not converged; fenced",
       {"--repetitions=2", "--fence"},
       {"n"},
       2,
       2,
       {100, 200, 100, 100},
       {100, 100},
       {{"n", "100.0", "4.0", "ticks", "4", "1.000", "not converged"}}},
      {"no ratio to a baseline of 0",
       {},
       {"zero", "five hundred"},
       1,
       20,
       {0, 500},
       {},
       {{"zero", "0.0", "4.0", "ticks", "1", "-", "not resolved"},
        {"five hundred", "500.0", "4.0", "ticks", "1", "-"}}},
  };
  for (const suite_case &c : cases) {
    SCOPED_TRACE(c.what);
    set_bestof_defaults();
    set_bestof_k(c.k);
    set_bestof_maxsamples(c.maxsamples);
    struct bestof_settings before, after;
    get_bestof_settings(&before);
    outcome o = run_suite(c.args, c.names, c.counts);
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(scripted::left(), 0u);
    for (const cells &row : c.rows)
      EXPECT_EQ(row_of(o.out, row[0]), row) << o.out;
    EXPECT_EQ(o.out.find(" \n"), std::string::npos) << "a line ends in a blank:\n" << o.out;
    const std::vector<double> &answers = c.answers.empty() ? c.counts : c.answers;
    ASSERT_EQ(o.lines.size(), 1 + answers.size());
    EXPECT_EQ(o.lines[0]["names"], c.rows.size());
    for (size_t i = 0; i < answers.size(); i++) {
      EXPECT_EQ(o.lines[i + 1]["answer"], answers[i]) << i;
      EXPECT_LT(o.lines[i + 1]["seconds"].get<double>(), 100) << "the setup was timed";
    }
    get_bestof_settings(&after);
    EXPECT_EQ(after.k, before.k);
    EXPECT_EQ(after.maxsamples, before.maxsamples);
    EXPECT_EQ(after.fence, 0) << "the settings were not restored";
  }
  set_bestof_defaults();
}

// The machine's tristate figures: 0 is 0, -1 (unknown) null.
TEST(SuiteScripted, ContextLineWritesAZeroAsZero) {
  const struct {
    int hypervisor, invariant;
    json expected_hypervisor, expected_invariant;
  } cases[] = {{0, -1, 0, nullptr}, {1, 0, 1, 0}, {-1, 1, nullptr, 1}};
  for (const auto &c : cases) {
    hypervisor = c.hypervisor;
    invariant = c.invariant;
    outcome o = run_suite({}, {"a"}, {10, 10, 10});
    EXPECT_EQ(o.lines[0]["hypervisor"], c.expected_hypervisor);
    EXPECT_EQ(o.lines[0]["invariant"], c.expected_invariant);
    EXPECT_EQ(o.lines[0]["mhz"], 2500);
  }
}

// Under --json - standard output holds the result file alone: the verbose
// lines go to standard error with the table.
TEST(SuiteScripted, VerboseLinesLeaveTheResultFileAlone) {
  set_bestof_defaults();
  set_bestof_verbose(1);
  outcome o = run_suite({"--json=-", "--repetitions=2"}, {"a", "b"}, std::vector<double>(12, 10));
  set_bestof_defaults();
  ASSERT_EQ(o.lines.size(), 5u) << o.out;
  EXPECT_EQ(o.lines[1]["name"], "a");
  EXPECT_EQ(std::regex_search(o.err, std::regex("(^|\n)bestof: 10\\.0 ")), true) << o.err;
}

// The command line's settings go with each call: the fenced pair times the
// name, and the process-wide settings stay as they were, during and after.
TEST(SuiteScripted, CommandLineSettingsLeaveTheProcessWideOnesAlone) {
  set_bestof_defaults();
  bestof_settings before = {}, after = {};
  get_bestof_settings(&before);
  outcome o = run_suite({"--fence", "--flush"}, {"a"}, {10, 10, 10});
  get_bestof_settings(&after);
  EXPECT_EQ(o.lines[0]["settings"]["fence"], 1);
  EXPECT_NE(scripted::trace().find("XxXxXx"), std::string::npos) << scripted::trace();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(seen.fence + seen.clear_cache, 0) << "the measured function sees them unchanged";
}

}  // namespace
