// cyclekit-compare on crafted result files (every bad input, every verdict,
// the gate of --fail-on) and on real suite programs run in pairs: one of
// them slower in one name, one that crashes, one that prints nothing.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

using nlohmann::json;

namespace {

const std::string tool = COMPARE_PROGRAM;

class CompareTool : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/cyclekit_compare_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { run_program({"rm", "-rf", dir_}); }

  std::string write(const std::string &name, const std::string &text) {
    std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    return path;
  }

  program_run compare(std::vector<std::string> args) {
    args.insert(args.begin(), tool);
    return run_program(args);
  }

  std::string dir_;
};

json context(json changes = json::object()) {
  json c = {{"type", "context"},  {"format", 1},      {"library", "cyclekit"},
            {"version", "0.1.0"}, {"counter", "tsc"}, {"mhz", 2600.0},
            {"step", 2},          {"cpu", "Xeon"},    {"settings", {{"k", 3}, {"precise", 0}}}};
  c.merge_patch(changes);
  return c;
}

// A result file: the context line, then each name's answers.
std::string results(const std::map<std::string, std::vector<double>> &answers,
                    double uncertainty = 2, json context_changes = json::object()) {
  std::string text = context(context_changes).dump() + "\n";
  for (const auto &[name, v] : answers)
    for (size_t r = 0; r < v.size(); r++)
      text += json{{"type", "result"}, {"name", name},     {"repetition", r},
                   {"answer", v[r]},   {"unit", "cycles"}, {"uncertainty", uncertainty}}
                  .dump() +
              "\n";
  return text;
}

std::vector<double> times(std::vector<double> v, double factor) {
  for (double &x : v)
    x *= factor;
  return v;
}

const std::vector<double> steady = {1000, 1002, 998, 1001, 999, 1003};
const std::vector<double> noisy = {1000, 1100, 900, 1050, 950, 1020};

struct bad_input {
  std::string text, expected;  // expected: after the file's path
};

TEST_F(CompareTool, EveryBadInputNamesTheFileAndLineAndWritesNothing) {
  const std::string good = results({{"a", steady}});
  const std::string result_line = R"({"type":"result","name":"a","answer":1,"unit":"cycles"})";
  const bad_input cases[] = {
      {context().dump() + "\n{not json\n", ":2: malformed JSON line"},
      {result_line + "\n", ":1: the context line is missing"},
      {"", ": empty, no result lines"},
      {"\n  \n", ": empty, no result lines"},
      {R"({"type":"context","library":"other","format":1})"
       "\n",
       ":1: not a cyclekit result file"},
      {"[1,2,3]\n", ":1: not a cyclekit result line"},
      {context({{"format", 2}}).dump() + "\n", ":1: result format 2 is not the one"},
      {context().dump() + "\n" +
           R"({"type":"result","name":"a","unit":"cycles"})"
           "\n",
       ":2: result line without a valid \"answer\""},
      {context().dump() + "\n" +
           R"({"type":"result","answer":1,"unit":"cycles"})"
           "\n",
       ":2: result line without a valid \"name\""},
  };
  std::string base = write("base.jsonl", good);
  for (const bad_input &c : cases) {
    std::string bad = write("bad.jsonl", c.text);
    program_run r = compare({base, bad});
    EXPECT_EQ(exit_status(r), 2) << c.text;
    EXPECT_NE(r.err.find(bad + c.expected), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "") << c.text;
  }
  program_run r = compare({dir_ + "/absent.jsonl", base});
  EXPECT_EQ(exit_status(r), 2);
  EXPECT_NE(r.err.find("absent.jsonl: cannot open"), std::string::npos) << r.err;
}

struct verdict_case {
  std::vector<double> base, fresh;
  double uncertainty;
  std::vector<std::string> options;
  std::string verdict;
  int status;
};

TEST_F(CompareTool, GivesTheVerdictTheAnswersSupport) {
  const verdict_case cases[] = {
      {steady, times(steady, 1.10), 2, {}, "slower", 0},
      {steady, times(steady, 1.10), 2, {"--fail-on", "slower"}, "slower", 1},
      {steady, times(steady, 0.90), 2, {"--fail-on", "slower"}, "faster", 0},
      {steady,
       times(steady, 1.10),
       2,
       {"--margin", "0.15", "--fail-on", "slower"},
       "not distinguishable",
       0},
      {noisy, times(noisy, 1.01), 2, {"--fail-on", "slower"}, "not distinguishable", 0},
      // 20 % apart, but by no more than one counter step.
      {{10, 10, 10, 10, 10, 10}, {12, 12, 12, 12, 12, 12}, 2, {}, "not resolved", 0},
      {{10, 10, 10, 10, 10, 10}, {14, 14, 14, 14, 14, 14}, 2, {}, "slower", 0},
      // Too few repetitions for any 95 % interval: 3 a side leave a chance
      // of 1/20 that every new answer lies above every old one.
      {{1000, 1001, 1002},
       {1100, 1101, 1102},
       2,
       {"--fail-on", "slower"},
       "not distinguishable",
       0},
      {{1000, 1001}, {1100, 1101}, 2, {"--fail-on", "slower"}, "not distinguishable", 0},
  };
  for (const verdict_case &c : cases) {
    std::vector<std::string> args = c.options;
    args.push_back("--json");
    args.push_back(write("base.jsonl", results({{"a", c.base}}, c.uncertainty)));
    args.push_back(write("new.jsonl", results({{"a", c.fresh}}, c.uncertainty)));
    program_run r = compare(args);
    EXPECT_EQ(exit_status(r), c.status) << r.err;
    json line = json::parse(r.out.substr(0, r.out.find('\n')));
    EXPECT_EQ(line["verdict"], c.verdict) << r.out;
    EXPECT_NEAR(line["ratio"].get<double>(), c.fresh[0] / c.base[0], 0.02 * c.fresh[0] / c.base[0]);
  }
}

// With 4 answers a side the 95 % interval runs from the least to the
// greatest of the 16 ratios: a chance of 2 in 70 that either lies beyond.
TEST_F(CompareTool, IntervalOfFourASideSpansEveryRatio) {
  std::string base = write("base.jsonl", results({{"a", {1000, 1010, 1020, 1030}}}));
  std::string fresh = write("new.jsonl", results({{"a", {1100, 1200, 1300, 1400}}}));
  program_run r = compare({"--json", base, fresh});
  json line = json::parse(r.out.substr(0, r.out.find('\n')));
  EXPECT_DOUBLE_EQ(line["low"].get<double>(), 1100.0 / 1030);
  EXPECT_DOUBLE_EQ(line["high"].get<double>(), 1400.0 / 1000);
  EXPECT_EQ(line["verdict"], "slower");
}

TEST_F(CompareTool, ListsMissingNamesAndWarnsOfDifferentContexts) {
  std::string base = write("base.jsonl", results({{"a", steady}, {"b", steady}}));
  std::string fresh = write("new.jsonl", results({{"a", steady}, {"c", steady}}, 2,
                                                 {{"cpu", "EPYC"}, {"settings", {{"k", 5}}}}));
  program_run r = compare({base, fresh});
  EXPECT_EQ(exit_status(r), 0) << r.err;
  EXPECT_NE(r.out.find("missing in new: b\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("missing in base: c\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("differ in \"cpu\""), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("differ in \"settings.k\""), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("differ in \"settings.precise\""), std::string::npos) << r.err;
}

// Two real builds of one suite, the second doing twice the work in one
// name: that name is slower, the others are not, and the gate closes.  In
// core cycles, since a virtual machine's core clock may differ from one
// process to the next by more than the margin.
TEST_F(CompareTool, RunFindsTheOneSlowerName) {
  program_run r = compare({"--run", "--pairs", "6", "--margin", "0.05", "--fail-on", "slower",
                           "--json", SUITE_PROGRAM, SUITE_PROGRAM_SLOWER, "--", "--core-cycles"});
  EXPECT_EQ(exit_status(r), 1) << r.err;
  std::map<std::string, std::string> verdicts;
  std::istringstream in(r.out);
  std::string text;
  while (std::getline(in, text)) {
    json line = json::parse(text);
    verdicts[line["name"]] = line["verdict"];
    EXPECT_EQ(line["paired"], true);
  }
  EXPECT_EQ(verdicts.size(), 3u) << r.out;
  EXPECT_EQ(verdicts["imul chain"], "slower") << r.out;
  EXPECT_NE(verdicts["fadd chain"], "slower") << r.out;
  EXPECT_NE(verdicts["call via pointer"], "slower") << r.out;
}

struct failing_run {
  std::vector<std::string> args;
  std::string expected;  // a regular expression
};

TEST_F(CompareTool, RunReportsAProgramThatFails) {
  const failing_run cases[] = {
      {{SUITE_PROGRAM, SUITE_PROGRAM_CRASH},
       "suite_program_crash \\(pair 1\\) was killed by signal 6 \\(Aborted\\)"},
      {{"true", SUITE_PROGRAM},
       "true \\(pair 1\\) printed no JSON lines \\(exited with status 0\\)"},
      {{dir_ + "/absent", SUITE_PROGRAM}, "absent: cannot be run: No such file"},
      {{SUITE_PROGRAM, SUITE_PROGRAM, "--", "--bogus"},
       "suite_program \\(pair 1\\) exited with status 2.*\n.*unknown option '--bogus'"},
  };
  for (const failing_run &c : cases) {
    std::vector<std::string> args{"--run", "--pairs", "2"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    program_run r = compare(args);
    EXPECT_EQ(exit_status(r), 2) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(c.expected))) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(CompareTool, RefusesABadCommandLine) {
  const std::vector<std::string> cases[] = {{"--bogus", "a", "b"},
                                            {"only-one"},
                                            {"--fail-on", "faster", "a", "b"},
                                            {"--margin", "-1", "a", "b"},
                                            {"a", "b", "--", "x"}};
  for (const auto &args : cases) {
    program_run r = compare(args);
    EXPECT_EQ(exit_status(r), 2) << args[0];
    EXPECT_EQ(r.out, "");
  }
}

}  // namespace
