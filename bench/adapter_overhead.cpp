// What the C++ adapter adds to a count: the K-best result for a C function
// that bumps a file-scope counter, through bestof, against a lambda that
// bumps a captured one, through cyclekit::bestof; alternated many times,
// least and median of each.  The difference is the trampoline's load of the
// callable's address.

#include <stdio.h>

#include <cyclekit/bestof.hpp>
#include <vector>

#include "bench.h"

static volatile int bumps;

static void bump(int) { bumps = bumps + 1; }

int main(int argc, char **argv) {
  int n = quick_mode(argc, argv, 1, "[--quick]") ? 100 : 10000;
  volatile int captured = 0;
  std::vector<double> plain(n), adapted(n);
  for (int i = 0; i < n; i++) {
    plain[i] = bestof(bump, 0);
    adapted[i] = cyclekit::bestof([&captured] { captured = captured + 1; });
  }
  printf("measured\tanswers\tleast\tmedian\n");
  printf("bestof(C function)\t%d\t%.0f\t%.0f\n", n, min_of(plain), median_of(plain));
  printf("cyclekit::bestof(lambda)\t%d\t%.0f\t%.0f\n\n", n, min_of(adapted), median_of(adapted));
  printf("figure\tvalue\n");
  printf("added by the adapter, leasts\t%.0f\n", min_of(adapted) - min_of(plain));
  return 0;
}
