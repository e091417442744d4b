#include "compare_axis.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// A round step (1, 2 or 5 times a power of ten) near span/count.
double round_step(double span, int count) {
  double raw = span / count, power = std::pow(10.0, std::floor(std::log10(raw)));
  double scaled = raw / power;
  return power * (scaled < 1.5 ? 1 : scaled < 3 ? 2 : scaled < 7 ? 5 : 10);
}

std::vector<double> multiples(double low, double high, double step) {
  std::vector<double> out;
  for (double k = std::ceil(low / step - 1e-9); k * step <= high * (1 + 1e-12); k++)
    out.push_back(k * step);
  return out;
}

// Level 0: 1, 2 and 5 times the powers of ten between low and high;
// level p: every p-th power of ten.
std::vector<double> powers(double low, double high, int level) {
  std::vector<double> out;
  int every = std::max(1, level);
  for (double k = std::floor(std::log10(low)); k <= std::ceil(std::log10(high)); k++) {
    if (std::fmod(k, every) != 0)
      continue;
    for (double m : {1.0, 2.0, 5.0}) {
      double v = m * std::pow(10.0, k);
      if (v >= low && v <= high && (level == 0 || m == 1))
        out.push_back(v);
    }
  }
  return out;
}

}  // namespace

double log_axis::x(double value) const {
  return x0 + (x1 - x0) * std::log(value / low) / std::log(high / low);
}

bool log_axis::spaced(const std::vector<double> &ticks, double gap) const {
  for (size_t i = 1; i < ticks.size(); i++)
    if (x(ticks[i]) - x(ticks[i - 1]) < gap)
      return false;
  return true;
}

std::vector<double> log_axis::ticks(double gap) const {
  // Ever fewer ticks, each set as regular as the last, until they fit.
  std::vector<double> out;
  for (int level = 0; level < 1000; level++) {
    out = high / low <= 2.5 ? multiples(low, high, round_step(high - low, std::max(1, 6 - level)))
                            : powers(low, high, level);
    if (out.size() <= 2 || spaced(out, gap))
      break;
  }
  return out;
}

double linear_axis::x(double value) const { return x0 + (x1 - x0) * (value - low) / (high - low); }

std::vector<double> linear_axis::ticks(int count, double &step) const {
  step = round_step(high - low, count);
  return multiples(low, high, step);
}

std::string tick_label(double value, double step) {
  int decimals = std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9)));
  if (std::fabs(value) < step * 1e-6)
    value = 0;  // no "-0" from a multiple that rounded below zero
  char text[64];
  snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}
