// The main of a suite that registers its benchmarks and writes none.
#include <benchmark/benchmark.h>

BENCHMARK_MAIN();
