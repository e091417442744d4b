#include "bench.h"

#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>

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

void fence_pairs(int n, std::vector<double> *plain, std::vector<double> *fenced) {
  plain->assign(n, 0);
  fenced->assign(n, 0);
  for (int i = 0; i < n; i++) {
    (*plain)[i] = ovhd();
    (*fenced)[i] = ovhd_fenced();
  }
}

double per_call_in_long_loop(void (*f)(int), int arg, int calls) {
  // Read back from a volatile, so the calls stay calls, as in bestof.
  void (*volatile hidden)(int) = f;
  void (*g)(int) = hidden;
  start_counter();
  for (int i = 0; i < calls; i++)
    g(arg);
  return get_counter() / calls;
}

long beyond_llc_bytes(long llc, int times, long fallback, long cap) {
  if (llc <= 0)
    return fallback < cap ? fallback : cap;
  // Compared before multiplying: a 32-bit long overflows at 2 GiB.
  return llc > cap / times ? cap : llc * times;
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

double min_of(const std::vector<double> &v) { return *std::min_element(v.begin(), v.end()); }

double max_of(const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); }

double median_of(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double spread_of(const std::vector<double> &v) {
  double lo = min_of(v);
  return (max_of(v) - lo) / lo;
}

static double mean_of(const std::vector<double> &v) {
  double s = 0;
  for (double x : v)
    s += x;
  return s / (double)v.size();
}

line_fit fit_line(const std::vector<double> &x, const std::vector<double> &y) {
  // Centred sums: the sizes span decades, and raw sums of squares would lose
  // the small differences that R^2 is made of.
  double mx = mean_of(x), my = mean_of(y);
  double sxx = 0, sxy = 0, syy = 0;
  for (size_t i = 0; i < x.size(); i++) {
    double dx = x[i] - mx, dy = y[i] - my;
    sxx += dx * dx;
    sxy += dx * dy;
    syy += dy * dy;
  }
  line_fit f;
  f.slope = sxy / sxx;
  f.intercept = my - f.slope * mx;
  f.r2 = syy == 0 ? 1.0 : sxy * sxy / (sxx * syy);
  return f;
}
