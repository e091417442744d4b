// Where the axes of the pictures go and what they mark: a log axis for
// ratios, whose halving and doubling are one distance apart, and a linear
// one for the answers themselves.
#ifndef CYCLEKIT_COMPARE_AXIS_H
#define CYCLEKIT_COMPARE_AXIS_H

#include <string>
#include <vector>

// Values from low to high (both above 0) drawn from x0 to x1 on a log scale.
struct log_axis {
  double low, high, x0, x1;
  double x(double value) const;
  // The ratios to mark, from low to high: steps of 1, 2 or 5 times a power
  // of ten over a narrow range (0.95, 1, 1.05), those numbers themselves
  // over a wide one (0.5, 1, 2, 5), or fewer of them until no two are
  // closer than gap.  1 among them when it lies between low and high.
  std::vector<double> ticks(double gap) const;
  bool spaced(const std::vector<double> &ticks, double gap) const;
};

// Values from low to high (low < high) drawn from x0 to x1.
struct linear_axis {
  double low, high, x0, x1;
  double x(double value) const;
  // About count round values between low and high, and their step.
  std::vector<double> ticks(int count, double &step) const;
};

// A tick's value with the decimals that its step needs.
std::string tick_label(double value, double step);

#endif
