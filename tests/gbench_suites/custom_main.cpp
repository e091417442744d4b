// A suite whose main registers benchmarks at run time (one per input it
// finds), adds to the context, and reports through its own reporter as
// well as the console's.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

namespace {

// The console table, plus a last line that counts what was reported.
class CountingReporter : public benchmark::ConsoleReporter {
 public:
  CountingReporter() : benchmark::ConsoleReporter(OO_None) {}
  bool ReportContext(const Context &context) override {
    contexts_ += context.name_field_width > 0 ? 1 : 0;
    return ConsoleReporter::ReportContext(context);
  }
  void ReportRuns(const std::vector<Run> &reports) override {
    for (const Run &r : reports) {
      if (r.error_occurred)
        ++errors_;
      else if (r.run_type == Run::RT_Aggregate)
        ++aggregates_;
      else
        ++runs_;
    }
    ConsoleReporter::ReportRuns(reports);
  }
  void Finalize() override {
    GetOutputStream() << "reported: " << runs_ << " runs, " << aggregates_ << " aggregates, "
                      << errors_ << " errors, " << contexts_ << " context\n";
  }

 protected:
  void PrintRunData(const Run &report) override {
    ConsoleReporter::PrintRunData(report);
    if (!report.error_occurred && report.run_type == Run::RT_Iteration &&
        report.GetAdjustedCPUTime() < 0)
      GetErrorStream() << "negative time for " << report.benchmark_name() << "\n";
  }

 private:
  int runs_ = 0, aggregates_ = 0, errors_ = 0, contexts_ = 0;
};

// A reporter of the project's own: one line per run, what CI greps.
class LineReporter : public benchmark::BenchmarkReporter {
 public:
  bool ReportContext(const Context &context) override {
    GetOutputStream() << "cpus " << context.cpu_info.num_cpus << "\n";
    return true;
  }
  void ReportRuns(const std::vector<Run> &reports) override {
    for (const Run &r : reports)
      GetOutputStream() << r.benchmark_name() << " " << r.iterations << " "
                        << r.GetAdjustedRealTime() << " "
                        << benchmark::GetTimeUnitString(r.time_unit) << "\n";
  }
};

// Allocation counts: the library's hook is registered as projects do.
class NoAllocations : public benchmark::MemoryManager {
 public:
  void Start() override {}
  void Stop(Result *result) override { result->num_allocs = 0; }
};

int checksum(const std::vector<int> &v) { return std::accumulate(v.begin(), v.end(), 0); }

}  // namespace

static void BM_Static(benchmark::State &state) {
  for (auto _ : state)
    benchmark::DoNotOptimize(state.range(0) * 3);
}
BENCHMARK(BM_Static)->Arg(1);

int main(int argc, char **argv) {
  // Inputs "found" at run time, each a benchmark of its own.
  std::map<std::string, std::vector<int>> inputs{{"small", std::vector<int>(16, 1)},
                                                 {"medium", std::vector<int>(1024, 2)}};
  for (auto &in : inputs) {
    const std::vector<int> *data = &in.second;
    benchmark::RegisterBenchmark(("checksum/" + in.first).c_str(), [data](benchmark::State &st) {
      for (auto _ : st)
        benchmark::DoNotOptimize(checksum(*data));
      st.SetItemsProcessed(st.iterations() * int64_t(data->size()));
    })->Unit(benchmark::kMicrosecond);
  }
  auto scaled = [](benchmark::State &st, int factor, std::string tag) {
    for (auto _ : st)
      benchmark::DoNotOptimize(st.range(0) * factor);
    st.SetLabel(tag);
  };
  benchmark::RegisterBenchmark("scaled", scaled, 3, std::string("x3"))->Range(1, 64);
  std::function<void(benchmark::State &)> wrapped = [](benchmark::State &st) {
    for (auto _ : st) {
      std::string s(32, 'q');
      benchmark::DoNotOptimize(s.data());
    }
  };
  benchmark::RegisterBenchmark("std_function", wrapped)->Repetitions(2);
  benchmark::RegisterBenchmark("fn_pointer", BM_Static)->Args({5})->Threads(2);

  static NoAllocations memory;
  benchmark::RegisterMemoryManager(&memory);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv))
    return 1;
  benchmark::AddCustomContext("project", "custom_main");
  benchmark::AddCustomContext("inputs", std::to_string(inputs.size()));
  benchmark::SetDefaultTimeUnit(benchmark::kNanosecond);
  std::string filter = benchmark::GetBenchmarkFilter();
  if (filter == "lines") {
    LineReporter lines;
    benchmark::SetBenchmarkFilter(".");
    benchmark::RunSpecifiedBenchmarks(&lines);
  } else {
    CountingReporter display;
    benchmark::RunSpecifiedBenchmarks(&display);
  }
  benchmark::Shutdown();
  return 0;
}
