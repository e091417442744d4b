#include "compare_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "compare_read.h"

using nlohmann::json;

namespace {

json nullable(double v) { return std::isfinite(v) ? json(v) : json(); }

}  // namespace

// Warns, naming the field, where the two sides ran on different machines or
// with different settings.  Measured rates vary a little from run to run.
void compare_contexts(const json &a, const json &b, std::ostream &warn) {
  static const char *const exact[] = {"counter",   "cpu",       "clocksource", "hypervisor",
                                      "invariant", "llc_bytes", "step"};
  static const std::pair<const char *, double> near[] = {{"mhz", 0.02}, {"core_per_tick", 0.05}};
  auto say = [&](const std::string &key, const json &x, const json &y) {
    warn << "cyclekit-compare: warning: the context lines differ in \"" << key << "\": base "
         << x.dump() << ", new " << y.dump() << "\n";
  };
  for (const char *key : exact)
    if (a.value(key, json()) != b.value(key, json()))
      say(key, a.value(key, json()), b.value(key, json()));
  for (const auto &[key, tolerance] : near) {
    double x = number_or_nan(a.value(key, json())), y = number_or_nan(b.value(key, json()));
    if (!(std::fabs(x - y) <= tolerance * std::max(std::fabs(x), std::fabs(y))))
      say(key, a.value(key, json()), b.value(key, json()));
  }
  // A core clock that differs from run to run moves counts in ticks with it.
  json core = a.value("settings", json::object()).value("core_cycles", json());
  if (core == 0 && !(std::fabs(number_or_nan(a.value("core_per_tick", json())) -
                               number_or_nan(b.value("core_per_tick", json()))) <=
                     0.05 * number_or_nan(a.value("core_per_tick", json()))))
    warn << "cyclekit-compare: the answers are counter ticks, which follow the core's clock; "
            "--core-cycles counts core cycles\n";
  json sa = a.value("settings", json::object()), sb = b.value("settings", json::object());
  for (auto it = sa.begin(); it != sa.end(); ++it)
    if (sb.value(it.key(), json()) != it.value())
      say("settings." + it.key(), it.value(), sb.value(it.key(), json()));
  for (auto it = sb.begin(); it != sb.end(); ++it)
    if (!sa.contains(it.key()))
      say("settings." + it.key(), json(), it.value());
}

std::string fixed(double v, int digits) {
  if (!std::isfinite(v))
    return "-";
  char text[64];
  snprintf(text, sizeof text, "%.*f", digits, v);
  return text;
}

void print_json(std::ostream &out, const std::vector<row> &rows,
                const missing_names &missing, bool pairs) {
  for (const auto &r : rows) {
    nlohmann::ordered_json j = {{"type", "comparison"},
                                {"name", r.name},
                                {"base", nullable(r.base)},
                                {"new", nullable(r.fresh)},
                                {"ratio", nullable(r.ratio)},
                                {"low", nullable(r.low)},
                                {"high", nullable(r.high)},
                                {"verdict", r.verdict},
                                {"base_answers", r.base_n},
                                {"new_answers", r.new_n},
                                {"paired", pairs},
                                {"resolution", nullable(r.resolution)}};
    if (!r.note.empty())
      j["note"] = r.note;
    out << j.dump() << "\n";
  }
  for (const auto &[name, where] : missing)
    out << nlohmann::ordered_json{{"type", "missing"}, {"name", name}, {"missing_in", where}}.dump()
        << "\n";
}

void print_table(std::ostream &out, const std::vector<row> &rows, bool markdown) {
  std::vector<std::vector<std::string>> cells{
      {"name", "base", "new", "ratio", "95% interval", "verdict"}};
  for (const auto &r : rows)
    cells.push_back({r.name, fixed(r.base, 1), fixed(r.fresh, 1), fixed(r.ratio, 4),
                     std::isfinite(r.low) ? fixed(r.low, 4) + " to " + fixed(r.high, 4) : "-",
                     r.verdict + (r.note.empty() ? "" : " (" + r.note + ")")});
  const bool left[] = {true, false, false, false, false, true};
  std::vector<size_t> width(6, 0);
  for (const auto &line : cells)
    for (size_t c = 0; c < 6; c++)
      width[c] = std::max(width[c], line[c].size());
  for (size_t l = 0; l < cells.size(); l++) {
    for (size_t c = 0; c < 6; c++) {
      std::string pad(width[c] - cells[l][c].size(), ' ');
      std::string cell = left[c] ? cells[l][c] + (c < 5 || markdown ? pad : "") : pad + cells[l][c];
      out << (markdown ? "| " : c ? "  " : "") << cell << (markdown ? " " : "");
    }
    out << (markdown ? "|\n" : "\n");
    if (markdown && l == 0) {
      for (size_t c = 0; c < 6; c++)
        out << "|" << (left[c] ? ":" : "-") << std::string(width[c], '-') << (left[c] ? "-" : ":");
      out << "|\n";
    }
  }
}
