#include "trend_report.h"

#include <nlohmann/json.hpp>

#include "compare_picture_text.h"
#include "compare_report.h"

namespace {

using ojson = nlohmann::ordered_json;

ojson nullable(double v) { return std::isfinite(v) ? ojson(v) : ojson(); }

const trend_point *first_point(const trend_name &t, bool last) {
  const trend_point *p = nullptr;
  for (const auto &x : t.points)
    if (x.count > 0 && (last || !p))
      p = &x;
  return p;
}

double level_at(const trend_name &t, bool last) {
  const trend_point *p = first_point(t, last);
  return p ? p->level : NAN;
}

size_t files_with(const trend_name &t) {
  size_t n = 0;
  for (const auto &x : t.points)
    n += x.count > 0;
  return n;
}

// "file 20 (r20.json): 1.050 [1.049, 1.051]", 1-based as a reader counts.
std::string change_words(const history &h, const change_point &c) {
  return "file " + std::to_string(c.file + 1) + " (" + h.files[c.file] +
         "): " + ratio_text(c.ratio) + " " + interval_text(c.low, c.high);
}

std::string changes_words(const history &h, const trend_name &t) {
  std::string text;
  for (const auto &c : t.changes)
    text += (text.empty() ? "" : "; ") + change_words(h, c);
  return text.empty() ? "none" : text;
}

std::string heading(const history &h) {
  return "trend over " + std::to_string(h.files.size()) + " files, oldest first; change points " +
         "at " + fixed(100 * kTrendLevel, 0) + " % family-wise over " + std::to_string(h.family) +
         " names and " + std::to_string(h.files.size() - 1) + " splits (each interval at " +
         fixed(100 * h.confidence, 4) + " %), larger than " + fixed(100 * kMinEffect, 0) +
         " % and than the resolution\n";
}

std::string plain_name(const std::string &name) {
  std::string out;
  for (char ch : name)
    out += ch == '\n' ? std::string("\\n") : std::string(1, ch);
  return out;
}

std::string markdown_cell(const std::string &text) {
  std::string out;
  for (char ch : text)
    out += ch == '|' ? std::string("\\|") : ch == '\n' ? std::string(" ") : std::string(1, ch);
  return out;
}

}  // namespace

void print_trend_table(std::ostream &out, const history &h, bool markdown) {
  out << heading(h);
  if (markdown)
    out << "\n| name | unit | first | last | files | change points |\n|---|---|--:|--:|--:|---|\n";
  for (const auto &t : h.names) {
    std::string first = fixed(level_at(t, false), 1), last = fixed(level_at(t, true), 1);
    std::string files = std::to_string(files_with(t)) + "/" + std::to_string(h.files.size());
    if (markdown)
      out << "| " << markdown_cell(t.name) << " | " << unit_name(t.in) << " | " << first << " | "
          << last << " | " << files << " | " << markdown_cell(changes_words(h, t)) << " |\n";
    else
      out << plain_name(t.name) << ": " << unit_name(t.in) << ", first " << first << ", last "
          << last << ", in " << files << " files; change points: " << changes_words(h, t) << "\n";
  }
}

void print_trend_json(std::ostream &out, const history &h) {
  for (const auto &t : h.names) {
    ojson levels = ojson::array(), uncertainties = ojson::array(), changes = ojson::array();
    for (const auto &p : t.points) {
      levels.push_back(p.count > 0 ? nullable(p.level) : ojson());
      uncertainties.push_back(p.count > 0 ? nullable(p.uncertainty) : ojson());
    }
    for (const auto &c : t.changes)
      changes.push_back({{"file", c.file + 1},
                         {"path", h.files[c.file]},
                         {"ratio", nullable(c.ratio)},
                         {"low", nullable(c.low)},
                         {"high", nullable(c.high)},
                         {"before", nullable(c.before)},
                         {"after", nullable(c.after)}});
    ojson j = {{"type", "trend"},
               {"name", t.name},
               {"unit", unit_name(t.in)},
               {"first", nullable(level_at(t, false))},
               {"last", nullable(level_at(t, true))},
               {"files", files_with(t)},
               {"confidence", h.confidence},
               {"changes", changes},
               {"levels", levels},
               {"uncertainties", uncertainties}};
    out << j.dump(-1, ' ', false, ojson::error_handler_t::replace) << "\n";
  }
}
