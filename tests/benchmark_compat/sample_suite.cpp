// A suite written the usual way for this API, compiled unchanged against
// cyclekit's front end and against the installed library, so that the two
// name lists can be compared.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

static void BM_Sum(benchmark::State &state) {
  std::vector<int> v(static_cast<size_t>(state.range(0)), 1);
  for (auto _ : state) {
    int s = std::accumulate(v.begin(), v.end(), 0);
    benchmark::DoNotOptimize(s);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.SetBytesProcessed(state.iterations() * state.range(0) * int64_t(sizeof(int)));
}
BENCHMARK(BM_Sum)->Range(8, 8 << 10);
BENCHMARK(BM_Sum)->RangeMultiplier(2)->Range(1, 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Sum)->DenseRange(0, 10, 3)->ArgName("n");

static void BM_Copy(benchmark::State &state) {
  std::string src(static_cast<size_t>(state.range(0)), 'x');
  std::string dst(src.size(), ' ');
  while (state.KeepRunning()) {
    std::memcpy(&dst[0], src.data(), src.size());
    benchmark::ClobberMemory();
  }
  state.counters["len"] = static_cast<double>(state.range(1));
}
BENCHMARK(BM_Copy)->Args({64, 1})->Args({512, 2})->ArgNames({"bytes", "tag"});
BENCHMARK(BM_Copy)->Ranges({{16, 64}, {1, 3}});
BENCHMARK(BM_Copy)->ArgsProduct({{1, 2}, {7, 8, 9}})->Name("copy_product");

static void BM_Timed(benchmark::State &state) {
  for (auto _ : state) {
    state.PauseTiming();
    benchmark::DoNotOptimize(state.range(0));
    state.ResumeTiming();
  }
}
BENCHMARK(BM_Timed)->Arg(1)->MinTime(0.25)->Repetitions(3);
BENCHMARK(BM_Timed)->Arg(2)->Iterations(100)->UseRealTime();
BENCHMARK(BM_Timed)->Arg(-3)->MinTime(2)->Threads(1);
BENCHMARK(BM_Timed)->Arg(4)->Threads(2)->Threads(4);
BENCHMARK(BM_Timed)->ThreadRange(1, 8);
BENCHMARK(BM_Timed)->Arg(5)->Repetitions(2)->ReportAggregatesOnly();

static void BM_Manual(benchmark::State &state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(state.iterations());
    state.SetIterationTime(1e-6);
  }
}
BENCHMARK(BM_Manual)->UseManualTime();
BENCHMARK(BM_Manual)->UseManualTime()->Iterations(10)->Repetitions(2)->Arg(1);
BENCHMARK(BM_Manual)->MinTime(0.5)->UseRealTime()->Arg(2)->Threads(1);

// A time of exactly N ns an iteration: the fit must find N, coefficient 1.
static void BM_Linear(benchmark::State &state) {
  for (auto _ : state)
    state.SetIterationTime(static_cast<double>(state.range(0)) * 1e-9);
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_Linear)->RangeMultiplier(4)->Range(4, 256)->UseManualTime()->Complexity();
// An N of 0 lies on no curve through lg N: the fit leaves it out.
BENCHMARK(BM_Linear)
    ->Arg(0)
    ->Arg(16)
    ->Arg(64)
    ->UseManualTime()
    ->Complexity(benchmark::oNLogN)
    ->Name("linear_lgn");

static void BM_Error(benchmark::State &state) {
  state.SkipWithError("no input file");
  for (auto _ : state) {
  }
}
BENCHMARK(BM_Error);

template <class T, int N>
static void BM_Fill(benchmark::State &state) {
  std::vector<T> v(N);
  for (auto _ : state) {
    std::fill(v.begin(), v.end(), T(1));
    benchmark::DoNotOptimize(v.data());
  }
  state.SetLabel("fill");
}
BENCHMARK_TEMPLATE(BM_Fill, int, 16);
BENCHMARK_TEMPLATE(BM_Fill, double, 64)->Arg(3);
template <class T>
static void BM_One(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(T(1));
}
// One iteration a run stays below the counter's resolution even in a
// sanitizer build, whose loop is several times slower.
BENCHMARK_TEMPLATE1(BM_One, char)->Iterations(1);
BENCHMARK_TEMPLATE2(BM_Fill, short, 8);

template <class... Extra>
static void BM_Capture(benchmark::State &state, Extra &&...extra) {
  for (auto _ : state) {
    int xs[] = {static_cast<int>(extra)...};
    benchmark::DoNotOptimize(xs);
  }
}
BENCHMARK_CAPTURE(BM_Capture, two_ints, 1, 2);
BENCHMARK_CAPTURE(BM_Capture, one, 3)->Arg(9);

class Buffer : public benchmark::Fixture {
 public:
  std::vector<char> data;
  void SetUp(const benchmark::State &state) override {
    data.assign(static_cast<size_t>(state.range(0)), 'a');
  }
  void TearDown(const benchmark::State &) override { data.clear(); }
};

BENCHMARK_DEFINE_F(Buffer, Scan)(benchmark::State &state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::count(data.begin(), data.end(), 'a'));
  }
}
BENCHMARK_REGISTER_F(Buffer, Scan)->Arg(100)->Arg(1000);

BENCHMARK_F(Buffer, Touch)(benchmark::State &state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(data.size());
  }
}

template <class T>
class Typed : public benchmark::Fixture {};
BENCHMARK_TEMPLATE_F(Typed, Size, long)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(sizeof(long));
}

static void BM_Batch(benchmark::State &state) {
  while (state.KeepRunningBatch(8)) {
    benchmark::DoNotOptimize(state.range(0));
  }
}
static void Custom(benchmark::internal::Benchmark *b) {
  for (int i = 1; i <= 4; i *= 2)
    b->Args({i, i * 10});
}
BENCHMARK(BM_Batch)->Apply(Custom);

static int setups = 0;
static void CountSetup(const benchmark::State &) { ++setups; }
BENCHMARK(BM_Batch)->Arg(7)->Setup(CountSetup)->Teardown(CountSetup);

// Its runs so far, warm-up and probes included, per argument: a longer
// MinWarmUpTime makes more of them.
static void BM_Warm(benchmark::State &state) {
  static int runs[2];
  for (auto _ : state)
    benchmark::DoNotOptimize(state.range(0));
  state.counters["runs"] = ++runs[state.range(0) & 1];
}
BENCHMARK(BM_Warm)->Arg(0);
BENCHMARK(BM_Warm)->Arg(1)->MinWarmUpTime(0.1);

// Counters whose figures do not depend on the time: the console shows
// them as the installed library does, digits and prefixes alike.
static void BM_CounterText(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(state.iterations());
  using C = benchmark::Counter;
  state.counters["plain"] = 123456789.0;
  state.counters["binary"] = C(123456789.0, C::kDefaults, C::kIs1024);
  state.counters["kilo"] = C(1024.0, C::kDefaults, C::kIs1024);
  state.counters["small"] = 0.00123;
  state.counters["tiny"] = C(0.000000456, C::kDefaults, C::kIs1024);
  state.counters["negative"] = -98765.4321;
  state.counters["zero"] = 0;
  state.counters["whole"] = 999999;
  state.counters["mean"] = C(3000, C::kAvgIterations);
  state.counters["scaled"] = C(7, C::kIsIterationInvariant, C::kIs1024);
  state.counters["edge"] = 1100;
  state.counters["over"] = 1101;
  state.counters["milli"] = 0.001;
  state.counters["cent"] = 0.01;
}
BENCHMARK(BM_CounterText)->Iterations(1000);

static void RegisterMore() {
  for (int n : {10, 20})
    benchmark::RegisterBenchmark(("lambda/" + std::to_string(n)).c_str(),
                                 [n](benchmark::State &st) {
                                   for (auto _ : st)
                                     benchmark::DoNotOptimize(n);
                                 });
  benchmark::RegisterBenchmark("with_args", BM_Capture<const int &>, 4)->Arg(2);
}

int main(int argc, char **argv) {
  RegisterMore();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
