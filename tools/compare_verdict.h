// Judging names: for each name on both sides, the ratio new/base, its
// 95 % interval and a verdict; and the gate of --fail-on, which bounds the
// chance that an unchanged suite fails at all, over all its names.
#ifndef CYCLEKIT_COMPARE_VERDICT_H
#define CYCLEKIT_COMPARE_VERDICT_H

#include <cmath>
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "compare_read.h"

// One name's answers on both sides brought to one unit, as the intervals
// of any confidence need them.
struct name_data {
  std::string name;
  unit in = unit::ticks;
  bool paired = false;
  std::vector<double> base_logs, new_logs;        // two samples: log answers
  std::vector<double> pair_logs;                  // paired: log(new/base) per pair
  std::vector<double> base_answers, new_answers;  // in unit `in`, for the pictures
  double base = NAN, fresh = NAN;                 // the median answers
  double resolution = NAN;
  size_t base_n = 0, new_n = 0;
};

struct row {
  std::string name, verdict;
  std::vector<std::string> notes;
  unit in = unit::ticks;
  double base = NAN, fresh = NAN, ratio = NAN, low = NAN, high = NAN, resolution = NAN;
  size_t base_n = 0, new_n = 0;
  bool gate = false;  // the name fails the gate of --fail-on
};

// A name found on one side only, and the side it is missing in.
using missing_names = std::vector<std::pair<std::string, std::string>>;

// The names on both sides, in the base's order.  Throws input_error where
// nothing can be compared (a side without answers, no name on both) or
// where a name's answers are in units that cannot be brought to one.
std::vector<name_data> pair_up(const side &base, const side &fresh, bool paired,
                               missing_names &missing);

row judge(const name_data &d, double margin);

// The family-wise level of the gate: the chance that it fails an unchanged
// suite, whatever its number of names.
constexpr double kGateLevel = 0.05;

// Marks the rows whose names fail the gate: Holm's step-down over the
// names with a 95 % interval, at kGateLevel family-wise; a name whose
// medians the counter cannot tell apart never fails it.
// Returns the number of names in the family.
size_t gate(const std::vector<name_data> &data, std::vector<row> &rows, double margin);

#endif
