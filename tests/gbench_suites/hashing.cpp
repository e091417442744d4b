// A hashing and compression library's suite: fixtures that own the input,
// typed fixtures over the algorithms, user counters of every kind, and
// statistics over repetitions.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

uint32_t fnv1a(const uint8_t *p, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; ++i)
    h = (h ^ p[i]) * 16777619u;
  return h;
}

uint32_t adler32(const uint8_t *p, size_t n) {
  uint32_t a = 1, b = 0;
  for (size_t i = 0; i < n; ++i) {
    a = (a + p[i]) % 65521;
    b = (b + a) % 65521;
  }
  return (b << 16) | a;
}

// Run-length encoding, the "compressor" the fixtures measure.
size_t rle(const std::vector<uint8_t> &in, std::vector<uint8_t> &out) {
  out.clear();
  for (size_t i = 0; i < in.size();) {
    size_t j = i;
    while (j < in.size() && in[j] == in[i] && j - i < 255)
      ++j;
    out.push_back(static_cast<uint8_t>(j - i));
    out.push_back(in[i]);
    i = j;
  }
  return out.size();
}

}  // namespace

class InputData : public benchmark::Fixture {
 public:
  std::vector<uint8_t> data;
  std::vector<uint8_t> out;

  void SetUp(const benchmark::State &) override { fill(1024); }
  void TearDown(const benchmark::State &) override {
    data.clear();
    out.clear();
  }

 protected:
  void fill(size_t n) {
    data.resize(n);
    for (size_t i = 0; i < n; ++i)
      data[i] = static_cast<uint8_t>((i / 7) * 31);
  }
};

// The same input, its size the benchmark's argument.
class SizedInput : public InputData {
 public:
  void SetUp(const benchmark::State &state) override { fill(static_cast<size_t>(state.range(0))); }
};

BENCHMARK_F(InputData, Fnv1a)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(fnv1a(data.data(), data.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

BENCHMARK_DEFINE_F(SizedInput, Adler32)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(adler32(data.data(), data.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}
static void CustomSizes(benchmark::internal::Benchmark *b) {
  for (int kib : {1, 4, 16})
    b->Arg(kib << 10);
}
BENCHMARK_REGISTER_F(SizedInput, Adler32)->Apply(CustomSizes)->ArgName("bytes");

BENCHMARK_DEFINE_F(SizedInput, Compress)(benchmark::State &state) {
  size_t packed = 0;
  for (auto _ : state) {
    packed = rle(data, out);
    benchmark::DoNotOptimize(out.data());
  }
  double in_bytes = static_cast<double>(data.size());
  state.counters["ratio"] = in_bytes / static_cast<double>(packed);
  state.counters["in_rate"] = benchmark::Counter(
      in_bytes, benchmark::Counter::kIsIterationInvariantRate, benchmark::Counter::OneK::kIs1024);
  state.counters["ns_per_byte"] = benchmark::Counter(
      in_bytes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["out_bytes"] = benchmark::Counter(
      static_cast<double>(packed), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
  state.counters["calls"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["avg_out"] =
      benchmark::Counter(static_cast<double>(packed) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kAvgIterations);
  state.counters["avg_out_rate"] =
      benchmark::Counter(static_cast<double>(packed) * static_cast<double>(state.iterations()),
                         benchmark::Counter::kAvgIterationsRate);
  // A counter set then taken back, as suites do when an input is unsuited.
  state.counters["scratch"] = 1;
  state.counters.erase("scratch");
  state.SetLabel("rle");
}
BENCHMARK_REGISTER_F(SizedInput, Compress)->Arg(4096)->Arg(65536)->Unit(benchmark::kMicrosecond);

// A fixture's SetUp can find an input unusable; the benchmark then says so.
class MaybeMissing : public benchmark::Fixture {
 public:
  bool present = false;
  void SetUp(benchmark::State &state) override {
    present = state.range(0) != 0;
    if (!present)
      state.SkipWithError("corpus file not found");
  }
};
BENCHMARK_DEFINE_F(MaybeMissing, Load)(benchmark::State &state) {
  for (auto _ : state) {
    if (state.error_occurred())
      break;
    benchmark::DoNotOptimize(present);
  }
}
BENCHMARK_REGISTER_F(MaybeMissing, Load)->Arg(0)->Arg(1);

// Algorithms as the template argument of a fixture.
struct Fnv {
  static uint32_t hash(const uint8_t *p, size_t n) { return fnv1a(p, n); }
};
struct Adler {
  static uint32_t hash(const uint8_t *p, size_t n) { return adler32(p, n); }
};
template <class Algo>
class Hashed : public benchmark::Fixture {
 public:
  std::vector<uint8_t> block = std::vector<uint8_t>(512, 0x5a);
};
BENCHMARK_TEMPLATE_F(Hashed, Block, Fnv)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(Fnv::hash(block.data(), block.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * 512);
}
BENCHMARK_TEMPLATE_DEFINE_F(Hashed, Twice, Adler)(benchmark::State &state) {
  for (auto _ : state) {
    uint32_t h = Adler::hash(block.data(), block.size());
    h ^= Adler::hash(block.data(), block.size() / 2);
    benchmark::DoNotOptimize(h);
  }
}
BENCHMARK_REGISTER_F(Hashed, Twice)->Repetitions(3)->DisplayAggregatesOnly(true);

template <class Algo, int Size>
class Sized : public benchmark::Fixture {};
BENCHMARK_TEMPLATE2_F(Sized, Hash, Fnv, 64)(benchmark::State &state) {
  uint8_t buf[64] = {1};
  for (auto _ : state)
    benchmark::DoNotOptimize(Fnv::hash(buf, sizeof buf));
}
BENCHMARK_TEMPLATE1_DEFINE_F(Hashed, Single, Fnv)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(Fnv::hash(block.data(), 1));
}
BENCHMARK_REGISTER_F(Hashed, Single);
BENCHMARK_TEMPLATE1_F(Hashed, Empty, Adler)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(Adler::hash(block.data(), 0));
}
BENCHMARK_TEMPLATE2_DEFINE_F(Sized, Prefix, Adler, 16)(benchmark::State &state) {
  uint8_t buf[16] = {2};
  for (auto _ : state)
    benchmark::DoNotOptimize(Adler::hash(buf, static_cast<size_t>(state.range(0))));
}
BENCHMARK_REGISTER_F(Sized, Prefix)->DenseRange(0, 16, 8);

// Statistics of the project's own beside mean, median, stddev and cv.
static double Max(const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); }
static double Spread(const std::vector<double> &v) {
  auto mm = std::minmax_element(v.begin(), v.end());
  return *mm.first > 0 ? (*mm.second - *mm.first) / *mm.first : 0;
}
static void BM_HashRepeated(benchmark::State &state) {
  std::vector<uint8_t> d(static_cast<size_t>(state.range(0)), 7);
  for (auto _ : state)
    benchmark::DoNotOptimize(fnv1a(d.data(), d.size()));
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_HashRepeated)
    ->Arg(256)
    ->Repetitions(4)
    ->ComputeStatistics("max", Max)
    ->ComputeStatistics("spread", Spread, benchmark::StatisticUnit::kPercentage)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_HashRepeated)->Arg(64)->Repetitions(2)->ReportAggregatesOnly(false);

// A per-run setup outside the timed region, and its teardown.
static std::vector<uint8_t> *g_buffer = nullptr;
static void MakeBuffer(const benchmark::State &state) {
  g_buffer = new std::vector<uint8_t>(static_cast<size_t>(state.range(0)), 3);
}
static void FreeBuffer(const benchmark::State &) {
  delete g_buffer;
  g_buffer = nullptr;
}
static void BM_WithSetup(benchmark::State &state) {
  if (!g_buffer) {
    state.SkipWithError("setup did not run");
    return;
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(adler32(g_buffer->data(), g_buffer->size()));
}
BENCHMARK(BM_WithSetup)->Arg(128)->Arg(2048)->Setup(MakeBuffer)->Teardown(FreeBuffer);

BENCHMARK_MAIN();
