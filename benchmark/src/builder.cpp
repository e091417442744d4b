// The builder: what each call on a registered family records.
#include <unistd.h>

#include "internal.h"
#include "params.h"

namespace benchmark {
namespace internal {

Benchmark::Benchmark(const char *name) : name_(name), time_unit_(GetDefaultTimeUnit()) {}
Benchmark::~Benchmark() {}

void Benchmark::SetName(const char *name) { name_ = name; }
int Benchmark::ArgsCnt() const {
  if (!args_.empty())
    return static_cast<int>(args_.front().size());
  return static_cast<int>(arg_names_.size());
}
TimeUnit Benchmark::GetTimeUnit() const {
  return use_default_time_unit_ ? GetDefaultTimeUnit() : time_unit_;
}

Benchmark *Benchmark::Name(const std::string &name) {
  name_ = name;
  return this;
}
Benchmark *Benchmark::Arg(int64_t x) { return Args({x}); }
Benchmark *Benchmark::Args(const std::vector<int64_t> &args) {
  args_.push_back(args);
  return this;
}
Benchmark *Benchmark::Unit(TimeUnit unit) {
  time_unit_ = unit;
  use_default_time_unit_ = false;
  return this;
}
Benchmark *Benchmark::Range(int64_t start, int64_t limit) {
  for (int64_t v : CreateRange(start, limit, range_multiplier_))
    Arg(v);
  return this;
}
Benchmark *Benchmark::DenseRange(int64_t start, int64_t limit, int step) {
  for (int64_t v : CreateDenseRange(start, limit, step))
    Arg(v);
  return this;
}
Benchmark *Benchmark::Ranges(const std::vector<std::pair<int64_t, int64_t>> &ranges) {
  std::vector<std::vector<int64_t>> lists;
  for (auto &r : ranges)
    lists.push_back(CreateRange(r.first, r.second, range_multiplier_));
  return ArgsProduct(lists);
}
// Every combination, in the order the native suite's products take.
Benchmark *Benchmark::ArgsProduct(const std::vector<std::vector<int64_t>> &lists) {
  std::vector<const int64_t *> values;
  std::vector<int> lengths;
  for (auto &l : lists) {
    values.push_back(l.data());
    lengths.push_back(static_cast<int>(l.size()));
  }
  int nargs = static_cast<int>(lists.size());
  int64_t total = cyclekit_params_product(nargs, values.data(), lengths.data(), -1, nullptr);
  std::vector<int64_t> args(lists.size());
  for (int64_t k = 0; k < total; ++k) {
    cyclekit_params_product(nargs, values.data(), lengths.data(), k, args.data());
    Args(args);
  }
  return this;
}
Benchmark *Benchmark::ArgName(const std::string &name) { return ArgNames({name}); }
Benchmark *Benchmark::ArgNames(const std::vector<std::string> &names) {
  arg_names_ = names;
  return this;
}
Benchmark *Benchmark::Setup(void (*setup)(const State &)) {
  setup_ = setup;
  return this;
}
Benchmark *Benchmark::Teardown(void (*teardown)(const State &)) {
  teardown_ = teardown;
  return this;
}
Benchmark *Benchmark::Apply(void (*func)(Benchmark *)) {
  func(this);
  return this;
}
Benchmark *Benchmark::RangeMultiplier(int multiplier) {
  range_multiplier_ = multiplier;
  return this;
}
Benchmark *Benchmark::MinTime(double t) {
  min_time_ = t;
  return this;
}
Benchmark *Benchmark::MinWarmUpTime(double t) {
  min_warmup_time_ = t;
  return this;
}
Benchmark *Benchmark::Iterations(IterationCount n) {
  iterations_ = n;
  return this;
}
Benchmark *Benchmark::Repetitions(int n) {
  repetitions_ = n;
  return this;
}
Benchmark *Benchmark::ReportAggregatesOnly(bool value) {
  aggregation_report_mode_ = value ? ARM_Default | ARM_ReportAggregatesOnly : ARM_Default;
  return this;
}
Benchmark *Benchmark::DisplayAggregatesOnly(bool value) {
  if (value)
    aggregation_report_mode_ |= ARM_Default | ARM_DisplayReportAggregatesOnly;
  else
    aggregation_report_mode_ &= ~unsigned(ARM_DisplayReportAggregatesOnly);
  return this;
}
Benchmark *Benchmark::MeasureProcessCPUTime() {
  measure_process_cpu_time_ = true;
  return this;
}
Benchmark *Benchmark::UseRealTime() {
  use_real_time_ = true;
  return this;
}
Benchmark *Benchmark::UseManualTime() {
  use_manual_time_ = true;
  return this;
}
Benchmark *Benchmark::Complexity(BigO complexity) {
  complexity_ = complexity;
  return this;
}
Benchmark *Benchmark::Complexity(BigOFunc *complexity) {
  complexity_lambda_ = complexity;
  complexity_ = oLambda;
  return this;
}
Benchmark *Benchmark::ComputeStatistics(const std::string &name, StatisticsFunc *statistics,
                                        StatisticUnit unit) {
  statistics_.emplace_back(name, statistics, unit);
  return this;
}
Benchmark *Benchmark::Threads(int t) {
  thread_counts_.push_back(t);
  return this;
}
Benchmark *Benchmark::ThreadRange(int min_threads, int max_threads) {
  for (int64_t t : CreateRange(min_threads, max_threads, 2))
    thread_counts_.push_back(static_cast<int>(t));
  return this;
}
// Every stride from min_threads, and max_threads itself even when the
// stride steps past it.
Benchmark *Benchmark::DenseThreadRange(int min_threads, int max_threads, int stride) {
  if (stride < 1 || min_threads > max_threads)
    return this;
  for (int t = min_threads; t < max_threads; t += stride)
    thread_counts_.push_back(t);
  thread_counts_.push_back(max_threads);
  return this;
}
Benchmark *Benchmark::ThreadPerCpu() {
  long cpus = sysconf(_SC_NPROCESSORS_ONLN);
  thread_counts_.push_back(cpus > 0 ? static_cast<int>(cpus) : 1);
  return this;
}

}  // namespace internal
}  // namespace benchmark
