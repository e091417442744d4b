#include "compare_report.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "compare_read.h"

using nlohmann::json;

namespace {

json nullable(double v) { return std::isfinite(v) ? json(v) : json(); }

// Rates measured on two runs agree within `tolerance`; two sides that both
// lack the field agree too.
bool near_enough(const json &a, const json &b, const char *key, double tolerance) {
  double x = number_or_nan(a.value(key, json())), y = number_or_nan(b.value(key, json()));
  if (std::isnan(x) && std::isnan(y))
    return true;
  return std::fabs(x - y) <= tolerance * std::max(std::fabs(x), std::fabs(y));
}

std::string joined(const std::vector<std::string> &notes) {
  std::string text;
  for (const auto &n : notes)
    text += (text.empty() ? "" : "; ") + n;
  return text;
}

// A Markdown cell ends at a "|" and a table row at a newline.
std::string markdown_cell(const std::string &text) {
  std::string out;
  for (char c : text)
    out += c == '|' ? "\\|" : c == '\n' ? "<br>" : c == '\r' ? "" : std::string(1, c);
  return out;
}

// A plain table's line ends at a newline: one in a name is shown as "\n".
std::string plain_cell(const std::string &text) {
  std::string out;
  for (char c : text)
    out += c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : std::string(1, c);
  return out;
}

// Columns line up in characters, not bytes: the UTF-8 lead bytes.
size_t width_of(const std::string &text) {
  size_t n = 0;
  for (unsigned char c : text)
    n += (c & 0xC0) != 0x80;
  return n;
}

std::vector<std::string> cells_of(const row &r, bool markdown, bool with_gate) {
  std::string verdict = r.verdict + (r.notes.empty() ? "" : " (" + joined(r.notes) + ")");
  std::vector<std::string> cells{
      markdown ? markdown_cell(r.name) : plain_cell(r.name),
      unit_name(r.in),
      fixed(r.base, 1),
      fixed(r.fresh, 1),
      fixed(r.ratio, 4),
      std::isfinite(r.low) ? fixed(r.low, 4) + " to " + fixed(r.high, 4) : "-",
      verdict};
  if (with_gate)
    cells.push_back(r.gate ? "fails" : "");
  return cells;
}

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
  for (const auto &[key, tolerance] : near)
    if (!near_enough(a, b, key, tolerance))
      say(key, a.value(key, json()), b.value(key, json()));
  // A core clock that differs from run to run moves counts in ticks with it.
  json core = a.value("settings", json::object()).value("core_cycles", json());
  if (core == 0 && !near_enough(a, b, "core_per_tick", 0.05))
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

void print_json(std::ostream &out, const std::vector<row> &rows, const missing_names &missing,
                bool pairs, bool with_gate) {
  for (const auto &r : rows) {
    nlohmann::ordered_json j = {{"type", "comparison"},
                                {"name", r.name},
                                {"unit", unit_name(r.in)},
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
    if (with_gate)
      j["gate"] = r.gate ? "fails" : "passes";
    if (!r.notes.empty())
      j["note"] = joined(r.notes);
    out << j.dump() << "\n";
  }
  for (const auto &[name, where] : missing)
    out << nlohmann::ordered_json{{"type", "missing"}, {"name", name}, {"missing_in", where}}.dump()
        << "\n";
}

void print_table(std::ostream &out, const std::vector<row> &rows, bool markdown, bool with_gate) {
  std::vector<std::vector<std::string>> cells{
      {"name", "unit", "base", "new", "ratio", "95% interval", "verdict"}};
  if (with_gate)
    cells[0].push_back("gate");
  for (const auto &r : rows)
    cells.push_back(cells_of(r, markdown, with_gate));
  const size_t columns = cells[0].size();
  auto left = [](size_t c) { return c <= 1 || c >= 6; };
  std::vector<size_t> width(columns, 0);
  for (const auto &line : cells)
    for (size_t c = 0; c < columns; c++)
      width[c] = std::max(width[c], width_of(line[c]));
  for (size_t l = 0; l < cells.size(); l++) {
    std::string line;
    for (size_t c = 0; c < columns; c++) {
      std::string pad(width[c] - width_of(cells[l][c]), ' ');
      std::string cell = left(c) ? cells[l][c] + pad : pad + cells[l][c];
      line += (markdown ? "| " : c ? "  " : "") + cell + (markdown ? " " : "");
    }
    // A plain line ends at its last character, even below an empty cell.
    if (!markdown)
      line.erase(line.find_last_not_of(' ') + 1);
    out << line << (markdown ? "|\n" : "\n");
    if (markdown && l == 0) {
      for (size_t c = 0; c < columns; c++)
        out << "|" << (left(c) ? ":" : "-") << std::string(width[c], '-') << (left(c) ? "-" : ":");
      out << "|\n";
    }
  }
}
