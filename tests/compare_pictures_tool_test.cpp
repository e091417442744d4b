// cyclekit-compare --html and --svg on result files with one name 5 %
// slower and on suite programs run in pairs; failed writes leave every
// file as it was; the tool's own page in headless chromium.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <nlohmann/json.hpp>

#include "support/pictures.h"
#include "support/scratch_dir.h"

using nlohmann::json;

namespace {

const std::string tool = COMPARE_PROGRAM;

std::string slurp(const std::string &path) {
  std::ifstream in(path);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A result file: each name's six answers around its level, one name's
// times `factor`; the setting "precise" as given.
std::string results(const std::string &slower, double factor, int precise = 0) {
  std::string text = R"({"type":"context","format":1,"library":"cyclekit","counter":"tsc",)"
                     R"("mhz":2600,"step":2,"cpu":"Xeon","settings":{"precise":)" +
                     std::to_string(precise) + "}}\n";
  for (const auto &[name, level] : {std::pair<std::string, double>{"add chain", 1000},
                                    {"imul chain", 3000},
                                    {"walk <16 KiB>", 4000}})
    for (double d : {0, 2, -2, 1, -1, 3})
      text += R"({"type":"result","unit":"cycles","uncertainty":2,"name":)" + json(name).dump() +
              ",\"answer\":" + std::to_string((level + d) * (name == slower ? factor : 1)) + "}\n";
  return text;
}

// compare on base.json and new.json in dir, imul chain 5 % slower.
program_run compare(const std::string &dir, std::vector<std::string> args) {
  std::ofstream(dir + "/base.json") << results("", 1);
  std::ofstream(dir + "/new.json") << results("imul chain", 1.05, 1);
  args.insert(args.begin(), {tool, dir + "/base.json", dir + "/new.json"});
  return run_program(args);
}

class PicturesTool : public ScratchDir {
 protected:
  program_run compare(std::vector<std::string> args) { return ::compare(dir_, args); }
};

TEST_F(PicturesTool, TheSlowerNameIsTheFirstRowInItsColourAndThePageHoldsItAsText) {
  program_run run = compare({"--markdown", "--svg", dir_ + "/f.svg", "--html", dir_ + "/p.html"});
  ASSERT_EQ(exit_status(run), 0) << run.err;
  std::vector<seen_row> rows = rows_in(slurp(dir_ + "/f.svg"));
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].title.substr(0, 11), "imul chain:");
  EXPECT_EQ(rows[0].verdict, "slower");
  EXPECT_EQ(rows[0].fill, kColours.at("slower"));
  std::string page = slurp(dir_ + "/p.html");
  for (const std::string &text : std::vector<std::string>{
           "<td>imul chain</td><td class=\"number\">1.050</td>", "<td>add chain</td>",
           "<td>walk &lt;16 KiB&gt;</td>", ">6 / 6</td>",
           "<li>warning: the context lines differ in &quot;settings.precise&quot;: base 0, new "
           "1</li>",
           "<th>precise</th><td>base 0, new 1</td>", "--markdown --svg " + dir_ + "/f.svg"})
    EXPECT_NE(page.find(text), std::string::npos) << text;
  EXPECT_NE(run.out.find("\n[forest plot](" + dir_ + "/f.svg)\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\n[comparison page](" + dir_ + "/p.html)\n"), std::string::npos);
  EXPECT_EQ(compare({"--markdown"}).out.find("]("), std::string::npos);
}

TEST_F(PicturesTool, AFailedWriteIsStatus2AndLeavesEveryFileAsItWas) {
  mkdir((dir_ + "/a directory").c_str(), 0755);
  const struct {
    std::vector<std::string> args;
    std::string says;
  } cases[] = {
      {{"--svg", dir_ + "/no such directory/f.svg"}, "No such file or directory"},
      {{"--svg", dir_ + "/a directory"}, "Is a directory"},
      {{"--svg", "/dev/full"}, "cannot write /dev/full: No space left on device"},
      {{"--svg", dir_ + "/f.svg", "--fail-on", "faster"}, "--fail-on"},
  };
  for (const auto &c : cases) {
    std::ofstream(dir_ + "/p.html") << "the page before";
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--markdown", "--html", dir_ + "/p.html"});
    program_run run = compare(args);
    EXPECT_EQ(exit_status(run), 2) << c.args[1];
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "") << c.args[1];
    EXPECT_EQ(slurp(dir_ + "/p.html"), "the page before") << c.args[1];
    // Nothing but the inputs, the page and the directory is left behind.
    EXPECT_EQ(run_program({"ls", "-A", dir_}).out, "a directory\nbase.json\nnew.json\np.html\n");
  }
}

TEST_F(PicturesTool, AFileReplacedKeepsItsModeAndALinkToItStaysALink) {
  std::ofstream(dir_ + "/f.svg") << "old";
  chmod((dir_ + "/f.svg").c_str(), 0640);
  symlink("f.svg", (dir_ + "/link.svg").c_str());
  ASSERT_EQ(exit_status(compare({"--svg", dir_ + "/link.svg"})), 0);
  struct stat st;
  ASSERT_EQ(lstat((dir_ + "/link.svg").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  ASSERT_EQ(stat((dir_ + "/f.svg").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(rows_in(slurp(dir_ + "/f.svg")).size(), 3u);
}

// Two real builds run in pairs: the page shows each side's answers of
// every pair, in the unit compared.
TEST_F(PicturesTool, InRunModeThePageHoldsBothSidesAnswers) {
  program_run run =
      run_program({tool, "--run", "--pairs", "6", SUITE_PROGRAM, SUITE_PROGRAM_SLOWER, "--svg",
                   dir_ + "/f.svg", "--html", dir_ + "/p.html", "--json", "--", "--core-cycles"});
  ASSERT_EQ(exit_status(run), 0) << run.err;
  std::string page = slurp(dir_ + "/p.html");
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    json j = json::parse(line);
    std::string answers = ">" + std::to_string(j["base_answers"].get<int>()) + " / " +
                          std::to_string(j["new_answers"].get<int>()) + "</td>";
    EXPECT_NE(page.find(answers), std::string::npos) << line;
  }
  EXPECT_EQ(rows_in(slurp(dir_ + "/f.svg"))[0].verdict, "slower");
}

class ToolPage : public chromium_test {};

TEST_F(ToolPage, OpensWithoutErrorsWithEveryNameAndRatioAsTextAndTheSlowerRowFirst) {
  ASSERT_EQ(exit_status(compare(dir_, {"--html", dir_ + "/p.html"})), 0);
  std::string dom = open("p.html", slurp(dir_ + "/p.html"), "--dump-dom");
  std::vector<seen_row> rows = rows_in(dom);
  ASSERT_EQ(rows.size(), 3u) << dom;
  EXPECT_EQ(rows[0].title.substr(0, 11), "imul chain:");
  EXPECT_EQ(rows[0].fill, kColours.at("slower"));
  for (const char *text : {"<td>imul chain</td>", ">1.050</td>", "<td>add chain</td>",
                           "<td>walk &lt;16 KiB&gt;</td>", ">1.000</td>"})
    EXPECT_NE(dom.find(text), std::string::npos) << text;
  open("p.html", slurp(dir_ + "/p.html"), "--screenshot=" + dir_ + "/p.png --window-size=400,600");
  std::vector<uint32_t> pixels = png_pixels(slurp(dir_ + "/p.png"));
  ASSERT_EQ(pixels.size(), 400u * 600u);
  EXPECT_NE(std::find(pixels.begin(), pixels.end(), 0xc62828u), pixels.end());
}

}  // namespace
