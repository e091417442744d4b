// Compares the counter's own cost with the hardware's: the least and the
// median of many ovhd() calls against two back-to-back bare counter reads.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "stats.h"

#include <cyclekit/clock.h>

#if defined(__i386__) || defined(__x86_64__)
static inline uint64_t bare_read(void) {
  uint32_t hi, lo;
  __asm__ volatile("rdtsc" : "=d"(hi), "=a"(lo));
  return (uint64_t)hi << 32 | lo;
}
#else
static inline uint64_t bare_read(void) {
  uint32_t hi, lo;
  access_counter(&hi, &lo);
  return (uint64_t)hi << 32 | lo;
}
#endif

int main(int argc, char **argv) {
  int n = argc > 1 ? atoi(argv[1]) : 1000000;
  if (n < 1)
    n = 1;
  std::vector<double> counter(n), bare(n);
  for (int i = 0; i < n; i++) {
    counter[i] = ovhd();
    uint64_t a = bare_read();
    uint64_t b = bare_read();
    bare[i] = (double)(b - a);
  }
  double cmin = min_of(counter);
  double bmin = min_of(bare);
  printf("calls: %d\n", n);
  printf("ovhd():            least %.0f, median %.0f cycles\n", cmin, median_of(counter));
  printf("bare read pair:    least %.0f, median %.0f cycles\n", bmin, median_of(bare));
  printf("ratio of leasts:   %.3f (target <= 1.05)\n", cmin / bmin);
  return 0;
}
