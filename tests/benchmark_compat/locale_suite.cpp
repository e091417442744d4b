// A suite that takes its locale from the environment, as some do, and has a
// name that is not UTF-8: its JSON must still read back.
#include <benchmark/benchmark.h>

#include <clocale>

static void BM_Add(benchmark::State &state) {
  long sum = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(sum += state.range(0));
}

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "");
  benchmark::RegisterBenchmark(
      "BM_\xff"
      "Add",
      BM_Add)
      ->Arg(3);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
