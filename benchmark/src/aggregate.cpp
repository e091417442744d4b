// Aggregates over repetitions: mean, median, standard deviation and the
// coefficient of variation, of the times and of every counter.
#include <cyclekit/figures.h>

#include "internal.h"

namespace benchmark {
namespace internal {
namespace {

// The built-in statistics are the engine's, as the native suite's are.
struct cyclekit_aggregate aggregate_of(std::vector<double> v) {
  struct cyclekit_aggregate a;
  cyclekit_aggregates(v.data(), v.size(), &a);
  return a;
}
double mean(const std::vector<double> &v) { return aggregate_of(v).mean; }
double median(const std::vector<double> &v) { return aggregate_of(v).median; }
double stddev(const std::vector<double> &v) { return aggregate_of(v).stddev; }
double cv(const std::vector<double> &v) { return aggregate_of(v).cv; }

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
