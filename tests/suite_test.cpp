// The suite's command line, its table and its result file, through a real
// suite program (suite/suite_program.c); the misuse of its API in-process.

#include <cyclekit/suite.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cyclekit/suite.hpp>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.h"

using nlohmann::json;

namespace {

const std::string program = SUITE_PROGRAM;

struct command_case {
  std::string name;
  std::vector<std::string> args;
  int status;
  bool on_stdout;        // else standard error
  std::string expected;  // a regular expression the stream must match
};

void PrintTo(const command_case &c, std::ostream *os) { *os << c.name; }

class SuiteCommandLine : public testing::TestWithParam<command_case> {};

TEST_P(SuiteCommandLine, SaysWhatItShould) {
  const command_case &c = GetParam();
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  program_run r = run_program(argv);
  EXPECT_EQ(exit_status(r), c.status) << r.err;
  EXPECT_TRUE(std::regex_search(c.on_stdout ? r.out : r.err, std::regex(c.expected)))
      << "stdout:\n"
      << r.out << "stderr:\n"
      << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SuiteCommandLine,
    testing::Values(
        command_case{"UnknownOption", {"--bogus"}, 2, false, "unknown option '--bogus'"},
        // Only whole names: a prefix is no abbreviation.
        command_case{"OptionPrefix", {"--lis"}, 2, false, "unknown option '--lis'"},
        command_case{"OptionPrefixWithValue", {"--rep=3"}, 2, false, "unknown option '--rep=3'"},
        command_case{"DoubleDash", {"--"}, 2, false, "unknown option '--'"},
        command_case{"StrayArgument", {"stray"}, 2, false, "unexpected argument 'stray'"},
        command_case{"MissingValue",
                     {"--repetitions"},
                     2,
                     false,
                     "missing value for option '--repetitions'"},
        command_case{
            "ZeroRepetitions", {"--repetitions", "0"}, 2, false, "--repetitions needs .* not '0'"},
        command_case{"RepetitionsNotANumber",
                     {"--repetitions=3x"},
                     2,
                     false,
                     "--repetitions needs .* not '3x'"},
        command_case{"BadTimeUnit",
                     {"--time-unit=s"},
                     2,
                     false,
                     "--time-unit needs ns, us, ms or cycles, not 's'"},
        command_case{
            "FlagWithValue", {"--list=yes"}, 2, false, "option takes no value '--list=yes'"},
        command_case{"BadRegex",
                     {"--filter", "(chain"},
                     2,
                     false,
                     "bad --filter regular expression '\\(chain'"},
        command_case{"JsonNotCreated",
                     {"--json", "/nonexistent/dir/r.jsonl"},
                     2,
                     false,
                     "cannot create the --json"},
        command_case{"JsonIsADirectory",
                     {"--json", "/tmp"},
                     2,
                     false,
                     "cannot create the --json file '/tmp': Is a directory"},
        command_case{"HtmlNotCreated",
                     {"--html", "/nonexistent/dir/r.html"},
                     2,
                     false,
                     "cannot create the --html file '/nonexistent/dir/r.html': No such file"},
        command_case{"BothOnStandardOutput",
                     {"--json", "-", "--html=-"},
                     2,
                     false,
                     "--json and --html cannot both go to standard output"},
        command_case{"BothOneFile",
                     {"--json", "/tmp/r", "--html", "/tmp/r"},
                     2,
                     false,
                     "--json and --html name the same file '/tmp/r'"},
        // The page on standard output, the table on standard error.
        command_case{"PageOnStandardOutput",
                     {"--filter", "fadd", "--html", "-"},
                     0,
                     true,
                     "^<!DOCTYPE html>\n.*<td>fadd chain</td>.*</html>\n$"},
        command_case{"UnknownBaseline",
                     {"--baseline", "nothing"},
                     2,
                     false,
                     "--baseline 'nothing' names nothing"},
        command_case{"BaselineFilteredOut",
                     {"--filter", "imul", "--baseline", "fadd chain"},
                     2,
                     false,
                     "--baseline 'fadd chain' names nothing measured"},
        command_case{"Help", {"--help"}, 0, true, "--repetitions N"},
        command_case{"List", {"--list"}, 0, true, "^imul chain\nfadd chain\ncall via pointer\n$"},
        command_case{"FilterMatchingSome", {"--filter", "imul"}, 0, false, "^$"},
        command_case{
            "FilterMatchingNone", {"--filter", "zzz"}, 0, false, "--filter 'zzz' matches no name"},
        command_case{"ListFiltered",
                     {"--list", "--filter", "chain$"},
                     0,
                     true,
                     "^imul chain\nfadd chain\n$"},
        command_case{
            "ListFilteredInline", {"--list", "--filter=^c"}, 0, true, "^call via pointer\n$"},
        // A row per name; the ratio is to the baseline's answer.
        command_case{"Baseline",
                     {"--baseline", "fadd chain", "--filter", "fadd"},
                     0,
                     true,
                     "\nfadd chain +[0-9.]+ +[0-9.]+ +ticks +[0-9]+ +1\\.000 +[0-9]+ us"},
        command_case{"Markdown",
                     {"--markdown", "--filter", "imul"},
                     0,
                     true,
                     "\n\\| name +\\| answer \\|.*\\|\n\\|:-+\\|-+:\\|.*\n\\| imul chain +\\|"}),
    [](const testing::TestParamInfo<command_case> &info) { return info.param.name; });

// Standard output on a full device: the names, the table or the result
// file lost is exit status 1, never a success.
TEST(SuiteOutputLost, OnAFullDeviceIsStatusOne) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--list"}, ""},
      {{"--filter", "imul"}, "cannot write the table"},
      {{"--filter", "imul", "--json", "-"}, "cannot write the result file"},
      {{"--filter", "imul", "--html", "-"}, "cannot write the page"}};
  for (const auto &[args, said] : cases) {
    std::vector<std::string> argv{"sh", "-c", "exec \"$0\" \"$@\" > /dev/full", program};
    argv.insert(argv.end(), args.begin(), args.end());
    program_run r = run_program(argv);
    EXPECT_EQ(exit_status(r), 1) << args.back() << ": " << r.err;
    EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  }
}

std::vector<json> json_lines(const std::string &text) {
  std::vector<json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    lines.push_back(json::parse(line));  // throws, failing the test, on a bad line
  return lines;
}

// Context line first, then one line per name and repetition, round-robin.
TEST(SuiteResultFile, HasTheContextThenEveryNameAtEveryRepetition) {
  program_run r = run_program({program, "--json", "-", "--repetitions", "3"});
  ASSERT_EQ(exit_status(r), 0) << r.err;
  std::vector<json> lines = json_lines(r.out);
  ASSERT_EQ(lines.size(), 1u + 3 * 3);
  const json &context = lines[0];
  EXPECT_EQ(context["type"], "context");
  EXPECT_EQ(context["library"], "cyclekit");
  EXPECT_EQ(context["format"], 2);
  for (const char *key : {"version", "counter", "mhz", "step", "core_per_tick", "clocksource",
                          "hypervisor", "cpu", "compiler", "flags", "date", "settings"})
    EXPECT_TRUE(context.contains(key)) << key;
  EXPECT_EQ(context["repetitions"], 3);
  EXPECT_EQ(context["settings"]["k"], 3);
  const char *names[] = {"imul chain", "fadd chain", "call via pointer"};
  for (size_t i = 1; i < lines.size(); i++) {
    const json &l = lines[i];
    EXPECT_EQ(l["type"], "result");
    EXPECT_EQ(l["name"], names[(i - 1) % 3]);
    EXPECT_EQ(l["repetition"], int(i - 1) / 3);
    EXPECT_GT(l["answer"].get<double>(), 0);
    EXPECT_EQ(l["unit"], "ticks");
    EXPECT_GE(l["runs"].get<int>(), 1);
  }
  // The table went to standard error, a row per name.
  for (const char *name : names)
    EXPECT_NE(r.err.find(std::string("\n") + name + " "), std::string::npos) << r.err;
}

// Each measuring option reaches the settings, and through them the answers.
TEST(SuiteResultFile, RecordsTheSettingsTheCommandLineAsked) {
  const std::pair<const char *, const char *> cases[] = {
      {"--precise", "precise"}, {"--fence", "fence"}, {"--flush", "clear_cache"}};
  for (const auto &[option, setting] : cases) {
    program_run r = run_program({program, "--json", "-", "--filter", "fadd", option});
    ASSERT_EQ(exit_status(r), 0) << r.err;
    std::vector<json> lines = json_lines(r.out);
    ASSERT_EQ(lines.size(), 2u) << option;
    EXPECT_EQ(lines[0]["settings"][setting], 1) << option;
  }
  program_run r = run_program({program, "--json", "-", "--filter", "fadd", "--precise"});
  EXPECT_EQ(json_lines(r.out)[1]["precise"], 1);
}

// A decimal-comma locale, made for the test: the table shows commas, the
// result file stays JSON, and the CSV's numbers keep their point, so that
// no number is split or quoted.
TEST(SuiteResultFile, IsTheSameUnderADecimalCommaLocale) {
  char dir[] = "/tmp/cyclekit_locale_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string locale = std::string(dir) + "/de_DE.UTF-8";
  program_run made = run_program({"localedef", "-i", "de_DE", "-f", "UTF-8", locale});
  if (exit_status(made) != 0) {
    GTEST_SKIP() << "localedef could not build de_DE.UTF-8 (status " << made.status
                 << "): " << made.err;
  }
  const std::vector<std::string> env = {"LOCPATH=" + std::string(dir), "LC_ALL=de_DE.UTF-8"};
  program_run r = run_program({program, "--json", "-", "--filter", "fadd"}, env);
  program_run csv = run_program({program, "--csv", "--filter", "fadd", "--time-unit", "us",
                                 "--aggregates", "--repetitions", "2"},
                                env);
  run_program({"rm", "-rf", dir});
  ASSERT_EQ(exit_status(r), 0) << r.err;
  ASSERT_EQ(exit_status(csv), 0) << csv.err;
  std::string head = csv.out.substr(0, csv.out.find('\n'));
  std::smatch row;
  ASSERT_TRUE(std::regex_search(csv.out, row, std::regex("\nfadd chain,([^\n]*)"))) << csv.out;
  std::string line = row.str(0);
  EXPECT_EQ(std::count(line.begin(), line.end(), ','), std::count(head.begin(), head.end(), ','))
      << csv.out;
  EXPECT_TRUE(std::regex_search(row.str(1), std::regex("^[0-9]+\\.[0-9]{3},[0-9]+\\.[0-9]{3},")))
      << csv.out;
  ASSERT_TRUE(std::regex_search(r.err, std::regex("fadd chain +[0-9]+,[0-9] ")))
      << "the locale did not take: " << r.err;
  std::vector<json> lines = json_lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_DOUBLE_EQ(lines[0]["settings"]["epsilon"].get<double>(), 0.01);
  EXPECT_GT(lines[0]["mhz"].get<double>(), 0);
  EXPECT_NE(r.out.find("\"epsilon\":0.01"), std::string::npos) << r.out;
}

// An existing result file keeps its bytes whatever ends the run before the
// new file is whole: a bad option, --help, --list, an unknown baseline, a
// test function that aborts, a write that fails (a real file size limit).
// Nothing is left beside it; a run that ends well replaces it, with the
// mode a new file gets.
std::string file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> directory(const std::string &dir) {
  program_run ls = run_program({"ls", "-A", dir});
  std::vector<std::string> names;
  std::istringstream in(ls.out);
  for (std::string line; std::getline(in, line);)
    names.push_back(line);
  return names;
}

TEST(SuiteResultFile, IsWrittenWholeOrNotAtAll) {
  char dir[] = "/tmp/cyclekit_whole_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/k.jsonl", old = "{\"old\":1}\n";
  const std::string limited = "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"";
  const struct {
    std::vector<std::string> argv;
    int status;  // exit status, or 128 + the signal
    const char *message;
  } cases[] = {
      {{program, "--json", path, "--repetitons", "5"}, 2, "unknown option"},
      {{program, "--json", path, "--help"}, 0, ""},
      {{program, "--json=" + path, "--list"}, 0, ""},
      {{program, "--json", path, "--baseline", "nothing"}, 2, "names nothing measured"},
      {{SUITE_PROGRAM_CRASH, "--json", path}, 128 + SIGABRT, ""},
      {{"sh", "-c", limited, program, "--json", path, "--repetitions", "20"},
       2,
       "cannot write the --json file '.*k\\.jsonl': File too large"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.argv.back());
    std::ofstream(path, std::ios::binary) << old;
    program_run r = run_program(c.argv);
    int status = WIFSIGNALED(r.status) ? 128 + WTERMSIG(r.status) : exit_status(r);
    EXPECT_EQ(status, c.status) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(c.message))) << r.err;
    EXPECT_EQ(file_bytes(path), old);
    EXPECT_EQ(directory(dir), std::vector<std::string>{"k.jsonl"});
  }
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  program_run r = run_program({program, "--json", path, "--filter", "fadd"});
  EXPECT_EQ(exit_status(r), 0) << r.err;
  EXPECT_EQ(json_lines(file_bytes(path)).size(), 2u);
  EXPECT_EQ(directory(dir), std::vector<std::string>{"k.jsonl"});
  mode_t mask = umask(0);
  umask(mask);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
  run_program({"rm", "-rf", dir});
}

// Through a symbolic link the file it names is replaced and the link stays;
// a FIFO gets the lines as they are written, with nothing made beside it.
TEST(SuiteResultFile, GoesThroughALinkAndIntoAFifo) {
  char dir[] = "/tmp/cyclekit_link_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string d = dir, target = d + "/target.jsonl", link = d + "/k.jsonl";
  std::ofstream(target) << "old\n";
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  program_run r = run_program({program, "--json", link, "--filter", "fadd"});
  EXPECT_EQ(exit_status(r), 0) << r.err;
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(json_lines(file_bytes(target)).size(), 2u);
  EXPECT_EQ(directory(dir), (std::vector<std::string>{"k.jsonl", "target.jsonl"}));

  const std::string fifo = d + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  r = run_program(
      {"sh", "-c",
       "cat \"$1\" > \"$1.out\" & \"$0\" --json \"$1\" --filter fadd; s=$?; wait; exit $s", program,
       fifo});
  EXPECT_EQ(exit_status(r), 0) << r.err;
  EXPECT_EQ(json_lines(file_bytes(fifo + ".out")).size(), 2u);
  ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  run_program({"rm", "-rf", dir});
}

// The page shares the result file's writer: with both open, a crash, a
// failed write or a page that cannot be made leaves each file as it was
// and nothing beside them.
TEST(SuitePage, IsWrittenWholeOrNotAtAllBesideTheResultFile) {
  char dir[] = "/tmp/cyclekit_page_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string d = dir, json_path = d + "/k.jsonl", page = d + "/k.html";
  const std::string limited = "trap '' XFSZ; ulimit -f 1; exec \"$0\" \"$@\"";
  const struct {
    std::vector<std::string> argv;
    int status;  // exit status, or 128 + the signal
    const char *message;
  } cases[] = {
      {{SUITE_PROGRAM_CRASH, "--json", json_path, "--html", page}, 128 + SIGABRT, ""},
      {{program, "--json", json_path, "--html", d + "/none/k.html"}, 2, "--html file .*none"},
      {{"sh", "-c", limited, program, "--html", page, "--repetitions", "20"},
       2,
       "cannot write the --html file '.*k\\.html': File too large"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.argv.back());
    std::ofstream(json_path) << "old\n";
    std::ofstream(page) << "old page\n";
    program_run r = run_program(c.argv);
    int status = WIFSIGNALED(r.status) ? 128 + WTERMSIG(r.status) : exit_status(r);
    EXPECT_EQ(status, c.status) << r.err;
    EXPECT_TRUE(std::regex_search(r.err, std::regex(c.message))) << r.err;
    EXPECT_EQ(file_bytes(json_path), "old\n");
    EXPECT_EQ(file_bytes(page), "old page\n");
    EXPECT_EQ(directory(dir), (std::vector<std::string>{"k.html", "k.jsonl"}));
  }
  program_run r = run_program({program, "--json", json_path, "--html", page, "--filter", "fadd"});
  EXPECT_EQ(exit_status(r), 0) << r.err;
  EXPECT_EQ(json_lines(file_bytes(json_path)).size(), 2u);
  EXPECT_EQ(file_bytes(page).rfind("<!DOCTYPE html>\n", 0), 0u);
  EXPECT_EQ(directory(dir), (std::vector<std::string>{"k.html", "k.jsonl"}));
  run_program({"rm", "-rf", dir});
}

// Names of any bytes are the page's text: its markup escaped, what is not
// UTF-8 (or a control character HTML forbids) one U+FFFD each; a single
// answer is drawn with its uncertainty.
void nothing(int) {}

TEST(SuitePage, HoldsEveryNameAsTextWhateverItsBytes) {
  char dir[] = "/tmp/cyclekit_names_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string option = std::string("--html=") + dir + "/p.html";
  char argv0[] = "suite_test";
  char *argv[] = {argv0, option.data(), nullptr};
  const std::pair<const char *, const char *> names[] = {
      {"<b>&\"'", "&lt;b&gt;&amp;&quot;&#39;"},
      {"caf\xc3\xa9 \xe2\x82\xac", "caf\xc3\xa9 \xe2\x82\xac"},
      {"cut \xe2\x82 stray \xff", "cut \xef\xbf\xbd stray \xef\xbf\xbd"},
      {"bell\x07", "bell\xef\xbf\xbd"},
  };
  struct cyclekit_suite *s = cyclekit_suite_open("odd <names>", 2, argv);
  for (const auto &[name, text] : names)
    cyclekit_suite_run(s, name, nothing, 0);
  ASSERT_EQ(cyclekit_suite_close(s), 0);
  std::string page = file_bytes(std::string(dir) + "/p.html");
  EXPECT_NE(page.find("<h1>odd &lt;names&gt;</h1>"), std::string::npos);
  for (const auto &[name, text] : names) {
    EXPECT_NE(page.find("<td>" + std::string(text) + "</td>"), std::string::npos) << text;
    EXPECT_NE(page.find("<h3>" + std::string(text) + "</h3>"), std::string::npos) << text;
  }
  size_t points = 0;
  for (size_t at = page.find("<circle class=\"answer\""); at != std::string::npos;
       at = page.find("<circle class=\"answer\"", at + 1))
    points++;
  EXPECT_EQ(points, 4u);
  EXPECT_NE(page.find("stroke=\"#90caf9\" stroke-width=\"3\""), std::string::npos);
  EXPECT_NE(page.find("suite_test --html=" + std::string(dir) + "/p.html"), std::string::npos);
  run_program({"rm", "-rf", dir});
}

// A test function that ends the process with exit leaves nothing beside
// the old file either.
void exits(int) { exit(3); }

TEST(SuiteResultFile, IsLeftAsItWasWhenATestFunctionExits) {
  char dir[] = "/tmp/cyclekit_exit_XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::string path = std::string(dir) + "/k.jsonl", option = "--json=" + path;
  std::ofstream(path) << "old\n";
  char argv0[] = "suite_test";
  char *argv[] = {argv0, option.data(), nullptr};
  EXPECT_EXIT(
      {
        struct cyclekit_suite *s = cyclekit_suite_open("exits", 2, argv);
        cyclekit_suite_run(s, "exits", exits, 0);
        cyclekit_suite_close(s);
      },
      testing::ExitedWithCode(3), "");
  EXPECT_EQ(file_bytes(path), "old\n");
  EXPECT_EQ(directory(dir), std::vector<std::string>{"k.jsonl"});
  run_program({"rm", "-rf", dir});
}

// The misuse that would make the result file ambiguous or crash ends the
// process with a message.
void no_test(int) {}
void no_params(const int64_t *, const void *) {}

struct misuse_case {
  const char *first, *second;
  bestof_test_fn f;
  const char *message;
};

TEST(SuiteRegistration, RefusesWhatWouldMakeTheFileAmbiguous) {
  const misuse_case cases[] = {{"a", "a", no_test, "a name registered twice: a"},
                               {"a", "", no_test, "an empty name"},
                               {"a", nullptr, no_test, "a null suite, name or function"},
                               {"a", "b", nullptr, "a null suite, name or function"}};
  for (const misuse_case &c : cases) {
    EXPECT_EXIT(
        {
          struct cyclekit_suite *s = cyclekit_suite_open("misuse", 0, nullptr);
          cyclekit_suite_run(s, c.first, no_test, 0);
          cyclekit_suite_run(s, c.second, c.f, 0);
        },
        testing::ExitedWithCode(1), c.message);
  }
}

// What a name is given must find a name, and a family a sound range.
TEST(SuiteRegistration, RefusesFiguresForNoNameAndBadFamilies) {
  const bestof_settings none = {};
  const struct {
    void (*misuse)(struct cyclekit_suite *s, const bestof_settings *settings);
    const char *message;
  } cases[] = {
      {[](cyclekit_suite *s, const bestof_settings *b) { cyclekit_suite_set(s, "f/", b); },
       "cyclekit_suite_set: no name registered as: f/\n"},
      {[](cyclekit_suite *s, const bestof_settings *) { cyclekit_suite_throughput(s, "g", 1, 0); },
       "cyclekit_suite_throughput: no name registered as: g\n"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         cyclekit_suite_throughput_per_arg(s, "f", -1, 0);
       },
       "bytes and items must be finite and not negative: f"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         cyclekit_suite_run_range(s, "r", no_test, 4, 2, 2);
       },
       "cyclekit_suite_run_range: not 0 <= lo <= hi"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         cyclekit_suite_run_range(s, "r", no_test, 1, 2, 1);
       },
       "cyclekit_suite_run_range: not 0 <= lo <= hi"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         cyclekit_suite_run_range(s, "f", no_test, 1, 1, 2);
       },
       "a name registered twice: f/1"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         cyclekit_suite_run_params(s, "r", no_params, nullptr, 0, nullptr, nullptr, 0);
       },
       "cyclekit_suite_run_params: fewer than one argument: r"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         const int64_t one = 1;
         cyclekit_suite_run_params(s, "f", no_params, nullptr, 1, nullptr, &one, 1);
       },
       "a name registered twice: f/1"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         const int64_t one = 1, *lists[] = {&one, &one};
         const int lengths[] = {1, -1};
         cyclekit_suite_run_product(s, "r", no_params, nullptr, 2, nullptr, lists, lengths);
       },
       "cyclekit_suite_run_product: null or negative lists"},
      {[](cyclekit_suite *s, const bestof_settings *) {
         for (const char *label : {"a", "b", "c", "d", "a", "e"})
           cyclekit_suite_counter(s, "ff", label, 1);
       },
       "cyclekit_suite_counter: more than 4 counters for: ff"},
  };
  for (const auto &c : cases) {
    EXPECT_EXIT(
        {
          struct cyclekit_suite *s = cyclekit_suite_open("misuse", 0, nullptr);
          cyclekit_suite_run(s, "f/1", no_test, 0);
          cyclekit_suite_run(s, "ff", no_test, 0);
          c.misuse(s, &none);
        },
        testing::ExitedWithCode(1), c.message);
  }
}

// Every name once per repetition, in order, each answer after its setup.
std::string measured_order;
void record(const void *name) { measured_order += *(const char *)name; }

TEST(SuiteMeasurement, TakesTheNamesRoundRobin) {
  char argv0[] = "suite_test", option[] = "--repetitions=3", none[] = "--filter=^[ab]$";
  char *argv[] = {argv0, option, none, nullptr};
  struct cyclekit_suite *s = cyclekit_suite_open("order", 3, argv);
  for (const char *name : {"a", "b", "c"})
    cyclekit_suite_run_setup(s, name, no_test, 0, record, name);
  measured_order.clear();
  EXPECT_EQ(cyclekit_suite_close(s), 0);
  EXPECT_EQ(measured_order, "ababab");
}

// The result file of a suite of the given names, each measuring nothing,
// measured in this process; one parsed line each, the context first.
std::vector<json> names_in_result_file(const std::vector<std::string> &names) {
  char path[] = "/tmp/cyclekit_names_XXXXXX";
  int fd = mkstemp(path);
  EXPECT_GE(fd, 0);
  close(fd);
  std::string option = std::string("--json=") + path;
  char argv0[] = "suite_test";
  char *argv[] = {argv0, option.data(), nullptr};
  struct cyclekit_suite *s = cyclekit_suite_open("names", 2, argv);
  for (const std::string &name : names)
    cyclekit_suite_run(s, name.c_str(), no_test, 0);
  EXPECT_EQ(cyclekit_suite_close(s), 0);
  std::string text = file_bytes(path);
  unlink(path);
  return json_lines(text);  // throws, failing the test, on a line a strict parser refuses
}

// Names reach the result file as they were given, however they are spelt,
// if they are UTF-8 by RFC 3629; each maximal ill-formed subpart becomes
// one U+FFFD.
#define FFFD "\xef\xbf\xbd"

TEST(SuiteResultFile, KeepsEveryNameReadable) {
  const std::pair<const char *, const char *> names[] = {
      {"quote \" and \\", "quote \" and \\"},
      {"tab\t, line\n, \x7f", "tab\t, line\n, \x7f"},
      {"\xc3\xa9 \xf0\x9f\x98\x80", "\xc3\xa9 \xf0\x9f\x98\x80"},
      {"edges \xc2\x80 \xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf",
       "edges \xc2\x80 \xe0\xa0\x80 \xed\x9f\xbf \xee\x80\x80 \xf0\x90\x80\x80 \xf4\x8f\xbf\xbf"},
      {"stray \xff \x80", "stray " FFFD " " FFFD},
      {"leads above F4 \xf5\x80\x80\x80 \xf8", "leads above F4 " FFFD FFFD FFFD FFFD " " FFFD},
      {"overlong \xc0\xaf \xc1\xbf \xe0\x80\x80 \xf0\x8f\xbf\xbf",
       "overlong " FFFD FFFD " " FFFD FFFD " " FFFD FFFD FFFD " " FFFD FFFD FFFD FFFD},
      {"surrogate \xed\xa0\x80 \xed\xbf\xbf", "surrogate " FFFD FFFD FFFD " " FFFD FFFD FFFD},
      {"above U+10FFFF \xf4\x90\x80\x80", "above U+10FFFF " FFFD FFFD FFFD FFFD},
      {"cut short \xe2\x82x \xf0\x9f\x98", "cut short " FFFD "x " FFFD},
      {"lead then lead \xc3\xc3\xa9", "lead then lead " FFFD "\xc3\xa9"}};
  std::vector<std::string> given;
  for (const auto &name : names)
    given.push_back(name.first);
  std::vector<json> lines = names_in_result_file(given);
  ASSERT_EQ(lines.size(), 1 + std::size(names));
  for (size_t i = 0; i < std::size(names); i++)
    EXPECT_EQ(lines[i + 1]["name"], names[i].second);
}

// Random bytes as names, every line parsed by the strict reader; each name
// keeps its ASCII tail.
TEST(SuiteResultFile, ReadableWhateverTheBytes) {
  std::mt19937 random(20261210);
  std::vector<std::string> names;
  for (int i = 0; i < 300; i++) {
    std::string name;
    for (int n = (int)(random() % 9); n > 0; n--)
      name += (char)(random() % 4 ? 0x80 + random() % 0x80 : 1 + random() % 0x7f);
    names.push_back(name + "#" + std::to_string(i));
  }
  std::vector<json> lines = names_in_result_file(names);
  ASSERT_EQ(lines.size(), 1 + names.size());
  for (size_t i = 0; i < names.size(); i++) {
    std::string name = lines[i + 1]["name"], tail = "#" + std::to_string(i);
    EXPECT_EQ(name.substr(name.size() - std::min(name.size(), tail.size())), tail);
  }
}

// --flush flushes the last-level cache, bestof_flush_bytes() bytes, as the
// context line says; the size in force before comes back after.
TEST(SuiteResultFile, FlushesTheLastLevelCacheAndSaysHowMuch) {
  char path[] = "/tmp/cyclekit_flush_XXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  for (bool flush : {false, true}) {
    std::string option = std::string("--json=") + path;
    char argv0[] = "suite_test", flag[] = "--flush";
    char *argv[] = {argv0, option.data(), flush ? flag : nullptr, nullptr};
    set_bestof_cache_sizee(4096);
    struct cyclekit_suite *s = cyclekit_suite_open("flush", flush ? 3 : 2, argv);
    cyclekit_suite_run(s, "nothing", no_test, 0);
    EXPECT_EQ(cyclekit_suite_close(s), 0);
    json context = json_lines(file_bytes(path))[0];
    EXPECT_EQ(context["flush_bytes"], flush ? bestof_flush_bytes() : 0);
    EXPECT_EQ(context["settings"]["cache_size"], flush ? bestof_flush_bytes() : 4096);
    struct bestof_settings after;
    get_bestof_settings(&after);
    EXPECT_EQ(after.cache_size, 4096);
    EXPECT_EQ(after.clear_cache, 0);
  }
  unlink(path);
  set_bestof_defaults();
}

// Each C++ callable is bound to its own name, the captured state is its
// own, and a C function registered beside them gets its argument.
int c_argument = 0;
void c_function(int n) { c_argument = n; }

TEST(SuiteFromCxx, RunsEachCallableUnderItsName) {
  char argv0[] = "suite_test", filter[] = "--filter=one|three|c";
  char *argv[] = {argv0, filter, nullptr};
  int calls[3] = {0, 0, 0};
  {
    cyclekit::suite s("callables", 2, argv);
    s.run("one", [&] { calls[0]++; });
    s.run("two", [&] { calls[1]++; });
    auto third = [&calls] { calls[2]++; };
    s.run("three", third);
    s.run("c", c_function, 42);
    EXPECT_EQ(s.close(), 0);
  }
  EXPECT_GT(calls[0], 0);
  EXPECT_EQ(calls[1], 0);
  EXPECT_GT(calls[2], 0);
  EXPECT_EQ(c_argument, 42);
}

}  // namespace
