// A concurrency library's suite: the same kernel on 1 to n threads, shared
// state set up by thread 0, per-thread averages, and the timing modes
// (real, manual, process CPU) such suites ask for.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>

namespace {
std::atomic<int64_t> g_counter{0};
std::mutex g_lock;
int64_t g_guarded = 0;
std::vector<int> *g_shared = nullptr;
}  // namespace

static void BM_AtomicIncrement(benchmark::State &state) {
  if (state.thread_index() == 0)
    g_counter = 0;
  for (auto _ : state)
    g_counter.fetch_add(1, std::memory_order_relaxed);
  state.SetItemsProcessed(state.iterations());
  state.counters["threads_seen"] =
      benchmark::Counter(1, benchmark::Counter::kAvgThreads);  // 1 whatever the count
}
BENCHMARK(BM_AtomicIncrement)->Threads(1)->Threads(2);
BENCHMARK(BM_AtomicIncrement)->ThreadRange(1, 4)->UseRealTime();
BENCHMARK(BM_AtomicIncrement)->DenseThreadRange(1, 4, 2);
BENCHMARK(BM_AtomicIncrement)->ThreadPerCpu();

static void BM_MutexGuarded(benchmark::State &state) {
  for (auto _ : state) {
    std::lock_guard<std::mutex> held(g_lock);
    ++g_guarded;
  }
  state.counters["per_thread_rate"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                         benchmark::Counter::kAvgThreadsRate);
}
BENCHMARK(BM_MutexGuarded)->Threads(2)->MeasureProcessCPUTime()->UseRealTime();
BENCHMARK(BM_MutexGuarded)->Threads(1)->MeasureProcessCPUTime();

// Data shared by every thread, made by thread 0 before the loop.
static void BM_SharedRead(benchmark::State &state) {
  if (state.thread_index() == 0) {
    delete g_shared;
    g_shared = new std::vector<int>(static_cast<size_t>(state.range(0)), 1);
  }
  int64_t sum = 0;
  for (auto _ : state) {
    for (int x : *g_shared)
      sum += x;
    benchmark::DoNotOptimize(sum);
  }
  if (state.thread_index() == 0) {
    delete g_shared;
    g_shared = nullptr;
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0) * int64_t(sizeof(int)));
}
BENCHMARK(BM_SharedRead)->Arg(256)->Threads(2)->Unit(benchmark::kMicrosecond);

// A kernel that times itself: the reported time is the one it measured.
static void BM_ManualTimed(benchmark::State &state) {
  std::vector<int> v(static_cast<size_t>(state.range(0)), 2);
  for (auto _ : state) {
    auto start = std::chrono::high_resolution_clock::now();
    int64_t s = 0;
    for (int x : v)
      s += x;
    benchmark::DoNotOptimize(s);
    auto end = std::chrono::high_resolution_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(end - start).count());
  }
}
BENCHMARK(BM_ManualTimed)->Arg(64)->Arg(4096)->UseManualTime();
BENCHMARK(BM_ManualTimed)
    ->Arg(512)
    ->UseManualTime()
    ->Iterations(500)
    ->Unit(benchmark::kMicrosecond);

// Settings a project pins per benchmark.
static void BM_Spin(benchmark::State &state) {
  uint64_t x = 1;
  for (auto _ : state) {
    for (int i = 0; i < 32; ++i)
      x = x * 6364136223846793005ull + 1442695040888963407ull;
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_Spin)->MinTime(0.05);
BENCHMARK(BM_Spin)->MinWarmUpTime(0.01)->MinTime(0.02);
BENCHMARK(BM_Spin)->Iterations(1000)->Repetitions(2);
BENCHMARK(BM_Spin)->Repetitions(3)->DisplayAggregatesOnly()->UseRealTime();
BENCHMARK(BM_Spin)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_Spin)->Unit(benchmark::kSecond)->Threads(2)->Iterations(100);

// Every thread reports an error of its own; the first one counts.
static void BM_ThreadFails(benchmark::State &state) {
  for (auto _ : state) {
    if (state.thread_index() == 1) {
      state.SkipWithError("thread 1 lost its connection");
      break;
    }
    benchmark::DoNotOptimize(state.thread_index());
  }
}
BENCHMARK(BM_ThreadFails)->Threads(2);

// A fixture on several threads: every thread runs SetUp and TearDown, and
// thread 0 makes and frees what they share.
class Queue : public benchmark::Fixture {
 public:
  std::vector<int> items;
  std::atomic<int> setups{0};
  void SetUp(const benchmark::State &state) override {
    if (state.thread_index() == 0)
      items.assign(64, 1);
    ++setups;
  }
  void TearDown(const benchmark::State &state) override {
    if (state.thread_index() == 0)
      items.clear();
  }
};
BENCHMARK_DEFINE_F(Queue, Peek)(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(items.front());
  if (state.thread_index() == 0) {
    state.counters["setups"] += static_cast<double>(setups.exchange(0));
    state.counters.insert({{"shared", benchmark::Counter(static_cast<double>(items.size()))},
                           {"ops", benchmark::Counter(static_cast<double>(state.iterations()),
                                                      benchmark::Counter::kIsRate |
                                                          benchmark::Counter::kAvgThreads)}});
  }
}
BENCHMARK_REGISTER_F(Queue, Peek)->Threads(1)->Threads(2);

BENCHMARK_MAIN();
