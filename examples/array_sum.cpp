// Sums the first n doubles of a vector, for growing n, and prints a table of
// the cycles the K-best driver finds for each, with warm caches and with the
// caches flushed before every run.  The work is a capturing lambda, measured
// through the C++ adapter.

#include <cstdio>
#include <cyclekit/bestof.hpp>
#include <numeric>
#include <vector>

int main() {
  const std::size_t max_elements = std::size_t(1) << 20;
  std::vector<double> data(max_elements);
  std::iota(data.begin(), data.end(), 0.0);

  // Twice the last-level cache, so a flush evicts it; where its size is
  // unknown, a fixed size beyond the largest vector.  The note goes to
  // standard error to keep the table alone on standard output.
  if (bestof_llc_bytes() <= 0)
    std::fprintf(stderr, "array_sum_cxx: last-level cache size unknown, flushing a fixed %d MiB\n",
                 BESTOF_FLUSH_FALLBACK_BYTES >> 20);
  set_bestof_cache_sizee(bestof_flush_bytes());
  set_bestof_k(5);            // five fastest runs must agree...
  set_bestof_maxsamples(50);  // ...within 1%, or 50 runs are made

  std::printf("%9s %12s %9s %12s %9s\n", "elements", "warm", "per elem", "flushed", "per elem");
  for (std::size_t n = 256; n <= max_elements; n *= 4) {
    // keep: the sum is used, as far as the compiler knows.
    auto sum_first_n = [&] {
      cyclekit::keep(std::accumulate(data.begin(), data.begin() + n, 0.0));
    };
    set_bestof_clear_cache(0);
    double warm = cyclekit::bestof(sum_first_n);
    set_bestof_clear_cache(1);
    double cold = cyclekit::bestof(sum_first_n);
    std::printf("%9zu %12.0f %9.2f %12.0f %9.2f\n", n, warm, warm / n, cold, cold / n);
  }
  return 0;
}
