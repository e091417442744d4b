// A container library's suite: each operation over the containers it
// competes with, sizes from ranges and products of them, the complexity
// asked for, and items per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <list>
#include <map>
#include <numeric>
#include <random>
#include <set>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

std::vector<int> shuffled(int64_t n) {
  std::vector<int> v(static_cast<size_t>(n));
  std::iota(v.begin(), v.end(), 0);
  std::shuffle(v.begin(), v.end(), std::mt19937(42));
  return v;
}

}  // namespace

template <class Container>
static void BM_PushBack(benchmark::State &state) {
  for (auto _ : state) {
    Container c;
    for (int64_t i = 0; i < state.range(0); ++i)
      c.push_back(static_cast<typename Container::value_type>(i));
    benchmark::DoNotOptimize(c);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetComplexityN(state.range(0));
}
BENCHMARK_TEMPLATE(BM_PushBack, std::vector<int>)
    ->RangeMultiplier(4)
    ->Range(16, 1024)
    ->Complexity(benchmark::oN);
BENCHMARK_TEMPLATE(BM_PushBack, std::deque<int>)->Range(8, 512)->Complexity();
BENCHMARK_TEMPLATE(BM_PushBack, std::list<double>)->Arg(64)->Arg(128);

template <class Set>
static void BM_Insert(benchmark::State &state) {
  std::vector<int> keys = shuffled(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    Set s;
    state.ResumeTiming();
    for (int k : keys)
      s.insert(k);
    benchmark::DoNotOptimize(s.size());
  }
  state.SetComplexityN(state.range(0));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK_TEMPLATE(BM_Insert, std::set<int>)
    ->RangeMultiplier(2)
    ->Range(64, 512)
    ->Complexity(benchmark::oNLogN);
BENCHMARK_TEMPLATE(BM_Insert, std::unordered_set<int>)
    ->Range(64, 512)
    ->Complexity([](benchmark::IterationCount n) { return static_cast<double>(n); });

// Two parameters: the table's size and how many of the lookups hit.
template <class Map>
static void BM_Lookup(benchmark::State &state) {
  const int64_t size = state.range(0);
  const int64_t hit_percent = state.range(1);
  Map m;
  for (int64_t i = 0; i < size; ++i)
    m[static_cast<int>(i)] = static_cast<int>(i);
  std::vector<int> probes;
  for (int64_t i = 0; i < 256; ++i)
    probes.push_back(static_cast<int>(i % 100 < hit_percent ? i % size : size + i));
  int64_t found = 0;
  for (auto _ : state) {
    for (int p : probes)
      found += m.count(p) ? 1 : 0;
    benchmark::DoNotOptimize(found);
  }
  state.SetItemsProcessed(state.iterations() * int64_t(probes.size()));
  state.counters["hits"] =
      benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK_TEMPLATE(BM_Lookup, std::map<int, int>)
    ->ArgsProduct({{64, 4096}, {0, 50, 100}})
    ->ArgNames({"size", "hit%"});
BENCHMARK_TEMPLATE(BM_Lookup, std::unordered_map<int, int>)
    ->Ranges({{8, 512}, {10, 90}})
    ->ArgNames({"size", ""});
BENCHMARK_TEMPLATE(BM_Lookup, std::unordered_map<int, int>)
    ->ArgsProduct({benchmark::CreateRange(16, 1024, /*multi=*/8),
                   benchmark::CreateDenseRange(25, 75, /*step=*/25)})
    ->Name("lookup_dense");

static void BM_Sort(benchmark::State &state) {
  std::vector<int> input = shuffled(state.range(0));
  std::vector<int> v;
  while (state.KeepRunning()) {
    v = input;
    std::sort(v.begin(), v.end());
    benchmark::ClobberMemory();
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * int64_t(sizeof(int)));
}
BENCHMARK(BM_Sort)->RangeMultiplier(8)->Range(8, 8 << 8)->Complexity(benchmark::oAuto);
BENCHMARK(BM_Sort)->Arg(100)->Arg(1000)->Complexity(benchmark::oNSquared)->Name("sort_n2");

// Accumulation in batches of eight iterations at a time.
static void BM_AccumulateBatch(benchmark::State &state) {
  std::vector<int64_t> v(static_cast<size_t>(state.range(0)), 3);
  int64_t sum = 0;
  while (state.KeepRunningBatch(8)) {
    for (int k = 0; k < 8; ++k)
      sum += std::accumulate(v.begin(), v.end(), int64_t(0));
    benchmark::DoNotOptimize(sum);
  }
  if (state.iterations() % 8 != 0)
    state.SkipWithError("a batch was cut short");
  state.counters["per_iter"] = benchmark::Counter(static_cast<double>(state.range(0)),
                                                  benchmark::Counter::kIsIterationInvariant);
}
BENCHMARK(BM_AccumulateBatch)->Arg(32)->Arg(100);

// Older code: the pair spellings and range_x/range_y, whose deprecation
// warning the project turns off.
BENCHMARK_DISABLE_DEPRECATED_WARNING
static void BM_Matrix(benchmark::State &state) {
  const int64_t rows = state.range_x(), cols = state.range_y();
  std::vector<double> m(static_cast<size_t>(rows * cols), 1.5);
  for (auto _ : state) {
    double t = 0;
    for (int64_t c = 0; c < cols; ++c)
      for (int64_t r = 0; r < rows; ++r)
        t += m[static_cast<size_t>(r * cols + c)];
    benchmark::DoNotOptimize(t);
  }
  state.SetItemsProcessed(state.iterations() * rows * cols);
}
BENCHMARK_RESTORE_DEPRECATED_WARNING
BENCHMARK(BM_Matrix)->ArgPair(4, 8)->ArgPair(16, 2);
BENCHMARK(BM_Matrix)->RangePair(2, 8, 16, 32);
BENCHMARK_WITH_ARG2(BM_Matrix, 3, 5);

static void SquareSizes(benchmark::internal::Benchmark *b) {
  for (int n = 2; n <= 32; n *= 4)
    b->Args({n, n});
  b->ArgNames({"rows", "cols"});
}
BENCHMARK(BM_Matrix)->Apply(SquareSizes)->Unit(benchmark::kMicrosecond);

// Iterations fixed by the project for a kernel whose first run warms it.
static void BM_Reserve(benchmark::State &state) {
  for (auto _ : state) {
    std::vector<char> v;
    v.reserve(static_cast<size_t>(state.range(0)));
    benchmark::DoNotOptimize(v.data());
  }
  if (state.max_iterations != state.iterations())
    state.SkipWithError("the loop ran a count other than max_iterations");
}
BENCHMARK(BM_Reserve)->Arg(1 << 12)->Iterations(2000);
BENCHMARK(BM_Reserve)->Range(0, 64);

BENCHMARK_MAIN();
