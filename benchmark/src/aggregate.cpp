// Aggregates over repetitions: mean, median, standard deviation and the
// coefficient of variation, of the times and of every counter.
#include <algorithm>
#include <cmath>
#include <numeric>

#include "internal.h"

namespace benchmark {
namespace internal {
namespace {

double mean(const std::vector<double> &v) {
  return std::accumulate(v.begin(), v.end(), 0.0) / static_cast<double>(v.size());
}
double median(const std::vector<double> &v) {
  std::vector<double> s = v;
  std::sort(s.begin(), s.end());
  size_t h = s.size() / 2;
  return s.size() % 2 ? s[h] : (s[h - 1] + s[h]) / 2;
}
double stddev(const std::vector<double> &v) {
  if (v.size() < 2)
    return 0;
  double m = mean(v), sum = 0;
  for (double x : v)
    sum += (x - m) * (x - m);
  return std::sqrt(sum / static_cast<double>(v.size() - 1));
}
double cv(const std::vector<double> &v) {
  double m = mean(v);
  return m == 0 ? 0 : stddev(v) / m;
}

struct Stat {
  const char *name;
  double (*f)(const std::vector<double> &);
  StatisticUnit unit;
};

// The figure per iteration, in seconds, that the statistics are over.
std::vector<double> per_iteration(const std::vector<const BenchmarkReporter::Run *> &ok,
                                  double BenchmarkReporter::Run::*field) {
  std::vector<double> v;
  for (auto *r : ok)
    v.push_back(r->*field / static_cast<double>(r->iterations));
  return v;
}

BenchmarkReporter::Run one(const std::vector<const BenchmarkReporter::Run *> &ok, const Stat &s) {
  BenchmarkReporter::Run a = *ok.front();
  a.run_type = BenchmarkReporter::Run::RT_Aggregate;
  a.aggregate_name = s.name;
  a.aggregate_unit = s.unit;
  a.repetition_index = BenchmarkReporter::Run::no_repetition_index;
  a.iterations = static_cast<IterationCount>(ok.size());
  double n = static_cast<double>(ok.size());
  a.real_accumulated_time =
      s.f(per_iteration(ok, &BenchmarkReporter::Run::real_accumulated_time)) * n;
  a.cpu_accumulated_time =
      s.f(per_iteration(ok, &BenchmarkReporter::Run::cpu_accumulated_time)) * n;
  std::vector<double> cycles;
  for (auto *r : ok)
    cycles.push_back(r->cycles_per_iteration);
  a.cycles_per_iteration = s.f(cycles);
  for (auto &c : a.counters) {
    std::vector<double> values;
    for (auto *r : ok) {
      auto it = r->counters.find(c.first);
      values.push_back(it == r->counters.end() ? 0 : it->second.value);
    }
    c.second.value = s.f(values);
  }
  return a;
}

}  // namespace

std::vector<BenchmarkReporter::Run> aggregates(const std::vector<BenchmarkReporter::Run> &reps) {
  std::vector<const BenchmarkReporter::Run *> ok;
  for (auto &r : reps)
    if (!r.error_occurred)
      ok.push_back(&r);
  std::vector<BenchmarkReporter::Run> out;
  if (ok.size() < 2)
    return out;
  static const Stat stats[] = {{"mean", mean, kTime},
                               {"median", median, kTime},
                               {"stddev", stddev, kTime},
                               {"cv", cv, kPercentage}};
  for (auto &s : stats)
    out.push_back(one(ok, s));
  for (auto &s : *ok.front()->statistics)
    out.push_back(one(ok, {s.name_.c_str(), s.compute_, s.unit_}));
  return out;
}

}  // namespace internal
}  // namespace benchmark
