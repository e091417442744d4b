// Running one instance: its function called inside the measured region,
// once per timed run, and each repetition's answer made into a Run.
#include <cyclekit/figures.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "adapter.h"
#include "internal.h"

namespace benchmark {
namespace internal {

// One repetition of one instance, as the region's runs see it.
struct Runner {
  const Instance *instance;
  std::unique_ptr<State> last;
  double manual_least = INFINITY;
  bool error = false;
  std::string message;

  static void region_fn(Region *r, void *arg) { static_cast<Runner *>(arg)->run(r); }

  // After an error the function is not called again: the remaining runs
  // only open and close the region.
  void run(Region *r) {
    if (error) {
      region_start(r);
      region_stop(r);
      return;
    }
    long n = region_iterations(r);
    Benchmark *family = instance->family;
    int threads = instance->threads;
    ThreadSync *sync = threads > 1 ? new_thread_sync(threads) : nullptr;
    std::vector<std::unique_ptr<State>> states;
    for (int t = 0; t < threads; ++t)
      states.emplace_back(new State(n, instance->args, t == 0 ? r : nullptr, t, threads, sync));
    if (family->setup_)
      family->setup_(*states[0]);
    bool ran = run_threads(threads, [&](int t) { run_one(*states[size_t(t)]); });
    if (family->teardown_)
      family->teardown_(*states[0]);
    delete_thread_sync(sync);
    if (!ran) {
      region_start(r);
      region_stop(r);
      error = true;
      message = "could not start " + std::to_string(threads) + " threads";
      return;
    }
    note(states);
  }

  // A loop never started or left by a break is closed here, so every
  // thread arrives at both barriers and thread 0's region is closed.
  void run_one(State &st) const {
    instance->family->Run(st);
    bool ran = st.started_;
    st.StartKeepRunning();
    st.FinishKeepRunning();
    if (!ran && !st.error_occurred_)
      st.SkipWithError("the benchmark function returned without running its loop");
  }

  // The first error of any thread; the counters summed over the threads.
  void note(std::vector<std::unique_ptr<State>> &states) {
    State &st = *states[0];
    for (auto &other : states) {
      if (other->error_occurred_ && !error) {
        error = true;
        message = other->error_;
      }
      if (other.get() != &st)
        for (auto &c : other->counters) {
          auto it = st.counters.find(c.first);
          if (it == st.counters.end())
            st.counters.insert(c);
          else
            it->second.value += c.second.value;
        }
    }
    if (st.done_ > 0)
      manual_least = std::min(manual_least, st.manual_seconds_ / static_cast<double>(st.done_));
    last = std::move(states[0]);
  }

  void fill(BenchmarkReporter::Run &run, const Answer &a) const;
};

namespace {

const int kMaxThreads = 1024;

BenchmarkReporter::Run base_run(const Instance &in, int repetitions) {
  BenchmarkReporter::Run run;
  run.run_name = in.name;
  run.family_index = in.family_index;
  run.per_family_instance_index = in.instance_index;
  run.threads = in.threads;
  run.repetitions = repetitions;
  run.time_unit = in.family->GetTimeUnit();
  run.complexity = in.family->complexity_;
  run.complexity_lambda = in.family->complexity_lambda_;
  run.statistics = &in.family->statistics_;
  return run;
}

MeasureSettings measure_settings(const Instance &in) {
  MeasureSettings s;
  double own = in.family->min_warmup_time_;
  s.warmup_seconds = own > 0 ? own : options().min_warmup_time;
  s.precise = options().precise;
  s.core_cycles = options().core_cycles;
  s.flush = options().flush;
  return s;
}

}  // namespace

// KeepRunningBatch(b) runs whole batches, past n when b does not divide it
// (Iterations(10) with batches of 7 runs 14); the region timed them all,
// so the engine's per-iteration figure is scaled to the iterations run.
static double overshoot(const State &st, long n) {
  bool past = st.max_iterations == n && st.iterations() > n && n > 0;
  return past ? static_cast<double>(st.iterations()) / static_cast<double>(n) : 1.0;
}

void Runner::fill(BenchmarkReporter::Run &run, const Answer &a) const {
  const State &st = *last;
  double over = overshoot(st, a.iterations);
  double n = static_cast<double>(a.iterations) * over;
  double seconds =
      cyclekit_ns_to_unit(cyclekit_ticks_to_ns(a.ticks, ticks_per_ns()), CYCLEKIT_S) / over;
  if (instance->family->use_manual_time_ && std::isfinite(manual_least))
    seconds = manual_least;
  run.iterations = static_cast<IterationCount>(std::llround(n));
  run.iterations_chosen = instance->family->iterations_ == 0;
  run.real_accumulated_time = seconds * n;
  run.cpu_accumulated_time = seconds * n;
  run.cycles_per_iteration = a.cycles / over;
  run.least_cycles_per_iteration = a.least_cycles / over;
  run.core_cycles = options().core_cycles || options().precise;
  run.converged = a.converged;
  run.resolved = a.resolved;
  run.uncertainty = a.uncertainty / over;
  run.report_label = st.label_;
  // What was timed, said where the user's label goes.
  if (st.threads_ > 1)
    run.report_label = "timed: thread 0 of " + std::to_string(st.threads_) + ", started together" +
                       (st.label_.empty() ? "" : "; " + st.label_);
  run.complexity_n = st.complexity_n_;
  for (auto &c : st.counters)
    run.counters[c.first] = Counter(counter_figure(c.second, n, seconds * n, st.threads_),
                                    c.second.flags, c.second.oneK);
}

// The engine's counter flags are the API's bits.
static_assert(unsigned(Counter::kIsRate) == CYCLEKIT_COUNTER_RATE, "rate bit");
static_assert(unsigned(Counter::kAvgThreads) == CYCLEKIT_COUNTER_AVG_THREADS, "threads bit");
static_assert(unsigned(Counter::kIsIterationInvariant) == CYCLEKIT_COUNTER_ITERATION_INVARIANT,
              "invariant bit");
static_assert(unsigned(Counter::kAvgIterations) == CYCLEKIT_COUNTER_AVG_ITERATIONS,
              "iterations bit");
static_assert(unsigned(Counter::kInvert) == CYCLEKIT_COUNTER_INVERT, "invert bit");

double counter_figure(const Counter &c, double iterations, double seconds, int threads) {
  return cyclekit_counter_figure(c.value, iterations, seconds, threads, unsigned(c.flags));
}

std::vector<BenchmarkReporter::Run> run_instance(const Instance &in, int repetitions) {
  std::vector<BenchmarkReporter::Run> runs;
  for (int rep = 0; rep < repetitions; ++rep) {
    BenchmarkReporter::Run run = base_run(in, repetitions);
    run.repetition_index = rep;
    if (in.threads < 1 || in.threads > kMaxThreads) {
      run.error_occurred = true;
      run.error_message = "skipped: " + std::to_string(in.threads) + " threads, outside 1 to " +
                          std::to_string(kMaxThreads);
      runs.push_back(run);
      continue;
    }
    Runner r;
    r.instance = &in;
    Answer a = measure_region(measure_settings(in), Runner::region_fn, &r,
                              static_cast<long>(in.family->iterations_));
    if (r.error) {
      run.error_occurred = true;
      run.error_message = r.message;
    } else {
      r.fill(run, a);
    }
    runs.push_back(run);
  }
  return runs;
}

}  // namespace internal
}  // namespace benchmark
