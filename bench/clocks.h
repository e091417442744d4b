// Wall time and processor placement for the benchmark programs.
#ifndef CYCLEKIT_BENCH_CLOCKS_H
#define CYCLEKIT_BENCH_CLOCKS_H

#include <stdint.h>

// Seconds of CLOCK_MONOTONIC.
double wall_seconds(void);

// Two back-to-back bare RDTSC reads: the least any counter pair can cost.
static inline uint64_t bare_rdtsc(void) {
  uint32_t hi, lo;
  __asm__ volatile("rdtsc" : "=d"(hi), "=a"(lo));
  return (uint64_t)hi << 32 | lo;
}

// Binds the process to the processor it runs on, so that a measurement is not
// moved between cores (each with its own caches) halfway.  Returns that
// processor, or -1 if the binding failed.
int pin_to_current_cpu(void);

#endif
