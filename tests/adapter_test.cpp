// The C++ adapter against a scripted counter.  The driver's source is
// compiled in, as in the driver's own test, so the adapter is seen to run
// the very driver the C entry point runs, with its settings.

#include <gtest/gtest.h>

#include <stdint.h>

#include <deque>
#include <string>
#include <vector>

#include "../measure/bestof.cpp"
#include "../measure/bestof.hpp"

namespace {
std::deque<double> counts;  // what successive reads return
std::string trace;          // S/R plain start/read, s/r compensated, F call
}  // namespace

extern "C" void start_counter(void) { trace += 'S'; }
extern "C" void start_comp_counter(void) { trace += 's'; }
static double next_count() {
  if (counts.empty())
    return 1e9;
  double c = counts.front();
  counts.pop_front();
  return c;
}
extern "C" double get_counter(void) { trace += 'R'; return next_count(); }
extern "C" double get_comp_counter(void) { trace += 'r'; return next_count(); }

static void c_probe(int) { trace += 'F'; }

namespace {

std::string repeat(const std::string &s, int n) {
  std::string r;
  for (int i = 0; i < n; i++)
    r += s;
  return r;
}

class Adapter : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_k(3);
    set_bestof_maxsamples(20);
    set_bestof_epsilon(0.01);
    set_bestof_compensate(0);
    set_bestof_clear_cache(0);
    counts.clear();
    trace.clear();
  }
  void TearDown() override {
    EXPECT_TRUE(counts.empty()) << counts.size() << " scripted counts left unread";
  }
};

TEST_F(Adapter, CapturingLambdaRunsOncePerRunAndGivesTheDriversResult) {
  const std::deque<double> script = {900, 1200, 1000, 905, 903, 950};
  counts = script;
  counts.pop_back();  // the driver stops after five: 900, 903 and 905 agree
  double by_c = bestof(c_probe, 0);
  std::string c_trace = trace;

  counts = script;
  counts.pop_back();
  trace.clear();
  int calls = 0;
  std::vector<int> seen;
  double by_cxx = cyclekit::bestof([&] {
    trace += 'F';
    seen.push_back(++calls);
  });
  EXPECT_EQ(by_cxx, by_c);
  EXPECT_EQ(by_cxx, 900.0);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(trace, c_trace);
  EXPECT_EQ(trace, repeat("SFR", 5)) << "only the callable between start and read";
}

TEST_F(Adapter, FollowsTheDriversSettings) {
  struct { int k, max; double eps; int runs; } cases[] = {
      {1, 20, 0.01, 1},   // one count agrees with itself
      {3, 7, -1.0, 7},    // never converges: the run limit ends it
      {3, 0, 0.01, 1},    // at least one run
      {4, 20, 0.5, 4},    // four counts within 50%
  };
  for (auto c : cases) {
    set_bestof_k(c.k);
    set_bestof_maxsamples(c.max);
    set_bestof_epsilon(c.eps);
    for (int i = 0; i < c.runs; i++)
      counts.push_back(100 + i);
    int calls = 0;
    EXPECT_EQ(cyclekit::bestof([&calls] { calls++; }), 100.0) << "k " << c.k;
    EXPECT_EQ(calls, c.runs) << "k " << c.k << ", limit " << c.max;
  }
}

TEST_F(Adapter, CompensatedCounterAndFlushTakeTheirPlaces) {
  set_bestof_compensate(1);
  set_bestof_clear_cache(1);
  set_bestof_cache_sizee(4096);
  set_bestof_cache_block(4);
  counts = {-40, -40, -40, -40};
  set_bestof_maxsamples(4);  // negative counts never converge
  std::vector<uint32_t> sink_at_call;
  double r = cyclekit::bestof([&] {
    trace += 'F';
    sink_at_call.push_back(sink);
  });
  EXPECT_EQ(r, -40.0);
  EXPECT_EQ(trace, repeat("sFr", 4));
  ASSERT_EQ(sink_at_call.size(), 4u);
  for (size_t i = 1; i < sink_at_call.size(); i++)
    EXPECT_EQ(sink_at_call[i] - sink_at_call[i - 1], 1024u * 0x01010101u)
        << "one whole flush before run " << i;
}

// A function object with state, counted across runs.
struct Tally {
  int calls = 0;
  std::vector<double> *log;
  void operator()() { log->push_back(++calls); }
};

struct ConstProbe {
  void operator()() const { trace += 'F'; }
};

TEST_F(Adapter, FunctionObjectsAreUsedInPlace) {
  std::vector<double> log;
  Tally tally{0, &log};
  counts = {10, 10, 10};
  EXPECT_EQ(cyclekit::bestof(tally), 10.0);
  EXPECT_EQ(tally.calls, 3) << "the caller's object ran, not a copy";

  counts = {20, 20, 20};
  cyclekit::bestof(Tally{0, &log});  // a temporary lives through the measurement
  EXPECT_EQ(log, (std::vector<double>{1, 2, 3, 1, 2, 3}));

  const ConstProbe probe;
  counts = {30, 30, 30};
  trace.clear();
  EXPECT_EQ(cyclekit::bestof(probe), 30.0);
  EXPECT_EQ(trace, repeat("SFR", 3));
}

TEST_F(Adapter, ResultIgnoredCallablesAreAccepted) {
  counts = {5, 5, 5};
  int n = 0;
  EXPECT_EQ(cyclekit::bestof([&n] { return ++n; }), 5.0);
  EXPECT_EQ(n, 3);
}

using AdapterDeathTest = Adapter;

TEST_F(AdapterDeathTest, AnEscapingExceptionEndsTheProgram) {
  counts = {1};
  EXPECT_DEATH(cyclekit::bestof([] { throw 42; }), "");
  counts.clear();
}

}  // namespace
