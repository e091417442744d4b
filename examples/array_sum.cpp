// Sums the first n doubles of a vector, for growing n, and prints a table of
// the cycles the K-best driver finds for each, with warm caches and with the
// caches flushed before every run.  The work is a capturing lambda, measured
// through the C++ adapter.

#include <cstdio>
#include <numeric>
#include <vector>

#include <cyclekit/bestof.hpp>

int main() {
  const std::size_t max_elements = std::size_t(1) << 20;
  std::vector<double> data(max_elements);
  std::iota(data.begin(), data.end(), 0.0);
  volatile double total = 0;  // keeps the sums from being optimised away

  set_bestof_cache_sizee(16 << 20);  // beyond the largest vector
  set_bestof_k(5);                   // five fastest runs must agree...
  set_bestof_maxsamples(50);         // ...within 1%, or 50 runs are made

  std::printf("%9s %12s %9s %12s %9s\n", "elements", "warm", "per elem", "flushed", "per elem");
  for (std::size_t n = 256; n <= max_elements; n *= 4) {
    auto sum_first_n = [&] { total = std::accumulate(data.begin(), data.begin() + n, 0.0); };
    set_bestof_clear_cache(0);
    double warm = cyclekit::bestof(sum_first_n);
    set_bestof_clear_cache(1);
    double cold = cyclekit::bestof(sum_first_n);
    std::printf("%9zu %12.0f %9.2f %12.0f %9.2f\n", n, warm, warm / n, cold, cold / n);
  }
  return 0;
}
