// Counter reads, wall time and processor placement for the benchmark programs.
#ifndef CYCLEKIT_BENCH_CLOCKS_H
#define CYCLEKIT_BENCH_CLOCKS_H

#include <cyclekit/clock.h>
#include <stdint.h>

#include <vector>

// Seconds of CLOCK_MONOTONIC.
double wall_seconds(void);

// One bare read of the processor's counter, with no call around it; two of
// them back to back are the least any start/read pair can cost.
static inline uint64_t bare_read(void) {
#if defined(__i386__) || defined(__x86_64__)
  uint32_t hi, lo;
  __asm__ volatile("rdtsc" : "=d"(hi), "=a"(lo));
  return (uint64_t)hi << 32 | lo;
#else
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  return (uint64_t)hi << 32 | lo;
#endif
}

// n calls of ovhd() interleaved with n pairs of back-to-back bare reads, so
// that both see the same machine; one figure of each per element.
void overhead_pairs(int n, std::vector<double> *counter, std::vector<double> *bare);

// Binds the process to the processor it runs on, so that a measurement is not
// moved between cores (each with its own caches) halfway.  Returns that
// processor, or -1 if the binding failed.
int pin_to_current_cpu(void);

// Whether the arguments from argv[first] on are "--quick": too few
// repetitions to mean much, enough to show that a program works.  Any other
// argument is refused with a usage line and exit status 2.
bool quick_mode(int argc, char **argv, int first, const char *usage);

#endif
