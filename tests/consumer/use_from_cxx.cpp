// Measures a capturing lambda through the adapter, with the compensated
// counter and the cache flush on, and fails unless it ran once per run.

#include <cyclekit/clock.h>

#include <cmath>
#include <cstdio>
#include <cyclekit/bestof.hpp>
#include <vector>

int main() {
  std::vector<int> data(4096, 3);
  long total = 0;
  int calls = 0;
  auto sum = [&] {
    calls++;
    for (int x : data)
      total += x;
  };

  set_bestof_compensate(1);
  set_bestof_clear_cache(1);
  set_bestof_maxsamples(5);
  set_bestof_epsilon(-1);  // never converges: exactly five runs
  double cycles = cyclekit::bestof(sum);

  std::printf("lambda: %.0f cycles in %d runs, sum %ld, counter overhead %.0f\n", cycles, calls,
              total, ovhd());
  if (calls != 5 || total != 5L * 4096 * 3 || !std::isfinite(cycles)) {
    std::fputs("use_from_cxx: wrong run count or result\n", stderr);
    return 1;
  }
  return 0;
}
