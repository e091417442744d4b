// cyclekit-compare --trend on hand-made histories whose change points are
// known: steps of known size at known files over a small fixed noise, a
// flat history, a name missing from some files, and every bad input.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "support/scratch_dir.h"

using nlohmann::json;

namespace {

struct history_case {
  const char *what;
  std::vector<std::pair<int, double>> steps;  // from this file (1-based) on, times this
  double noise, uncertainty;                  // noise: a fraction per unit of a fixed pattern
  int gap_from, gap_to;                       // files without "a" (1-based, inclusive)
  std::vector<int> changes;                   // the change points of "a"
};

class CompareTrend : public ScratchDir {
 protected:
  // File i's level of "a": 1000, its steps, and noise in -2..2 units.
  static double level(const history_case &c, int i) {
    double x = 1000 * (1 + c.noise * ((i * 7) % 5 - 2));
    for (const auto &[from, factor] : c.steps)
      x *= i >= from ? factor : 1;
    return x;
  }

  // 30 files; "b" flat at 500 in each, "a" as the case says.
  std::vector<std::string> history(const history_case &c, const char *title = "t") {
    std::vector<std::string> files;
    for (int i = 1; i <= 30; i++) {
      std::string text = context(title).dump() + "\n";
      for (double f : {0.999, 1.0, 1.001}) {
        if (i < c.gap_from || i > c.gap_to)
          text += result("a", level(c, i) * f, c.uncertainty);
        text += result("b", 500 * f, 2);
      }
      files.push_back(write("r" + std::to_string(i) + ".json", text));
    }
    return files;
  }

  static json context(const char *title) {
    return {{"type", "context"}, {"format", 2},   {"library", "cyclekit"},
            {"title", title},    {"mhz", 2600.0}, {"core_per_tick", 1.5}};
  }
  static std::string result(const char *name, double answer, double uncertainty) {
    return json{{"type", "result"},
                {"name", name},
                {"answer", answer},
                {"unit", "core cycles"},
                {"uncertainty", uncertainty}}
               .dump() +
           "\n";
  }

  program_run trend(const std::vector<std::string> &files, std::vector<std::string> more = {}) {
    std::vector<std::string> args{COMPARE_PROGRAM};
    args.insert(args.end(), more.begin(), more.end());
    args.push_back("--trend");
    args.insert(args.end(), files.begin(), files.end());
    return run_program(args);
  }
};

std::vector<json> lines(const std::string &text) {
  std::vector<json> v;
  size_t at = 0, end;
  while ((end = text.find('\n', at)) != std::string::npos)
    v.push_back(json::parse(text.substr(at, end - at))), at = end + 1;
  return v;
}

TEST_F(CompareTrend, FindsTheKnownChangePoints) {
  const history_case cases[] = {
      {"a step of 5 % at 20", {{20, 1.05}}, 0.002, 2, 0, -1, {20}},
      {"flat", {}, 0.002, 2, 0, -1, {}},
      {"two steps", {{11, 1.05}, {21, 1.05}}, 0.002, 2, 0, -1, {11, 21}},
      {"missing in files 5 to 8", {{20, 1.05}}, 0.002, 2, 5, 8, {20}},
      {"a step down", {{20, 0.95}}, 0.002, 2, 0, -1, {20}},
      {"5 % at 20, files 18 and 19 just above the old level",
       {{18, 1.007}, {20, 1.05 / 1.007}},
       0.002,
       2,
       0,
       -1,
       {20}},
      {"0.5 %, below the least effect", {{20, 1.005}}, 0, 2, 0, -1, {}},
      {"1.5 %, above it", {{20, 1.015}}, 0, 2, 0, -1, {20}},
      {"5 % within the resolution", {{20, 1.05}}, 0, 30, 0, -1, {}},
      {"5 % beyond the resolution", {{20, 1.05}}, 0, 20, 0, -1, {20}},
      {"5 % within the files' scatter", {{20, 1.05}}, 0.01, 2, 0, -1, {}},
  };
  for (const auto &c : cases) {
    program_run r = trend(history(c), {"--json"});
    ASSERT_EQ(r.status, 0) << c.what << ": " << r.err;
    std::vector<json> v = lines(r.out);
    ASSERT_EQ(v.size(), 2u) << c.what;
    std::vector<int> found;
    for (const auto &ch : v[0]["changes"])
      found.push_back(ch["file"].get<int>());
    EXPECT_EQ(found, c.changes) << c.what;
    EXPECT_EQ(v[1]["changes"].size(), 0u) << c.what;
    int gaps = c.gap_to >= c.gap_from ? c.gap_to - c.gap_from + 1 : 0;
    EXPECT_EQ(v[0]["files"], 30 - gaps) << c.what;
    if (gaps > 0) {
      EXPECT_TRUE(v[0]["levels"][c.gap_from - 1].is_null()) << c.what;
    }
    EXPECT_DOUBLE_EQ(v[0]["first"].get<double>(), level(c, 1)) << c.what;
    EXPECT_DOUBLE_EQ(v[0]["last"].get<double>(), level(c, 30)) << c.what;
  }
}

TEST_F(CompareTrend, TableAndJsonFields) {
  history_case c{"", {{20, 1.05}}, 0, 2, 0, -1, {20}};
  std::vector<std::string> files = history(c);
  json j = lines(trend(files, {"--json"}).out)[0];
  EXPECT_EQ(j["name"], "a");
  EXPECT_EQ(j["unit"], "core cycles");
  EXPECT_DOUBLE_EQ(j["confidence"].get<double>(), 1 - 0.05 / (2 * 29));
  ASSERT_EQ(j["changes"].size(), 1u);
  const json &ch = j["changes"][0];
  EXPECT_EQ(ch["path"], files[19]);
  for (const char *key : {"ratio", "low", "high"})
    EXPECT_NEAR(ch[key].get<double>(), 1.05, 1e-12) << key;
  EXPECT_DOUBLE_EQ(ch["before"].get<double>(), 1000);
  EXPECT_DOUBLE_EQ(ch["after"].get<double>(), 1050);
  std::string plain = trend(files).out, markdown = trend(files, {"--markdown"}).out;
  std::string change = "file 20 (" + files[19] + "): 1.050 [1.050, 1.050]";
  EXPECT_NE(plain.find("\na: core cycles, first 1000.0, last 1050.0, in 30/30 files; "
                       "change points: " +
                       change + "\n"),
            std::string::npos)
      << plain;
  EXPECT_NE(markdown.find("\n| a | core cycles | 1000.0 | 1050.0 | 30/30 | " + change + " |\n"),
            std::string::npos)
      << markdown;
}

TEST_F(CompareTrend, WritesThePage) {
  std::string page = dir_ + "/page.html";
  program_run r =
      trend(history({"", {{20, 1.05}}, 0.002, 2, 0, -1, {20}}), {"--markdown", "--html", page});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\n[The trend page](" + page + ")\n"), std::string::npos) << r.out;
  std::ifstream in(page);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text.rfind("<!DOCTYPE html>", 0), 0u);
  EXPECT_NE(text.find("<title>1 of 2 names changed over 30 files</title>"), std::string::npos);
  EXPECT_EQ(text.find("<script"), std::string::npos);
}

TEST_F(CompareTrend, BadInputExitsTwoWritingNothing) {
  history_case flat{"", {}, 0.002, 2, 0, -1, {}};
  std::vector<std::string> good = history(flat);
  std::string other = write("other.json", context("t").dump() + "\n" + result("z", 1, 1));
  std::string foreign = write("foreign.json", context("u").dump() + "\n" + result("a", 1, 1));
  mkdir((dir_ + "/folder").c_str(), 0700);
  struct {
    std::vector<std::string> files;
    std::string html, message;
  } cases[] = {
      {{good[0], dir_ + "/none.json"}, dir_ + "/p.html", dir_ + "/none.json: cannot open"},
      {{good[0], dir_ + "/folder"}, dir_ + "/p.html", dir_ + "/folder: is a directory"},
      {{good[0], other}, dir_ + "/p.html", other + ": no name in common with " + good[0]},
      {{good[0], foreign}, dir_ + "/p.html", foreign + ": a result file of another suite"},
      {{good[0], good[1]},
       dir_ + "/no/p.html",
       "cannot write " + dir_ + "/no/p.html: No such file"},
  };
  for (const auto &c : cases) {
    program_run r = trend(c.files, {"--html", c.html});
    EXPECT_EQ(WEXITSTATUS(r.status), 2) << c.message;
    EXPECT_EQ(r.err.rfind("cyclekit-compare: " + c.message, 0), 0u) << r.err;
    EXPECT_EQ(r.out, "");
    struct stat st;
    EXPECT_NE(stat(c.html.c_str(), &st), 0) << c.message;
  }
  program_run listing = run_program({"ls", dir_});
  EXPECT_EQ(listing.out.find(".part"), std::string::npos) << listing.out;
}

}  // namespace
