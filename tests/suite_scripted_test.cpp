// The suite against the scripted counter: every answer is known, so the
// table and the result file are checked to the digit.  The machine's
// figures for the context line are this file's own (so the real counter
// module is not linked), and clock_gettime goes through -Wl,--wrap, so a
// setup can move the wall clock and show whether it was timed.

#include <cyclekit/suite.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cyclekit/suite.hpp>
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

// The driver's flush (bestof_internal::clear), noted as 'L' in the trace.
void __real__ZN15bestof_internal5clearEjj(uint32_t bytes, uint32_t block);
void __wrap__ZN15bestof_internal5clearEjj(uint32_t bytes, uint32_t block) {
  scripted::note('L');
  __real__ZN15bestof_internal5clearEjj(bytes, block);
}

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
// add, where given, registers the names instead.
using registrar = std::function<void(struct cyclekit_suite *)>;
outcome run_suite(std::vector<std::string> args, const std::vector<std::string> &names,
                  const std::vector<double> &counts, const registrar &add = nullptr) {
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
        if (!add)
          cyclekit_suite_run_setup(s, name.c_str(), nothing, 0, slow_setup, nullptr);
      if (add)
        add(s);
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
  EXPECT_NE(scripted::trace().find("LXxLXxLXx"), std::string::npos) << scripted::trace();
  EXPECT_EQ(memcmp(&before, &after, sizeof before), 0);
  EXPECT_EQ(seen.fence + seen.clear_cache, 0) << "the measured function sees them unchanged";
}

// ---- What a name is given besides ---------------------------------------------------

void noted(int) { scripted::note('F'); }
void before_run(const void *) { scripted::note('B'); }
void after_run(const void *) { scripted::note('A'); }

// One name with settings of its own (fenced, flushed; a batch of 2), its
// neighbour with those in force; per-run setup and teardown around every
// timed run, the flush (L) after the setup, never inside the counter pair.
TEST(SuiteScripted, ANameKeepsItsOwnSettingsAndRunHooks) {
  const struct {
    const char *what;
    std::vector<std::string> args;
    std::string trace;  // the counter's and the hooks' letters, core_per_tick's left out
    int own_fence, own_flush, plain_fence;
  } cases[] = {
      {"own fence and flush beside plain", {}, "BLXFFxABLXFFxABLXFFxABSFRABSFRABSFRA", 1, 1, 0},
      {"--fence on top of both", {"--fence"}, "BLXFFxABLXFFxABLXFFxABXFxABXFxABXFxA", 1, 1, 1},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.what);
    set_bestof_defaults();
    bestof_settings own;
    get_bestof_settings(&own);
    own.fence = own.clear_cache = 1;
    own.cache_size = 4096;
    own.batch = 2;
    outcome o = run_suite(c.args, {}, std::vector<double>(6, 10), [&](cyclekit_suite *s) {
      cyclekit_suite_run_each(s, "own", noted, 0, before_run, after_run, nullptr);
      cyclekit_suite_run_each(s, "plain", noted, 0, before_run, after_run, nullptr);
      cyclekit_suite_set(s, "own", &own);
    });
    std::string trace = std::regex_replace(scripted::trace(), std::regex("[CT]"), "");
    EXPECT_EQ(trace, c.trace);
    ASSERT_EQ(o.lines.size(), 3u) << o.err;
    EXPECT_EQ(o.lines[1]["settings"]["fence"], c.own_fence);
    EXPECT_EQ(o.lines[1]["settings"]["clear_cache"], c.own_flush);
    EXPECT_EQ(o.lines[1]["answer"], 5) << "a batch of 2";
    EXPECT_FALSE(o.lines[2].contains("settings"));
    EXPECT_EQ(o.lines[0]["settings"]["fence"], c.plain_fence);
  }
  set_bestof_defaults();
}

// ---- Families, units, rates, aggregates and CSV --------------------------------------

TEST(SuiteScripted, FamiliesAreNamedByTheirArguments) {
  const int args[] = {3, -1};
  const struct {
    const char *what;
    registrar add;
    std::string names;
  } cases[] = {
      {"a range up to its end",
       [](cyclekit_suite *s) { cyclekit_suite_run_range(s, "r", noted, 8, 1000, 8); },
       "r/8\nr/64\nr/512\nr/1000\n"},
      {"a range from 0 that ends on a power",
       [](cyclekit_suite *s) { cyclekit_suite_run_range(s, "z", noted, 0, 4, 2); },
       "z/0\nz/1\nz/2\nz/4\n"},
      {"one value", [](cyclekit_suite *s) { cyclekit_suite_run_range(s, "one", noted, 5, 5, 2); },
       "one/5\n"},
      {"arguments in their order",
       [&](cyclekit_suite *s) { cyclekit_suite_run_args(s, "a", noted, args, 2); }, "a/3\na/-1\n"},
  };
  for (const auto &c : cases) {
    outcome o = run_suite({"--list"}, {}, {}, c.add);
    EXPECT_EQ(o.out, c.names) << c.what;
  }
}

// Several named arguments: the product's order, each call its own
// member's values and the family's context, nothing but the function
// between the counter's reads, and a name with a leading part of the
// arguments standing for the members it begins.
std::vector<std::vector<int64_t>> params_seen;
void params_noted(const int64_t *v, const void *context) {
  scripted::note('F');
  params_seen.push_back({v[0], v[1], *(const int64_t *)context});
}

TEST(SuiteScripted, ParamsFamiliesGiveEachMemberItsValues) {
  set_bestof_defaults();
  bestof_settings fenced;
  get_bestof_settings(&fenced);
  fenced.fence = 1;
  const int64_t sizes[] = {8, 64}, strides[] = {1, 2}, tag = 5, tuples[] = {3, -4, 6, 7};
  const int64_t *lists[] = {sizes, strides};
  const int lengths[] = {2, 2};
  const char *names[] = {"size", nullptr};
  registrar add = [&](cyclekit_suite *s) {
    cyclekit_suite_run_product(s, "p", params_noted, &tag, 2, names, lists, lengths);
    cyclekit_suite_run_params(s, "q", params_noted, &tag, 2, nullptr, tuples, 2);
    cyclekit_suite_throughput_per_arg(s, "p", 1, 0);
    cyclekit_suite_set(s, "p/size:64", &fenced);
  };
  EXPECT_EQ(run_suite({"--list"}, {}, {}, add).out,
            "p/size:8/1\np/size:64/1\np/size:8/2\np/size:64/2\nq/3/-4\nq/6/7\n");
  params_seen.clear();
  outcome o = run_suite({}, {}, std::vector<double>(18, 10), add);
  std::vector<std::vector<int64_t>> want;
  for (auto member : {std::vector<int64_t>{8, 1}, {64, 1}, {8, 2}, {64, 2}, {3, -4}, {6, 7}})
    want.insert(want.end(), 3, {member[0], member[1], tag});
  EXPECT_EQ(params_seen, want);
  std::string plain = "SFRSFRSFR", fence = "XFxXFxXFx";
  EXPECT_EQ(std::regex_replace(scripted::trace(), std::regex("[CT]"), ""),
            plain + fence + plain + fence + plain + plain);
  ASSERT_EQ(o.lines.size(), 7u) << o.err;
  const int64_t bytes[] = {8, 64, 8, 64};
  for (int i = 0; i < 4; i++) {
    EXPECT_EQ(o.lines[1 + i]["bytes_per_call"], bytes[i]) << i;
    EXPECT_EQ(o.lines[1 + i].contains("settings"), bytes[i] == 64) << i;
  }
}

// The C++ suite's forms: a callable of the values, the names padded.
TEST(SuiteScripted, CxxParamsFamiliesCallTheirCallables) {
  set_bestof_defaults();
  std::vector<int64_t> seen;
  for (const char *option : {"--list", "--json=/dev/null"}) {
    char argv0[] = "suite_scripted_test";
    char *argv[] = {argv0, const_cast<char *>(option), nullptr};
    scripted::reset();
    scripted::step(4);
    scripted::counts(std::vector<double>(9, 10));
    scripted::core_figures({1.5});
    std::string out = captured(1, stdout, [&] {
      cyclekit::suite s("cxx", 2, argv);
      s.run_product("p", [&](const int64_t *v) { seen.push_back(v[0] * 10 + v[1]); }, {"n"},
                    {cyclekit::params_range(1, 4, 4), {7}});
      s.run_params("q", [&](const int64_t *v) { seen.push_back(v[0]); }, {}, {{9}});
      EXPECT_EQ(s.close(), 0);
    });
    if (option[2] == 'l') {
      EXPECT_EQ(out, "p/n:1/7\np/n:4/7\nq/9\n");
    }
  }
  EXPECT_EQ(seen, (std::vector<int64_t>{17, 17, 17, 47, 47, 47, 9, 9, 9}));
}

// 250 ticks at 2.5 ticks per ns are 100 ns; the step of 4 ticks 1.6 ns.
// 1000 bytes and 2 items a call of 100 ns are 10 GB/s and 20 M/s.
TEST(SuiteScripted, TimeUnitsAndRatesComeFromTheCounterRate) {
  const struct {
    std::vector<std::string> args;
    cells row;
    double answer, uncertainty;
    const char *unit;
  } cases[] = {
      {{"--time-unit=ns"},
       {"t/10", "100.0", "1.6", "ns", "3", "1.000", "10.0 GB/s", "20.0 M/s"},
       100,
       1.6,
       "ns"},
      {{"--time-unit=us"},
       {"t/10", "0.100", "0.002", "us", "3", "1.000", "10.0 GB/s", "20.0 M/s"},
       0.1,
       0.0016,
       "us"},
      {{"--time-unit=ms"},
       {"t/10", "0.000100", "0.000002", "ms", "3", "1.000", "10.0 GB/s", "20.0 M/s"},
       1e-4,
       1.6e-6,
       "ms"},
      {{"--time-unit=cycles"},
       {"t/10", "250.0", "4.0", "ticks", "3", "1.000", "10.0 GB/s", "20.0 M/s"},
       250,
       4,
       "ticks"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.unit);
    set_bestof_defaults();
    outcome o = run_suite(c.args, {}, {250, 250, 250}, [](cyclekit_suite *s) {
      const int ten = 10;
      cyclekit_suite_run_args(s, "t", noted, &ten, 1);
      cyclekit_suite_throughput_per_arg(s, "t", 100, 0.2);
    });
    EXPECT_EQ(row_of(o.out, "t/10"), c.row) << o.out;
    ASSERT_EQ(o.lines.size(), 2u);
    const json &r = o.lines[1];
    EXPECT_DOUBLE_EQ(r["answer"].get<double>(), c.answer);
    EXPECT_DOUBLE_EQ(r["uncertainty"].get<double>(), c.uncertainty);
    EXPECT_EQ(r["unit"], c.unit);
    EXPECT_EQ(r["bytes_per_call"], 1000);
    EXPECT_DOUBLE_EQ(r["items_per_second"].get<double>(), 2e7);
    EXPECT_EQ(r.contains("counted_answer"), c.answer != 250);
    EXPECT_EQ(o.lines[0]["ticks_per_ns"], 2.5);
  }
}

// Answers of 100, 200 and 600 ticks: mean 300, median 200, sample
// standard deviation 264.6 (the root of 70000), cv 88.19%.
TEST(SuiteScripted, AggregatesSumUpTheRepetitions) {
  set_bestof_defaults();
  set_bestof_k(1);
  outcome o = run_suite({"--repetitions=3", "--aggregates"}, {"a"}, {100, 200, 600});
  set_bestof_defaults();
  EXPECT_EQ(row_of(o.out, "a"),
            (cells{"a", "200.0", "250.0", "ticks", "3", "1.000", "300.0", "264.6", "88.19%"}))
      << o.out;
  ASSERT_EQ(o.lines.size(), 5u);
  const json &g = o.lines[4];
  EXPECT_EQ(g["type"], "aggregate");
  EXPECT_EQ(g["name"], "a");
  EXPECT_EQ(g["median"], 200);
  EXPECT_EQ(g["mean"], 300);
  EXPECT_NEAR(g["stddev"].get<double>(), 264.575131, 1e-6);
  EXPECT_NEAR(g["cv"].get<double>(), 0.881917, 1e-6);
}

// Not converged and not resolved: the flags' comma quoted.
TEST(SuiteScripted, CsvQuotesWhatHoldsAComma) {
  set_bestof_defaults();
  set_bestof_k(2);
  set_bestof_maxsamples(2);
  outcome o = run_suite({"--markdown", "--csv"}, {"z"}, {0, 8});
  set_bestof_defaults();
  EXPECT_TRUE(std::regex_match(o.out, std::regex("name,answer,\\+/-,unit,runs,ratio,time,flags\n"
                                                 "z,0\\.0,4\\.0,ticks,2,-,[0-9]+ us,"
                                                 "\"not converged, not resolved\"\n")))
      << o.out;
}

// The C++ suite: one callable serves a family with each member's argument;
// run_each's setup and teardown go around every run.
TEST(SuiteScripted, CxxFamiliesAndRunHooksCallTheirCallables) {
  set_bestof_defaults();
  std::vector<int> args;
  char argv0[] = "suite_scripted_test";
  char *argv[] = {argv0, nullptr};
  scripted::reset();
  scripted::step(4);
  scripted::counts(std::vector<double>(15, 10));
  scripted::core_figures({1.5});
  captured(1, stdout, [&] {
    cyclekit::suite s("cxx", 1, argv);
    s.run_range(
        "r", [&](int n) { args.push_back(n); }, 1, 4, 2);
    s.run_args("a", [&](int n) { args.push_back(n); }, {7});
    s.run_each(
        "e", [] { scripted::note('F'); }, [] { scripted::note('B'); }, [] { scripted::note('A'); });
    EXPECT_EQ(s.close(), 0);
  });
  EXPECT_EQ(args, (std::vector<int>{1, 1, 1, 2, 2, 2, 4, 4, 4, 7, 7, 7}));
  std::string trace = std::regex_replace(scripted::trace(), std::regex("[CT]"), "");
  EXPECT_EQ(trace.substr(trace.size() - 15), "BSFRABSFRABSFRA");
}

// ---- The progress line on a terminal ------------------------------------------------

void quick_setup(const void *) {}

// Standard error on a pseudo-terminal while names whose setup takes
// (scripted) 1000 s, or nothing, are measured: what the terminal got.
std::string progress_on_terminal(void (*setup)(const void *), const char *first,
                                 const char *second) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
    return "no pseudo-terminal";
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  char argv0[] = "suite_scripted_test";
  char *argv[] = {argv0, nullptr};
  scripted::reset();
  scripted::step(4);
  scripted::counts(std::vector<double>(6, 10));
  scripted::core_figures({1.5});
  fflush(stderr);
  int saved = dup(2);
  dup2(slave, 2);
  captured(1, stdout, [&] {
    struct cyclekit_suite *s = cyclekit_suite_open("tty", 1, argv);
    cyclekit_suite_run_setup(s, first, nothing, 0, setup, nullptr);
    cyclekit_suite_run_setup(s, second, nothing, 0, setup, nullptr);
    cyclekit_suite_close(s);
  });
  dup2(saved, 2);
  close(saved);
  close(slave);
  std::string got;
  fcntl(master, F_SETFL, O_NONBLOCK);
  char buffer[256];
  for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;)
    got.append(buffer, (size_t)n);
  close(master);
  return got;
}

TEST(SuiteScripted, ProgressShowsOnATerminalOnceASecondHasPassed) {
  const struct {
    void (*setup)(const void *);
    const char *first, *second;
    std::string shown;
  } cases[] = {
      {slow_setup, "a", "bbb", "\r[1/2] a\r[2/2] bbb\r         \r"},
      {slow_setup, "aaa", "b", "\r[1/2] aaa\r[2/2] b  \r         \r"},
      {quick_setup, "a", "b", ""},
  };
  set_bestof_defaults();
  for (const auto &c : cases)
    EXPECT_EQ(progress_on_terminal(c.setup, c.first, c.second), c.shown);
}

// Under the table, what would resolve each answer that is not: a batch
// whose run is ten times the step of 4 ticks, or precise mode.
TEST(SuiteScripted, SaysWhatWouldResolveAnAnswer) {
  const struct {
    std::vector<double> counts;
    std::string hint;  // "": none
  } cases[] = {
      {{10, 10, 10}, "a batch of 4 calls a run"},
      {{30, 30, 30}, "a batch of 2 calls a run"},
      {{0, 0, 0}, "an automatic batch"},
      {{40, 40, 40}, ""},
  };
  for (const auto &c : cases) {
    set_bestof_defaults();
    outcome o = run_suite({}, {"a"}, c.counts);
    std::string line = "\na: not resolved: use --precise, or " + c.hint;
    EXPECT_EQ(o.out.find(line) != std::string::npos, !c.hint.empty()) << o.out;
    EXPECT_EQ(o.out.find(": not resolved:") != std::string::npos, !c.hint.empty()) << o.out;
  }
}

// A user's counters at 250 ticks a call, 100 ns: 3 misses a call are
// 30 M/s; a label given again replaces its figure, on every member.
TEST(SuiteScripted, UserCountersShowAsRatesAndLines) {
  set_bestof_defaults();
  outcome o = run_suite({"--csv"}, {}, std::vector<double>(6, 250), [](cyclekit_suite *s) {
    const int args[] = {1, 2};
    cyclekit_suite_run_args(s, "c", noted, args, 2);
    cyclekit_suite_counter(s, "c", "misses", 1);
    cyclekit_suite_counter(s, "c", "hits", 0.5);
    cyclekit_suite_counter(s, "c/2", "misses", 3);
  });
  EXPECT_NE(o.out.find(",\"misses 10.0 M/s, hits 5.0 M/s\",\n"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(",\"misses 30.0 M/s, hits 5.0 M/s\",\n"), std::string::npos) << o.out;
  ASSERT_EQ(o.lines.size(), 7u);
  EXPECT_EQ(o.lines[5]["type"], "counter");
  EXPECT_EQ(o.lines[5]["name"], "c/2");
  EXPECT_EQ(o.lines[5]["counter"], "misses");
  EXPECT_EQ(o.lines[5]["per_call"], 3);
  EXPECT_DOUBLE_EQ(o.lines[5]["per_second"].get<double>(), 3e7);
}

}  // namespace
