// What every benchmark program shares: counter reads, wall time, processor
// placement, summaries of repeated measurements, and Google Benchmark's
// answers to set beside bestof's.
#ifndef CYCLEKIT_BENCH_H
#define CYCLEKIT_BENCH_H

#include <cyclekit/clock.h>
#include <stdint.h>

#include <vector>

// One bare read of the processor's counter, with no call around it; two of
// them back to back are the least any start/read pair can cost.
static inline uint64_t bare_read(void) {
  uint32_t hi, lo;
#if defined(__i386__) || defined(__x86_64__)
  __asm__ volatile("rdtsc" : "=d"(hi), "=a"(lo));
#else
  access_counter(&hi, &lo);
#endif
  return (uint64_t)hi << 32 | lo;
}

// n calls of ovhd() interleaved with n pairs of back-to-back bare reads, so
// that both see the same machine.
void overhead_pairs(int n, std::vector<double> *counter, std::vector<double> *bare);

// n calls of ovhd() interleaved with n of ovhd_fenced().
void fence_pairs(int n, std::vector<double> *plain, std::vector<double> *fenced);

// Counter ticks per call of f(arg) over one loop of `calls` calls between one
// start_counter and one get_counter, so the pair's own cost is spread over
// all of them; through a pointer the compiler cannot see into, like bestof's.
double per_call_in_long_loop(void (*f)(int), int arg, int calls);

// Bytes of a buffer `times` the last-level cache of llc bytes, which no cache
// holds: `fallback` where that size is unknown (0 or below), never above cap.
long beyond_llc_bytes(long llc, int times, long fallback, long cap);

// Seconds of CLOCK_MONOTONIC.
double wall_seconds(void);

// Binds the process to the processor it runs on, so that a measurement is not
// moved between cores (each with its own caches) halfway.  Returns that
// processor, or -1 if the binding failed.
int pin_to_current_cpu(void);

// Whether the arguments from argv[first] on are "--quick": too few
// repetitions to mean much, enough to show that a program works.  Any other
// argument is refused with a usage line and exit status 2.
bool quick_mode(int argc, char **argv, int first, const char *usage);

double min_of(const std::vector<double> &v);
double max_of(const std::vector<double> &v);
// The middle value; the mean of the two middle values for an even count.
double median_of(std::vector<double> v);
// (max - min) / min: how far repeated answers to one question stray.
double spread_of(const std::vector<double> &v);

// Least-squares line y = intercept + slope * x and its coefficient of
// determination (1 for points exactly on a line).
struct line_fit {
  double intercept, slope, r2;
};
line_fit fit_line(const std::vector<double> &x, const std::vector<double> &y);

// Google Benchmark's answers for f(arg): nanoseconds per call, one per
// repetition, and the wall time for all of them (bench/peer.cpp, built only
// where Google Benchmark is).  min_time 0 keeps the library's default.
struct peer_answers {
  std::vector<double> ns;
  double wall_seconds;
};
peer_answers peer_measure(const char *name, void (*f)(int), int arg, int repetitions,
                          double min_time);

#endif
