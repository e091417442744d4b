// What the C++ adapter adds to a count: the K-best result for a C function
// that bumps a file-scope counter, through bestof, against a lambda that
// bumps a captured one, through cyclekit::bestof; alternated many times,
// least and median of each.  The difference is the trampoline's load of the
// callable's address.

#include <stdio.h>
#include <stdlib.h>

#include <vector>

#include "stats.h"

#include <cyclekit/bestof.hpp>

static volatile int bumps;

static void bump(int) { bumps = bumps + 1; }

int main(int argc, char **argv) {
  int n = argc > 1 ? atoi(argv[1]) : 10000;
  if (n < 1)
    n = 1;
  volatile int captured = 0;
  std::vector<double> plain(n), adapted(n);
  for (int i = 0; i < n; i++) {
    plain[i] = bestof(bump, 0);
    adapted[i] = cyclekit::bestof([&captured] { captured = captured + 1; });
  }
  double pmin = min_of(plain);
  double amin = min_of(adapted);
  printf("measurements: %d of each\n", n);
  printf("bestof(C function):              least %.0f, median %.0f cycles\n", pmin,
         median_of(plain));
  printf("cyclekit::bestof(lambda):        least %.0f, median %.0f cycles\n", amin,
         median_of(adapted));
  printf("added by the adapter:            %.0f cycles (leasts)\n", amin - pmin);
  return 0;
}
