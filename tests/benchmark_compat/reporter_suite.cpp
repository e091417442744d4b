// A suite with a reporter of its own, as suites that post-process their
// runs have: it reads the Run fields such reporters read.
#include <benchmark/benchmark.h>

#include <iostream>

class Lines : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context &context) override {
    GetOutputStream() << "context " << (context.cpu_info.num_cpus > 0) << '\n';
    return true;
  }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs) {
      std::ostream &out = GetOutputStream();
      out << r.benchmark_name() << ' '
          << (r.run_type == Run::RT_Aggregate ? r.aggregate_name : "run");
      if (r.error_occurred) {
        out << " error " << r.error_message << '\n';
        continue;
      }
      out << ' ' << benchmark::GetTimeUnitString(r.time_unit) << ' ' << r.report_label;
      if (r.run_type == Run::RT_Iteration)
        out << ' ' << (r.GetAdjustedRealTime() > 0 && r.GetAdjustedCPUTime() > 0);
      // A rate's spread over repetitions may be 0 or not; its runs' are > 0.
      for (auto &c : r.counters)
        if (c.first != "rate")
          out << ' ' << c.first << '=' << c.second.value;
        else if (r.run_type == Run::RT_Iteration)
          out << ' ' << c.first << '=' << (c.second.value > 0);
      out << '\n';
    }
  }
};

static void BM_Add(benchmark::State &state) {
  long x = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(x += state.range(0));
  state.SetLabel("adds");
  state.counters["size"] = static_cast<double>(state.range(0));
  state.counters["rate"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Add)->Arg(3)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Add)->Arg(4)->Repetitions(2)->DisplayAggregatesOnly();

static void BM_Skip(benchmark::State &state) {
  for (auto _ : state)
    state.SkipWithError("stop here");
}
BENCHMARK(BM_Skip);

// Every thread counts: plain counters are summed over the threads,
// kAvgThreads ones averaged.
static void BM_Count(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(state.thread_index());
  state.counters["sum"] = 1;
  state.counters["avg"] = benchmark::Counter(1, benchmark::Counter::kAvgThreads);
  state.counters["ids"] = state.thread_index();
}
BENCHMARK(BM_Count)->Threads(3)->Threads(2000);

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  Lines lines;
  benchmark::RunSpecifiedBenchmarks(&lines);
  benchmark::Shutdown();
  return 0;
}
