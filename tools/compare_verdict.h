// Judging one name: the ratio new/base, its 95 % interval and a verdict,
// from the two sides' answers (or the pairs' logarithmic differences).
#ifndef CYCLEKIT_COMPARE_VERDICT_H
#define CYCLEKIT_COMPARE_VERDICT_H

#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "compare_read.h"

struct row {
  std::string name, verdict, note;
  double base = NAN, fresh = NAN, ratio = NAN, low = NAN, high = NAN, resolution = NAN;
  size_t base_n = 0, new_n = 0;
};

// pair_logs: with --run, log(new/base) of each pair; otherwise the two
// sides are independent samples.
row judge(const std::string &name, const std::vector<sample> &b, const std::vector<sample> &n,
          const std::optional<std::vector<double>> &pair_logs, double margin);

#endif
