// A suite that writes no main (it links the library's) and reaches for the
// less common corners of the API: the export markers, the custom context
// through its map, the verbosity, fixtures' two SetUp forms, template
// fixtures, the builder's rarer calls and the reporter's helpers.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <numeric>
#include <string>
#include <vector>

#ifndef BENCHMARK_BENCHMARK_H_
#error "the header's guard is not defined"
#endif

namespace {

BENCHMARK_EXPORT int sum_to(int n) {
  std::vector<int> v(static_cast<size_t>(n));
  std::iota(v.begin(), v.end(), 0);
  return std::accumulate(v.begin(), v.end(), 0);
}

// A context that did not reach the map ends the suite before it lists.
const int context_added = [] {
  benchmark::AddCustomContext("suite", "api_surface");
  auto *context = benchmark::internal::GetGlobalContext();
  if (!context || context->count("suite") != 1)
    std::abort();
  return 1;
}();

}  // namespace

static void BM_Sum(benchmark::State &state) {
  if (!context_added || benchmark::GetBenchmarkVerbosity() < 0)
    state.SkipWithError("no custom context");
  for (auto _ : state)
    benchmark::DoNotOptimize(sum_to(static_cast<int>(state.range(0))));
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["per_call"] = benchmark::Counter(1, benchmark::Counter::kAvgIterations);
  state.SetLabel(benchmark::GetTimeUnitString(benchmark::kMicrosecond));
}
BENCHMARK(BM_Sum)->Arg(64)->ArgName("n")->Iterations(50)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sum)->DenseRange(8, 24, 8)->Iterations(20)->Repetitions(2)->DisplayAggregatesOnly();
BENCHMARK(BM_Sum)->Arg(16)->MinTime(0.01)->MeasureProcessCPUTime()->UseRealTime();

static void BM_Batch(benchmark::State &state) {
  for (auto &c : benchmark::CPUInfo::Get().caches)  // as the kernel lists them, or none
    if (c.level < 1 || c.size <= 0 || c.num_sharing < 1 || c.type.empty())
      std::abort();
  while (state.KeepRunningBatch(8))
    benchmark::ClobberMemory();
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Batch)->Arg(4)->Arg(8)->Iterations(30)->Complexity(benchmark::oN);

static double square(const std::vector<double> &v) { return v.empty() ? 0 : v[0] * v[0]; }
static void BM_Stats(benchmark::State &state) {
  while (state.KeepRunning())
    benchmark::DoNotOptimize(state.max_iterations);
}
BENCHMARK(BM_Stats)->Iterations(5)->Repetitions(2)->ComputeStatistics("sq", square)->Threads(2);

template <int N>
class Buffer : public benchmark::Fixture {
 public:
  void SetUp(benchmark::State &) override { data.assign(N, 1); }
  void TearDown(const benchmark::State &) override { data.clear(); }
  std::vector<int> data;
};
BENCHMARK_TEMPLATE_DEFINE_F(Buffer, Sum, 32)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(std::accumulate(data.begin(), data.end(), 0));
}
BENCHMARK_REGISTER_F(Buffer, Sum)->Iterations(40);
BENCHMARK_TEMPLATE1_F(Buffer, Small, 4)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(data.size());
}

static void BM_Captured(benchmark::State &state, int n, const char *tag) {
  for (auto _ : state)
    benchmark::DoNotOptimize(sum_to(n));
  state.SetLabel(tag);
}
BENCHMARK_CAPTURE(BM_Captured, tiny, 4, "tiny")->Iterations(10);
[[maybe_unused]] static const auto *registered =
    benchmark::RegisterBenchmark("Registered/extra", BM_Captured, 8, "extra");
