// Change points by binary segmentation over the files' levels.  The unit
// of the test is the file, not the answer: the repetitions of one run share
// that run's machine (its load, its frequency, where its code landed), so
// that a test over all of them would take one run's luck for a change.

#include <algorithm>
#include <cmath>
#include <functional>
#include <queue>

#include "compare_error.h"
#include "compare_trend.h"
#include "stats.h"

namespace {

struct level {
  size_t file;
  double log, value, uncertainty;
};

double median(std::vector<double> v) { return cyclekit_median(v.data(), v.size()); }

// Sums of absolute deviations from the median of each prefix v[lo, lo+k),
// k = 1..hi-lo, kept with two heaps (the lower half's largest on top of
// one, the upper half's least on top of the other) and their sums.
std::vector<double> prefix_costs(const std::vector<level> &v, size_t lo, size_t hi, bool reverse) {
  std::priority_queue<double> lower;
  std::priority_queue<double, std::vector<double>, std::greater<double>> upper;
  double lower_sum = 0, upper_sum = 0;
  std::vector<double> cost(hi - lo + 1, 0);
  for (size_t k = 1; k <= hi - lo; k++) {
    double x = v[reverse ? hi - k : lo + k - 1].log;
    if (lower.empty() || x <= lower.top())
      lower.push(x), lower_sum += x;
    else
      upper.push(x), upper_sum += x;
    if (lower.size() > upper.size() + 1) {
      upper.push(lower.top()), upper_sum += lower.top();
      lower_sum -= lower.top(), lower.pop();
    } else if (upper.size() > lower.size()) {
      lower.push(upper.top()), lower_sum += upper.top();
      upper_sum -= upper.top(), upper.pop();
    }
    double m = lower.top();
    cost[k] = (m * static_cast<double>(lower.size()) - lower_sum) +
              (upper_sum - m * static_cast<double>(upper.size()));
  }
  return cost;
}

// The split k (lo < k < hi) that leaves the two segments closest to their
// own medians in absolute deviation: where a single step would most likely
// lie.  Absolute deviations give one wild file no more pull than its own
// distance, and unlike ranks they see how far each file lies: files just
// above the old level before a large step do not draw the split to them.
size_t best_split(const std::vector<level> &v, size_t lo, size_t hi) {
  std::vector<double> left = prefix_costs(v, lo, hi, false);
  std::vector<double> right = prefix_costs(v, lo, hi, true);
  size_t n = hi - lo, at = lo + 1;
  double best = INFINITY;
  for (size_t k = 1; k < n; k++) {
    double cost = left[k] + right[n - k];
    if (cost < best)
      best = cost, at = lo + k;
  }
  return at;
}

std::vector<double> field(const std::vector<level> &v, size_t lo, size_t hi, double level::*f) {
  std::vector<double> a;
  for (size_t i = lo; i < hi; i++)
    a.push_back(v[i].*f);
  return a;
}

// How far one file's log level typically lies from the next one's, as a
// normal spread's standard deviation (the median of |d| is 0.6745 * sqrt 2
// of it): from one file to the next, so that the steps themselves, one
// difference each, barely move it.
double scatter(const std::vector<level> &v, size_t lo, size_t hi) {
  std::vector<double> d;
  for (size_t i = lo + 1; i < hi; i++)
    d.push_back(std::fabs(v[i].log - v[i - 1].log));
  return d.empty() ? 0 : median(d) / (0.6745 * std::sqrt(2.0));
}

// The change at split k, if it is one.
bool test_split(const std::vector<level> &v, size_t lo, size_t k, size_t hi, double confidence,
                change_point &c) {
  std::vector<double> x = field(v, lo, k, &level::log), y = field(v, k, hi, &level::log);
  cyclekit_shift s;
  if (cyclekit_shift_two_samples(x.data(), x.size(), y.data(), y.size(), confidence, &s) != 0)
    throw input_error("out of memory for a change point's interval");
  if (!s.interval || (s.low <= 0 && s.high >= 0))
    return false;
  c.file = v[k].file;
  c.ratio = std::exp(s.estimate), c.low = std::exp(s.low), c.high = std::exp(s.high);
  c.before = median(field(v, lo, k, &level::value));
  c.after = median(field(v, k, hi, &level::value));
  double resolution = cyclekit_resolution(median(field(v, lo, k, &level::uncertainty)),
                                          median(field(v, k, hi, &level::uncertainty)));
  return std::fabs(c.after - c.before) > resolution && std::fabs(c.ratio - 1) > kMinEffect &&
         std::fabs(s.estimate) > kNoiseScatters * scatter(v, lo, hi);
}

void segment(const std::vector<level> &v, size_t lo, size_t hi, double confidence,
             std::vector<change_point> &out) {
  if (hi - lo < 2)
    return;
  size_t k = best_split(v, lo, hi);
  change_point c;
  if (!test_split(v, lo, k, hi, confidence, c))
    return;
  out.push_back(c);
  segment(v, lo, k, confidence, out);
  segment(v, k, hi, confidence, out);
}

}  // namespace

std::vector<change_point> find_changes(const std::vector<trend_point> &points, double confidence) {
  std::vector<level> v;
  // Levels of 0 or below (a net answer may be) have no logarithm.
  for (size_t i = 0; i < points.size(); i++)
    if (points[i].count > 0 && points[i].level > 0 && std::isfinite(points[i].level))
      v.push_back({i, std::log(points[i].level), points[i].level, points[i].uncertainty});
  std::vector<change_point> out;
  segment(v, 0, v.size(), confidence, out);
  std::sort(out.begin(), out.end(),
            [](const change_point &a, const change_point &b) { return a.file < b.file; });
  return out;
}
