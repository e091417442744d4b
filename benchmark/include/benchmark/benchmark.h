// cyclekit's second front end: suites written for the usual C++
// micro-benchmark API build against this header unchanged and measure
// through cyclekit's K-best engine.  Only the include path and the link
// line change (CMake: cyclekit::benchmark; pkg-config: cyclekit-benchmark).
//
// What differs: every State loop is timed as one region of n iterations,
// n chosen so that a run spans enough counter ticks to be resolved and,
// but under --precise, at least 512 unless that lasts more than 15 ms.
// After a warm-up, the answer is the mean per-iteration time over about
// 5 ms of runs (or one), the time another task had the processor left out,
// so the CPU time reported is the same figure as the real time (with
// --precise: the least once the K least agree, in core cycles); counter
// ticks (or core cycles with --core-cycles) are reported beside it, and
// cyclekit's result lines (--json) carry the least of the same runs.  With
// Threads(n) the loop of thread 0 is the one timed, the others running
// beside it.
#ifndef CYCLEKIT_COMPAT_BENCHMARK_H
#define CYCLEKIT_COMPAT_BENCHMARK_H
// Suites build with their own warning flags (-Woverloaded-virtual on a
// fixture, -Wredundant-decls on BENCHMARK_MAIN) and -Werror, against a
// header that sits in /usr/include when the usual library is installed and
// so is never warned about.  The front end's folder is given with -I; this
// header asks for the same treatment.  Its own build leaves the warnings on.
#ifndef CYCLEKIT_BENCHMARK_OWN_BUILD
#pragma GCC system_header
#endif
// Code that tests for the usual guard finds it defined.
#define BENCHMARK_BENCHMARK_H_

// Suites lean on what this header brings in; it brings in the same.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <iterator>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "export.h"

// Suites test these to choose between spellings; C++11 and C++14 builds
// must not be told of C++17, nor get its attribute, which clang's
// -Wpedantic rejects there.
#define BENCHMARK_HAS_CXX11
#if __cplusplus >= 201703L
#define BENCHMARK_HAS_CXX17
#define BENCHMARK_UNUSED [[maybe_unused]]
#else
#define BENCHMARK_UNUSED __attribute__((unused))
#endif
#define BENCHMARK_ALWAYS_INLINE __attribute__((always_inline))
#define BENCHMARK_OVERRIDE override
#define BENCHMARK_BUILTIN_EXPECT(x, y) __builtin_expect(x, y)
#define BENCHMARK_DEPRECATED_MSG(msg) __attribute__((deprecated(msg)))
#define BENCHMARK_WARNING_MSG(msg) __attribute__((warning(msg)))
// Suites wrap their use of the older spellings (range_x(), CSVReporter) in
// these to keep -Werror builds quiet.
#define BENCHMARK_DISABLE_DEPRECATED_WARNING \
  _Pragma("GCC diagnostic push") _Pragma("GCC diagnostic ignored \"-Wdeprecated-declarations\"")
#define BENCHMARK_RESTORE_DEPRECATED_WARNING _Pragma("GCC diagnostic pop")
#define BENCHMARK_UNREACHABLE() __builtin_unreachable()
#define BENCHMARK_INTERNAL_TOSTRING2(x) #x
#define BENCHMARK_INTERNAL_TOSTRING(x) BENCHMARK_INTERNAL_TOSTRING2(x)
#if defined(__GNUC__) && !defined(__clang__)
#define BENCHMARK_GCC_VERSION (__GNUC__ * 100 + __GNUC_MINOR__)
#endif
#define BENCHMARK_DISALLOW_COPY_AND_ASSIGN(TypeName) \
  TypeName(const TypeName &) = delete;               \
  TypeName &operator=(const TypeName &) = delete

struct bestof_region;  // one timed run of cyclekit's measured region

namespace benchmark {

class BenchmarkReporter;
class State;

void PrintDefaultHelp();
void Initialize(int *argc, char **argv, void (*help)() = PrintDefaultHelp);
void Shutdown();
bool ReportUnrecognizedArguments(int argc, char **argv);
std::string GetBenchmarkFilter();
void SetBenchmarkFilter(std::string value);
int32_t GetBenchmarkVerbosity();
BenchmarkReporter *CreateDefaultDisplayReporter();

size_t RunSpecifiedBenchmarks();
size_t RunSpecifiedBenchmarks(std::string filter);
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display);
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display, std::string filter);
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display, BenchmarkReporter *file);
size_t RunSpecifiedBenchmarks(BenchmarkReporter *display, BenchmarkReporter *file,
                              std::string filter);

enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond, kSecond };
TimeUnit GetDefaultTimeUnit();
void SetDefaultTimeUnit(TimeUnit unit);

// Accepted so that suites build; there is no allocation hook here, which
// the run says once.
class MemoryManager {
 public:
  static const int64_t TombstoneValue;
  struct Result {
    int64_t num_allocs = 0;
    int64_t max_bytes_used = 0;
    int64_t total_allocated_bytes = TombstoneValue;
    int64_t net_heap_growth = TombstoneValue;
  };
  virtual ~MemoryManager() {}
  virtual void Start() = 0;
  virtual void Stop(Result *result) = 0;
  virtual void Stop(Result &result) { Stop(&result); }
};
void RegisterMemoryManager(MemoryManager *manager);
void AddCustomContext(const std::string &key, const std::string &value);

namespace internal {
class Benchmark;
Benchmark *RegisterBenchmarkInternal(Benchmark *b);
void UseCharPointer(char const volatile *p);
// The custom context (--benchmark_context, AddCustomContext): null until
// the first entry; a suite may set it to a map of its own.
std::map<std::string, std::string> *&GetGlobalContext();
int InitializeStreams();
}  // namespace internal

inline BENCHMARK_ALWAYS_INLINE void ClobberMemory() { __asm__ __volatile__("" : : : "memory"); }

#if defined(__clang__)
template <class T>
inline BENCHMARK_ALWAYS_INLINE void DoNotOptimize(T const &value) {
  __asm__ __volatile__("" : : "r,m"(value) : "memory");
}
template <class T>
inline BENCHMARK_ALWAYS_INLINE void DoNotOptimize(T &value) {
  __asm__ __volatile__("" : "+r,m"(value) : : "memory");
}
#else
// GCC given the choice of a register copies an operand that does not fit
// one, a whole array or struct each call, into the timed loop; such
// operands get the memory form alone.
namespace internal {
template <class T>
struct FitsRegister : std::integral_constant<bool, std::is_trivially_copyable<T>::value &&
                                                       sizeof(T) <= sizeof(void *)> {};
}  // namespace internal
template <class T>
inline BENCHMARK_ALWAYS_INLINE typename std::enable_if<internal::FitsRegister<T>::value>::type
DoNotOptimize(T const &value) {
  __asm__ __volatile__("" : : "r,m"(value) : "memory");
}
template <class T>
inline BENCHMARK_ALWAYS_INLINE typename std::enable_if<!internal::FitsRegister<T>::value>::type
DoNotOptimize(T const &value) {
  __asm__ __volatile__("" : : "m"(value) : "memory");
}
template <class T>
inline BENCHMARK_ALWAYS_INLINE typename std::enable_if<internal::FitsRegister<T>::value>::type
DoNotOptimize(T &value) {
  __asm__ __volatile__("" : "+m,r"(value) : : "memory");
}
template <class T>
inline BENCHMARK_ALWAYS_INLINE typename std::enable_if<!internal::FitsRegister<T>::value>::type
DoNotOptimize(T &value) {
  __asm__ __volatile__("" : "+m"(value) : : "memory");
}
#endif

class Counter {
 public:
  enum Flags {
    kDefaults = 0,
    kIsRate = 1,
    kAvgThreads = 2,
    kAvgThreadsRate = kIsRate | kAvgThreads,
    kIsIterationInvariant = 4,
    kIsIterationInvariantRate = kIsRate | kIsIterationInvariant,
    kAvgIterations = 8,
    kAvgIterationsRate = kIsRate | kAvgIterations,
    kInvert = 1 << 31
  };
  enum OneK { kIs1000 = 1000, kIs1024 = 1024 };
  double value;
  Flags flags;
  OneK oneK;
  Counter(double v = 0., Flags f = kDefaults, OneK k = kIs1000) : value(v), flags(f), oneK(k) {}
  operator double const &() const { return value; }
  operator double &() { return value; }
};
inline Counter::Flags operator|(const Counter::Flags &a, const Counter::Flags &b) {
  return static_cast<Counter::Flags>(static_cast<int>(a) | static_cast<int>(b));
}
typedef std::map<std::string, Counter> UserCounters;

enum BigO { oNone, o1, oN, oNSquared, oNCubed, oLogN, oNLogN, oAuto, oLambda };
typedef int64_t IterationCount;
enum StatisticUnit { kTime, kPercentage };
typedef double(BigOFunc)(IterationCount);
typedef double(StatisticsFunc)(const std::vector<double> &);

namespace internal {
struct Statistics {
  std::string name_;
  StatisticsFunc *compute_;
  StatisticUnit unit_;
  Statistics(const std::string &name, StatisticsFunc *compute, StatisticUnit unit = kTime)
      : name_(name), compute_(compute), unit_(unit) {}
};
enum AggregationReportMode : unsigned {
  ARM_Unspecified = 0,
  ARM_Default = 1,
  ARM_FileReportAggregatesOnly = 2,
  ARM_DisplayReportAggregatesOnly = 4,
  ARM_ReportAggregatesOnly = 6
};
typedef ::bestof_region Region;
struct Runner;
struct ThreadSync;  // the barrier of a benchmark's threads (benchmark/src/threads.cpp)
}  // namespace internal

// What a benchmark function gets: its arguments, the loop to time, and the
// figures it reports.  The loop's start and end delimit the timed region.
class State {
 public:
  struct StateIterator;
  StateIterator begin();
  StateIterator end();
  bool KeepRunning() { return KeepRunningBatch(1); }
  bool KeepRunningBatch(IterationCount n);
  void PauseTiming();
  void ResumeTiming();
  void SkipWithError(const char *msg);
  bool error_occurred() const { return error_occurred_; }
  void SetIterationTime(double seconds) { manual_seconds_ += seconds; }
  void SetBytesProcessed(int64_t bytes) {
    counters["bytes_per_second"] =
        Counter(static_cast<double>(bytes), Counter::kIsRate, Counter::kIs1024);
  }
  int64_t bytes_processed() const { return counter_or_zero("bytes_per_second"); }
  void SetItemsProcessed(int64_t items) {
    counters["items_per_second"] = Counter(static_cast<double>(items), Counter::kIsRate);
  }
  int64_t items_processed() const { return counter_or_zero("items_per_second"); }
  void SetComplexityN(int64_t n) { complexity_n_ = n; }
  int64_t complexity_length_n() const { return complexity_n_; }
  void SetLabel(const char *label) { label_ = label; }
  void SetLabel(const std::string &label) { label_ = label; }
  int64_t range(std::size_t pos = 0) const { return pos < range_.size() ? range_[pos] : 0; }
  int64_t range_x() const { return range(0); }
  int64_t range_y() const { return range(1); }
  int threads() const { return threads_; }
  int thread_index() const { return thread_index_; }
  IterationCount iterations() const { return started_ ? done_ : 0; }

  const IterationCount max_iterations;
  UserCounters counters;

 private:
  friend struct internal::Runner;
  State(IterationCount n, const std::vector<int64_t> &ranges, internal::Region *region,
        int thread_index = 0, int threads = 1, internal::ThreadSync *sync = nullptr);
  void StartKeepRunning();
  void FinishKeepRunning();
  int64_t counter_or_zero(const char *name) const;

  internal::Region *region_;  // thread 0's alone: the others are not timed
  internal::ThreadSync *sync_;
  int thread_index_;
  int threads_;
  std::vector<int64_t> range_;
  std::string label_;
  std::string error_;
  IterationCount left_;
  IterationCount done_ = 0;
  int64_t complexity_n_ = 0;
  double manual_seconds_ = 0;
  bool started_ = false;
  bool finished_ = false;
  bool error_occurred_ = false;
};

struct State::StateIterator {
  struct __attribute__((unused)) Value {};
  typedef std::forward_iterator_tag iterator_category;
  typedef Value value_type;
  typedef Value reference;
  typedef Value pointer;
  typedef std::ptrdiff_t difference_type;
  StateIterator() : left_(0), state_(nullptr) {}
  explicit StateIterator(State *s) : left_(s->error_occurred_ ? 0 : s->max_iterations), state_(s) {}
  Value operator*() const { return Value(); }
  StateIterator &operator++() {
    --left_;
    return *this;
  }
  bool operator!=(StateIterator const &) const {
    if (__builtin_expect(left_ != 0, 1))
      return true;
    state_->FinishKeepRunning();
    return false;
  }

 private:
  IterationCount left_;
  State *state_;
};
inline State::StateIterator State::begin() { return StateIterator(this); }
inline State::StateIterator State::end() {
  StartKeepRunning();
  return StateIterator();
}

std::vector<int64_t> CreateRange(int64_t lo, int64_t hi, int multi);
std::vector<int64_t> CreateDenseRange(int64_t start, int64_t limit, int step);
const char *GetTimeUnitString(TimeUnit unit);
double GetTimeUnitMultiplier(TimeUnit unit);

}  // namespace benchmark

#include "benchmark_family.h"
#include "benchmark_macros.h"
#include "benchmark_reporter.h"

#endif  // CYCLEKIT_COMPAT_BENCHMARK_H
