// cyclekit-compare's pictures: the forest plot's rows, their order and
// colours, names escaped, intervals drawn only where there are ends, the
// ticks of the ratio axis, the verdict in words; and the page in a real
// browser, whose screenshot is decoded here.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "compare_axis.h"
#include "compare_html.h"
#include "compare_picture_text.h"
#include "compare_svg.h"
#include "support/pictures.h"

namespace {

picture_row named(const std::string &name, const std::string &verdict, double ratio,
                  double low = NAN, double high = NAN) {
  picture_row r;
  r.name = name, r.verdict = verdict, r.ratio = ratio, r.low = low, r.high = high, r.unit = "ticks";
  return r;
}

TEST(ForestPlot, OneRowPerNameSlowerFirstThenByRatioInTheVerdictsColour) {
  struct {
    std::vector<picture_row> rows;
    std::vector<std::string> order;
  } cases[] = {
      {{named("a", "faster", 0.9), named("b", "slower", 1.02),
        named("c", "not distinguishable", 1.01), named("d", "slower", 1.05),
        named("e", "not resolved", NAN)},
       {"d", "b", "c", "a", "e"}},
      // A slower name with a lower ratio than one not distinguishable.
      {{named("wide", "not distinguishable", 1.3), named("narrow", "slower", 1.01)},
       {"narrow", "wide"}},
      // Equal ratios keep the order given.
      {{named("x", "faster", 0.8), named("y", "faster", 0.8), named("z", "faster", 0.8)},
       {"x", "y", "z"}},
  };
  for (const auto &c : cases) {
    std::vector<seen_row> seen = rows_in(forest_svg(c.rows, 0.02));
    ASSERT_EQ(seen.size(), c.order.size());
    for (size_t i = 0; i < seen.size(); i++) {
      EXPECT_EQ(seen[i].title.substr(0, seen[i].title.find(':')), c.order[i]) << i;
      EXPECT_EQ(seen[i].fill, kColours.at(seen[i].verdict)) << c.order[i];
    }
  }
}

TEST(ForestPlot, AnIntervalIsALineOnlyWithBothEndsTheRatioAPointOnlyWhenThereBothInside) {
  struct {
    picture_row row;
    bool line, point;
    double margin = 0.02;
  } cases[] = {
      {named("both", "slower", 1.05, 1.04, 1.06), true, true},
      {named("no interval", "not resolved", 1.0), false, true},
      {named("one end", "not resolved", 1.0, 0.99, NAN), false, true},
      {named("nothing", "not resolved", NAN), false, false},
      {named("far out", "slower", 3.0, 2.5, 3.6), true, true},
      {named("below any margin", "faster", 0.5, 0.4, 0.6), true, true, -1},
      {named("no margin", "faster", 0.5, 0.4, 0.6), true, true, NAN},
  };
  for (const auto &c : cases) {
    std::vector<seen_row> seen = rows_in(forest_svg({c.row}, c.margin));
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].body.find("<line") != std::string::npos, c.line) << c.row.name;
    EXPECT_EQ(seen[0].body.find("<circle") != std::string::npos, c.point) << c.row.name;
    static const std::regex x("(x1|x2|cx)=\"([^\"]*)\"");  // inside the plot's width
    for (std::sregex_iterator m(seen[0].body.begin(), seen[0].body.end(), x), end; m != end; ++m)
      EXPECT_TRUE(std::stod((*m)[2]) >= 0 && std::stod((*m)[2]) <= 400) << (*m)[0];
    EXPECT_EQ(forest_svg({c.row}, c.margin).find("=\"-"), std::string::npos) << c.row.name;
  }
}

TEST(Pictures, NamesAreEscapedAndInvalidTextReplaced) {
  struct {
    std::string name, shown;
  } cases[] = {
      {"a<b&\"c'>", "a&lt;b&amp;&quot;c&#39;&gt;"},
      {"Größe 測定 🚀", "Größe 測定 🚀"},
      {"bad\xff byte", "bad\xEF\xBF\xBD byte"},
      {"bell\x07", "bell\xEF\xBF\xBD"},
      {"overlong\xC0\xAF", "overlong\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate\xED\xA0\x80", "surrogate\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"overlong 3\xE0\x80\xAF", "overlong 3\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"cut\xE6\xB8", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto &c : cases) {
    picture_row r = named(c.name, "slower", 1.1, 1.05, 1.15);
    r.base = {1, 2}, r.fresh = {2, 3};
    page_facts facts{{r}, 0.02, {c.name}, {{c.name, c.name}}, c.name};
    for (const std::string &text : {forest_svg({r}, 0.02), compare_page(facts)}) {
      EXPECT_NE(text.find(">" + c.shown + "<"), std::string::npos) << c.shown;
      if (c.name != c.shown) {
        EXPECT_EQ(text.find(c.name), std::string::npos) << c.shown;
      }
    }
  }
}

TEST(Pictures, LongNamesAreCutBetweenCharactersNeverInsideOne) {
  struct {
    std::string name, cut;
  } cases[] = {
      {"abc", "abc"}, {"abcd", "ab…"}, {"ééé", "ééé"}, {"éééé", "éé…"}, {"測定測定", "測定…"}};
  for (const auto &c : cases)
    EXPECT_EQ(shortened(c.name, 3), c.cut) << c.name;
}

TEST(RatioAxis, TicksAreRoundRegularAndNoTwoCloserThanTheGap) {
  struct {
    double low, high, gap;
    std::vector<double> ticks;
  } cases[] = {
      {0.88, 1.12, 40, {0.9, 0.95, 1, 1.05, 1.1}},
      {0.3, 4, 40, {0.5, 1, 2}},
      {0.9, 1.1, 200, {0.9, 1, 1.1}},  // fewer, until they are far enough apart
      {1.2, 3, 40, {1.5, 2, 2.5, 3}},
      {0.002, 500, 40, {0.01, 0.1, 1, 10, 100}},
  };
  for (const auto &c : cases) {
    std::vector<double> ticks = log_axis{c.low, c.high, 16, 464}.ticks(c.gap);
    ASSERT_EQ(ticks.size(), c.ticks.size()) << c.low << " " << c.high;
    for (size_t i = 0; i < ticks.size(); i++)
      EXPECT_NEAR(ticks[i], c.ticks[i], 1e-12) << c.low << " " << c.high;
  }
}

TEST(VerdictWords, SayWhichNamesMovedAndByHowMuch) {
  std::vector<picture_row> eight(7, named("same", "not distinguishable", 1.001));
  eight.push_back(named("imul chain", "slower", 1.049));
  struct {
    std::vector<picture_row> rows;
    std::string words;
  } cases[] = {
      {eight, "1 of 8 names slower: imul chain (+4.9\u00a0%)."},
      {{named("a", "faster", 0.9), named("b", "slower", 1.02), named("c", "slower", 1.2)},
       "2 of 3 names slower: c (+20.0\u00a0%), b (+2.0\u00a0%). 1 of 3 names faster: a "
       "(-10.0\u00a0%)."},
      {{named("a", "not distinguishable", 0.999), named("b", "not resolved", 1.0)},
       "None of the 2 names is slower or faster. 1 of 2 names not resolved by the counter."},
      {{named("a", "not distinguishable", 1.0)}, "The one name is neither slower nor faster."},
      {{}, "Nothing was compared."},
  };
  for (const auto &c : cases)
    EXPECT_EQ(verdict_words(c.rows), c.words);
}

TEST(Pictures, AnEmptyComparisonSaysSoAndDrawsNoRow) {
  std::string page = compare_page({});
  EXPECT_NE(page.find("<p class=\"verdict\">Nothing was compared.</p>"), std::string::npos);
  EXPECT_EQ(page.find("class=\"row\""), std::string::npos);
}

TEST(StripPlot, OnePointPerFiniteAnswerPlacedTheSameEveryTime) {
  struct {
    std::vector<double> base, fresh;
    size_t points;
  } cases[] = {
      {{100, 101, 99}, {105, NAN, 104}, 5},
      {{7, 7, 7}, {7}, 4},  // one value: the axis still has a width
      {{}, {}, 0},
  };
  for (const auto &c : cases) {
    picture_row r = named("n", "slower", 1.05);
    r.base = c.base, r.fresh = c.fresh;
    std::string svg = strip_svg(r);
    size_t points = 0;
    for (size_t at = svg.find("<circle"); at != std::string::npos; at = svg.find("<circle", at + 1))
      points++;
    EXPECT_EQ(points, c.points);
    EXPECT_EQ(svg.find("nan"), std::string::npos);
    EXPECT_EQ(strip_svg(r), svg);
  }
}

// ---- In a real browser ------------------------------------------------------------

// Eight names, one 4.9 % slower and one faster, 30 answers a side spread
// as real ones are (a few far out), but made here.
page_facts realistic_page() {
  const char *names[] = {"imul chain",   "add chain",       "load & store", "branch <taken>",
                         "memcpy 4 KiB", "sqrt \"double\"", "hash ünïcode", "atomic add"};
  const double ratios[] = {1.049, 1.003, 0.996, 1.001, 0.93, 1.0, 0.999, 1.002};
  page_facts facts{{},
                   0.02,
                   {"cpu MHz: 2994.374 in base, 3193.201 in new"},
                   {{"repetitions", "30"}, {"margin", "2 %"}},
                   "cyclekit-compare base.json new.json --html page.html"};
  for (int k = 0; k < 8; k++) {
    std::string verdict = k == 0 ? "slower" : k == 4 ? "faster" : "not distinguishable";
    facts.rows.push_back(named(names[k], k == 7 ? "not resolved" : verdict, ratios[k],
                               ratios[k] - 0.008, ratios[k] + 0.008));
    for (int i = 0; i < 30; i++) {
      double spread =
          1000 * (k + 1) * (1 + 0.01 * std::fmod(i * 0.7548777, 1.0) + (i % 11 ? 0 : 0.03));
      facts.rows.back().base.push_back(spread);
      facts.rows.back().fresh.push_back(spread * ratios[k]);
    }
  }
  return facts;
}

class Browser : public chromium_test {};

TEST_F(Browser, ThePageAndThePlotHoldEveryNameAndRatioAsTextOneColouredRowEach) {
  page_facts facts = realistic_page();
  std::string dom = open("page.html", compare_page(facts), "--dump-dom");
  std::vector<seen_row> seen = rows_in(dom);
  ASSERT_EQ(seen.size(), facts.rows.size()) << dom;
  EXPECT_EQ(seen[0].title.substr(0, 10), "imul chain");
  for (const seen_row &r : seen)
    EXPECT_EQ(r.fill, kColours.at(r.verdict));
  for (const picture_row &r : facts.rows) {
    std::string text;  // as the DOM writes it out: & < > only as references
    for (char c : r.name)
      text += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    EXPECT_NE(dom.find("<td>" + text + "</td>"), std::string::npos) << r.name;
    EXPECT_NE(dom.find(">" + ratio_text(r.ratio) + "</td>"), std::string::npos) << r.name;
  }
  EXPECT_NE(dom.find("1 of 8 names slower: imul chain (+4.9&nbsp;%)."), std::string::npos);
  // The plot alone, as XML: a parse error would show as an element.
  std::string svg = open("forest.svg", forest_svg(facts.rows, facts.margin), "--dump-dom");
  EXPECT_EQ(svg.find("parsererror"), std::string::npos) << svg;
  EXPECT_EQ(rows_in(svg).size(), facts.rows.size()) << svg;
}

TEST_F(Browser, TheScreenshotShowsTheVerdictsColours) {
  open("page.html", compare_page(realistic_page()),
       "--screenshot=" + dir_ + "/page.png --window-size=400,900");
  std::ifstream file(dir_ + "/page.png");
  std::string png((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::vector<uint32_t> pixels = png_pixels(png);
  ASSERT_EQ(pixels.size(), 400u * 900u) << png.size() << " bytes";
  std::set<uint32_t> colours(pixels.begin(), pixels.end());
  EXPECT_GT(colours.size(), 20u);
  for (uint32_t colour : {0xc62828u, 0x2e7d32u, 0xbbdefbu})  // slower, faster, the margin
    EXPECT_EQ(colours.count(colour), 1u) << std::hex << colour;
  // COMPARE_PAGE_PNG=doc/compare-page.png keeps the picture for the docs.
  if (const char *keep = getenv("COMPARE_PAGE_PNG"))
    std::ofstream(keep) << png;
}

}  // namespace
