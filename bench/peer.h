// Measures a function with Google Benchmark, to set bestof's answers beside
// a widely used tool's.
#ifndef CYCLEKIT_BENCH_PEER_H
#define CYCLEKIT_BENCH_PEER_H

#include <vector>

struct peer_answers {
  std::vector<double> ns;  // one answer per repetition: nanoseconds per call
  double wall_seconds;     // wall time for all of them
};

// Runs f(arg) as one Google Benchmark with `repetitions` repetitions, at the
// library's default minimum time unless min_time is positive.
peer_answers peer_measure(const char *name, void (*f)(int), int arg, int repetitions,
                          double min_time);

#endif
