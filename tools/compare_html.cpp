#include "compare_html.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "compare_picture_text.h"
#include "page_style.h"

namespace {

const char kStyle[] = CYCLEKIT_PAGE_STYLE
    ".verdict{font-size:1.05rem;font-weight:600}"
    ".dot{display:inline-block;width:0.7em;height:0.7em;border-radius:50%;margin-right:0.3em}"
    "li{overflow-wrap:anywhere}";

// At most this many names are listed in the verdict's words; the table
// has them all.
constexpr size_t kNamesInWords = 10;

std::string count_of(size_t k, size_t n) {
  return std::to_string(k) + " of " + std::to_string(n) + (n == 1 ? " name " : " names ");
}

// "k of n names slower: a (+4.9 %), b (+2.0 %). " or nothing when k is 0.
std::string listed(const std::vector<picture_row> &rows, const std::string &verdict) {
  std::string names;
  size_t k = 0;
  for (size_t i : forest_order(rows)) {
    if (rows[i].verdict != verdict)
      continue;
    if (k++ < kNamesInWords)
      names += (k > 1 ? ", " : "") + rows[i].name + " (" + change_text(rows[i].ratio) + ")";
  }
  if (k == 0)
    return "";
  if (k > kNamesInWords)
    names += " and " + std::to_string(k - kNamesInWords) + " more";
  return count_of(k, rows.size()) + verdict + ": " + names + ". ";
}

std::string median_text(std::vector<double> v) {
  v.erase(std::remove_if(v.begin(), v.end(), [](double x) { return !std::isfinite(x); }), v.end());
  if (v.empty())
    return "none";
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  char text[64];
  snprintf(text, sizeof text, "%.1f", n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2);
  return text;
}

std::string cell(const std::string &content, bool number = false) {
  return std::string(number ? "<td class=\"number\">" : "<td>") + escaped(content) + "</td>";
}

std::string names_table(const std::vector<picture_row> &rows) {
  std::string out =
      "<div class=\"scroll\"><table><thead><tr><th>Name</th><th>Ratio</th><th>Change</th>"
      "<th>95 % interval</th><th>Verdict</th><th>Base median</th><th>New median</th>"
      "<th>Unit</th><th>Answers</th></tr></thead><tbody>";
  for (size_t i : forest_order(rows)) {
    const picture_row &r = rows[i];
    out += "<tr class=\"name\">" + cell(r.name) + cell(ratio_text(r.ratio), true) +
           cell(change_text(r.ratio), true) + cell(interval_text(r.low, r.high), true) +
           "<td><span class=\"dot\" style=\"background:" + verdict_colour(r.verdict) +
           "\"></span>" + escaped(r.verdict) + "</td>" + cell(median_text(r.base), true) +
           cell(median_text(r.fresh), true) + cell(r.unit) +
           cell(std::to_string(r.base.size()) + " / " + std::to_string(r.fresh.size()), true) +
           "</tr>";
  }
  return out + "</tbody></table></div>";
}

std::string strips(const std::vector<picture_row> &rows) {
  std::string out;
  for (size_t i : forest_order(rows))
    out += "<section class=\"answers\"><h3>" + escaped(rows[i].name) + "</h3>" +
           strip_svg(rows[i]) + "</section>";
  return out;
}

std::string context_list(const std::vector<std::string> &lines) {
  if (lines.empty())
    return "<p>The two sides' contexts do not differ.</p>";
  std::string out = "<ul>";
  for (const auto &line : lines)
    out += "<li>" + escaped(line) + "</li>";
  return out + "</ul>";
}

std::string settings_table(const std::vector<std::pair<std::string, std::string>> &settings) {
  std::string out = "<div class=\"scroll\"><table><tbody>";
  for (const auto &[key, value] : settings)
    out += "<tr><th>" + escaped(key) + "</th>" + cell(value) + "</tr>";
  return out + "</tbody></table></div>";
}

}  // namespace

std::string verdict_words(const std::vector<picture_row> &rows) {
  if (rows.empty())
    return "Nothing was compared.";
  std::string words = listed(rows, "slower") + listed(rows, "faster");
  if (words.empty())
    words = rows.size() == 1
                ? "The one name is neither slower nor faster. "
                : "None of the " + std::to_string(rows.size()) + " names is slower or faster. ";
  size_t unresolved = std::count_if(
      rows.begin(), rows.end(), [](const picture_row &r) { return r.verdict == "not resolved"; });
  if (unresolved > 0)
    words += count_of(unresolved, rows.size()) + "not resolved by the counter. ";
  words.pop_back();
  return words;
}

std::string compare_page(const page_facts &facts) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>cyclekit-compare: " +
      escaped(verdict_words(facts.rows)) + "</title><style>" + kStyle +
      "</style></head><body><main><h1>Base and new compared</h1><p class=\"verdict\">" +
      escaped(verdict_words(facts.rows)) + "</p>";
  if (!facts.rows.empty())
    out += "<figure>" + forest_svg(facts.rows, facts.margin) + "</figure><h2>Names</h2>" +
           names_table(facts.rows) + "<h2>Answers of each name</h2>" + strips(facts.rows);
  out += "<h2>Context differences</h2>" + context_list(facts.context) + "<h2>Settings</h2>" +
         settings_table(facts.settings) + "<h2>Command</h2><pre><code>" + escaped(facts.command) +
         "</code></pre>";
  return out + "</main></body></html>\n";
}
