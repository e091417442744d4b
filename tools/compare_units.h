// The units of the answers: counter ticks, core cycles or nanoseconds.
// Answers of one name in different units are compared only where every
// answer in ticks can be brought to the other unit by the context line of
// its own run (its "core_per_tick" or its counter's "mhz").
#ifndef CYCLEKIT_COMPARE_UNITS_H
#define CYCLEKIT_COMPARE_UNITS_H

#include <optional>
#include <string>
#include <vector>

enum class unit { ticks, core_cycles, ns };

// "ticks", "core cycles", "ns": as the result file writes them.
const char *unit_name(unit u);

// One answer with what it takes to bring it to another unit.
struct sample {
  double answer;
  double uncertainty;
  unit in;
  int run;               // which run of the side (with --run, the pair)
  double core_per_tick;  // from its run's context line; NaN where none
  double mhz;
};

// The unit both sides' answers can be compared in, or nothing, with why
// in `why`.
std::optional<unit> common_unit(const std::vector<sample> &base, const std::vector<sample> &fresh,
                                std::string &why);

// The answers (and their uncertainties) in unit `to`, which common_unit
// found for them.
std::vector<sample> in_unit(std::vector<sample> v, unit to);

#endif
