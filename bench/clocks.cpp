#include "clocks.h"

#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

double wall_seconds(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

void overhead_pairs(int n, std::vector<double> *counter, std::vector<double> *bare) {
  counter->assign(n, 0);
  bare->assign(n, 0);
  for (int i = 0; i < n; i++) {
    (*counter)[i] = ovhd();
    uint64_t a = bare_read();
    uint64_t b = bare_read();
    (*bare)[i] = (double)(b - a);
  }
}

int pin_to_current_cpu(void) {
  int cpu = sched_getcpu();
  if (cpu < 0)
    return -1;
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(cpu, &set);
  return sched_setaffinity(0, sizeof set, &set) == 0 ? cpu : -1;
}

bool quick_mode(int argc, char **argv, int first, const char *usage) {
  bool quick = false;
  for (int i = first; i < argc; i++) {
    if (strcmp(argv[i], "--quick") != 0) {
      fprintf(stderr, "usage: %s %s\n", argv[0], usage);
      exit(2);
    }
    quick = true;
  }
  return quick;
}
