// A numerics library's suite, grown over years: kernels in namespaces,
// non-type template parameters, negative and zero arguments, three named
// arguments, KeepRunning loops with paused set-up, and statistics of the
// project's own over fixed repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

namespace num {
namespace kernels {

static void BM_Axpy(benchmark::State &state) {
  const size_t n = static_cast<size_t>(state.range(0));
  std::vector<float> x(n, 1.5f), y(n, 2.0f);
  const float a = 0.5f;
  for (auto _ : state) {
    for (size_t i = 0; i < n; ++i)
      y[i] += a * x[i];
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(n * 3 * sizeof(float)));
  state.counters["flops"] = benchmark::Counter(2.0 * static_cast<double>(n),
                                               benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace kernels
}  // namespace num

BENCHMARK(num::kernels::BM_Axpy)->RangeMultiplier(10)->Range(10, 10000)->ArgName("n");

template <int Unroll>
static void BM_Dot(benchmark::State &state) {
  std::vector<double> a(static_cast<size_t>(state.range(0)), 1.25), b(a);
  for (auto _ : state) {
    std::array<double, Unroll> acc{};
    for (size_t i = 0; i + Unroll <= a.size(); i += Unroll)
      for (int u = 0; u < Unroll; ++u)
        acc[size_t(u)] += a[i + size_t(u)] * b[i + size_t(u)];
    double s = std::accumulate(acc.begin(), acc.end(), 0.0);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK_TEMPLATE(BM_Dot, 1)->Arg(256);
BENCHMARK_TEMPLATE(BM_Dot, 4)->Arg(256)->Arg(1024);
BENCHMARK_TEMPLATE1(BM_Dot, 8)->Range(64, 64 << 6);

// Signed arguments: offsets, shifts and a zero.
static void BM_Shift(benchmark::State &state) {
  const int64_t by = state.range(0);
  uint64_t v = 0x0123456789abcdefull;
  for (auto _ : state) {
    v = by >= 0 ? (v << (by & 63)) | (v >> ((64 - (by & 63)) & 63))
                : (v >> ((-by) & 63)) | (v << ((64 + by) & 63));
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_Shift)->Range(-8, 8);
BENCHMARK(BM_Shift)->DenseRange(-4, 4, 4)->Arg(-1);
BENCHMARK(BM_Shift)->Range(0, 0);

// Three arguments, the last one unnamed.
static void BM_Stencil(benchmark::State &state) {
  const int64_t w = state.range(0), h = state.range(1), r = state.range(2);
  std::vector<float> in(static_cast<size_t>(w * h), 1.0f), out(in.size());
  for (auto _ : state) {
    for (int64_t y = r; y < h - r; ++y)
      for (int64_t x = r; x < w - r; ++x) {
        float s = 0;
        for (int64_t d = -r; d <= r; ++d)
          s += in[static_cast<size_t>(y * w + x + d)] + in[static_cast<size_t>((y + d) * w + x)];
        out[static_cast<size_t>(y * w + x)] = s;
      }
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_Stencil)
    ->Args({16, 16, 1})
    ->Args({32, 8, 2})
    ->ArgNames({"w", "h", ""})
    ->Unit(benchmark::kMicrosecond);

// Set-up inside the loop, kept out of the time by pausing.
static void BM_SortPaused(benchmark::State &state) {
  std::vector<int> v(static_cast<size_t>(state.range(0)));
  uint32_t seed = 1;
  while (state.KeepRunning()) {
    state.PauseTiming();
    for (auto &x : v)
      x = static_cast<int>(seed = seed * 1664525u + 1013904223u);
    state.ResumeTiming();
    std::sort(v.begin(), v.end());
  }
  state.SetLabel(std::string("n=") + std::to_string(state.range(0)));
}
BENCHMARK(BM_SortPaused)->Arg(64)->Arg(512);

// Percentiles over a fixed number of repetitions.
static double P90(const std::vector<double> &v) {
  std::vector<double> s(v);
  std::sort(s.begin(), s.end());
  return s[static_cast<size_t>(0.9 * static_cast<double>(s.size() - 1))];
}
static double Min(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }
static void BM_Sqrt(benchmark::State &state) {
  double x = 2.0;
  for (auto _ : state) {
    x = std::sqrt(x + 1.0);
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_Sqrt)->Repetitions(5)->ComputeStatistics("p90", P90)->ComputeStatistics("min", Min);
BENCHMARK(BM_Sqrt)->MinTime(1.5)->Repetitions(2)->Name("sqrt_long");
BENCHMARK(BM_Sqrt)->Iterations(1)->Repetitions(2)->Name("sqrt_once");

// Pairs as template arguments, and a name with characters JSON must escape.
template <class Pair>
static void BM_PairSum(benchmark::State &state) {
  Pair p{3, 4};
  for (auto _ : state) {
    benchmark::DoNotOptimize(p);
    auto s = p.first + p.second;
    benchmark::DoNotOptimize(s);
  }
}
BENCHMARK_TEMPLATE(BM_PairSum, std::pair<int, int>);
BENCHMARK_TEMPLATE(BM_PairSum, std::pair<int64_t, double>)->Name("pair \"sum\" \\ tab\t");

BENCHMARK_MAIN();
