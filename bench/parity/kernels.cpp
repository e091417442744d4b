// Eight kernels from about 20 ns to about 1 ms per iteration, and two
// shorter ones (strlen of 256 bytes, memcpy of 1 KiB), written as a suite
// of the usual C++ micro-benchmark API would write them.  The same
// source is built against cyclekit's front end and against the installed
// library, and parity.sh sets the two side by side.  x86-64 only: the
// multiply chain is inline assembly, so that its length is exact.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

namespace {

// One 64-byte line per node, so that a walk touches a new line each hop.
struct node {
  node *next;
  char pad[56];
};

// `bytes` of nodes linked into one cycle in a random order: every hop waits
// for the load before it, and the prefetcher cannot guess the next line.
std::vector<node> make_cycle(size_t bytes, unsigned seed) {
  std::vector<node> nodes(bytes / sizeof(node));
  std::vector<size_t> order(nodes.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::shuffle(order.begin() + 1, order.end(), std::mt19937(seed));
  for (size_t i = 0; i < order.size(); ++i)
    nodes[order[i]].next = &nodes[order[(i + 1) % order.size()]];
  return nodes;
}

std::vector<int> random_ints(size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::vector<int> v(n);
  for (int &x : v)
    x = static_cast<int>(gen());
  return v;
}

// Strings and copies live at fixed places in one page-aligned block, the
// same in either build: the heap's layout differs between the two (the
// front ends allocate different things first, and a filtered run others
// than a whole one), and strlen of 4 KiB or memcpy of 1 KiB ran 10 to 50 %
// slower at some offsets from a cache line or from each other than at
// others.  The copy's destination lies half a page past its source's end,
// so loads and stores never share their place in a page.
alignas(4096) char arena[3 * 16384];
char *at(size_t offset) { return arena + offset; }

int compare_ints(const void *a, const void *b) {
  int x = *static_cast<const int *>(a), y = *static_cast<const int *>(b);
  return (x > y) - (x < y);
}

void walk(benchmark::State &state, size_t bytes) {
  std::vector<node> nodes = make_cycle(bytes, 7);
  const node *p = &nodes[0];
  for (auto _ : state) {
    for (size_t i = 0; i < nodes.size(); ++i)
      p = p->next;
    benchmark::DoNotOptimize(p);
  }
}

}  // namespace

// 2,000 dependent 64-bit multiplies: a pure latency chain.
static void BM_ImulChain2000(benchmark::State &state) {
  uint64_t x = 1, k = 3;
  for (auto _ : state) {
    for (int i = 0; i < 20; ++i)
      __asm__(".rept 100\n\timulq %1, %0\n\t.endr" : "+r"(x) : "r"(k));
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_ImulChain2000);

static void BM_Strlen(benchmark::State &state) {
  size_t length = static_cast<size_t>(state.range(0));
  char *s = at(0);
  std::memset(s, 'a', length);
  s[length] = '\0';
  const char *p = s;
  for (auto _ : state) {
    benchmark::DoNotOptimize(p);
    size_t n = std::strlen(p);
    benchmark::DoNotOptimize(n);
  }
}
BENCHMARK(BM_Strlen)->Arg(256)->Arg(4096);

static void BM_Memcpy(benchmark::State &state) {
  size_t bytes = static_cast<size_t>(state.range(0));
  char *src = at(0), *dst = at(bytes + 2048);
  std::memset(src, 'x', bytes);
  for (auto _ : state) {
    std::memcpy(dst, src, bytes);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Memcpy)->Arg(1024)->Arg(16384);

static void BM_Sum4K(benchmark::State &state) {
  std::vector<uint64_t> v(4096 / sizeof(uint64_t), 3);
  for (auto _ : state) {
    benchmark::DoNotOptimize(v.data());
    uint64_t s = std::accumulate(v.begin(), v.end(), uint64_t{0});
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(state.iterations() * 4096);
}
BENCHMARK(BM_Sum4K);

// The shuffled input is restored with the timer paused.
static void BM_Qsort1000(benchmark::State &state) {
  const std::vector<int> input = random_ints(1000, 11);
  std::vector<int> v(input.size());
  for (auto _ : state) {
    state.PauseTiming();
    std::copy(input.begin(), input.end(), v.begin());
    state.ResumeTiming();
    std::qsort(v.data(), v.size(), sizeof(int), compare_ints);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_Qsort1000);

static void BM_ListWalk64K(benchmark::State &state) { walk(state, 64 << 10); }
BENCHMARK(BM_ListWalk64K);

// The shuffled input is copied inside the timed loop: 40 KB, a few per cent
// of the sort.
static void BM_StdSort10000(benchmark::State &state) {
  const std::vector<int> input = random_ints(10000, 13);
  std::vector<int> v(input.size());
  for (auto _ : state) {
    std::copy(input.begin(), input.end(), v.begin());
    std::sort(v.begin(), v.end());
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_StdSort10000);

static void BM_RandomWalk1M(benchmark::State &state) { walk(state, 1 << 20); }
BENCHMARK(BM_RandomWalk1M);

BENCHMARK_MAIN();
