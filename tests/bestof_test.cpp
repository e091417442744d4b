// The K-best driver and the cache flush against a scripted counter.  The
// module's source is compiled into this test so its file-local state is in
// reach; the counter functions it calls by name are the scripted ones below,
// and its allocations go through hooks that can fail on demand.

#include <gtest/gtest.h>

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <deque>
#include <string>
#include <vector>

namespace {
bool fail_malloc = false, fail_calloc = false;
size_t last_malloc_size = 0;
void *last_freed = nullptr;
}  // namespace

static void *hooked_malloc(size_t n) {
  last_malloc_size = n;
  return fail_malloc ? nullptr : malloc(n);
}
static void *hooked_calloc(size_t n, size_t size) {
  return fail_calloc ? nullptr : calloc(n, size);
}
static void hooked_free(void *p) {
  if (p)
    last_freed = p;
  free(p);
}

#define malloc hooked_malloc
#define calloc hooked_calloc
#define free hooked_free
#include "../measure/bestof.cpp"
#undef malloc
#undef calloc
#undef free

// ---- The scripted counter ---------------------------------------------------

namespace {
std::deque<double> counts;  // what successive reads return
bool overran = false;
std::string trace;          // S/R plain start/read, s/r compensated, F call
std::vector<int> args;      // what the test function was given
std::vector<uint32_t> sink_at_call;

double next_count() {
  if (counts.empty()) {
    overran = true;
    return 1e9;
  }
  double c = counts.front();
  counts.pop_front();
  return c;
}
}  // namespace

extern "C" void start_counter(void) { trace += 'S'; }
extern "C" double get_counter(void) { trace += 'R'; return next_count(); }
extern "C" void start_comp_counter(void) { trace += 's'; }
extern "C" double get_comp_counter(void) { trace += 'r'; return next_count(); }

static void probe(int arg) {
  trace += 'F';
  args.push_back(arg);
  sink_at_call.push_back(sink);
}

namespace {

void reset_module() {
  kbest = 3;
  maxsamples = 20;
  epsilon = 0.01;
  compensate = 0;
  clear_cache = 0;
  cache_bytes = 1 << 19;
  cache_block = 32;
  free(cache_buf);
  cache_buf = nullptr;
  sink = 0;
  samplecount = 0;
}

std::string repeat(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; i++)
    r += s;
  return r;
}

// The sum that k reads of the flush buffer's fill pattern add to sink.
uint32_t reads_sum(uint32_t k) { return k * 0x01010101u; }

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    reset_module();
    counts.clear();
    overran = false;
    trace.clear();
    args.clear();
    sink_at_call.clear();
    fail_malloc = fail_calloc = false;
  }
  void TearDown() override {
    EXPECT_FALSE(overran) << "more runs were made than the script has counts";
    EXPECT_TRUE(counts.empty()) << counts.size() << " scripted counts left unread";
    EXPECT_EQ(values, nullptr) << "the sample array outlived the measurement";
  }
  int runs() const { return (int)args.size(); }
  void script(std::initializer_list<double> c) { counts = c; }
  // n counts that never come within 1% of each other.
  void script_spread(int n, double first) {
    for (int i = 0; i < n; i++)
      counts.push_back(first * (1 + 0.05 * i));
  }
};

TEST_F(Driver, DefaultsStopAsSoonAsTheThreeSmallestAgree) {
  script({1000, 2000, 1500, 1009, 1004});
  EXPECT_EQ(bestof(probe, 7), 1000.0);
  EXPECT_EQ(runs(), 5);
  EXPECT_EQ(trace, repeat("SFR", 5)) << "start, function, read, in that order";
  EXPECT_EQ(args, std::vector<int>(5, 7));
}

TEST_F(Driver, DefaultsStopAfterTwentyRuns) {
  script_spread(20, 1000);
  EXPECT_EQ(bestof(probe, 0), 1000.0);
  EXPECT_EQ(runs(), 20);
}

TEST_F(Driver, TheFunctionGetsItsArgumentUnchanged) {
  for (int arg : {INT_MIN, -1, 0, 123456, INT_MAX}) {
    args.clear();
    script({10, 10, 10});
    bestof(probe, arg);
    EXPECT_EQ(args, std::vector<int>(3, arg));
  }
}

TEST_F(Driver, AtLeastOneRunWhateverTheLimit) {
  for (int limit : {1, 0, -5}) {
    args.clear();
    set_bestof_maxsamples(limit);
    script({321});
    EXPECT_EQ(bestof(probe, 0), 321.0) << "limit " << limit;
    EXPECT_EQ(runs(), 1) << "limit " << limit;
  }
}

TEST_F(Driver, OneBestStopsAfterTheFirstRun) {
  set_bestof_k(1);
  script({777});
  EXPECT_EQ(bestof(probe, 0), 777.0);
  EXPECT_EQ(runs(), 1);
}

TEST_F(Driver, ZeroToleranceAsksForEqualCounts) {
  set_bestof_epsilon(0);
  script({500, 600, 500, 500});
  EXPECT_EQ(bestof(probe, 0), 500.0);
  EXPECT_EQ(runs(), 4);

  args.clear();
  script({500, 501});
  script_spread(18, 502);
  EXPECT_EQ(bestof(probe, 0), 500.0);
  EXPECT_EQ(runs(), 20);
}

TEST_F(Driver, ToleranceIsWorkedOutInDoublePrecision) {
  // 0.03 is stored a little below 0.03, but 1 + 0.03 rounds up to the
  // double nearest 1.03, so 103 lies within the tolerance of 100.  Kept in
  // the x87 unit's wider registers the sum and product would fall short.
  set_bestof_epsilon(0.03);
  script({100, 103, 103});
  EXPECT_EQ(bestof(probe, 0), 100.0);
  EXPECT_EQ(runs(), 3);
}

TEST_F(Driver, KeepsTheThreeSmallestInOrder) {
  init_sampler();
  for (double c : {50.0, 40.0, 60.0, 45.0})
    add_sample(c);
  EXPECT_EQ(samplecount, 4);
  EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{40, 45, 50}));
  free(values);
  values = nullptr;

  set_bestof_maxsamples(4);
  script({50, 40, 60, 45});
  EXPECT_EQ(bestof(probe, 0), 40.0);
  EXPECT_EQ(runs(), 4);
}

TEST_F(Driver, CountEqualToTheLargestKeptIsDropped) {
  init_sampler();
  for (double c : {10.0, 20.0, 30.0, 30.0, 31.0})
    add_sample(c);
  EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{10, 20, 30}));
  add_sample(25);
  EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{10, 20, 25}));
  EXPECT_EQ(samplecount, 6) << "dropped counts are runs too";
  free(values);
  values = nullptr;
}

TEST_F(Driver, NegativeCountsAreKeptButNeverConverge) {
  init_sampler();
  for (double c : {-5.0, 3.0, -7.0})
    add_sample(c);
  EXPECT_EQ(std::vector<double>(values, values + 3), (std::vector<double>{-7, -5, 3}));
  free(values);
  values = nullptr;

  for (int i = 0; i < 20; i++)
    counts.push_back(-10);
  EXPECT_EQ(bestof(probe, 0), -10.0);
  EXPECT_EQ(runs(), 20) << "(1 + epsilon) * -10 lies below -10";
}

TEST_F(Driver, NegativeToleranceNeverConverges) {
  set_bestof_epsilon(-0.01);
  for (int i = 0; i < 20; i++)
    counts.push_back(100);
  EXPECT_EQ(bestof(probe, 0), 100.0);
  EXPECT_EQ(runs(), 20);
}

TEST_F(Driver, LimitBeforeKCountsReturnsTheSmallestTaken) {
  set_bestof_k(5);
  set_bestof_maxsamples(2);
  script({300, 200});
  EXPECT_EQ(bestof(probe, 0), 200.0) << "not one of the empty entries";
}

TEST_F(Driver, CompensationUsesTheCompensatedPairForTheWholeMeasurement) {
  set_bestof_compensate(1);
  script({-50, -50, -50});
  set_bestof_maxsamples(3);
  EXPECT_EQ(bestof(probe, 0), -50.0);
  EXPECT_EQ(trace, repeat("sFr", 3));
}

TEST_F(Driver, KBelowOneIsRefused) {
  set_bestof_k(0);
  set_bestof_k(-4);
  EXPECT_EQ(kbest, 3);
  script({10, 10, 10});
  EXPECT_EQ(bestof(probe, 0), 10.0);
  EXPECT_EQ(runs(), 3);
}

static void grows_k(int) { set_bestof_k(8); }

TEST_F(Driver, KSetDuringAMeasurementWaitsForTheNext) {
  script_spread(20, 100);
  EXPECT_EQ(bestof(grows_k, 0), 100.0);
  EXPECT_EQ(kbest, 8);
  script({5, 5, 5, 5, 5, 5, 5, 5});
  EXPECT_EQ(bestof(grows_k, 0), 5.0);
}

TEST_F(Driver, FlushRunsBeforeEachRunOutsideTheInterval) {
  set_bestof_clear_cache(1);
  set_bestof_cache_sizee(4096);
  script({10, 10, 10});
  bestof(probe, 0);
  EXPECT_EQ(trace, repeat("SFR", 3));
  EXPECT_EQ(sink_at_call, (std::vector<uint32_t>{reads_sum(128), reads_sum(256),
                                                 reads_sum(384)}));
}

using DriverDeathTest = Driver;

TEST_F(DriverDeathTest, FailedSampleAllocationEndsTheProcess) {
  fail_calloc = true;
  EXPECT_EXIT(bestof(probe, 0), ::testing::ExitedWithCode(1),
              "^Fatal error.  Calloc returned null when allocating the sample array\n$");
  fail_calloc = false;
}

static void nests(int) { bestof(probe, 0); }

TEST_F(DriverDeathTest, NestedMeasurementEndsTheProcess) {
  EXPECT_EXIT(bestof(nests, 0), ::testing::ExitedWithCode(1),
              "^Fatal error.  bestof called from inside a measurement\n$");
}

#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
TEST_F(DriverDeathTest, HugeKOnA32BitBuildEndsTheProcess) {
  set_bestof_k(INT_MAX);  // INT_MAX doubles exceed a 32-bit address space
  EXPECT_EXIT(bestof(probe, 0), ::testing::ExitedWithCode(1),
              "Calloc returned null");
}
#endif

// ---- The flush --------------------------------------------------------------

using Flush = Driver;

TEST_F(Flush, SameSizeKeepsTheBufferAnotherSizeFreesIt) {
  set_bestof_cache_sizee(8192);
  clear();
  uint32_t *first = cache_buf;
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(last_malloc_size, 8192u);

  set_bestof_cache_sizee(8192);
  set_bestof_cache_block(64);
  set_bestof_cache_block(8);
  clear();
  EXPECT_EQ(cache_buf, first) << "same size and stride changes keep the buffer";

  set_bestof_cache_sizee(4096);
  EXPECT_EQ(cache_buf, nullptr);
  EXPECT_EQ(last_freed, first);
  clear();
  EXPECT_NE(cache_buf, nullptr);
  EXPECT_EQ(last_malloc_size, 4096u);
}

TEST_F(Flush, NegativeSizeIsRefused) {
  set_bestof_cache_sizee(4096);
  clear();
  uint32_t *buf = cache_buf;
  set_bestof_cache_sizee(-1);
  EXPECT_EQ(cache_bytes, 4096u);
  EXPECT_EQ(cache_buf, buf);
}

TEST_F(Flush, StrideIsRoundedToWholeWords) {
  set_bestof_cache_sizee(1024);  // 256 words
  struct { int block; uint32_t reads; } cases[] = {
      {32, 32}, {33, 32}, {6, 256}, {4, 256}, {1024, 1}, {4096, 1},
      {0, 256}, {3, 256},  // below one word: one word, never a standstill
  };
  for (auto c : cases) {
    set_bestof_cache_block(c.block);
    uint32_t before = sink;
    clear();
    EXPECT_EQ(sink - before, reads_sum(c.reads)) << "block " << c.block;
  }
  set_bestof_cache_block(-8);
  EXPECT_EQ(cache_block, 4u) << "a negative stride is refused";
}

TEST_F(Flush, TrailingBytesAndTinySizesAreNotRead) {
  set_bestof_cache_block(4);
  set_bestof_cache_sizee(10);
  clear();
  EXPECT_EQ(sink, reads_sum(2)) << "the last two bytes are not read";

  set_bestof_cache_sizee(3);
  uint32_t before = sink;
  clear();
  EXPECT_EQ(sink, before);
  EXPECT_EQ(last_malloc_size, 3u) << "the buffer is still requested";
}

TEST_F(Flush, SinkWraps) {
  set_bestof_cache_sizee(8);
  set_bestof_cache_block(4);
  sink = 0xFFFFFFFFu;
  clear();
  EXPECT_EQ(sink, 0xFFFFFFFFu + reads_sum(2));
}

size_t resident_bytes() {
  FILE *f = fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f == nullptr)
    return 0;
  if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
    resident = 0;
  fclose(f);
  return (size_t)resident * (size_t)sysconf(_SC_PAGESIZE);
}

TEST_F(Flush, BufferIsResidentAndAResizeGivesItBack) {
  if (resident_bytes() == 0)
    GTEST_SKIP() << "no /proc/self/statm here";
  const size_t size = 64 << 20;
  set_bestof_cache_sizee((int)size);
  size_t before = resident_bytes();
  clear();
  size_t after = resident_bytes();
  EXPECT_GE(after, before + size * 9 / 10)
      << "a flush must read distinct resident memory, not the zero page";
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer holds freed memory in quarantine";
#else
  set_bestof_cache_sizee(4096);
  EXPECT_LE(resident_bytes(), after - size * 9 / 10);
#endif
}

using FlushDeathTest = Driver;

TEST_F(FlushDeathTest, FailedBufferAllocationEndsTheProcess) {
  fail_malloc = true;
  EXPECT_EXIT(clear(), ::testing::ExitedWithCode(1),
              "^Fatal error.  Malloc returned null when trying to clear cache\n$");
  fail_malloc = false;
}

}  // namespace
