#include "compare_units.h"

#include <cmath>
#include <set>

namespace {

// Ticks times this is `to`; NaN where the run's context line does not say.
double per_tick(const sample &x, unit to) {
  double f = to == unit::ticks ? 1 : to == unit::core_cycles ? x.core_per_tick : 1000 / x.mhz;
  return std::isfinite(f) && f > 0 ? f : NAN;
}

std::string units_of(const std::vector<sample> &v) {
  std::set<unit> seen;
  for (const auto &x : v)
    seen.insert(x.in);
  std::string text;
  for (unit u : seen)
    text += (text.empty() ? "" : " and ") + std::string(unit_name(u));
  return text;
}

bool convertible(const std::vector<sample> &v, unit to) {
  for (const auto &x : v)
    if (x.in != to && (x.in != unit::ticks || std::isnan(per_tick(x, to))))
      return false;
  return true;
}

}  // namespace

const char *unit_name(unit u) {
  return u == unit::ticks ? "ticks" : u == unit::core_cycles ? "core cycles" : "ns";
}

std::optional<unit> common_unit(const std::vector<sample> &base, const std::vector<sample> &fresh,
                                std::string &why) {
  std::set<unit> others;
  for (const auto *v : {&base, &fresh})
    for (const auto &x : *v)
      if (x.in != unit::ticks)
        others.insert(x.in);
  unit to = others.empty() ? unit::ticks : *others.begin();
  if (convertible(base, to) && convertible(fresh, to))
    return to;
  why = "base in " + units_of(base) + ", new in " + units_of(fresh);
  if (others.size() == 1)
    why += std::string(", and ticks cannot be brought to ") + unit_name(to) +
           (to == unit::ns ? " without the counter's \"mhz\"" : " without \"core_per_tick\"") +
           " in their context line";
  return std::nullopt;
}

std::vector<sample> in_unit(std::vector<sample> v, unit to) {
  for (auto &x : v)
    if (x.in != to) {
      double f = per_tick(x, to);
      x.answer *= f;
      x.uncertainty *= f;
      x.in = to;
    }
  return v;
}
