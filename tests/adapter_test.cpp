// The C++ adapter against the scripted counter: it must run the very driver
// the C entry point runs, with its settings.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bestof.h"
#include "bestof.hpp"
#include "support/scripted.h"

static void c_probe(int) { scripted::note('F'); }

namespace {

class Adapter : public ::testing::Test {
 protected:
  void SetUp() override {
    set_bestof_defaults();
    scripted::reset();
  }
  void TearDown() override { EXPECT_EQ(scripted::left(), 0u) << "scripted counts left unread"; }
};

TEST_F(Adapter, CapturingLambdaRunsOncePerRunAndGivesTheDriversResult) {
  // The driver stops after five: 900, 903 and 905 agree.
  scripted::counts({900, 1200, 1000, 905, 903});
  double by_c = bestof(c_probe, 0);
  std::string c_trace = scripted::trace();

  scripted::reset();
  scripted::counts({900, 1200, 1000, 905, 903});
  int calls = 0;
  std::vector<int> seen;
  double by_cxx = cyclekit::bestof([&] {
    scripted::note('F');
    seen.push_back(++calls);
  });
  EXPECT_EQ(by_cxx, by_c);
  EXPECT_EQ(by_cxx, 900.0);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(scripted::trace(), c_trace);
  EXPECT_EQ(scripted::trace(), scripted::repeat("SFR", 5))
      << "only the callable between start and read";
}

TEST_F(Adapter, FollowsTheDriversSettings) {
  struct {
    int k, max;
    double eps;
    int batch, runs;
  } cases[] = {
      {1, 20, 0.01, 1, 1},  // one count agrees with itself
      {3, 7, -1.0, 1, 7},   // never converges: the run limit ends it
      {3, 0, 0.01, 1, 1},   // at least one run
      {4, 20, 0.5, 1, 4},   // four counts within 50%
      {3, 20, 0.01, 3, 3},  // three calls a run, the count divided by them
  };
  for (auto c : cases) {
    scripted::reset();
    set_bestof_k(c.k);
    set_bestof_maxsamples(c.max);
    set_bestof_epsilon(c.eps);
    set_bestof_batch(c.batch);
    for (int i = 0; i < c.runs; i++)
      scripted::add_count((100 + 0.5 * i) * c.batch);
    int calls = 0;
    auto probe = [&calls] { scripted::note('F'), calls++; };
    EXPECT_EQ(cyclekit::bestof(probe), 100.0) << "k " << c.k;
    EXPECT_EQ(calls, c.runs * c.batch) << "k " << c.k << ", limit " << c.max;
    EXPECT_EQ(scripted::trace_without_step(),
              scripted::repeat("S" + std::string((size_t)c.batch, 'F') + "R", c.runs));
  }
}

TEST_F(Adapter, CompensatedCounterAndFlushTakeTheirPlaces) {
  set_bestof_compensate(1);
  set_bestof_clear_cache(1);
  set_bestof_cache_sizee(4096);
  set_bestof_cache_block(4);
  scripted::counts({-40, -40, -40, -40});
  set_bestof_maxsamples(4);  // negative counts never converge
  double r = cyclekit::bestof([&] { scripted::note('F'); });
  EXPECT_EQ(r, -40.0);
  EXPECT_EQ(scripted::trace(), scripted::repeat("sFr", 4));
  set_bestof_clear_cache(0);
}

// A function object with state, counted across runs.
struct Tally {
  int calls = 0;
  std::vector<double> *log;
  void operator()() { log->push_back(++calls); }
};

struct ConstProbe {
  void operator()() const { scripted::note('F'); }
};

TEST_F(Adapter, FunctionObjectsAreUsedInPlace) {
  std::vector<double> log;
  Tally tally{0, &log};
  scripted::counts({10, 10, 10});
  EXPECT_EQ(cyclekit::bestof(tally), 10.0);
  EXPECT_EQ(tally.calls, 3) << "the caller's object ran, not a copy";

  scripted::counts({20, 20, 20});
  cyclekit::bestof(Tally{0, &log});  // a temporary lives through the measurement
  EXPECT_EQ(log, (std::vector<double>{1, 2, 3, 1, 2, 3}));

  const ConstProbe probe;
  scripted::reset();
  scripted::counts({30, 30, 30});
  EXPECT_EQ(cyclekit::bestof(probe), 30.0);
  EXPECT_EQ(scripted::trace(), scripted::repeat("SFR", 3));
}

TEST_F(Adapter, ResultIgnoredCallablesAreAccepted) {
  scripted::counts({5, 5, 5});
  int n = 0;
  EXPECT_EQ(cyclekit::bestof([&n] { return ++n; }), 5.0);
  EXPECT_EQ(n, 3);
}

// A plain function and a reference to one are no objects: each is measured
// through a pointer, and that very function runs.
int plain_runs = 0, other_runs = 0;
void plain() { plain_runs++; }
void other() { other_runs++; }

TEST_F(Adapter, PlainFunctionsAndReferencesRunThatFunction) {
  void (&ref)() = other;
  void (*pointer)() = plain;
  scripted::counts({10, 10, 10, 20, 20, 20, 30, 30, 30, 40, 40, 40});
  EXPECT_EQ(cyclekit::bestof(plain), 10.0);
  EXPECT_EQ(cyclekit::bestof(ref), 20.0);
  EXPECT_EQ(plain_runs, 3);
  EXPECT_EQ(other_runs, 3);
  EXPECT_EQ(cyclekit::bestof(pointer), 30.0);
  EXPECT_EQ(cyclekit::bestof(&other), 40.0);
  EXPECT_EQ(plain_runs, 6);
  EXPECT_EQ(other_runs, 6);
}

using AdapterDeathTest = Adapter;

TEST_F(AdapterDeathTest, AnEscapingExceptionEndsTheProgram) {
  scripted::counts({1});
  EXPECT_DEATH(cyclekit::bestof([] { throw 42; }), "");
  scripted::reset();
}

}  // namespace
