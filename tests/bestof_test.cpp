// The K-best driver and the cache flush through their public functions,
// against the scripted counter.  Allocation goes through -Wl,--wrap=malloc,
// --wrap=calloc,--wrap=free, which lets a test fail it, count it, answer
// malloc(0) with null, and hand the flush a buffer whose reads can be counted
// page by page; bestof_llc_bytes through --wrap too, for the flush's size.

#include "bestof.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <math.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "compare.h"
#include "support/scripted.h"

// ---- Allocation seam ----------------------------------------------------------

namespace {
bool fail_malloc = false, fail_calloc = false;
// Set: malloc(0) answers null, as POSIX allows a C library to.
bool null_for_zero = false;
int zero_answers = 0;
int mallocs = 0, frees = 0;
size_t last_malloc_size = 0;
// When set, the next malloc gets a page-aligned mapping of its own.
bool map_next = false;
void *mapped = nullptr;
size_t mapped_size = 0;
}  // namespace

extern "C" void *__real_malloc(size_t);
extern "C" void *__real_calloc(size_t, size_t);
extern "C" void __real_free(void *);

extern "C" void *__wrap_malloc(size_t n) {
  mallocs++;
  last_malloc_size = n;
  if (fail_malloc)
    return nullptr;
  if (n == 0 && null_for_zero) {
    zero_answers++;
    return nullptr;
  }
  if (map_next) {
    map_next = false;
    mapped_size = n;
    mapped = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return mapped == MAP_FAILED ? nullptr : mapped;
  }
  return __real_malloc(n);
}
extern "C" void *__wrap_calloc(size_t n, size_t size) {
  return fail_calloc ? nullptr : __real_calloc(n, size);
}
extern "C" void __wrap_free(void *p) {
  if (p == nullptr)
    return;
  frees++;
  if (p == mapped) {
    munmap(mapped, mapped_size);
    mapped = nullptr;
    return;
  }
  __real_free(p);
}

// ---- Counting the flush's reads ---------------------------------------------------
//
// The mapped buffer is made unreadable; the first touch of each page faults,
// the handler counts it and opens that page.  With a stride of a page or
// more every read lands on a page of its own, so pages touched = reads.

namespace {
long page_size() { return sysconf(_SC_PAGESIZE); }
volatile sig_atomic_t faults = 0;

void on_fault(int, siginfo_t *info, void *) {
  char *a = (char *)info->si_addr, *base = (char *)mapped;
  if (mapped == nullptr || a < base || a >= base + mapped_size) {
    signal(SIGSEGV, SIG_DFL);
    return;
  }
  faults = faults + 1;
  char *page = base + (a - base) / page_size() * page_size();
  mprotect(page, page_size(), PROT_READ | PROT_WRITE);
}

void arm() {
  struct sigaction sa = {};
  sa.sa_sigaction = on_fault;
  sa.sa_flags = SA_SIGINFO;
  sigaction(SIGSEGV, &sa, nullptr);
  mprotect(mapped, mapped_size, PROT_NONE);
  faults = 0;
}
}  // namespace

// ---- Test functions ------------------------------------------------------------

namespace {
std::vector<int> args;

void probe(int arg) {
  scripted::note('F');
  args.push_back(arg);
}

// Settings back to their defaults, the flush buffer given back.
// A size of 0 first, so the flush buffer is freed even at the default size.
void defaults() {
  set_bestof_cache_sizee(0);
  set_bestof_defaults();
}

class Driver : public ::testing::Test {
 protected:
  void SetUp() override {
    defaults();
    scripted::reset();
    args.clear();
    fail_malloc = fail_calloc = map_next = null_for_zero = false;
    mallocs = frees = 0;
  }
  void TearDown() override {
    EXPECT_EQ(scripted::left(), 0u) << "scripted counts left unread";
    defaults();
  }
  int runs() const { return (int)args.size(); }
};

// n counts of v; n counts that never come within 1% of each other.
std::vector<double> times(int n, double v) { return std::vector<double>((size_t)n, v); }
std::vector<double> apart(int n, double first) {
  std::vector<double> r;
  for (int i = 0; i < n; i++)
    r.push_back(first * (1 + 0.05 * i));
  return r;
}

// A column of counts in a table of cases.
std::vector<double> list(std::initializer_list<double> v) { return v; }

std::vector<double> operator+(std::vector<double> a, const std::vector<double> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(Driver, KeepsTheKLeastAndStopsWhenTheyAgreeOrAtTheLimit) {
  std::vector<double> one_stray = times(20, -10);
  one_stray[7] = -12;
  const struct {
    const char *name;
    int k, maxsamples;
    double tolerance, result;
    int runs;
    std::vector<double> counts;
  } cases[] = {
      {"the defaults stop as soon as the three least agree", 3, 20, 0.01, 1000, 5,
       list({1000, 2000, 1500, 1009, 1004})},
      {"twenty runs when no three agree", 3, 20, 0.01, 1000, 20, apart(20, 1000)},
      {"a limit of 1", 3, 1, 0.01, 321, 1, {321}},
      {"at least one run, whatever the limit", 3, 0, 0.01, 321, 1, {321}},
      {"at least one run, a negative limit", 3, -5, 0.01, 321, 1, {321}},
      {"K of one stops after the first run", 1, 20, 0.01, 777, 1, {777}},
      {"a tolerance of 0 asks for equal counts", 3, 20, 0, 500, 4, {500, 600, 500, 500}},
      {"a tolerance of 0, no equal counts", 3, 20, 0, 500, 20,
       times(1, 500) + times(1, 501) + apart(18, 502)},
      // 0.03 is stored a little below 0.03, but 1 + 0.03 rounds up to the
      // double nearest 1.03, so 103 lies within the tolerance of 100.  Kept in
      // the x87 unit's wider registers the sum and product would fall short.
      {"the tolerance worked out in double precision", 3, 20, 0.03, 100, 3, {100, 103, 103}},
      // Converges only once 40, 40.2 and 40.3 are the three smallest; a count
      // kept out of place or a larger one kept instead would stop it elsewhere.
      {"the K least in order", 3, 20, 0.01, 40, 7, {50, 40, 60, 45, 40.3, 70, 40.2}},
      {"one equal to the largest kept: dropped, a run", 3, 20, 0.01, 10, 6,
       list({10, 20, 30, 30, 10.05, 10.09})},
      {"negative counts are kept, (1 + tolerance) x -10 lies below -10", 3, 20, 0.01, -12, 20,
       one_stray},
      {"a negative tolerance never converges", 3, 20, -0.01, 100, 20, times(20, 100)},
      {"fewer than K runs: the least taken, not 0", 5, 2, 0.01, 200, 2, {300, 200}},
  };
  // Each case passes another argument, which every call must get unchanged.
  const int arg[] = {7, INT_MIN, -1, 0, 123456, INT_MAX};
  for (size_t i = 0; i < sizeof cases / sizeof cases[0]; i++) {
    const auto &c = cases[i];
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_k(c.k);
    set_bestof_maxsamples(c.maxsamples);
    set_bestof_epsilon(c.tolerance);
    scripted::counts(c.counts);
    EXPECT_EQ(bestof(probe, arg[i % 6]), c.result);
    EXPECT_EQ(args, std::vector<int>((size_t)c.runs, arg[i % 6]));
    EXPECT_EQ(scripted::trace(), scripted::repeat("SFR", c.runs))
        << "start, function, read, in that order";
    EXPECT_EQ(scripted::left(), 0u);
  }
}

// Every setting the driver reads during a measurement, changed by the test
// function at its first run: the measurement goes on with what it started
// with, the next one has the new values.
int changer_runs = 0;
void changes_settings(int) {
  if (changer_runs++ == 0) {
    set_bestof_k(8);
    set_bestof_maxsamples(2);
    set_bestof_epsilon(0.5);
    set_bestof_clear_cache(1);
    set_bestof_compensate(1);
  }
}

TEST_F(Driver, SettingsChangedByTheTestFunctionWaitForTheNextMeasurement) {
  changer_runs = 0;
  set_bestof_cache_sizee(64);
  scripted::counts(apart(20, 100));  // never within 1%, always within 50%
  EXPECT_EQ(bestof(changes_settings, 0), 100.0);
  EXPECT_EQ(changer_runs, 20) << "the run limit and the tolerance in force at the start";
  EXPECT_EQ(mallocs, 0) << "the flush stays off until the measurement ends";
  EXPECT_EQ(scripted::trace(), scripted::repeat("SR", 20)) << "the plain pair, chosen at the start";
  bestof_report r;
  bestof_last(&r);
  EXPECT_EQ(r.k, 3);

  scripted::reset();
  scripted::counts({100, 160});
  EXPECT_EQ(bestof(changes_settings, 0), 100.0);
  EXPECT_EQ(changer_runs, 22) << "two runs, the new limit";
  bestof_last(&r);
  EXPECT_EQ(r.k, 8);
  EXPECT_EQ(mallocs, 1) << "flushed now";
  EXPECT_EQ(scripted::trace(), scripted::repeat("sr", 2)) << "compensated now";
}

// A new flush size set by the test function: the buffer the measurement
// flushes with stays until it ends, then goes; the next one has the size.
int frees_seen_inside = -1;
void resizes_flush(int) {
  if (frees_seen_inside < 0) {
    set_bestof_cache_sizee(16384);
    frees_seen_inside = 0;
  } else {
    frees_seen_inside = frees;
  }
}

TEST_F(Driver, FlushSizeSetByTheTestFunctionKeepsTheBufferToTheEnd) {
  set_bestof_cache_sizee(8192);
  set_bestof_clear_cache(1);
  set_bestof_maxsamples(3);
  set_bestof_epsilon(-1);
  map_next = true;  // a mapping of its own: a read after its free would fault
  scripted::counts({10, 10, 10});
  frees_seen_inside = -1;
  frees = 0;
  bestof(resizes_flush, 0);
  EXPECT_EQ(frees_seen_inside, 0) << "nothing freed while the measurement ran";
  EXPECT_EQ(mallocs, 1);
  EXPECT_EQ(last_malloc_size, 8192u) << "the size in force at the start";
  EXPECT_EQ(frees, 2) << "the array and then the stale buffer, at the end";

  scripted::counts({10, 10, 10});
  bestof(probe, 0);
  EXPECT_EQ(mallocs, 2);
  EXPECT_EQ(last_malloc_size, 16384u);
}

using DriverDeathTest = Driver;

TEST_F(DriverDeathTest, FailedSampleAllocationEndsTheProcess) {
  fail_calloc = true;
  EXPECT_EXIT(bestof(probe, 0), ::testing::ExitedWithCode(1),
              "^Fatal error.  Calloc returned null when allocating the sample array\n$");
  fail_calloc = false;
}

#if defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4
TEST_F(DriverDeathTest, HugeKOnA32BitBuildEndsTheProcess) {
  set_bestof_k(INT_MAX);  // INT_MAX doubles exceed a 32-bit address space
  EXPECT_EXIT(bestof(probe, 0), ::testing::ExitedWithCode(1), "Calloc returned null");
}
#endif

// ---- The flush ----------------------------------------------------------------

using Flush = Driver;

// Runs a measurement of `runs` runs with the flush on.
void flushed_runs(int runs) {
  set_bestof_clear_cache(1);
  set_bestof_maxsamples(runs);
  set_bestof_epsilon(-1);
  for (int i = 0; i < runs; i++)
    scripted::add_count(10);
  bestof(probe, 0);
}

TEST_F(Flush, OneBufferOfTheSizeUntilTheSizeChanges) {
  set_bestof_cache_sizee(8192);
  flushed_runs(3);
  EXPECT_EQ(mallocs, 1);
  EXPECT_EQ(last_malloc_size, 8192u);
  EXPECT_EQ(scripted::trace(), scripted::repeat("SFR", 3)) << "the flush lies outside the interval";

  int frees_before = frees;
  set_bestof_cache_sizee(8192);
  set_bestof_cache_block(64);
  flushed_runs(2);
  EXPECT_EQ(frees, frees_before + 1) << "the same size frees nothing (only the sample array)";
  EXPECT_EQ(mallocs, 1);

  set_bestof_cache_sizee(4096);
  EXPECT_EQ(frees, frees_before + 2) << "another size gives the buffer back";
  flushed_runs(1);
  EXPECT_EQ(mallocs, 2);
  EXPECT_EQ(last_malloc_size, 4096u);

  set_bestof_cache_sizee(3);  // too small for a word, but still requested
  flushed_runs(1);
  EXPECT_EQ(last_malloc_size, 3u);
}

class FlushReads : public Flush {
 protected:
  void SetUp() override {
    Flush::SetUp();
    if (RUNNING_ON_SANITIZER)
      GTEST_SKIP() << "the sanitizers keep the fault signal for themselves";
  }
  // Reads the second flush makes in a buffer of `pages` pages read every
  // `block` bytes (the first flush also writes the buffer).
  long reads(int pages, int block) {
    set_bestof_cache_sizee(0);
    set_bestof_cache_sizee(pages * (int)page_size());
    set_bestof_cache_block(block);
    map_next = true;
    set_bestof_clear_cache(1);
    set_bestof_maxsamples(2);
    set_bestof_epsilon(-1);
    scripted::counts({10, 10});
    static int run;
    run = 0;
    long counted = -1;
    static long *out;
    out = &counted;
    auto arm_after_first = [](int) {
      if (run++ == 0)
        arm();
      else
        *out = faults;
    };
    bestof(arm_after_first, 0);
    return counted;
  }
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool RUNNING_ON_SANITIZER = true;
#else
  static constexpr bool RUNNING_ON_SANITIZER = false;
#endif
};

TEST_F(FlushReads, OneReadEveryBlockRoundedToWholeWords) {
  const int page = (int)page_size();
  EXPECT_EQ(reads(16, page), 16);
  EXPECT_EQ(reads(16, 2 * page), 8);
  EXPECT_EQ(reads(16, 2 * page + 3), 8) << "rounded down to whole words";
  EXPECT_EQ(reads(16, 16 * page), 1);
  EXPECT_EQ(reads(16, 64 * page), 1) << "a block beyond the buffer reads its first word";
  // A block below one word reads every word.
  alarm(20);  // a stride of zero never ends
  for (int block : {0, 3, 4})
    EXPECT_EQ(reads(4, block), 4) << "block " << block;
  alarm(0);
}

// Reads since the last arm, noted at each call of the function.
std::vector<long> flushes_seen;
void note_reads_and_arm(int) {
  flushes_seen.push_back(faults);
  arm();
}

std::vector<long> repeated(const std::vector<long> &v, int n) {
  std::vector<long> r;
  for (int i = 0; i < n; i++)
    r.insert(r.end(), v.begin(), v.end());
  return r;
}

TEST_F(FlushReads, EveryRunIsFlushedAndNoCallWithinOne) {
  // Four pages read a page apart, the buffer made by a first measurement: a
  // flush makes four reads.  Each call of the function notes the reads since
  // the call before; the reads after its last call are those of the runs
  // after it.
  const struct {
    const char *name;
    int batch, net, precise;
    std::vector<double> counts;
    std::vector<long> seen;
    long after;
  } cases[] = {
      // A pair cost of 0 and a step of 1 tick ask for runs of 100 ticks:
      // probes of 1 and 2 calls, then two runs of 2 calls.
      {"the automatic batch's probes",
       0,
       0,
       0,
       {0, 0, 0, 10, 100, 200, 200},
       {4, 4, 0, 4, 0, 4, 0},
       0},
      // Two empty runs, two of the function, two empty ones.
      {"net counts' empty runs", 1, 1, 0, {5, 5, 100, 100, 5, 5}, {4, 4}, 4},
      // Runs of two calls (no reference chain), 50 runs of each stage.
      {"precise mode's runs", 2, 0, 1,
       std::vector<double>(50, 600) + std::vector<double>(50, 1600) + std::vector<double>(50, 600),
       repeated({4, 0}, 50), 4},
  };
  const int page = (int)page_size();
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    set_bestof_cache_sizee(4 * page);
    set_bestof_cache_block(page);
    map_next = true;
    flushed_runs(1);
    set_bestof_maxsamples(2);
    set_bestof_batch(c.batch);
    set_bestof_net(c.net);
    set_bestof_precise(c.precise);
    if (c.precise)
      scripted::core_figures({1, 1});
    scripted::counts(c.counts);
    flushes_seen.clear();
    arm();
    bestof(note_reads_and_arm, 0);
    EXPECT_EQ(flushes_seen, c.seen);
    EXPECT_EQ(faults, c.after);
    EXPECT_EQ(scripted::left(), 0u);
  }
}

size_t resident_bytes() {
  FILE *f = fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f == nullptr)
    return 0;
  if (fscanf(f, "%ld %ld", &pages, &resident) != 2)
    resident = 0;
  fclose(f);
  return (size_t)resident * (size_t)page_size();
}

TEST_F(Flush, BufferIsResidentAndAResizeGivesItBack) {
  if (resident_bytes() == 0)
    GTEST_SKIP() << "no /proc/self/statm here";
  const size_t size = 64 << 20;
  set_bestof_cache_sizee((int)size);
  size_t before = resident_bytes();
  flushed_runs(1);
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

// Below one word the flush reads nothing and needs no buffer: a null
// answer to malloc(0) is no failure.  From one word on it is.
TEST_F(Flush, BelowOneWordANullBufferIsNoFailure) {
  null_for_zero = true;
  for (int bytes : {0, 3, 1, 0}) {
    set_bestof_cache_sizee(bytes);
    flushed_runs(2);
  }
  EXPECT_EQ(runs(), 8);
  EXPECT_GE(zero_answers, 2) << "the sizes of 0 bytes met a null answer";
}

TEST_F(FlushDeathTest, FailedBufferAllocationEndsTheProcess) {
  fail_malloc = true;
  set_bestof_cache_sizee(4);
  set_bestof_clear_cache(1);
  EXPECT_EXIT(bestof(probe, 0), ::testing::ExitedWithCode(1),
              "^Fatal error.  Malloc returned null when trying to clear cache\n$");
  fail_malloc = false;
}

// The flush's size from the last-level cache's (bestof_llc_bytes is
// replaced at link time): twice the cache, the largest int where that
// overflows (it would read as a negative size, which set_bestof_cache_sizee
// refuses), and a fixed 64 MiB where the cache's size is unknown.
int llc = 0;
}  // namespace
extern "C" int __wrap_bestof_llc_bytes(void) { return llc; }
namespace {

TEST(FlushSize, TwiceTheLastLevelCacheUpToTheLargestInt) {
  const int cases[][2] = {{48 << 10, 96 << 10},
                          {32 << 20, 64 << 20},
                          {1, 2},
                          {INT_MAX / 2, INT_MAX - 1},  // the largest cache that doubles exactly
                          {3 << 29, INT_MAX},
                          {INT_MAX / 2 + 1, INT_MAX},
                          {INT_MAX, INT_MAX},
                          {0, 64 << 20},
                          {-1, 64 << 20},
                          {INT_MIN, 64 << 20}};
  for (const auto &c : cases) {
    llc = c[0];
    EXPECT_EQ(bestof_flush_bytes(), c[1]) << "a cache of " << c[0];
  }
  EXPECT_EQ(BESTOF_FLUSH_FALLBACK_BYTES, 64 << 20);
}

// ---- All settings as one value -------------------------------------------------

bool same(const bestof_settings &a, const bestof_settings &b) {
  return a.k == b.k && a.maxsamples == b.maxsamples && a.epsilon == b.epsilon &&
         a.compensate == b.compensate && a.clear_cache == b.clear_cache &&
         a.cache_size == b.cache_size && a.cache_block == b.cache_block && a.fence == b.fence &&
         a.core_cycles == b.core_cycles && a.batch == b.batch && a.verbose == b.verbose &&
         a.json == b.json && a.net == b.net && a.precise == b.precise &&
         a.compare_pairs == b.compare_pairs && a.compare_margin == b.compare_margin &&
         a.cpe_sizes == b.cpe_sizes;
}

// Every field away from its default.
const bestof_settings changed = {5, 7, 0.25, 1, 1, 4096, 64, 1, 1, 0, 1, 1, 1, 1, 9, 0.5, 5, 0};
const bestof_settings documented = {3, 20, 0.01, 0, 0, 524288, 32, 0, 0,
                                    1, 0,  0,    0, 0, 21,     0,  8, 1};

TEST_F(Driver, SettingsStartAtTheDocumentedDefaults) {
  bestof_settings got;
  get_bestof_settings(&got);
  EXPECT_TRUE(same(got, documented));
}

TEST_F(Driver, SettingsOutsideTheirRangeAreRefused) {
  // Each setter alone: the settings stay as they were.
  set_bestof_settings(&changed);
  set_bestof_k(0);
  set_bestof_k(-4);
  set_bestof_epsilon(NAN);
  set_bestof_epsilon(INFINITY);
  set_bestof_epsilon(-INFINITY);
  set_bestof_cache_sizee(-1);
  set_bestof_cache_block(-4);
  set_bestof_batch(-1);
  set_bestof_compare_pairs(5);
  set_bestof_compare_pairs(1001);
  set_bestof_compare_margin(-0.5);
  set_bestof_cpe_sizes(2);
  set_bestof_cpe_sizes(10001);
  bestof_settings got;
  get_bestof_settings(&got);
  EXPECT_TRUE(same(got, changed));
  // All at once: the fields in range are taken, the others stay.
  bestof_settings bad = documented, want = documented;
  bad.k = 0, bad.epsilon = NAN, bad.cache_size = -1, bad.cache_block = -4, bad.batch = -1;
  bad.compare_pairs = 1001, bad.compare_margin = -0.5, bad.cpe_sizes = 2;
  want.k = 5, want.epsilon = 0.25, want.cache_size = 4096, want.cache_block = 64, want.batch = 0;
  want.compare_pairs = 9, want.compare_margin = 0.5, want.cpe_sizes = 5;
  set_bestof_settings(&bad);
  get_bestof_settings(&got);
  EXPECT_TRUE(same(got, want));
  // A block below one word is taken as one word, either way.
  set_bestof_cache_block(2);
  get_bestof_settings(&got);
  EXPECT_EQ(got.cache_block, 4);
  bad = got;
  bad.cache_block = 3;
  set_bestof_settings(&bad);
  get_bestof_settings(&got);
  EXPECT_EQ(got.cache_block, 4);
}

TEST_F(Driver, SettingsSavedAndRestoredMeasureAlike) {
  // Net counts alone, saved, the defaults set, restored: net counts again,
  // and precise mode still off.
  set_bestof_net(1);
  set_bestof_maxsamples(1);
  bestof_settings saved, got;
  get_bestof_settings(&saved);
  set_bestof_defaults();
  get_bestof_settings(&got);
  EXPECT_TRUE(same(got, documented));
  set_bestof_settings(&saved);
  set_bestof_settings(nullptr);
  scripted::counts({40, 500, 40});
  EXPECT_EQ(bestof(probe, 0), 460.0);
  EXPECT_EQ(scripted::trace_without_step(), "SRSFRSR")
      << "the empty runs, the function's, the empty runs";
}

}  // namespace
