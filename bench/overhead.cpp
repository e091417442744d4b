// The counter's own cost against the hardware's: ovhd() against two
// back-to-back bare counter reads, least and median of many of each.  With
// "fenced" first, what the fenced pair costs beside ovhd() instead.
//
//   bench_overhead [fenced] [--quick]

#include <stdio.h>
#include <string.h>

#include "bench.h"

static void bare_section(int n) {
  std::vector<double> counter, bare;
  overhead_pairs(n, &counter, &bare);
  printf("pair\tcalls\tleast\tmedian\n");
  printf("ovhd()\t%d\t%.0f\t%.0f\n", n, min_of(counter), median_of(counter));
  printf("two bare reads\t%d\t%.0f\t%.0f\n\n", n, min_of(bare), median_of(bare));
  printf("figure\tvalue\n");
  printf("ovhd() / bare pair, leasts\t%.3f\n", min_of(counter) / min_of(bare));
}

static void fenced_section(int n) {
  std::vector<double> plain, fenced;
  fence_pairs(n, &plain, &fenced);
  printf("pair\tcalls\tleast\tmedian\n");
  printf("ovhd()\t%d\t%.0f\t%.0f\n", n, min_of(plain), median_of(plain));
  printf("fenced pair\t%d\t%.0f\t%.0f\n\n", n, min_of(fenced), median_of(fenced));
  printf("figure\tvalue\n");
  printf("fenced pair / ovhd(), leasts\t%.3f\n", min_of(fenced) / min_of(plain));
  printf("fenced pair / ovhd(), medians\t%.3f\n", median_of(fenced) / median_of(plain));
  printf("fenced pair less ovhd(), medians (cycles)\t%.0f\n", median_of(fenced) - median_of(plain));
}

int main(int argc, char **argv) {
  bool fenced = argc > 1 && strcmp(argv[1], "fenced") == 0;
  int n = quick_mode(argc, argv, fenced ? 2 : 1, "[fenced] [--quick]") ? 10000 : 1000000;
  if (fenced)
    fenced_section(n);
  else
    bare_section(n);
  return 0;
}
