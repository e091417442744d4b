// The suite's own page (--html) and cyclekit-compare's trend page in
// headless chromium: each loads without a console error, its screenshot
// is no blank, and its DOM holds the names and figures as text; the suite
// page has a plot per name with a point per repetition, also under a real
// decimal-comma locale (a comma in an SVG coordinate is a console error),
// and the trend page marks its one change point.
#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <set>

#include "support/pictures.h"

namespace {

std::string slurp(const std::string &path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

size_t count(const std::string &text, const std::string &what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    n++;
  return n;
}

// The screenshot at 400 px wide: the number of its colours, and whether
// colour is among them.
std::pair<size_t, bool> colours(const std::string &png, uint32_t colour) {
  std::vector<uint32_t> pixels = png_pixels(png);
  EXPECT_EQ(pixels.size(), 400u * 900u) << png.size() << " bytes";
  std::set<uint32_t> seen(pixels.begin(), pixels.end());
  return {seen.size(), seen.count(colour) == 1};
}

class Pages : public chromium_test {
 protected:
  // A decimal-comma locale built into the scratch directory; its
  // environment, or nothing where it cannot be built.
  std::vector<std::string> comma_locale() {
    std::string made = dir_ + "/de_DE.UTF-8";
    (void)system(("localedef -i de_DE -f UTF-8 " + made + " >/dev/null 2>&1").c_str());
    struct stat st;
    if (stat(made.c_str(), &st) != 0)
      return {};
    return {"LOCPATH=" + dir_, "LC_ALL=de_DE.UTF-8"};
  }
};

TEST_F(Pages, TheSuitePageHasEachNamesAnswersAsTextAndAPlotWithAPointPerRepetition) {
  std::vector<std::vector<std::string>> environments{{}};
  if (std::vector<std::string> comma = comma_locale(); !comma.empty())
    environments.push_back(comma);
  else
    ADD_FAILURE() << "no de_DE locale could be built: only the C locale is tried";
  for (const auto &env : environments) {
    SCOPED_TRACE(env.empty() ? "C locale" : env[1]);
    program_run run = run_program(
        {SUITE_PROGRAM, "--repetitions", "5", "--markdown", "--html", dir_ + "/suite.html"}, env);
    ASSERT_EQ(exit_status(run), 0) << run.err;
    std::string page = slurp(dir_ + "/suite.html");
    std::string dom = open("suite.html", page, "--dump-dom");
    // The Markdown table's name and answer, in the page's table as text.
    static const std::regex row("\n\\| ([a-z][a-z ]*[a-z]) +\\| +([0-9.,]+) \\|");
    size_t rows = 0;
    for (std::sregex_iterator m(run.out.begin(), run.out.end(), row), end; m != end; ++m, ++rows)
      EXPECT_NE(
          dom.find("<td>" + (*m)[1].str() + "</td><td class=\"number\">" + (*m)[2].str() + "</td>"),
          std::string::npos)
          << (*m)[0];
    EXPECT_EQ(rows, 3u) << run.out;
    EXPECT_EQ(count(dom, "<section class=\"answers\">"), 3u) << dom;
    for (const char *name : {"imul chain", "fadd chain", "call via pointer"})
      EXPECT_NE(dom.find("<h3>" + std::string(name) + "</h3>"), std::string::npos) << name;
    EXPECT_EQ(count(dom, "<circle class=\"answer\""), 15u);
    EXPECT_EQ(count(dom, "<rect class=\"box\""), 3u);
    EXPECT_NE(dom.find("--repetitions 5 --markdown --html"), std::string::npos);
    open("suite.html", page, "--screenshot=" + dir_ + "/suite.png --window-size=400,900");
    auto [n, box] = colours(slurp(dir_ + "/suite.png"), 0xe3f2fd);
    EXPECT_GT(n, 20u);
    EXPECT_TRUE(box) << "no quartile box in the screenshot";
  }
}

// 30 files of two names, "a" 20 % slower from file 20 on.
TEST_F(Pages, TheTrendPageMarksTheChangePointOfTheNameThatChanged) {
  std::vector<std::string> args{COMPARE_PROGRAM, "--html", dir_ + "/trend.html", "--trend"};
  for (int i = 1; i <= 30; i++) {
    std::string path = dir_ + "/r" + std::to_string(i) + ".json";
    std::ofstream out(path);
    out << R"({"type":"context","format":2,"library":"cyclekit","title":"t","mhz":2600})"
        << "\n";
    for (double f : {0.999, 1.0, 1.001})
      for (const auto &[name, level] :
           {std::pair<std::string, double>{"a <add>", i >= 20 ? 1200 : 1000}, {"b & c", 500}})
        out << R"({"type":"result","unit":"ticks","uncertainty":2,"name":")" << name
            << R"(","answer":)" << level * f * (1 + 0.001 * ((i * 7) % 5 - 2)) << "}\n";
    args.push_back(path);
  }
  program_run run = run_program(args);
  ASSERT_EQ(exit_status(run), 0) << run.err;
  std::string page = slurp(dir_ + "/trend.html");
  std::string dom = open("trend.html", page, "--dump-dom");
  EXPECT_EQ(count(dom, "<figure class=\"name\">"), 2u) << dom;
  for (const char *name : {"<h2>a &lt;add&gt;</h2>", "<h2>b &amp; c</h2>"})
    EXPECT_NE(dom.find(name), std::string::npos) << name;
  // One change, in a's figure, named with its file and ratio as text.
  size_t b = dom.find("<h2>b &amp; c</h2>"), change = dom.find("<g class=\"change\">");
  EXPECT_EQ(count(dom, "<g class=\"change\">"), 1u);
  EXPECT_LT(change, b);
  EXPECT_TRUE(std::regex_search(dom, std::regex("<li>file 20 \\([^)]*r20\\.json\\): 1\\.2")))
      << dom;
  EXPECT_NE(dom.find("No change point."), std::string::npos);
  // The mark lies between file 19's point and file 20's.
  auto x_of = [&](const std::string &pattern) {
    std::smatch m;
    return std::regex_search(dom, m, std::regex(pattern)) ? std::stod(m[1]) : NAN;
  };
  double mark = x_of("<g class=\"change\"><line x1=\"([0-9.]+)\"");
  EXPECT_GT(mark, x_of("<circle cx=\"([0-9.]+)\"[^>]*><title>file 19:"));
  EXPECT_LT(mark, x_of("<circle cx=\"([0-9.]+)\"[^>]*><title>file 20:"));
  open("trend.html", page, "--screenshot=" + dir_ + "/trend.png --window-size=400,900");
  auto [n, point] = colours(slurp(dir_ + "/trend.png"), 0x1565c0);
  EXPECT_GT(n, 20u);
  EXPECT_TRUE(point) << "no point of a level in the screenshot";
}

}  // namespace
