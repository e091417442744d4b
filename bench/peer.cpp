#include <benchmark/benchmark.h>

#include "bench.h"

namespace {

// Collects each repetition's time and prints nothing: the report does that.
class collector : public benchmark::BenchmarkReporter {
 public:
  std::vector<double> ns;
  bool ReportContext(const Context &) override { return true; }
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &r : runs)
      if (r.run_type == Run::RT_Iteration && !r.error_occurred)
        ns.push_back(r.GetAdjustedRealTime());
  }
};

}  // namespace

peer_answers peer_measure(const char *name, void (*f)(int), int arg, int repetitions,
                          double min_time) {
  benchmark::ClearRegisteredBenchmarks();
  benchmark::internal::Benchmark *b =
      benchmark::RegisterBenchmark(name, [f, arg](benchmark::State &st) {
        for (auto _ : st)
          f(arg);
      });
  b->Unit(benchmark::kNanosecond)->Repetitions(repetitions);
  if (min_time > 0)
    b->MinTime(min_time);
  collector c;
  double t0 = wall_seconds();
  // Only this benchmark is registered: run everything.
  benchmark::RunSpecifiedBenchmarks(&c, ".");
  peer_answers a;
  a.wall_seconds = wall_seconds() - t0;
  a.ns = c.ns;
  benchmark::ClearRegisteredBenchmarks();
  return a;
}
