// Summaries of repeated measurements for the benchmark report.
#ifndef CYCLEKIT_BENCH_STATS_H
#define CYCLEKIT_BENCH_STATS_H

#include <vector>

double min_of(const std::vector<double> &v);
double max_of(const std::vector<double> &v);
// The middle value; the mean of the two middle values for an even count.
double median_of(std::vector<double> v);
// (max - min) / min: how far repeated answers to one question stray.
double spread_of(const std::vector<double> &v);

// Least-squares line y = intercept + slope * x and its coefficient of
// determination (1 for points exactly on a line).
struct line_fit {
  double intercept;
  double slope;
  double r2;
};
line_fit fit_line(const std::vector<double> &x, const std::vector<double> &y);

#endif
