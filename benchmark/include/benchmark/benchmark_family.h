// The families of <benchmark/benchmark.h>: a registered function with the
// builder that gives it arguments and settings, and the fixture base.
#ifndef CYCLEKIT_COMPAT_BENCHMARK_FAMILY_H
#define CYCLEKIT_COMPAT_BENCHMARK_FAMILY_H
// Treated as benchmark.h is, for the same reason.
#ifndef CYCLEKIT_BENCHMARK_OWN_BUILD
#pragma GCC system_header
#endif

namespace benchmark {

namespace internal {
typedef void(Function)(State &);

// A family of benchmarks: one function, the argument sets and the settings
// its instances are made from (benchmark/src/registry.cpp).
class Benchmark {
 public:
  virtual ~Benchmark();
  Benchmark *Name(const std::string &name);
  Benchmark *Arg(int64_t x);
  Benchmark *Unit(TimeUnit unit);
  Benchmark *Range(int64_t start, int64_t limit);
  Benchmark *DenseRange(int64_t start, int64_t limit, int step = 1);
  Benchmark *Args(const std::vector<int64_t> &args);
  Benchmark *ArgPair(int64_t x, int64_t y) { return Args({x, y}); }
  Benchmark *Ranges(const std::vector<std::pair<int64_t, int64_t>> &ranges);
  Benchmark *ArgsProduct(const std::vector<std::vector<int64_t>> &arglists);
  Benchmark *ArgName(const std::string &name);
  Benchmark *ArgNames(const std::vector<std::string> &names);
  Benchmark *RangePair(int64_t lo1, int64_t hi1, int64_t lo2, int64_t hi2) {
    return Ranges({{lo1, hi1}, {lo2, hi2}});
  }
  Benchmark *Setup(void (*setup)(const State &));
  Benchmark *Teardown(void (*teardown)(const State &));
  Benchmark *Apply(void (*func)(Benchmark *b));
  Benchmark *RangeMultiplier(int multiplier);
  Benchmark *MinTime(double t);
  Benchmark *MinWarmUpTime(double t);
  Benchmark *Iterations(IterationCount n);
  Benchmark *Repetitions(int n);
  Benchmark *ReportAggregatesOnly(bool value = true);
  Benchmark *DisplayAggregatesOnly(bool value = true);
  Benchmark *MeasureProcessCPUTime();
  Benchmark *UseRealTime();
  Benchmark *UseManualTime();
  Benchmark *Complexity(BigO complexity = oAuto);
  Benchmark *Complexity(BigOFunc *complexity);
  Benchmark *ComputeStatistics(const std::string &name, StatisticsFunc *statistics,
                               StatisticUnit unit = kTime);
  Benchmark *Threads(int t);
  Benchmark *ThreadRange(int min_threads, int max_threads);
  Benchmark *DenseThreadRange(int min_threads, int max_threads, int stride = 1);
  Benchmark *ThreadPerCpu();
  virtual void Run(State &state) = 0;
  TimeUnit GetTimeUnit() const;

 protected:
  explicit Benchmark(const char *name);
  void SetName(const char *name);
  int ArgsCnt() const;

 public:  // read by the runner (benchmark/src); not for suites
  std::string name_;
  unsigned aggregation_report_mode_ = ARM_Unspecified;
  std::vector<std::string> arg_names_;
  std::vector<std::vector<int64_t>> args_;
  TimeUnit time_unit_;
  bool use_default_time_unit_ = true;
  int range_multiplier_ = 8;
  double min_time_ = 0;
  double min_warmup_time_ = 0;
  IterationCount iterations_ = 0;
  int repetitions_ = 0;
  bool measure_process_cpu_time_ = false;
  bool use_real_time_ = false;
  bool use_manual_time_ = false;
  BigO complexity_ = oNone;
  BigOFunc *complexity_lambda_ = nullptr;
  std::vector<Statistics> statistics_;
  std::vector<int> thread_counts_;
  void (*setup_)(const State &) = nullptr;
  void (*teardown_)(const State &) = nullptr;

 private:
  Benchmark(Benchmark const &) = delete;
  Benchmark &operator=(Benchmark const &) = delete;
};

class FunctionBenchmark : public Benchmark {
 public:
  FunctionBenchmark(const char *name, Function *func) : Benchmark(name), func_(func) {}
  void Run(State &st) override { func_(st); }

 private:
  Function *func_;
};

template <class Lambda>
class LambdaBenchmark : public Benchmark {
 public:
  template <class L>
  LambdaBenchmark(const char *name, L &&lambda)
      : Benchmark(name), lambda_(std::forward<L>(lambda)) {}
  void Run(State &st) override { lambda_(st); }

 private:
  Lambda lambda_;
};
}  // namespace internal

inline internal::Benchmark *RegisterBenchmark(const char *name, internal::Function *fn) {
  return internal::RegisterBenchmarkInternal(new internal::FunctionBenchmark(name, fn));
}
template <class Lambda>
internal::Benchmark *RegisterBenchmark(const char *name, Lambda &&fn) {
  using Type = internal::LambdaBenchmark<typename std::decay<Lambda>::type>;
  return internal::RegisterBenchmarkInternal(new Type(name, std::forward<Lambda>(fn)));
}
template <class Lambda, class... Extra>
internal::Benchmark *RegisterBenchmark(const char *name, Lambda &&fn, Extra &&...extra) {
  return RegisterBenchmark(name, [=](State &st) { fn(st, extra...); });
}
void ClearRegisteredBenchmarks();

class Fixture : public internal::Benchmark {
 public:
  Fixture() : internal::Benchmark("") {}
  void Run(State &st) override {
    SetUp(st);
    BenchmarkCase(st);
    TearDown(st);
  }
  virtual void SetUp(const State &) {}
  virtual void TearDown(const State &) {}
  virtual void SetUp(State &st) { SetUp(const_cast<const State &>(st)); }
  virtual void TearDown(State &st) { TearDown(const_cast<const State &>(st)); }

 protected:
  virtual void BenchmarkCase(State &) = 0;
};

}  // namespace benchmark

#endif
